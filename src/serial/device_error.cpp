#include "serial/device_error.h"

#include "platform/commapi.h"

namespace qorvel {

namespace {

constexpr std::size_t kMaxSystemText = 256;

} // namespace

std::string StripSystemText(std::string_view text) {
    std::string s(text.substr(0, kMaxSystemText));
    while (!s.empty() && (static_cast<unsigned char>(s.back()) <= 32 || s.back() == '.'))
        s.pop_back();
    return s;
}

void RaiseDeviceError(std::string_view Msg, int ErrorCode) {
    throw EDeviceError(std::string(Msg), ErrorCode);
}

std::string FormatLastDeviceError(std::string_view Msg, int SystemError) {
    std::string m(Msg);
    m += " (Win32 error ";
    m += std::to_string(SystemError);
    m += ": ";
    m += StripSystemText(platform::SystemErrorText(SystemError));
    m += ')';
    return m;
}

void RaiseLastDeviceError(std::string_view Msg, int ErrorCode) {
    const int error = platform::GetLastError();
    throw EDeviceError(FormatLastDeviceError(Msg, error), ErrorCode);
}

std::string FormatCannotOpen(std::string_view DeviceName) {
    std::string m(sCannotOpenDevice);
    const auto at = m.find("%s");
    return m.replace(at, 2, DeviceName);
}

} // namespace qorvel
