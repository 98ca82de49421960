#pragma once
// The Telnet byte layer (RFC 854, 855, 856): splits what a server sends into data bytes, option
// negotiations and subnegotiations, and escapes data for the wire. Plain code without I/O, so it
// can be fed any bytes in any pieces (table tests, fuzzing).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qorvel::platform::telnet {

// Commands (RFC 854).
inline constexpr std::uint8_t SE = 240;   // end of subnegotiation
inline constexpr std::uint8_t NOP = 241;  // no operation
inline constexpr std::uint8_t DM = 242;   // data mark
inline constexpr std::uint8_t BRK = 243;  // break
inline constexpr std::uint8_t IP = 244;   // interrupt process
inline constexpr std::uint8_t AO = 245;   // abort output
inline constexpr std::uint8_t AYT = 246;  // are you there
inline constexpr std::uint8_t EC = 247;   // erase character
inline constexpr std::uint8_t EL = 248;   // erase line
inline constexpr std::uint8_t GA = 249;   // go ahead
inline constexpr std::uint8_t SB = 250;   // start of subnegotiation
inline constexpr std::uint8_t WILL = 251; // sender wants to enable / has enabled an option
inline constexpr std::uint8_t WONT = 252;
inline constexpr std::uint8_t DO = 253; // sender wants the receiver to enable an option
inline constexpr std::uint8_t DONT = 254;
inline constexpr std::uint8_t IAC = 255; // interpret as command

// Options used here.
inline constexpr std::uint8_t kOptBinary = 0;          // RFC 856
inline constexpr std::uint8_t kOptEcho = 1;            // RFC 857
inline constexpr std::uint8_t kOptSuppressGoAhead = 3; // RFC 858
inline constexpr std::uint8_t kOptComPort = 44;        // RFC 2217

inline constexpr std::uint8_t kCR = 13;
inline constexpr std::uint8_t kNUL = 0;

// Longer subnegotiations are dropped whole: nothing we understand comes near this size.
inline constexpr std::size_t kMaxSubnegotiation = 256;

class TParser {
public:
    class THandler {
    public:
        // IAC WILL/WONT/DO/DONT option.
        virtual void OnNegotiation(std::uint8_t verb, std::uint8_t option) = 0;
        // IAC SB option parameters... IAC SE, with doubled IACs undone; `body` starts with the option.
        virtual void OnSubnegotiation(std::span<const std::uint8_t> body) = 0;

    protected:
        ~THandler() = default;
    };

    // Whether the server sends in binary mode. Outside it, CR NUL on the wire stands for a lone CR.
    // May be changed from inside a handler call; it takes effect with the next byte.
    void SetBinary(bool on) { FBinary = on; }
    bool Binary() const { return FBinary; }

    // Takes the next piece of the server's stream: data bytes are appended to `data`, the rest
    // goes to `handler`. A sequence split across pieces is completed by the next call.
    void Feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data,
              THandler& handler);
    // Like Feed, but stops before the first byte that would be data and returns how many bytes it
    // took: a reader whose data queue is full still takes the commands at the head of the stream.
    std::size_t FeedControl(const std::uint8_t* bytes, std::size_t size, THandler& handler);

private:
    bool IsData(std::uint8_t c) const;

    enum class TState : std::uint8_t {
        Data,      // plain data
        Command,   // after IAC
        Option,    // after IAC WILL/WONT/DO/DONT
        Sub,       // inside IAC SB ... IAC SE
        SubCommand // after IAC inside a subnegotiation
    };
    TState FState = TState::Data;
    bool FBinary = false;
    bool FAfterCr = false; // the last data byte was a CR (NVT mode)
    std::uint8_t FVerb = 0;
    bool FSubTooLong = false;
    std::size_t FSubLength = 0;
    std::array<std::uint8_t, kMaxSubnegotiation> FSub{};
};

// Appends `size` data bytes to `wire` in Telnet form: IAC doubled, and outside binary mode a CR
// followed by NUL (a CR LF pair then reads CR NUL LF, which means the same).
void AppendEscaped(const std::uint8_t* bytes, std::size_t size, bool binary, std::vector<std::uint8_t>& wire);

// Appends IAC verb option.
void AppendNegotiation(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& wire);

// Appends IAC SB option body... IAC SE, doubling IACs inside the body.
void AppendSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> body,
                          std::vector<std::uint8_t>& wire);

} // namespace qorvel::platform::telnet
