#include "transfer/zmodem_frames.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "transfer/crc.h"

namespace qorvel::transfer::zmodem {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Raw flow control characters that the line may let through; never data.
constexpr bool IsFlowControl(unsigned char Byte) {
    return Byte == 0x11 || Byte == 0x13 || Byte == 0x91 || Byte == 0x93;
}

constexpr std::array<bool, 256> MakeReaderSpecial() {
    std::array<bool, 256> special{};
    special[static_cast<unsigned char>(kZdle)] = true;
    for (unsigned char c : {0x11, 0x13, 0x91, 0x93})
        special[c] = true;
    return special;
}
constexpr auto kReaderSpecial = MakeReaderSpecial();

int HexValue(unsigned char Byte) {
    Byte &= 0x7F;
    if (Byte >= '0' && Byte <= '9') return Byte - '0';
    if (Byte >= 'a' && Byte <= 'f') return Byte - 'a' + 10;
    if (Byte >= 'A' && Byte <= 'F') return Byte - 'A' + 10;
    return -1;
}

void AppendHexByte(std::string& Out, std::uint8_t Byte) {
    Out += kHexDigits[Byte >> 4];
    Out += kHexDigits[Byte & 0x0F];
}

std::string_view HeaderBytes(const THeader& Header, char (&Buffer)[5]) {
    Buffer[0] = static_cast<char>(Header.Type);
    for (int i = 0; i < 4; ++i)
        Buffer[i + 1] = static_cast<char>(Header.Bytes[i]);
    return {Buffer, 5};
}

} // namespace

std::uint32_t THeader::Position() const {
    return Bytes[0] | Bytes[1] << 8 | Bytes[2] << 16 | static_cast<std::uint32_t>(Bytes[3]) << 24;
}

THeader MakeHeader(std::uint8_t Type, std::uint32_t Position) {
    THeader header;
    header.Type = Type;
    for (int i = 0; i < 4; ++i)
        header.Bytes[i] = static_cast<std::uint8_t>(Position >> (8 * i));
    return header;
}

THeader MakeFlagsHeader(std::uint8_t Type, std::uint8_t Flags0) {
    THeader header;
    header.Type = Type;
    header.Bytes[3] = Flags0;
    return header;
}

TEscaper::TEscaper(bool EscapeControls) {
    for (unsigned char c : {0x18, 0x10, 0x90, 0x11, 0x91, 0x13, 0x93})
        FEscape[c] = true;
    if (EscapeControls)
        for (unsigned c = 0; c < 256; ++c)
            if ((c & 0x60) == 0) FEscape[c] = true;
}

void TEscaper::Append(std::string& Out, std::string_view Bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(Bytes.data());
    const auto* end = p + Bytes.size();
    while (p < end) {
        const auto* run = p;
        while (p < end && !FEscape[*p] && (*p & 0x7F) != '\r')
            ++p;
        if (p != run) {
            Out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
            FLast = static_cast<char>(p[-1]);
        }
        if (p == end) break;
        const unsigned char c = *p++;
        if (FEscape[c] || (FLast & 0x7F) == '@') {
            Out += kZdle;
            FLast = static_cast<char>(c ^ 0x40);
        } else {
            FLast = static_cast<char>(c);
        }
        Out += FLast;
    }
}

void AppendHexHeader(std::string& Out, const THeader& Header) {
    char buffer[5];
    const std::uint16_t crc = Crc16(HeaderBytes(Header, buffer));
    Out += kZpad;
    Out += kZpad;
    Out += kZdle;
    Out += kZhex;
    AppendHexByte(Out, Header.Type);
    for (std::uint8_t b : Header.Bytes)
        AppendHexByte(Out, b);
    AppendHexByte(Out, static_cast<std::uint8_t>(crc >> 8));
    AppendHexByte(Out, static_cast<std::uint8_t>(crc));
    Out += "\r\x8a";
    // The XON restarts a sender stopped by a stray XOFF; not after ZACK and ZFIN, which may be the
    // last thing the peer reads.
    if (Header.Type != ZACK && Header.Type != ZFIN) Out += '\x11';
}

void AppendBinaryHeader(std::string& Out, const THeader& Header, bool Crc32Frame, TEscaper& Escaper) {
    char buffer[5];
    const std::string_view bytes = HeaderBytes(Header, buffer);
    Out += kZpad;
    Out += kZdle;
    Out += Crc32Frame ? kZbin32 : kZbin;
    Escaper.Append(Out, bytes);
    char crc[4];
    if (Crc32Frame) {
        const std::uint32_t value = Crc32(bytes);
        for (int i = 0; i < 4; ++i)
            crc[i] = static_cast<char>(value >> (8 * i));
        Escaper.Append(Out, {crc, 4});
    } else {
        const std::uint16_t value = Crc16(bytes);
        crc[0] = static_cast<char>(value >> 8);
        crc[1] = static_cast<char>(value);
        Escaper.Append(Out, {crc, 2});
    }
}

void AppendSubpacket(std::string& Out, std::string_view Data, char End, bool Crc32Frame, TEscaper& Escaper) {
    Escaper.Append(Out, Data);
    Out += kZdle;
    Out += End;
    char crc[4];
    if (Crc32Frame) {
        const std::uint32_t value = Crc32({&End, 1}, Crc32(Data));
        for (int i = 0; i < 4; ++i)
            crc[i] = static_cast<char>(value >> (8 * i));
        Escaper.Append(Out, {crc, 4});
    } else {
        const std::uint16_t value = Crc16({&End, 1}, Crc16(Data));
        crc[0] = static_cast<char>(value >> 8);
        crc[1] = static_cast<char>(value);
        Escaper.Append(Out, {crc, 2});
    }
}

std::size_t TReader::SkipHeaderEnd(std::string_view Bytes) {
    std::size_t i = 0;
    while (i < Bytes.size() && FMode == TMode::HexTail && TailByte(static_cast<unsigned char>(Bytes[i])))
        ++i;
    return i;
}

bool TReader::TailByte(unsigned char Byte) {
    if (FHexTail == 0 && (Byte & 0x7F) == '\r')
        FHexTail = 1;
    else if (FHexTail <= 1 && (Byte & 0x7F) == '\n')
        FHexTail = 2;
    else if (FHexTail <= 2 && Byte == 0x11)
        FMode = FAfterTail;
    else {
        FMode = FAfterTail;
        return false;
    }
    return true;
}

void TReader::ExpectData(bool Crc32Frame) {
    // A hex header's CR LF XON may still come before the data.
    if (FMode == TMode::HexTail)
        FAfterTail = TMode::Data;
    else
        FMode = TMode::Data;
    FDataCrc32 = Crc32Frame;
    FPendingZdle = false;
    FData.clear();
}

void TReader::Hunt() {
    FMode = TMode::Hunt;
    FAfterTail = TMode::Hunt;
    FPendingZdle = false;
}

bool TReader::Cancelled(unsigned char Byte) {
    if (Byte != static_cast<unsigned char>(kZdle)) {
        FCanCount = 0;
        return false;
    }
    if (++FCanCount < 5) return false;
    FCanCount = 0;
    return true;
}

int TReader::Unescape(unsigned char Byte) {
    if (FPendingZdle) {
        if (Byte == static_cast<unsigned char>(kZdle)) return -1; // a run of CANs, counted apart
        FPendingZdle = false;
        if (Byte >= ZCRCE && Byte <= ZCRCW) return 0x100 | Byte;
        if (Byte == 'l') return 0x7F; // ZRUB0
        if (Byte == 'm') return 0xFF; // ZRUB1
        if ((Byte & 0x60) == 0x40) return Byte ^ 0x40;
        return -2;
    }
    if (Byte == static_cast<unsigned char>(kZdle)) {
        FPendingZdle = true;
        return -1;
    }
    if (IsFlowControl(Byte)) return -1;
    return Byte;
}

TReader::TEvent TReader::HeaderComplete() {
    std::uint8_t bytes[5];
    bool good;
    if (FFormat == kZhex) {
        for (int i = 0; i < 7; ++i)
            FRaw[i] = static_cast<unsigned char>(HexValue(FRaw[2 * i]) << 4 | HexValue(FRaw[2 * i + 1]));
        good = Crc16({reinterpret_cast<const char*>(FRaw), 5}) == (FRaw[5] << 8 | FRaw[6]);
    } else if (FFormat == kZbin32) {
        const std::uint32_t crc =
            FRaw[5] | FRaw[6] << 8 | FRaw[7] << 16 | static_cast<std::uint32_t>(FRaw[8]) << 24;
        good = Crc32({reinterpret_cast<const char*>(FRaw), 5}) == crc;
    } else {
        good = Crc16({reinterpret_cast<const char*>(FRaw), 5}) == (FRaw[5] << 8 | FRaw[6]);
    }
    for (int i = 0; i < 5; ++i)
        bytes[i] = FRaw[i];
    FMode = FFormat == kZhex ? TMode::HexTail : TMode::Hunt;
    FAfterTail = TMode::Hunt;
    FHexTail = 0;
    if (!good) {
        FWhy = "CRC error in a header";
        FMode = TMode::Hunt;
        return TEvent::BadHeader;
    }
    FHeader.Type = bytes[0];
    for (int i = 0; i < 4; ++i)
        FHeader.Bytes[i] = bytes[i + 1];
    FHeader.Crc32 = FFormat == kZbin32;
    return TEvent::Header;
}

TReader::TEvent TReader::DataComplete() {
    bool good;
    if (FDataCrc32) {
        const std::uint32_t crc =
            FCrc[0] | FCrc[1] << 8 | FCrc[2] << 16 | static_cast<std::uint32_t>(FCrc[3]) << 24;
        good = Crc32({&FEnd, 1}, Crc32(FData)) == crc;
    } else {
        good = Crc16({&FEnd, 1}, Crc16(FData)) == (FCrc[0] << 8 | FCrc[1]);
    }
    if (!good) {
        FWhy = "CRC error";
        FMode = TMode::Hunt;
        return TEvent::BadData;
    }
    FMode = FEnd == ZCRCE || FEnd == ZCRCW ? TMode::Hunt : TMode::Data;
    return TEvent::Data;
}

std::size_t TReader::Feed(std::string_view Bytes, TEvent& Event) {
    Event = TEvent::None;
    if (FDataHandedOut) {
        // The previous subpacket was handed out; the next one starts empty.
        FData.clear();
        FDataHandedOut = false;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(Bytes.data());
    const std::size_t size = Bytes.size();
    std::size_t i = 0;
    while (i < size) {
        if (FMode == TMode::Data && !FPendingZdle && !kReaderSpecial[data[i]]) {
            // Fast path: a run of plain data bytes.
            std::size_t j = i;
            const std::size_t room = kMaxSubpacket + 1 - FData.size();
            const std::size_t limit = size - i < room ? size : i + room;
            while (j < limit && !kReaderSpecial[data[j]])
                ++j;
            FData.append(Bytes.data() + i, j - i);
            FCanCount = 0;
            i = j;
            if (FData.size() > kMaxSubpacket) {
                FWhy = "data subpacket too long";
                Hunt();
                Event = TEvent::BadData;
                return i;
            }
            continue;
        }
        if (FMode == TMode::HexTail) {
            // The CR LF (XON) after a hex header belong to it, not to what follows.
            i += TailByte(data[i]);
            continue;
        }
        const unsigned char b = data[i++];
        if (Cancelled(b)) {
            Hunt();
            Event = TEvent::Cancel;
            return i;
        }
        switch (FMode) {
        case TMode::Hunt:
            if ((b & 0x7F) == kZpad) FMode = TMode::Pad;
            break;
        case TMode::Pad:
            if (b == static_cast<unsigned char>(kZdle))
                FMode = TMode::Format;
            else if ((b & 0x7F) != kZpad)
                FMode = TMode::Hunt;
            break;
        case TMode::Format:
            if (b == static_cast<unsigned char>(kZdle)) break;
            FFormat = static_cast<char>(b);
            FRawCount = 0;
            FPendingZdle = false;
            FRawWanted = b == kZbin ? 7 : b == kZbin32 ? 9 : b == kZhex ? 14 : 0;
            FMode = FRawWanted ? TMode::HeaderBody : TMode::Hunt;
            break;
        case TMode::HeaderBody: {
            int value;
            if (FFormat == kZhex) {
                if (IsFlowControl(b)) continue;
                value = HexValue(b) < 0 ? -2 : b;
            } else {
                value = Unescape(b);
                if (value == -1) continue;
                if (value > 0xFF) value = -2;
            }
            if (value < 0) {
                FWhy = "bad header";
                Hunt();
                Event = TEvent::BadHeader;
                return i;
            }
            FRaw[FRawCount++] = static_cast<unsigned char>(value);
            if (FRawCount == FRawWanted) {
                Event = HeaderComplete();
                return i;
            }
            break;
        }
        case TMode::HexTail: break;
        case TMode::Data: {
            const int value = Unescape(b);
            if (value == -1) continue;
            if (value == -2) {
                FWhy = "bad escape in data";
                Hunt();
                Event = TEvent::BadData;
                return i;
            }
            if (value > 0xFF) {
                FEnd = static_cast<char>(value & 0xFF);
                FMode = TMode::Crc;
                FCrcCount = 0;
            } else {
                FData += static_cast<char>(value);
                if (FData.size() > kMaxSubpacket) {
                    FWhy = "data subpacket too long";
                    Hunt();
                    Event = TEvent::BadData;
                    return i;
                }
            }
            break;
        }
        case TMode::Crc: {
            const int value = Unescape(b);
            if (value == -1) continue;
            if (value < 0 || value > 0xFF) {
                FWhy = "bad escape in data";
                Hunt();
                Event = TEvent::BadData;
                return i;
            }
            FCrc[FCrcCount++] = static_cast<unsigned char>(value);
            if (FCrcCount == (FDataCrc32 ? 4u : 2u)) {
                Event = DataComplete();
                FDataHandedOut = Event == TEvent::Data && FMode == TMode::Data;
                return i;
            }
            break;
        }
        }
    }
    return i;
}

} // namespace qorvel::transfer::zmodem

namespace qorvel::transfer::zmodem {
namespace {

// The fields after the name, split at blanks.
std::array<std::string_view, 6> InfoFields(std::string_view Data) {
    std::array<std::string_view, 6> fields{};
    const std::size_t nul = Data.find('\0');
    if (nul == std::string_view::npos) return fields;
    std::string_view rest = Data.substr(nul + 1);
    rest = rest.substr(0, rest.find('\0'));
    for (auto& field : fields) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        rest.remove_prefix(start);
        const std::size_t end = std::min(rest.find(' '), rest.size());
        field = rest.substr(0, end);
        rest.remove_prefix(end);
    }
    return fields;
}

std::optional<std::uint64_t> Number(std::string_view Field, int Base) {
    std::uint64_t value = 0;
    if (Field.empty()) return std::nullopt;
    const auto [end, error] = std::from_chars(Field.data(), Field.data() + Field.size(), value, Base);
    if (error != std::errc() || end != Field.data() + Field.size()) return std::nullopt;
    return value;
}

} // namespace

std::string FormatFileInfo(const TFileInfo& Info, std::size_t FilesLeft, std::uint64_t BytesLeft) {
    std::string name = Info.Name;
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1); // the receiver gets no paths of ours
    std::string out = name;
    out += '\0';
    if (Info.Size) {
        char buffer[96];
        const int length = std::snprintf(
            buffer, sizeof buffer, "%llu %llo %o 0 %zu %llu", static_cast<unsigned long long>(*Info.Size),
            static_cast<unsigned long long>(std::max<std::int64_t>(Info.ModTime.value_or(0), 0)),
            Info.Mode ? 0100000u | (*Info.Mode & 07777u) : 0u, FilesLeft,
            static_cast<unsigned long long>(BytesLeft));
        out.append(buffer, static_cast<std::size_t>(length));
    }
    out += '\0';
    return out;
}

TFileInfo ParseFileInfo(std::string_view Data) {
    TFileInfo info;
    info.Name = std::string(Data.substr(0, Data.find('\0')));
    const auto fields = InfoFields(Data);
    info.Size = Number(fields[0], 10);
    if (const auto time = Number(fields[1], 8); time && *time < (std::uint64_t{1} << 62))
        info.ModTime = static_cast<std::int64_t>(*time);
    // Only permission bits: set-id bits from the far side are not wanted.
    if (const auto mode = Number(fields[2], 8); mode && (*mode & 0777) != 0)
        info.Mode = static_cast<std::uint32_t>(*mode & 0777);
    return info;
}

std::optional<std::uint64_t> ParseFilesLeft(std::string_view Data) {
    return Number(InfoFields(Data)[4], 10);
}

} // namespace qorvel::transfer::zmodem
