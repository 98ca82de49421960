// Fuzz harness of the Telnet/RFC 2217 client. The input is used twice:
// - as arbitrary server bytes, fed to the client whole and in pieces of input-chosen sizes: the
//   data, the wire answers and the reported settings and events must not depend on the pieces,
//   no more data can come out than went in, and the answers stay within their room and within a
//   few bytes per byte in;
// - as the data a device sends: a server-side encoding with negotiations, commands and
//   subnegotiations interleaved at input-chosen places is parsed, and exactly the input must come
//   back, byte for byte (in binary and in NVT mode).
// abort() on a violation, so the fuzzer (or the corpus replay under ctest) reports the input.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "platform/telnet_comport.h"

namespace {

using namespace qorvel::platform;
using namespace qorvel::platform::telnet;
using TBytes = std::vector<uint8_t>;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "telnet_fuzz: %s\n", what);
    std::abort();
}

// A small generator seeded by the input, so the choices are reproducible per input.
class TChoices {
public:
    explicit TChoices(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i)
            FState = (FState ^ data[i]) * 0x100000001B3ull;
    }
    uint32_t Next(uint32_t bound) {
        FState = FState * 6364136223846793005ull + 1442695040888963407ull;
        return bound == 0 ? 0 : uint32_t((FState >> 33) % bound);
    }

private:
    uint64_t FState = 0xCBF29CE484222325ull;
};

struct TClientRun {
    TBytes Data;
    TBytes Wire;
    DCB Dcb{};
    uint32_t Events = 0;
    uint32_t Errors = 0;
    bool Suspended = false;
    bool ComPort = false;
};

DCB AskedDcb() {
    DCB dcb{};
    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutxCtsFlow = 1;
    return dcb;
}

// Answers any one input byte may cause at most (a 6-byte signature request gets 21 bytes).
constexpr size_t kAnswersPerByte = 4;

// Feeds `data` to a fresh client in pieces whose sizes come from `choices` (none: whole), with
// room for answers that the first byte chooses.
TClientRun RunClient(const uint8_t* data, size_t size, TChoices* choices) {
    TClientRun run;
    TComPortClient client(run.Wire);
    client.Start();
    client.PushSettings(AskedDcb());
    const size_t ours = run.Wire.size();
    const size_t room = size > 0 ? size_t(data[0]) * 4 : 0;
    client.SetAnswerRoom(room);
    size_t at = 0;
    while (at < size) {
        const size_t piece = choices ? std::min<size_t>(size - at, 1 + choices->Next(17)) : size;
        client.Receive(data + at, piece, run.Data);
        Check(run.Wire.size() - ours <= room, "answers beyond their room");
        Check(run.Wire.size() - ours <= kAnswersPerByte * (at + piece),
              "more answers than the requests ask for");
        run.Events |= client.TakeEvents();
        run.Errors |= client.TakeErrors();
        at += piece;
    }
    run.Dcb = AskedDcb();
    client.ApplyAnswers(run.Dcb);
    run.Suspended = client.Suspended();
    run.ComPort = client.ComPort();
    return run;
}

class TIgnore final : public TParser::THandler {
public:
    void OnNegotiation(uint8_t, uint8_t) override {}
    void OnSubnegotiation(std::span<const uint8_t> body) override {
        Check(!body.empty() && body.size() <= kMaxSubnegotiation, "subnegotiation size");
    }
};

// Encodes `payload` as a server would send it, with protocol interleaved.
TBytes Encode(const uint8_t* payload, size_t size, bool binary, TChoices& choices) {
    static constexpr uint8_t kCommands[] = {NOP, DM, BRK, IP, AO, AYT, EC, EL, GA};
    static constexpr uint8_t kVerbs[] = {WILL, WONT, DO, DONT};
    TBytes wire;
    for (size_t i = 0; i <= size; ++i) {
        switch (choices.Next(8)) {
        case 0: wire.insert(wire.end(), {IAC, kCommands[choices.Next(sizeof kCommands)]}); break;
        case 1: AppendNegotiation(kVerbs[choices.Next(4)], uint8_t(choices.Next(256)), wire); break;
        case 2: {
            TBytes body(choices.Next(12));
            for (uint8_t& b : body)
                b = uint8_t(choices.Next(256));
            AppendSubnegotiation(uint8_t(choices.Next(256)), body, wire);
            break;
        }
        default: break;
        }
        if (i < size) AppendEscaped(payload + i, 1, binary, wire);
    }
    return wire;
}

void RoundTrip(const uint8_t* data, size_t size, bool binary) {
    TChoices choices(data, size);
    const TBytes wire = Encode(data, size, binary, choices);
    TParser parser;
    parser.SetBinary(binary);
    TIgnore ignore;
    TBytes out;
    size_t at = 0;
    while (at < wire.size()) {
        const size_t piece = std::min<size_t>(wire.size() - at, 1 + choices.Next(64));
        // A reader with a full queue takes the commands first: nothing may change by that.
        const size_t taken = parser.FeedControl(wire.data() + at, piece, ignore);
        parser.Feed(wire.data() + at + taken, piece - taken, out, ignore);
        at += piece;
    }
    Check(out.size() == size, "round trip: a data byte was lost or invented");
    Check(size == 0 || std::memcmp(out.data(), data, size) == 0, "round trip: data changed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const TClientRun whole = RunClient(Data, Size, nullptr);
    TChoices choices(Data, Size);
    const TClientRun split = RunClient(Data, Size, &choices);
    Check(whole.Data.size() <= Size, "more data out than bytes in");
    Check(whole.Data == split.Data, "data depends on how the stream was split");
    Check(whole.Wire == split.Wire, "answers depend on how the stream was split");
    Check(std::memcmp(&whole.Dcb, &split.Dcb, sizeof(DCB)) == 0,
          "reported settings depend on how the stream was split");
    Check(whole.Events == split.Events && whole.Errors == split.Errors, "events depend on the split");
    Check(whole.Suspended == split.Suspended && whole.ComPort == split.ComPort, "state depends on the split");

    RoundTrip(Data, Size, true);
    RoundTrip(Data, Size, false);
    return 0;
}
