#include "emulvt/raw_log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qorvel {

std::string FormatRawLogError(int ErrorCode) {
    char buf[256];
    // The GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(ErrorCode, buf, sizeof buf);
    return "I/O error " + std::to_string(ErrorCode) + ": " + (text ? text : "");
}

namespace {

[[noreturn]] void RaiseRawLogError(int ErrorCode) {
    throw ERawLogError(FormatRawLogError(ErrorCode), ErrorCode);
}

} // namespace

TRawLog::TRawLog(std::string Path) : FPath(std::move(Path)) {
    FBuffer.reserve(kRawLogBufferSize);
}

TRawLog::~TRawLog() {
    if (!FActive) return;
    try {
        Close();
    } catch (const ERawLogError&) {
        // A destructor cannot report; the bytes that could not be written are lost either way.
    }
}

void TRawLog::Open() {
    if (FActive) return;
    FActive = true;
    FOpenError = 0;
    FBuffer.clear();
    // One call appends to an existing file or creates a new one.
    FFd = ::open(FPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (FFd < 0) {
        FOpenError = errno;
        return;
    }
    FBuffer.assign(kRawLogOpenMarker.begin(), kRawLogOpenMarker.end());
}

void TRawLog::Flush() {
    std::size_t done = 0;
    while (done < FBuffer.size()) {
        const ssize_t n = ::write(FFd, FBuffer.data() + done, FBuffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            // Keep what is not yet written, so a later flush can still deliver it in order.
            FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<std::ptrdiff_t>(done));
            RaiseRawLogError(error);
        }
        done += static_cast<std::size_t>(n);
    }
    FBuffer.clear();
}

void TRawLog::Write(char Ch) {
    if (FFd < 0) RaiseRawLogError(FActive && FOpenError ? FOpenError : EBADF);
    if (FBuffer.size() >= kRawLogBufferSize) Flush();
    FBuffer.push_back(Ch);
}

void TRawLog::Close() {
    if (!FActive) return;
    FActive = false;
    int error = 0;
    if (FFd < 0) {
        error = FOpenError ? FOpenError : EBADF;
    } else {
        FBuffer.insert(FBuffer.end(), kRawLogCloseMarker.begin(), kRawLogCloseMarker.end());
        try {
            Flush();
        } catch (const ERawLogError& e) {
            error = e.ErrorCode();
        }
        if (::close(FFd) != 0 && error == 0 && errno != EINTR) error = errno;
        FFd = -1;
    }
    FBuffer.clear();
    if (error) RaiseRawLogError(error);
}

} // namespace qorvel
