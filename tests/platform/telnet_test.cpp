// The Telnet byte layer and the RFC 2217 client without sockets: server bytes in, data, events
// and wire bytes out. Wire bytes are written as hex so a row reads like a protocol trace.
#include "platform/telnet_comport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace qorvel::platform::telnet {
namespace {

using TBytes = std::vector<std::uint8_t>;

// "ff fb 00" -> {0xff, 0xfb, 0x00}.
TBytes Hex(std::string_view text) {
    TBytes out;
    std::istringstream in{std::string(text)};
    std::string word;
    while (in >> word)
        out.push_back(std::uint8_t(std::stoul(word, nullptr, 16)));
    return out;
}

TBytes Text(std::string_view text) {
    return TBytes(text.begin(), text.end());
}

std::string ToHex(const TBytes& bytes) {
    std::string out;
    char buffer[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02x", b);
        if (!out.empty()) out += ' ';
        out += buffer;
    }
    return out;
}

// Records what the parser reports, one line per call.
class TRecorder final : public TParser::THandler {
public:
    void OnNegotiation(std::uint8_t verb, std::uint8_t option) override {
        Log += "neg " + ToHex({verb, option}) + ";";
        if (option == kOptBinary && (verb == WILL || verb == WONT)) Parser->SetBinary(verb == WILL);
    }
    void OnSubnegotiation(std::span<const std::uint8_t> body) override {
        Log += "sb " + ToHex(TBytes(body.begin(), body.end())) + ";";
    }
    TParser* Parser = nullptr;
    std::string Log;
};

struct TParseCase {
    const char* Name;
    std::vector<TBytes> Pieces; // fed one after another
    bool Binary;
    TBytes Data;
    std::string Log;
};

TBytes Cat(std::initializer_list<TBytes> parts) {
    TBytes out;
    for (const TBytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const TBytes kLongSub =
    Cat({Hex("ff fa 2c"), TBytes(kMaxSubnegotiation + 10, 'x'), Hex("ff f0"), Text("ok")});

const TParseCase kParseCases[] = {
    {"plain data", {Text("hello")}, true, Text("hello"), ""},
    {"doubled IAC is one 255", {Hex("41 ff ff 42")}, true, Hex("41 ff 42"), ""},
    {"doubled IAC split", {Hex("41 ff"), Hex("ff 42")}, true, Hex("41 ff 42"), ""},
    {"negotiation", {Hex("61 ff fb 00 62")}, true, Text("ab"), "neg fb 00;"},
    {"negotiation split byte by byte", {Hex("ff"), Hex("fd"), Hex("2c")}, true, {}, "neg fd 2c;"},
    {"commands carry no data", {Hex("61 ff f1 62 ff f9 63 ff f2 ff f3 ff f0")}, true, Text("abc"), ""},
    {"subnegotiation with escaped IAC",
     {Hex("ff fa 2c 65 00 00 ff ff 00 ff f0 7a")},
     true,
     Text("z"),
     "sb 2c 65 00 00 ff 00;"},
    {"subnegotiation split everywhere",
     {Hex("ff"), Hex("fa"), Hex("2c 66"), Hex("07 ff"), Hex("f0")},
     true,
     {},
     "sb 2c 66 07;"},
    {"subnegotiation broken off by a negotiation",
     {Hex("ff fa 2c 01 02 ff fb 01 7a")},
     true,
     Text("z"),
     "neg fb 01;"},
    {"empty subnegotiation ignored", {Hex("ff fa ff f0 61")}, true, Text("a"), ""},
    {"overlong subnegotiation dropped", {kLongSub}, true, Text("ok"), ""},
    {"NVT: CR NUL is a CR", {Hex("61 0d 00 62 0d 0a")}, false, Hex("61 0d 62 0d 0a"), ""},
    {"NVT: CR NUL split", {Hex("61 0d"), Hex("00 62")}, false, Hex("61 0d 62"), ""},
    {"NVT: CR CR NUL", {Hex("0d 0d 00")}, false, Hex("0d 0d"), ""},
    {"binary: CR NUL is data", {Hex("61 0d 00 62")}, true, Hex("61 0d 00 62"), ""},
    {"binary switched on mid-piece", {Hex("0d 00 ff fb 00 0d 00")}, false, Hex("0d 0d 00"), "neg fb 00;"},
};

class TelnetParse : public ::testing::TestWithParam<TParseCase> {};

TEST_P(TelnetParse, SplitsDataFromCommands) {
    const TParseCase& c = GetParam();
    TParser parser;
    parser.SetBinary(c.Binary);
    TRecorder recorder;
    recorder.Parser = &parser;
    TBytes data;
    for (const TBytes& piece : c.Pieces)
        parser.Feed(piece.data(), piece.size(), data, recorder);
    EXPECT_EQ(ToHex(data), ToHex(c.Data));
    EXPECT_EQ(recorder.Log, c.Log);
}

INSTANTIATE_TEST_SUITE_P(Cases, TelnetParse, ::testing::ValuesIn(kParseCases), [](const auto& info) {
    std::string name = info.param.Name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

TEST(TelnetEscape, DoublesIacAndStuffsCrOutsideBinary) {
    const struct {
        TBytes In;
        bool Binary;
        TBytes Wire;
    } cases[] = {
        {Hex("41 ff 42"), true, Hex("41 ff ff 42")},
        {Hex("0d 0a 0d"), true, Hex("0d 0a 0d")},
        {Hex("0d 0a 0d"), false, Hex("0d 00 0a 0d 00")},
        {Hex("ff ff"), false, Hex("ff ff ff ff")},
    };
    for (const auto& c : cases) {
        TBytes wire;
        AppendEscaped(c.In.data(), c.In.size(), c.Binary, wire);
        EXPECT_EQ(ToHex(wire), ToHex(c.Wire)) << ToHex(c.In);
    }
}

// ---- The RFC 2217 client ----------------------------------------------------------------------

class ComPortClient : public ::testing::Test {
protected:
    // Starts and agrees to everything the way a typical server does, then forgets the wire.
    void Agree() {
        Client.Start();
        Server(Hex("ff fd 00 ff fb 00 ff fd 2c"));
        ASSERT_TRUE(Client.Negotiated());
        ASSERT_TRUE(Client.ComPort());
        Wire.clear();
    }
    void Server(const TBytes& bytes) { Client.Receive(bytes.data(), bytes.size(), Data); }
    std::string TakeWire() {
        std::string hex = ToHex(Wire);
        Wire.clear();
        return hex;
    }

    TBytes Wire;
    TBytes Data;
    TComPortClient Client{Wire};
};

DCB Dcb(std::uint32_t baud, std::uint8_t size, std::uint8_t parity, std::uint8_t stop) {
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    dcb.fBinary = 1;
    dcb.BaudRate = baud;
    dcb.ByteSize = size;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return dcb;
}

TEST_F(ComPortClient, NegotiatesLikeTheRfcAsks) {
    Client.Start();
    EXPECT_EQ(TakeWire(), "ff fb 00 ff fd 00 ff fb 2c"); // WILL BINARY, DO BINARY, WILL COM-PORT
    EXPECT_FALSE(Client.Negotiated());
    // A server that asks first: its requests cross ours and need no second answer.
    Server(Hex("ff fb 03 ff fd 03 ff fb 01 ff fe 01 ff fd 00 ff fb 00 ff fd 2c"));
    EXPECT_EQ(TakeWire(), "ff fd 03 ff fb 03 ff fe 01 " // DO SGA, WILL SGA, DONT ECHO
                          "ff fa 2c 0a 1e ff f0");      // SET-LINESTATE-MASK break|frame|parity|overrun
    EXPECT_TRUE(Client.Negotiated());
    EXPECT_TRUE(Client.ComPort());
    // Repeated agreement is not answered again (no negotiation loop).
    Server(Hex("ff fb 00 ff fd 00 ff fd 2c"));
    EXPECT_EQ(TakeWire(), "");
}

TEST_F(ComPortClient, RefusalsAndUnknownOptions) {
    Client.Start();
    Wire.clear();
    Server(Hex("ff fc 00 ff fe 00 ff fe 2c")); // WONT BINARY, DONT BINARY, DONT COM-PORT
    EXPECT_EQ(TakeWire(), "");
    EXPECT_TRUE(Client.Negotiated());
    EXPECT_FALSE(Client.ComPort());
    Server(Hex("ff fd 18 ff fb 1f")); // DO TERMINAL-TYPE, WILL NAWS
    EXPECT_EQ(TakeWire(), "ff fc 18 ff fe 1f");
    // Outside binary mode a CR goes out as CR NUL and CR NUL comes in as CR.
    Client.Send(Hex("0d 0a").data(), 2);
    EXPECT_EQ(TakeWire(), "0d 00 0a");
    Server(Hex("0d 00 41"));
    EXPECT_EQ(ToHex(Data), "0d 41");
}

TEST_F(ComPortClient, ServerSwitchingBinaryOffIsConfirmed) {
    Agree();
    Server(Hex("ff fc 00 0d 00")); // WONT BINARY, then CR NUL
    EXPECT_EQ(TakeWire(), "ff fe 00");
    EXPECT_EQ(ToHex(Data), "0d");
}

struct TPushCase {
    const char* Name;
    DCB Dcb;
    std::string Wire;
};

DCB WithFlow(DCB dcb, bool cts, std::uint32_t rts, bool outX, bool inX, bool dsr, std::uint32_t dtr) {
    dcb.fOutxCtsFlow = cts;
    dcb.fRtsControl = rts;
    dcb.fOutX = outX;
    dcb.fInX = inX;
    dcb.fOutxDsrFlow = dsr;
    dcb.fDtrControl = dtr;
    return dcb;
}

const TPushCase kPushCases[] = {
    {"115200 8N1, no flow control", Dcb(115200, 8, NOPARITY, ONESTOPBIT),
     "ff fa 2c 01 00 01 c2 00 ff f0 ff fa 2c 02 08 ff f0 ff fa 2c 03 01 ff f0 ff fa 2c 04 01 ff f0 "
     "ff fa 2c 05 01 ff f0 ff fa 2c 05 08 ff f0 ff fa 2c 05 0b ff f0"},
    {"19200 7E1 RTS/CTS leaves RTS to the server",
     WithFlow(Dcb(19200, 7, EVENPARITY, ONESTOPBIT), true, RTS_CONTROL_HANDSHAKE, false, false, false,
              DTR_CONTROL_ENABLE),
     "ff fa 2c 01 00 00 4b 00 ff f0 ff fa 2c 02 07 ff f0 ff fa 2c 03 03 ff f0 ff fa 2c 04 01 ff f0 "
     "ff fa 2c 05 03 ff f0 ff fa 2c 05 08 ff f0"},
    {"8N2 XON/XOFF both ways, lines off",
     WithFlow(Dcb(9600, 8, NOPARITY, TWOSTOPBITS), false, RTS_CONTROL_DISABLE, true, true, false,
              DTR_CONTROL_DISABLE),
     "ff fa 2c 01 00 00 25 80 ff f0 ff fa 2c 02 08 ff f0 ff fa 2c 03 01 ff f0 ff fa 2c 04 02 ff f0 "
     "ff fa 2c 05 02 ff f0 ff fa 2c 05 09 ff f0 ff fa 2c 05 0c ff f0"},
    {"DSR out and DTR in are separate directions; mark parity, 1.5 stop bits",
     WithFlow(Dcb(300, 5, MARKPARITY, ONE5STOPBITS), false, RTS_CONTROL_ENABLE, false, false, true,
              DTR_CONTROL_HANDSHAKE),
     "ff fa 2c 01 00 00 01 2c ff f0 ff fa 2c 02 05 ff f0 ff fa 2c 03 04 ff f0 ff fa 2c 04 03 ff f0 "
     "ff fa 2c 05 13 ff f0 ff fa 2c 05 12 ff f0 ff fa 2c 05 0b ff f0"},
    {"baud with an IAC byte in it is escaped", Dcb(0x0001FF00, 8, SPACEPARITY, ONESTOPBIT),
     "ff fa 2c 01 00 01 ff ff 00 ff f0 ff fa 2c 02 08 ff f0 ff fa 2c 03 05 ff f0 ff fa 2c 04 01 ff f0 "
     "ff fa 2c 05 01 ff f0 ff fa 2c 05 08 ff f0 ff fa 2c 05 0b ff f0"},
};

class ComPortPush : public ComPortClient, public ::testing::WithParamInterface<TPushCase> {};

TEST_P(ComPortPush, EncodesTheControlBlock) {
    Agree();
    Client.PushSettings(GetParam().Dcb);
    EXPECT_EQ(TakeWire(), GetParam().Wire);
    EXPECT_TRUE(Client.AwaitingAnswers());
}

INSTANTIATE_TEST_SUITE_P(Cases, ComPortPush, ::testing::ValuesIn(kPushCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(ComPortClient, ReportsWhatTheServerAnswered) {
    Agree();
    DCB asked = WithFlow(Dcb(115200, 7, EVENPARITY, TWOSTOPBITS), true, RTS_CONTROL_HANDSHAKE, false, false,
                         false, DTR_CONTROL_ENABLE);
    Client.PushSettings(asked);
    // The server took another speed and kept 8 data bits, no parity, and refused hardware flow.
    Server(Hex("ff fa 2c 65 00 00 e1 00 ff f0 ff fa 2c 66 08 ff f0 ff fa 2c 67 01 ff f0"));
    EXPECT_TRUE(Client.AwaitingAnswers());
    Server(Hex("ff fa 2c 68 02 ff f0"));
    EXPECT_TRUE(Client.AwaitingAnswers()); // flow control still owed
    Server(Hex("ff fa 2c 69 01 ff f0 ff fa 2c 69 09 ff f0"));
    EXPECT_FALSE(Client.AwaitingAnswers());
    DCB got = asked;
    Client.ApplyAnswers(got);
    EXPECT_EQ(got.BaudRate, 57600u);
    EXPECT_EQ(got.ByteSize, 8);
    EXPECT_EQ(got.Parity, NOPARITY);
    EXPECT_EQ(got.StopBits, TWOSTOPBITS);
    EXPECT_EQ(got.fOutxCtsFlow, 0u);
    EXPECT_EQ(got.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(got.fDtrControl, DTR_CONTROL_DISABLE);
    // Answers in a stream split anywhere count the same.
    Client.PushSettings(asked);
    for (std::uint8_t b : Hex("ff fa 2c 65 00 01 c2 00 ff f0 ff fa 2c 66 07 ff f0 ff fa 2c 67 03 ff f0 "
                              "ff fa 2c 68 02 ff f0 ff fa 2c 69 03 ff f0"))
        Server({b});
    EXPECT_FALSE(Client.AwaitingAnswers());
    got = asked;
    Client.ApplyAnswers(got);
    EXPECT_EQ(got.BaudRate, 115200u);
    EXPECT_EQ(got.ByteSize, 7);
    EXPECT_EQ(got.Parity, EVENPARITY);
    EXPECT_EQ(got.fOutxCtsFlow, 1u);
    EXPECT_EQ(got.fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_TRUE(Data.empty());
    // Values no line can have are no answers: still owed, and not reported.
    Client.PushSettings(asked);
    Server(Hex("ff fa 2c 65 ff ff ff ff ff ff ff ff ff f0 ff fa 2c 65 01 31 2d 01 ff f0 ff fa 2c 65 00 00 00 "
               "00 ff f0 "
               "ff fa 2c 66 09 ff f0 ff fa 2c 67 06 ff f0 ff fa 2c 68 00 ff f0 ff fa 2c 69 03 ff f0"));
    EXPECT_TRUE(Client.AwaitingAnswers());
    got = asked;
    Client.ApplyAnswers(got);
    EXPECT_EQ(got.BaudRate, 115200u);
    EXPECT_EQ(got.ByteSize, 7);
}

TEST_F(ComPortClient, RequestsBeyondTheAnswerRoomAreDropped) {
    Agree();
    Client.SetAnswerRoom(3 + 21); // one refusal and one signature
    Server(Hex("ff fd 18 ff fa 2c 64 ff f0 ff fb 03 ff fa 2c 64 ff f0"));
    EXPECT_EQ(Wire.size(), 24u);
    EXPECT_TRUE(Client.TakeAnswersDropped());
    // The dropped WILL SGA changed nothing: asked again with room, it is answered.
    Client.SetAnswerRoom(3);
    Server(Hex("ff fb 03"));
    EXPECT_EQ(ToHex({Wire.end() - 3, Wire.end()}), "ff fd 03");
}

TEST_F(ComPortClient, NotificationsBecomeCommEvents) {
    Agree();
    const struct {
        const char* Name;
        std::string Bytes;
        std::uint32_t Events;
        std::uint32_t Errors;
    } cases[] = {
        {"first modem state: only delta bits count", "ff fa 2c 6b 30 ff f0", 0, 0},
        {"CTS and DSR drop", "ff fa 2c 6b 00 ff f0", EV_CTS | EV_DSR, 0},
        {"delta CD with CD", "ff fa 2c 6b 88 ff f0", EV_RLSD, 0},
        {"ring rises", "ff fa 2c 6b c0 ff f0", EV_RING, 0},
        {"ring trailing edge", "ff fa 2c 6b 84 ff f0", EV_RING, 0},
        {"break", "ff fa 2c 6a 10 ff f0", EV_BREAK, CE_BREAK},
        {"framing and overrun", "ff fa 2c 6a 0a ff f0", EV_ERR, CE_FRAME | CE_OVERRUN},
        {"parity", "ff fa 2c 6a 04 ff f0", EV_ERR, CE_RXPARITY},
        {"data ready and shift register bits are no events", "ff fa 2c 6a 61 ff f0", 0, 0},
    };
    for (const auto& c : cases) {
        Server(Hex(c.Bytes));
        EXPECT_EQ(Client.TakeEvents(), c.Events) << c.Name;
        EXPECT_EQ(Client.TakeErrors(), c.Errors) << c.Name;
    }
    EXPECT_EQ(TakeWire(), "");
}

TEST_F(ComPortClient, SignatureSuspendPurgeBreak) {
    Agree();
    Server(Hex("ff fa 2c 64 ff f0")); // the server asks for our signature
    EXPECT_EQ(TakeWire(), "ff fa 2c 00 51 6f 72 76 65 6c 20 54 65 72 6d 69 6e 61 6c ff f0");
    Server(Hex("ff fa 2c 64 73 32 6e ff f0")); // its own signature needs no answer
    EXPECT_EQ(TakeWire(), "");
    Server(Hex("ff fa 2c 6c ff f0"));
    EXPECT_TRUE(Client.Suspended());
    Server(Hex("ff fa 2c 6d ff f0"));
    EXPECT_FALSE(Client.Suspended());
    Client.Purge(true, false);
    Client.Purge(false, true);
    Client.Purge(true, true);
    Client.Purge(false, false);
    EXPECT_EQ(TakeWire(), "ff fa 2c 0c 01 ff f0 ff fa 2c 0c 02 ff f0 ff fa 2c 0c 03 ff f0");
    // The answers mark where in the data the server's purge happened.
    Server(Hex("61 ff fa 2c 70 01 ff f0 62 ff fa 2c 70 02 ff f0"));
    EXPECT_TRUE(Client.AwaitingPurge());
    EXPECT_EQ(Client.TakeReceivePurgeMark(), 1u);
    Server(Hex("63 64 ff fa 2c 70 03 ff f0 65"));
    EXPECT_FALSE(Client.AwaitingPurge());
    EXPECT_EQ(Client.TakeReceivePurgeMark(), 4u);
    EXPECT_EQ(Client.TakeReceivePurgeMark(), std::nullopt);
    Server(Hex("ff fa 2c 70 01 ff f0")); // not asked for: no mark
    EXPECT_EQ(Client.TakeReceivePurgeMark(), std::nullopt);
    EXPECT_EQ(ToHex(Data), "61 62 63 64 65");
    Client.SetBreak(true);
    Client.SetBreak(false);
    EXPECT_EQ(TakeWire(), "ff fa 2c 05 05 ff f0 ff fa 2c 05 06 ff f0");
    const TBytes all = {0x00, 0xff, 0x0d, 0x41};
    Client.Send(all.data(), all.size());
    EXPECT_EQ(TakeWire(), "00 ff ff 0d 41"); // binary agreed: only IAC is doubled
}

} // namespace
} // namespace qorvel::platform::telnet
