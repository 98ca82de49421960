#pragma once
// The session log file: received bytes written as they arrive, with marker lines and optional time
// stamps. The caller's thread only copies each batch into a buffer; a writer thread of the file's
// own turns the buffer into large writes at most kWriteDelay after the bytes came, and a syncer
// thread runs fdatasync at most every kSyncInterval and when asked, so the caller never waits for
// the disk. No Qt here.
#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel {

// The template's fields expanded: %p the port's base name, %Y %m %d %H %M %S the local time, %%
// a percent sign; any other % stays as it is. A '/' in the port's name cannot make a folder.
std::string LogFileName(std::string_view Template, std::string_view Port, std::time_t Time);

// "name (N).ext" for "name.ext": the name taken when the file exists and may not be replaced.
std::string NumberedName(const std::string& Path, int Number);

class TSessionLog {
public:
    using TClock = std::chrono::system_clock;
    // Called once per file, on a thread of the file's own, when a write or a sync fails; the text
    // names the file and the cause.
    using TOnFailure = std::function<void(const std::string& Message)>;

    static constexpr std::chrono::milliseconds kWriteDelay{100};
    static constexpr std::chrono::seconds kSyncInterval{5};
    // A flood goes out at once in writes of this size rather than waiting for kWriteDelay.
    static constexpr std::size_t kWriteAtOnce = 1024 * 1024;

    TSessionLog();
    // Closes the file and waits until all of it is written and synced.
    ~TSessionLog();
    TSessionLog(const TSessionLog&) = delete;
    TSessionLog& operator=(const TSessionLog&) = delete;

    // Opens FileName, created with mode 0600 (a console's output can hold passwords). Append:
    // an existing file is continued; otherwise it is left alone and "name (2).ext" (3, ...) is
    // created instead. Returns the name opened; raises EInOutError naming the file and the cause.
    // A file already open is closed first.
    std::string Open(const std::string& FileName, bool Append, TOnFailure OnFailure);
    // Ends the file without waiting: its threads write what is left, sync and close it.
    void Close();
    bool IsOpen() const noexcept { return FFile != nullptr; }
    const std::string& FileName() const noexcept { return FFileName; }

    void SetTimeStamps(bool On) noexcept { FTimeStamps = On; }
    // Bytes as the log text holds them; with time stamps each line starts with the local time at
    // which its first byte arrived.
    void Add(std::string_view Bytes, TClock::time_point Arrived);
    // "--- Text ---" on a line of its own: an unfinished line is ended first.
    void Marker(std::string_view Text);
    // Asks for an fdatasync now rather than at the next interval (disconnect, loss).
    void Sync();
    // Waits until everything handed over so far has been written (not synced).
    void WaitWritten();

    // "2026-12-09 10:15:00" in local time; with Millis ".123" follows.
    static std::string TimeText(TClock::time_point Time, bool Millis = false);

private:
    struct TFile;
    void Hand(std::string_view Bytes);
    void Reap();

    std::unique_ptr<TFile> FFile;
    // Closed files whose threads are still finishing.
    std::vector<std::unique_ptr<TFile>> FClosing;
    std::string FFileName;
    bool FTimeStamps = false;
    bool FLineOpen = false;
    std::string FStamped;
};

} // namespace qorvel
