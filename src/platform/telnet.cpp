#include "platform/telnet.h"

#include <algorithm>
#include <cstring>

namespace qorvel::platform::telnet {

namespace {

// The end of the run of plain data bytes that starts at `from`.
const std::uint8_t* DataRunEnd(const std::uint8_t* from, const std::uint8_t* end, bool binary) {
    if (binary) {
        const void* iac = std::memchr(from, IAC, std::size_t(end - from));
        return iac ? static_cast<const std::uint8_t*>(iac) : end;
    }
    return std::find_if(from, end, [](std::uint8_t c) { return c == IAC || c == kCR; });
}

} // namespace

void TParser::Feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data,
                   THandler& handler) {
    const std::uint8_t* p = bytes;
    const std::uint8_t* const end = bytes + size;
    while (p < end) {
        switch (FState) {
        case TState::Data: {
            if (FAfterCr) {
                FAfterCr = false;
                if (*p == kNUL && !FBinary) {
                    ++p; // CR NUL: the NUL only says "nothing follows the CR"
                    break;
                }
            }
            const std::uint8_t* run = DataRunEnd(p, end, FBinary);
            data.insert(data.end(), p, run);
            p = run;
            if (p == end) break;
            if (*p == IAC) {
                FState = TState::Command;
            } else {
                data.push_back(kCR);
                FAfterCr = true;
            }
            ++p;
            break;
        }
        case TState::Command: {
            const std::uint8_t c = *p++;
            FState = TState::Data;
            switch (c) {
            case IAC: data.push_back(IAC); break; // doubled IAC: one data byte 255
            case WILL:
            case WONT:
            case DO:
            case DONT:
                FVerb = c;
                FState = TState::Option;
                break;
            case SB:
                FSubLength = 0;
                FSubTooLong = false;
                FState = TState::Sub;
                break;
            default: break; // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, stray SE: no data, nothing to do
            }
            break;
        }
        case TState::Option:
            FState = TState::Data;
            handler.OnNegotiation(FVerb, *p++);
            break;
        case TState::Sub: {
            const void* found = std::memchr(p, IAC, std::size_t(end - p));
            const std::uint8_t* run = found ? static_cast<const std::uint8_t*>(found) : end;
            const std::size_t n = std::size_t(run - p);
            if (n > FSub.size() - FSubLength) {
                FSubTooLong = true;
            } else {
                std::memcpy(FSub.data() + FSubLength, p, n);
                FSubLength += n;
            }
            p = run;
            if (p < end) {
                FState = TState::SubCommand;
                ++p;
            }
            break;
        }
        case TState::SubCommand: {
            const std::uint8_t c = *p;
            if (c == IAC) {
                if (FSubLength < FSub.size())
                    FSub[FSubLength++] = IAC;
                else
                    FSubTooLong = true;
                FState = TState::Sub;
                ++p;
            } else if (c == SE) {
                FState = TState::Data;
                ++p;
                if (!FSubTooLong && FSubLength > 0) handler.OnSubnegotiation({FSub.data(), FSubLength});
            } else {
                // IAC and anything else inside a subnegotiation: the server broke it off. Drop it
                // and read the byte as the command it is.
                FState = TState::Command;
            }
            break;
        }
        }
    }
}

bool TParser::IsData(std::uint8_t c) const {
    switch (FState) {
    case TState::Data: return c != IAC && !(FAfterCr && c == kNUL && !FBinary);
    case TState::Command: return c == IAC; // doubled IAC
    default: return false;                 // option byte, subnegotiation body
    }
}

std::size_t TParser::FeedControl(const std::uint8_t* bytes, std::size_t size, THandler& handler) {
    std::vector<std::uint8_t> none; // stays empty: no byte fed here is data
    std::size_t n = 0;
    for (; n < size && !IsData(bytes[n]); ++n)
        Feed(bytes + n, 1, none, handler);
    return n;
}

void AppendEscaped(const std::uint8_t* bytes, std::size_t size, bool binary,
                   std::vector<std::uint8_t>& wire) {
    const std::uint8_t* p = bytes;
    const std::uint8_t* const end = bytes + size;
    while (p < end) {
        const std::uint8_t* run = DataRunEnd(p, end, binary);
        wire.insert(wire.end(), p, run);
        if (run == end) break;
        wire.push_back(*run);
        wire.push_back(*run == IAC ? IAC : kNUL);
        p = run + 1;
    }
}

void AppendNegotiation(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& wire) {
    wire.insert(wire.end(), {IAC, verb, option});
}

void AppendSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> body,
                          std::vector<std::uint8_t>& wire) {
    wire.insert(wire.end(), {IAC, SB});
    AppendEscaped(&option, 1, true, wire); // option 255 (extended options) is doubled like data
    AppendEscaped(body.data(), body.size(), true, wire);
    wire.insert(wire.end(), {IAC, SE});
}

} // namespace qorvel::platform::telnet
