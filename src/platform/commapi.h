#pragma once
// The communications services the serial driver is written against: Win32-shaped records and
// constants, and one abstract device interface with a POSIX termios implementation and an
// in-memory fake (comm_fake.h). Failures return false and leave the thread's last error
// (an errno value) for GetLastError(), as the driver's error texts expect.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qorvel::platform {

// ---- Device control block -------------------------------------------------------------------

inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;

inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;

inline constexpr std::uint32_t DTR_CONTROL_DISABLE = 0;
inline constexpr std::uint32_t DTR_CONTROL_ENABLE = 1;
inline constexpr std::uint32_t DTR_CONTROL_HANDSHAKE = 2;

inline constexpr std::uint32_t RTS_CONTROL_DISABLE = 0;
inline constexpr std::uint32_t RTS_CONTROL_ENABLE = 1;
inline constexpr std::uint32_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr std::uint32_t RTS_CONTROL_TOGGLE = 3;

inline constexpr std::uint32_t kDcbLength = 28;

// Same members, widths and order as the Win32 record, so its size is 28 bytes.
struct DCB {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t fBinary : 1;
    std::uint32_t fParity : 1;
    std::uint32_t fOutxCtsFlow : 1;
    std::uint32_t fOutxDsrFlow : 1;
    std::uint32_t fDtrControl : 2;
    std::uint32_t fDsrSensitivity : 1;
    std::uint32_t fTXContinueOnXoff : 1;
    std::uint32_t fOutX : 1;
    std::uint32_t fInX : 1;
    std::uint32_t fErrorChar : 1;
    std::uint32_t fNull : 1;
    std::uint32_t fRtsControl : 2;
    std::uint32_t fAbortOnError : 1;
    std::uint32_t fDummy2 : 17;
    std::uint16_t wReserved;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;
};
static_assert(sizeof(DCB) == kDcbLength);

bool operator==(const DCB& a, const DCB& b);

// ---- Time-outs, properties, status -----------------------------------------------------------

inline constexpr std::uint32_t MAXDWORD = 0xFFFFFFFFu;

struct COMMTIMEOUTS {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
    bool operator==(const COMMTIMEOUTS&) const = default;
};

struct COMMPROP {
    std::uint16_t wPacketLength;
    std::uint16_t wPacketVersion;
    std::uint32_t dwServiceMask;
    std::uint32_t dwReserved1;
    std::uint32_t dwMaxTxQueue;
    std::uint32_t dwMaxRxQueue;
    std::uint32_t dwMaxBaud;
    std::uint32_t dwProvSubType;
    std::uint32_t dwProvCapabilities;
    std::uint32_t dwSettableParams;
    std::uint32_t dwSettableBaud;
    std::uint16_t wSettableData;
    std::uint16_t wSettableStopParity;
    std::uint32_t dwCurrentTxQueue; // as last given to SetupComm; 0 before
    std::uint32_t dwCurrentRxQueue;
    std::uint32_t dwProvSpec1;
    std::uint32_t dwProvSpec2;
};

struct COMSTAT {
    std::uint32_t fCtsHold : 1;
    std::uint32_t fDsrHold : 1;
    std::uint32_t fRlsdHold : 1;
    std::uint32_t fXoffHold : 1;
    std::uint32_t fXoffSent : 1;
    std::uint32_t fEof : 1;
    std::uint32_t fTxim : 1;
    std::uint32_t fReserved : 25;
    std::uint32_t cbInQue;  // bytes waiting to be read
    std::uint32_t cbOutQue; // bytes not yet sent
};

// Line-error flags returned by ClearCommError.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;

// Event-mask bits (SetCommMask, WaitCommEvent).
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_PERR = 0x0200;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;
inline constexpr std::uint32_t EV_EVENT1 = 0x0800;
inline constexpr std::uint32_t EV_EVENT2 = 0x1000;

// EscapeCommFunction codes.
inline constexpr std::uint32_t SETRTS = 3;
inline constexpr std::uint32_t CLRRTS = 4;
inline constexpr std::uint32_t SETDTR = 5;
inline constexpr std::uint32_t CLRDTR = 6;

// Input-line bits of GetCommModemStatus.
inline constexpr std::uint32_t MS_CTS_ON = 0x0010;
inline constexpr std::uint32_t MS_DSR_ON = 0x0020;
inline constexpr std::uint32_t MS_RING_ON = 0x0040;
inline constexpr std::uint32_t MS_RLSD_ON = 0x0080;

inline constexpr std::uint32_t PURGE_TXABORT = 0x0001;
inline constexpr std::uint32_t PURGE_RXABORT = 0x0002;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x0008;

// "No time limit" for the waits below.
inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

// ---- Last error (per thread, errno values) ---------------------------------------------------

int GetLastError();
void SetLastError(int error);
// Sets the last error with a text that says more than the number's (the host name that is not
// known); SystemErrorText gives it for that number on this thread until the next SetLastError.
void SetLastError(int error, std::string text);
// The system's text for an error number (strerror).
std::string SystemErrorText(int error);

// ---- Stop signal -----------------------------------------------------------------------------

// A manual-reset event backed by an eventfd, so a thread sleeping in poll() on a device can be
// woken by another thread. Set stays set until Reset.
class TStopEvent {
public:
    // Check Valid(): without the eventfd (last error set) nothing could ever be woken.
    TStopEvent();
    ~TStopEvent();
    TStopEvent(const TStopEvent&) = delete;
    TStopEvent& operator=(const TStopEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    bool IsSet() const;
    bool Valid() const { return FFd >= 0; }
    int Fd() const { return FFd; }

private:
    int FFd;
};

// ---- The device interface --------------------------------------------------------------------

enum class TWaitResult : std::uint8_t {
    wrReady,   // the awaited condition holds (events reported, data waiting, room to write)
    wrTimeout, // the time limit passed first
    wrStopped, // the stop event was set
    wrFailed,  // the device failed or went away; GetLastError() tells why
};

// One open device. Destroying it closes the device. Any member may be called from any thread;
// WaitCommEvent is meant for one waiting thread at a time.
class TCommDevice {
public:
    virtual ~TCommDevice();

    virtual bool GetCommState(DCB& dcb) = 0;
    // Refused (false, EINVAL) when the device does not take the settings; it keeps the old ones.
    virtual bool SetCommState(const DCB& dcb) = 0;
    virtual bool SetupComm(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool PurgeComm(std::uint32_t flags) = 0;
    virtual bool GetCommProperties(COMMPROP& prop) = 0;
    virtual bool GetCommTimeouts(COMMTIMEOUTS& timeouts) = 0;
    virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    // Either pointer may be null. Fails (with the counts still filled) once the device is gone.
    virtual bool ClearCommError(std::uint32_t* errors, COMSTAT* stat) = 0;
    // Also ends a pending WaitCommEvent, which then reports wrReady with an empty mask.
    virtual bool SetCommMask(std::uint32_t mask) = 0;
    virtual bool GetCommMask(std::uint32_t& mask) = 0;

    // Sleeps until an event of the mask occurs (received characters, the event character,
    // line and modem changes where the device reports them) and stores the events that occurred.
    // Events are edge-like: bytes left unread do not make the next wait return at once.
    // A set `stop` ends the wait with wrStopped; a hang-up ends it with wrFailed.
    virtual TWaitResult WaitCommEvent(std::uint32_t& eventMask, const TStopEvent* stop) = 0;

    // Reads up to `count` bytes. The time-out record bounds the request as on Win32 (all zero:
    // wait until `count` bytes arrived; ReadIntervalTimeout MAXDWORD with zero totals: return
    // what is waiting). `limitMs` is the caller's own bound on the whole call. A request that
    // times out succeeds with fewer bytes; a device that is gone fails.
    virtual bool ReadFile(void* buffer, std::uint32_t count, std::uint32_t& read,
                          std::uint32_t limitMs = INFINITE) = 0;
    // Writes up to `count` bytes, bounded by the write time-outs and `limitMs` as above.
    virtual bool WriteFile(const void* buffer, std::uint32_t count, std::uint32_t& written,
                           std::uint32_t limitMs = INFINITE) = 0;

    // Sleep (never spin) until bytes are waiting to be read / the device can take more output,
    // at most `timeoutMs`. wrFailed when the device is gone.
    virtual TWaitResult WaitForInput(std::uint32_t timeoutMs) = 0;
    virtual TWaitResult WaitForOutputRoom(std::uint32_t timeoutMs) = 0;

    // Line control and modem status. A device without modem lines (a pseudo-terminal, a raw
    // TCP port) fails them with ENOTSUP, which is also what these defaults do. A break holds
    // the output that is queued, it does not discard it; each device says how.
    virtual bool SetCommBreak();
    virtual bool ClearCommBreak();
    virtual bool EscapeCommFunction(std::uint32_t func);    // SETDTR, CLRDTR, SETRTS, CLRRTS
    virtual bool GetCommModemStatus(std::uint32_t& status); // MS_* of the inputs
    // The present state of the two outputs (Win32 has no query for it): as the control block
    // or EscapeCommFunction last set them.
    virtual bool GetCommOutputLines(bool& dtr, bool& rts);
};

// Opens devices by name.
class TCommApi {
public:
    virtual ~TCommApi();
    // Opens the device for exclusive use; null on failure with the last error set.
    virtual std::unique_ptr<TCommDevice> CreateFile(std::string_view name) = 0;
};

// The system's devices (one shared, stateless instance): network port names through
// OpenNetworkPort (comm_net.h), every other name through the POSIX termios implementation.
TCommApi& PosixCommApi();

// "COM3" -> "/dev/ttyS2"; a name containing '/' is a path; any other name is "/dev/<name>".
std::string DevicePath(std::string_view name);

// Opens a device by the name as typed: "rfc2217://HOST:PORT" and "tcp://HOST:PORT" over the
// network, any other name as the termios device at DevicePath(name). Null on failure with the
// last error set.
std::unique_ptr<TCommDevice> OpenNamedDevice(std::string_view name);

} // namespace qorvel::platform
