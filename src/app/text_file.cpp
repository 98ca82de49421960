#include "app/text_file.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace qorvel {

namespace {

constexpr char kEndOfFile = 0x1A;
constexpr std::size_t kReadChunk = 64 * 1024;

[[noreturn]] void RaiseInOutError(int SystemError) {
    throw EInOutError(InOutErrorText(SystemError), SystemError);
}

// Linux says ENOENT both for a missing file and for a missing folder on the way to it; the
// operator is told which of the two is missing.
[[noreturn]] void RaiseOpenError(const std::string& FileName, int SystemError) {
    if (SystemError == ENOENT) {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::path(FileName).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, error))
            throw EInOutError(InOutErrorText(ENOTDIR), SystemError);
    }
    RaiseInOutError(SystemError);
}

class FileHandle {
public:
    explicit FileHandle(int Fd) : FFd(Fd) {}
    ~FileHandle() {
        if (FFd >= 0) ::close(FFd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Get() const { return FFd; }
    // Closing can report a late write failure, so writers close explicitly.
    int Release() {
        int fd = FFd;
        FFd = -1;
        return ::close(fd);
    }

private:
    int FFd;
};

// Splits a byte stream into lines incrementally; Feed may end in the middle of a line or a CR LF.
class LineSplitter {
public:
    explicit LineSplitter(const std::function<void(std::string_view)>& OnLine) : FOnLine(OnLine) {}

    // Returns false once the end-of-file byte has been met.
    bool Feed(std::string_view Bytes) {
        for (char c : Bytes) {
            if (c == kEndOfFile) {
                Finish();
                FEnded = true;
                return false;
            }
            if (FPendingCR) {
                FPendingCR = false;
                if (c == '\n') {
                    Emit();
                    continue;
                }
                // A lone CR is dropped; the byte after it belongs to the line.
            }
            FInLine = true;
            if (c == '\n')
                Emit();
            else if (c == '\r')
                FPendingCR = true;
            else
                FLine.push_back(c);
        }
        return true;
    }

    // A line without terminator at the end still counts, as long as any byte of it was read.
    void Finish() {
        if (!FEnded && FInLine) Emit();
        FEnded = true;
    }

private:
    void Emit() {
        FOnLine(FLine);
        FLine.clear();
        FInLine = false;
    }

    const std::function<void(std::string_view)>& FOnLine;
    std::string FLine;
    bool FInLine = false;
    bool FPendingCR = false;
    bool FEnded = false;
};

} // namespace

std::string InOutErrorText(int SystemError) {
    switch (SystemError) {
    case ENOENT: return "File not found";
    case ENOTDIR: return "Path not found";
    case EMFILE:
    case ENFILE: return "Too many open files";
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return "File access denied";
    case ENOSPC: return "Disk full";
    default: return "I/O error " + std::to_string(SystemError);
    }
}

void ForEachTextLine(const std::string& FileName, const std::function<void(std::string_view Line)>& OnLine) {
    FileHandle file(::open(FileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) RaiseOpenError(FileName, errno);
    LineSplitter splitter(OnLine);
    std::string buffer(kReadChunk, '\0');
    for (;;) {
        ssize_t n = ::read(file.Get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseInOutError(errno);
        }
        if (n == 0) break;
        if (!splitter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return;
    }
    splitter.Finish();
}

std::vector<std::string> ReadTextLines(const std::string& FileName) {
    std::vector<std::string> lines;
    ForEachTextLine(FileName, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::vector<std::string> SplitTextLines(std::string_view Bytes) {
    std::vector<std::string> lines;
    const std::function<void(std::string_view)> onLine = [&](std::string_view line) {
        lines.emplace_back(line);
    };
    LineSplitter splitter(onLine);
    if (splitter.Feed(Bytes)) splitter.Finish();
    return lines;
}

void WriteBinaryFile(const std::string& FileName, const std::vector<std::string_view>& Chunks) {
    WriteBinaryFileFrom(FileName, [&](const TChunkSink& Sink) {
        for (std::string_view chunk : Chunks)
            Sink(chunk);
    });
}

void WriteBinaryFileFrom(const std::string& FileName,
                         const std::function<void(const TChunkSink& Sink)>& Source) {
    FileHandle file(::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.Get() < 0) RaiseOpenError(FileName, errno);
    Source([&](std::string_view chunk) {
        while (!chunk.empty()) {
            ssize_t n = ::write(file.Get(), chunk.data(), chunk.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                RaiseInOutError(errno);
            }
            chunk.remove_prefix(static_cast<std::size_t>(n));
        }
    });
    if (file.Release() != 0) RaiseInOutError(errno);
}

} // namespace qorvel
