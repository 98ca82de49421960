#pragma once
// The serial driver's one exception and the routines that raise it.
#include <stdexcept>
#include <string>
#include <string_view>

namespace qorvel {

// Message texts of the driver, kept together so they can be translated apart from the code.
inline constexpr std::string_view sDeviceNotOpened = "Device not opened.";
inline constexpr std::string_view sDeviceAlreadyOpened = "Device is allready opened.";
inline constexpr std::string_view sUpdateDCBFailed = "Unable to update device control block.";
inline constexpr std::string_view sSendLocked = "Device locked. Cannot perform send operations.";
inline constexpr std::string_view sReadLocked = "Device locked. Cannot perform read operations.";
inline constexpr std::string_view sUpdateBuffersFailed = "Unable to update IO buffers.";
inline constexpr std::string_view sUpdateTimeoutsFailed = "Unable to update Timeouts.";
inline constexpr std::string_view sReadFailed = "Unable to read from port.";
inline constexpr std::string_view sWriteFailed = "Unable to write to port.";
inline constexpr std::string_view sCannotOpenDevice = "Cannot open device %s";
inline constexpr std::string_view sStopSignalFailed = "Unable to create the event thread's stop signal.";
inline constexpr std::string_view sLineNotSupported = "not supported by this port";
inline constexpr std::string_view sRtsFlowControlled = "RTS is controlled by the flow control";
inline constexpr std::string_view sDtrFlowControlled = "DTR is controlled by the flow control";

// Driver codes; never an operating-system error number.
enum : int {
    kErrNotOpened = 1,
    kErrAlreadyOpened = 2,
    kErrUpdateDCB = 3,
    kErrSendLocked = 4,
    kErrReadLocked = 5,
    kErrUpdateBuffers = 6,
    kErrUpdateTimeouts = 7,
    kErrRead = 10,
    kErrWrite = 11,
    kErrStopSignal = 12,
    kErrCannotOpen = 65535
};

class EDeviceError : public std::runtime_error {
public:
    EDeviceError(const std::string& Msg, int ErrorCode) : std::runtime_error(Msg), FErrorCode(ErrorCode) {}
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

[[noreturn]] void RaiseDeviceError(std::string_view Msg, int ErrorCode);

// Appends the calling thread's last system error (platform::GetLastError) as
// "%s (Win32 error %d: %s)". Call it on the failing thread before anything else sets that error.
[[noreturn]] void RaiseLastDeviceError(std::string_view Msg, int ErrorCode);

// A system error text without its trailing blanks, control characters and full stops.
std::string StripSystemText(std::string_view text);

// The message RaiseLastDeviceError builds for a given error number; exposed for tests.
std::string FormatLastDeviceError(std::string_view Msg, int SystemError);

// "Cannot open device %s" with the device name in place of %s.
std::string FormatCannotOpen(std::string_view DeviceName);

} // namespace qorvel
