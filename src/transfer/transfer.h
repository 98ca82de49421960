#pragma once
// File transfer over the serial line: XMODEM (checksum, CRC, 1K), YMODEM and ZMODEM, each side as a
// state machine without I/O. The caller hands it the bytes that arrived and the time, takes the bytes
// to write when the port has room, and calls Tick when Deadline is due. Files are read and written
// through THost, so the same object runs in the window, in a command-line tool and under a fuzzer.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qorvel::transfer {

// Milliseconds of a monotonic clock; only differences matter.
using TMillis = std::int64_t;
inline constexpr TMillis kNoDeadline = std::numeric_limits<TMillis>::max();

enum class TProtocol { Xmodem, XmodemCrc, Xmodem1K, Ymodem, Zmodem };
inline constexpr TProtocol kProtocols[] = {TProtocol::Xmodem, TProtocol::XmodemCrc, TProtocol::Xmodem1K,
                                           TProtocol::Ymodem, TProtocol::Zmodem};

// "XMODEM (checksum)", "XMODEM-CRC", "XMODEM-1K", "YMODEM", "ZMODEM".
std::string_view ProtocolName(TProtocol Protocol);
// YMODEM and ZMODEM carry names and sizes, and several files in one transfer.
bool IsBatch(TProtocol Protocol);

struct TFileInfo {
    std::string Name; // the sender's name as it came; empty for XMODEM
    std::optional<std::uint64_t> Size;
    std::optional<std::int64_t> ModTime; // seconds since 1970 UTC
    std::optional<std::uint32_t> Mode;   // Unix permission bits
};

enum class TState { Running, Done, Failed, Cancelled };

struct TProgress {
    std::string FileName;       // the file being moved
    std::size_t FileIndex = 0;  // from 0
    std::size_t FileCount = 0;  // 0 while a receiver does not know
    std::uint64_t FileDone = 0; // bytes of this file sent and acknowledged, or received and written
    std::optional<std::uint64_t> FileSize;
    std::uint64_t TotalDone = 0; // over all files
    std::uint32_t Errors = 0;    // bad blocks or frames, timeouts, refusals
    std::uint32_t Retries = 0;   // blocks or frames sent again, repeats asked for
    std::string LastError;       // the last cause, e.g. "timeout", "CRC error in block 12"
};

// What a transfer needs from the world: files to read when sending, files to write when receiving.
class THost {
public:
    virtual ~THost() = default;

    // ---- Sending: files 0 .. SendCount()-1.
    virtual std::size_t SendCount() const { return 0; }
    virtual TFileInfo SendInfo(std::size_t /*Index*/) const { return {}; }
    // Up to Count bytes of file Index from Offset into Buffer; the number read, 0 at the end, or -1
    // with Error set when the file cannot be read.
    virtual std::ptrdiff_t ReadFile(std::size_t /*Index*/, std::uint64_t /*Offset*/, char* /*Buffer*/,
                                    std::size_t /*Count*/, std::string& Error) {
        Error = "nothing to send";
        return -1;
    }

    // ---- Receiving. A file begins (XMODEM: Info has no name). False refuses it with Error set: a
    // batch protocol skips it where it can, otherwise the transfer fails. ResumeFrom may be raised to
    // the length already held, for a sender that can continue a broken transfer.
    virtual bool BeginFile(const TFileInfo& /*Info*/, std::uint64_t& /*ResumeFrom*/, std::string& Error) {
        Error = "receiving is not possible here";
        return false;
    }
    // The next bytes of the file, in order. False with Error set when they cannot be written.
    virtual bool WriteFile(std::string_view /*Data*/, std::string& Error) {
        Error = "receiving is not possible here";
        return false;
    }
    // The file ends: Complete when all of it arrived. The host keeps or drops a partial file.
    virtual void EndFile(bool /*Complete*/) {}
};

class TTransfer {
public:
    virtual ~TTransfer() = default;
    // Bytes from the device.
    virtual void Receive(std::string_view Bytes, TMillis Now) = 0;
    // Appends to Out at most Room bytes the transfer wants written now. Call it after Receive and
    // Tick and whenever the port takes more; a streaming sender fills what room there is.
    virtual void Output(std::string& Out, std::size_t Room, TMillis Now) = 0;
    // Time-outs and retries; call at Deadline() or later.
    virtual void Tick(TMillis Now) = 0;
    virtual TMillis Deadline() const = 0;
    // The operator's cancel: the protocol's abort is queued for Output; the state becomes Cancelled.
    virtual void Cancel(TMillis Now) = 0;
    // Leaves Running only when every byte the transfer had to write was taken by Output.
    virtual TState State() const = 0;
    virtual const TProgress& Progress() const = 0;
    // Why the transfer failed or was cancelled, in words for the operator, e.g. "Block 12: no answer
    // after 10 tries (last: timeout)", "Cancelled by the device"; empty while running and when done.
    virtual const std::string& Error() const = 0;
    // Bytes that arrived after the transfer ended and belong to the terminal (the device's prompt).
    virtual std::string TakeTrailing() = 0;
};

std::unique_ptr<TTransfer> MakeSender(TProtocol Protocol, THost& Host, TMillis Now);
std::unique_ptr<TTransfer> MakeReceiver(TProtocol Protocol, THost& Host, TMillis Now);

} // namespace qorvel::transfer
