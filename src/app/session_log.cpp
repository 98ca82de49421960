#include "app/session_log.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/text_file.h"

namespace qorvel {

namespace {

using TSteady = std::chrono::steady_clock;

std::string CauseText(int Error) {
    // A size limit (RLIMIT_FSIZE, a file system's largest file) stops the log like a full disk.
    return Error == EFBIG ? std::string("File too large") : InOutErrorText(Error);
}

} // namespace

std::string LogFileName(std::string_view Template, std::string_view Port, std::time_t Time) {
    std::tm local{};
    ::localtime_r(&Time, &local);
    const std::string_view base = Port.substr(Port.find_last_of('/') + 1);
    std::string name;
    for (std::size_t i = 0; i < Template.size(); ++i) {
        const char field = i + 1 < Template.size() && Template[i] == '%' ? Template[i + 1] : '\0';
        char number[8];
        const int value = field == 'Y'   ? local.tm_year + 1900
                          : field == 'm' ? local.tm_mon + 1
                          : field == 'd' ? local.tm_mday
                          : field == 'H' ? local.tm_hour
                          : field == 'M' ? local.tm_min
                          : field == 'S' ? local.tm_sec
                                         : -1;
        if (value >= 0) {
            std::snprintf(number, sizeof number, field == 'Y' ? "%04d" : "%02d", value);
            name += number;
        } else if (field == 'p') {
            name += base.empty() ? std::string_view("port") : base;
        } else if (field == '%') {
            name += '%';
        } else {
            name += Template[i];
            continue;
        }
        ++i;
    }
    return name;
}

std::string NumberedName(const std::string& Path, int Number) {
    const std::size_t slash = Path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = Path.rfind('.');
    // A leading dot names a hidden file, it does not start an extension.
    if (dot == std::string::npos || dot <= start) dot = Path.size();
    return Path.substr(0, dot) + " (" + std::to_string(Number) + ")" + Path.substr(dot);
}

// One open file and its two threads: the writer turns the pending bytes into large writes, the
// syncer runs fdatasync, so a slow sync never holds up the writes behind it.
struct TSessionLog::TFile {
    TFile(int Fd, std::string Name, TOnFailure OnFailure)
        : Fd(Fd), Name(std::move(Name)), OnFailure(std::move(OnFailure)) {
        // The two buffers take turns; sized once, a flood neither reallocates nor faults in new pages.
        Pending.reserve(2 * kWriteAtOnce);
        Writer = std::thread([this] { RunWriter(); });
        Syncer = std::thread([this] { RunSyncer(); });
    }
    ~TFile() {
        Stop();
        Writer.join();
        Syncer.join();
    }

    void Put(std::string_view Bytes) {
        std::lock_guard lock(Lock);
        const std::size_t before = Pending.size();
        Pending.append(Bytes);
        Handed += Bytes.size();
        // One wake per gathering, not per batch; and one more when a flood fills a large write.
        if (before == 0 || (before < kWriteAtOnce && Pending.size() >= kWriteAtOnce)) Wake.notify_one();
    }
    void AskSync() {
        std::lock_guard lock(Lock);
        SyncAsked = true;
        Wake.notify_one();
    }
    void Stop() {
        std::lock_guard lock(Lock);
        Stopping = true;
        Wake.notify_one();
    }
    void WaitWritten() {
        std::unique_lock lock(Lock);
        WrittenWake.wait(lock, [&] { return Written >= Handed || Failed; });
    }

    void Fail(int Error) {
        if (Failed.exchange(true)) return;
        if (OnFailure) OnFailure("Cannot write the log file " + Name + ": " + CauseText(Error));
    }

    bool WriteAll(std::string_view Bytes) {
        while (!Bytes.empty()) {
            const ssize_t n = ::write(Fd, Bytes.data(), Bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                Fail(n < 0 ? errno : ENOSPC);
                return false;
            }
            Bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    void RunWriter() {
        std::string out;
        out.reserve(2 * kWriteAtOnce);
        std::unique_lock lock(Lock);
        for (;;) {
            Wake.wait(lock, [&] { return !Pending.empty() || Stopping || SyncAsked; });
            // Bytes gather for a moment so that a flood goes out in large writes.
            if (!Stopping && !SyncAsked && Pending.size() < kWriteAtOnce)
                Wake.wait_for(lock, kWriteDelay,
                              [&] { return Stopping || SyncAsked || Pending.size() >= kWriteAtOnce; });
            out.swap(Pending);
            const bool stopping = Stopping;
            const bool syncAsked = SyncAsked;
            SyncAsked = false;
            lock.unlock();
            const bool wrote = !out.empty() && !Failed && WriteAll(out);
            lock.lock();
            Written += out.size();
            out.clear();
            WrittenWake.notify_all();
            if (wrote && !Dirty) {
                Dirty = true;
                SyncWake.notify_one();
            }
            if (syncAsked) {
                SyncDue = true;
                SyncWake.notify_one();
            }
            if (stopping) break;
        }
        WriterEnded = true;
        SyncWake.notify_one();
    }

    void RunSyncer() {
        std::unique_lock lock(Lock);
        TSteady::time_point next = TSteady::now() + kSyncInterval;
        for (;;) {
            const auto due = [&] { return SyncDue || WriterEnded; };
            if (Dirty)
                SyncWake.wait_until(lock, next, due);
            else
                SyncWake.wait(lock, [&] { return due() || Dirty; });
            if (!due() && !(Dirty && TSteady::now() >= next)) continue;
            const bool last = WriterEnded;
            const bool dirty = Dirty;
            SyncDue = Dirty = false;
            lock.unlock();
            if (dirty && !Failed && ::fdatasync(Fd) != 0) Fail(errno);
            next = TSteady::now() + kSyncInterval;
            lock.lock();
            if (last) break;
        }
        lock.unlock();
        ::close(Fd);
        Finished = true;
    }

    const int Fd;
    const std::string Name;
    const TOnFailure OnFailure;
    std::mutex Lock;
    std::condition_variable Wake, SyncWake, WrittenWake;
    std::string Pending;
    std::uint64_t Handed = 0;
    std::uint64_t Written = 0;
    bool Stopping = false;
    bool SyncAsked = false;
    bool SyncDue = false;
    bool Dirty = false;
    bool WriterEnded = false;
    std::atomic<bool> Failed{false};
    std::atomic<bool> Finished{false};
    std::thread Writer;
    std::thread Syncer;
};

TSessionLog::TSessionLog() = default;

TSessionLog::~TSessionLog() {
    Close();
    FClosing.clear();
}

std::string TSessionLog::Open(const std::string& FileName, bool Append, TOnFailure OnFailure) {
    Close();
    // Never replaced: without Append, an existing file is left alone and a numbered name is taken.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (Append ? O_APPEND : O_EXCL);
    std::string name = FileName;
    int fd = ::open(name.c_str(), flags, 0600);
    for (int number = 2; fd < 0 && errno == EEXIST && number < 1000; ++number) {
        name = NumberedName(FileName, number);
        fd = ::open(name.c_str(), flags, 0600);
    }
    if (fd < 0) {
        // With O_CREAT, a missing file is never the cause: a folder on the way is missing.
        const int error = errno;
        throw EInOutError("Cannot create the log file " + FileName + ": " +
                              CauseText(error == ENOENT ? ENOTDIR : error),
                          error);
    }
    // A file continued after an unfinished line gets its first marker on a line of its own.
    char last = '\n';
    struct stat info {};
    FLineOpen = ::fstat(fd, &info) == 0 && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) == 1 &&
                last != '\n';
    FFile = std::make_unique<TFile>(fd, name, std::move(OnFailure));
    FFileName = name;
    return name;
}

void TSessionLog::Close() {
    Reap();
    if (!FFile) return;
    FFile->Stop();
    FClosing.push_back(std::move(FFile));
    FFileName.clear();
}

void TSessionLog::Reap() {
    std::erase_if(FClosing, [](const std::unique_ptr<TFile>& File) { return File->Finished.load(); });
}

void TSessionLog::Hand(std::string_view Bytes) {
    // After a failure the window stops the log; until then nothing more piles up in memory.
    if (!FFile || FFile->Failed) return;
    FFile->Put(Bytes);
}

void TSessionLog::Add(std::string_view Bytes, TClock::time_point Arrived) {
    if (!FFile || Bytes.empty()) return;
    if (!FTimeStamps) {
        Hand(Bytes);
        FLineOpen = Bytes.back() != '\n';
        return;
    }
    FStamped.clear();
    std::string stamp;
    while (!Bytes.empty()) {
        if (!FLineOpen) {
            if (stamp.empty()) stamp = "[" + TimeText(Arrived, true) + "] ";
            FStamped += stamp;
        }
        const void* lf = std::memchr(Bytes.data(), '\n', Bytes.size());
        const std::size_t run =
            lf ? std::size_t(static_cast<const char*>(lf) - Bytes.data()) + 1 : Bytes.size();
        FStamped.append(Bytes.data(), run);
        Bytes.remove_prefix(run);
        FLineOpen = lf == nullptr;
    }
    Hand(FStamped);
}

void TSessionLog::Marker(std::string_view Text) {
    if (!FFile) return;
    std::string line = FLineOpen ? "\r\n--- " : "--- ";
    line.append(Text);
    line += " ---\r\n";
    Hand(line);
    FLineOpen = false;
}

void TSessionLog::Sync() {
    if (FFile) FFile->AskSync();
}

void TSessionLog::WaitWritten() {
    if (FFile) FFile->WaitWritten();
}

std::string TSessionLog::TimeText(TClock::time_point Time, bool Millis) {
    const std::time_t seconds = TClock::to_time_t(Time);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    if (Millis) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Time.time_since_epoch()).count() % 1000;
        std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms < 0 ? ms + 1000 : ms));
    }
    return text;
}

} // namespace qorvel
