#include "platform/commapi.h"

#include "platform/comm_net.h"
#include "platform/comm_posix.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qorvel::platform {

namespace {
thread_local int tLastError = 0;
thread_local std::string tLastErrorText;
} // namespace

bool operator==(const DCB& a, const DCB& b) {
    return std::memcmp(&a, &b, sizeof(DCB)) == 0;
}

int GetLastError() {
    return tLastError;
}
void SetLastError(int error) {
    tLastError = error;
    tLastErrorText.clear();
}
void SetLastError(int error, std::string text) {
    tLastError = error;
    tLastErrorText = std::move(text);
}

std::string SystemErrorText(int error) {
    if (error == tLastError && !tLastErrorText.empty()) return tLastErrorText;
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

TStopEvent::TStopEvent() : FFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (FFd < 0) SetLastError(errno);
}

TStopEvent::~TStopEvent() {
    if (FFd >= 0) close(FFd);
}

void TStopEvent::SetEvent() {
    const std::uint64_t one = 1;
    // A full counter is still "set"; the result needs no check.
    [[maybe_unused]] ssize_t n = write(FFd, &one, sizeof one);
}

void TStopEvent::ResetEvent() {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = read(FFd, &value, sizeof value);
}

bool TStopEvent::IsSet() const {
    pollfd p{FFd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

TCommDevice::~TCommDevice() = default;

namespace {
bool NotSupported() {
    SetLastError(ENOTSUP);
    return false;
}
} // namespace

bool TCommDevice::SetCommBreak() {
    return NotSupported();
}
bool TCommDevice::ClearCommBreak() {
    return NotSupported();
}
bool TCommDevice::EscapeCommFunction(std::uint32_t) {
    return NotSupported();
}
bool TCommDevice::GetCommModemStatus(std::uint32_t&) {
    return NotSupported();
}
bool TCommDevice::GetCommOutputLines(bool&, bool&) {
    return NotSupported();
}
TCommApi::~TCommApi() = default;

std::string DevicePath(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return std::string(name);
    if (name.size() > 3 && (name.substr(0, 3) == "COM" || name.substr(0, 3) == "com")) {
        unsigned n = 0;
        bool digits = true;
        for (char c : name.substr(3)) {
            if (c < '0' || c > '9' || n > 100000) {
                digits = false;
                break;
            }
            n = n * 10 + unsigned(c - '0');
        }
        if (digits && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + std::string(name);
}

std::unique_ptr<TCommDevice> OpenNamedDevice(std::string_view name) {
    if (IsNetworkPortName(name)) return OpenNetworkPort(name);
    return OpenPosixDevice(DevicePath(name));
}

} // namespace qorvel::platform
