#pragma once
// The terminal view's raw log: every byte written to the view, unchanged, between "<Open>" and
// "<Close>" markers, appended to one file across runs.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel {

inline constexpr std::string_view kRawLogFileName = "EMULVT.LOG";
inline constexpr std::string_view kRawLogOpenMarker = "<Open>";
inline constexpr std::string_view kRawLogCloseMarker = "<Close>";
inline constexpr std::size_t kRawLogBufferSize = 4096;

// A failed write of the raw log; ErrorCode is the system error number.
class ERawLogError : public std::runtime_error {
public:
    ERawLogError(const std::string& Msg, int ErrorCode) : std::runtime_error(Msg), FErrorCode(ErrorCode) {}
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// "I/O error 21: Is a directory".
std::string FormatRawLogError(int ErrorCode);

// Buffered: the file is complete once the log is closed. A failure to open is kept and raised
// by the next Write or Close, so the caller learns of it at the first byte it tries to log.
class TRawLog {
public:
    explicit TRawLog(std::string Path = std::string(kRawLogFileName));
    ~TRawLog(); // closes without raising; call Close to learn of errors
    TRawLog(const TRawLog&) = delete;
    TRawLog& operator=(const TRawLog&) = delete;

    // Opens for appending (creating the file if needed) and writes the open marker.
    void Open();
    // Appends one byte; raises ERawLogError when it cannot be written, and then the byte is not logged.
    void Write(char Ch);
    // Writes the close marker and closes; the file is released even when this raises.
    void Close();

    bool Active() const { return FActive; }
    const std::string& Path() const { return FPath; }

private:
    void Flush();

    std::string FPath;
    int FFd = -1;
    int FOpenError = 0;
    bool FActive = false;
    std::vector<char> FBuffer;
};

} // namespace qorvel
