#pragma once
// ZMODEM's framing, shared by both sides: headers (hex, binary with CRC-16 or CRC-32), ZDLE escaping
// and data subpackets, and an incremental reader that turns received bytes into frames.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/transfer.h"

namespace qorvel::transfer::zmodem {

inline constexpr char kZpad = '*';
inline constexpr char kZdle = 0x18; // also CAN: five in a row abort the transfer
inline constexpr char kZbin = 'A';
inline constexpr char kZhex = 'B';
inline constexpr char kZbin32 = 'C';

enum TFrameType : std::uint8_t {
    ZRQINIT = 0,
    ZRINIT = 1,
    ZSINIT = 2,
    ZACK = 3,
    ZFILE = 4,
    ZSKIP = 5,
    ZNAK = 6,
    ZABORT = 7,
    ZFIN = 8,
    ZRPOS = 9,
    ZDATA = 10,
    ZEOF = 11,
    ZFERR = 12,
    ZCRC = 13,
    ZCHALLENGE = 14,
    ZCOMPL = 15,
    ZCAN = 16,
    ZFREECNT = 17,
    ZCOMMAND = 18,
    ZSTDERR = 19,
};

// How a data subpacket ends (the byte after its ZDLE).
inline constexpr char ZCRCE = 'h'; // end of frame, a header follows
inline constexpr char ZCRCG = 'i'; // more data follows, no answer
inline constexpr char ZCRCQ = 'j'; // more data follows, ZACK expected
inline constexpr char ZCRCW = 'k'; // end of frame, ZACK expected

// ZRINIT's capability bits (ZF0) and ZSINIT's (ZF0).
inline constexpr std::uint8_t CANFDX = 0x01;
inline constexpr std::uint8_t CANOVIO = 0x02;
inline constexpr std::uint8_t CANFC32 = 0x20;
inline constexpr std::uint8_t ESCCTL = 0x40;
inline constexpr std::uint8_t TESCCTL = 0x40;
inline constexpr std::uint8_t ZCBIN = 1; // ZFILE's ZF0: binary, no conversion

// The largest data subpacket either side accepts; a longer one is an error, so garbage cannot grow
// memory.
inline constexpr std::size_t kMaxSubpacket = 8192;

// The abort: eight CAN, then backspaces to wipe them from a shell's line.
inline constexpr std::string_view kAbort = "\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\b";

// Header bytes ZP0..ZP3: a position low byte first; flags ZF0 is the last byte.
struct THeader {
    std::uint8_t Type = 0;
    std::array<std::uint8_t, 4> Bytes{};
    std::uint32_t Position() const;
    std::uint8_t Flags0() const { return Bytes[3]; }
    bool Crc32 = false; // arrived as ZBIN32: its data subpackets carry CRC-32
};
THeader MakeHeader(std::uint8_t Type, std::uint32_t Position = 0);
THeader MakeFlagsHeader(std::uint8_t Type, std::uint8_t Flags0);

// The escaping rules of one direction: ESCCTL adds every control character.
class TEscaper {
public:
    explicit TEscaper(bool EscapeControls = false);
    void Append(std::string& Out, std::string_view Bytes);

private:
    std::array<bool, 256> FEscape{};
    char FLast = 0; // a CR after '@' is escaped, so "@\r" never reads as a modem command
};

void AppendHexHeader(std::string& Out, const THeader& Header);
void AppendBinaryHeader(std::string& Out, const THeader& Header, bool Crc32, TEscaper& Escaper);
void AppendSubpacket(std::string& Out, std::string_view Data, char End, bool Crc32, TEscaper& Escaper);

// ZFILE's data: the name, NUL, then "size mtime(octal) mode(octal) serial files-left bytes-left".
// Parsing trusts nothing: a field that is not a plain number in range is left unknown.
std::string FormatFileInfo(const TFileInfo& Info, std::size_t FilesLeft, std::uint64_t BytesLeft);
TFileInfo ParseFileInfo(std::string_view Data);
std::optional<std::uint64_t> ParseFilesLeft(std::string_view Data);

// Turns received bytes into headers and data subpackets. It hunts for a header until told that data
// follows (ExpectData after ZFILE, ZDATA, ZSINIT); after a subpacket that ends the frame (ZCRCE,
// ZCRCW) or a bad one it hunts again. Raw XON/XOFF are dropped as flow control that leaked through.
class TReader {
public:
    enum class TEvent { None, Header, Data, BadHeader, BadData, Cancel };
    // Reads until one event completes; returns the number of bytes consumed.
    std::size_t Feed(std::string_view Bytes, TEvent& Event);
    // Consumes the CR LF (XON) that may still follow a hex header, for a caller that stops reading
    // frames there; returns their number.
    std::size_t SkipHeaderEnd(std::string_view Bytes);
    void ExpectData(bool Crc32);
    void Hunt();
    bool Hunting() const { return FMode == TMode::Hunt; }

    const THeader& Header() const { return FHeader; }
    std::string_view Data() const { return FData; }
    char End() const { return FEnd; }
    const char* Why() const { return FWhy; } // the cause of the last BadHeader / BadData

private:
    enum class TMode { Hunt, Pad, Format, HeaderBody, HexTail, Data, Crc };
    // One unescaped byte, or -1 when more input is needed, or -2 for a bad escape; a ZCRCx after ZDLE
    // comes as 0x100 | byte.
    int Unescape(unsigned char Byte);
    bool Cancelled(unsigned char Byte);
    bool TailByte(unsigned char Byte); // false: not part of the tail, which has ended
    TEvent HeaderComplete();
    TEvent DataComplete();

    TMode FMode = TMode::Hunt;
    TMode FAfterTail = TMode::Hunt;
    char FFormat = 0;
    bool FDataCrc32 = false;
    bool FPendingZdle = false;
    bool FDataHandedOut = false;
    int FCanCount = 0;
    int FHexTail = 0;
    unsigned char FRaw[16]{}; // the header's bytes (binary) or hex digits
    std::size_t FRawCount = 0;
    std::size_t FRawWanted = 0;
    THeader FHeader;
    std::string FData;
    char FEnd = 0;
    unsigned char FCrc[4]{};
    std::size_t FCrcCount = 0;
    const char* FWhy = "";
};

} // namespace qorvel::transfer::zmodem
