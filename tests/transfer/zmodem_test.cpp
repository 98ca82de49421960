// ZMODEM: frame codecs, scripted exchanges with each side, and the recogniser of a device-started
// transfer. Both sides over lossy lines against lrzsz are in lrzsz_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>

#include "memory_host.h"
#include "transfer/zmodem.h"
#include "transfer/zmodem_frames.h"

using namespace qorvel::transfer;
using namespace qorvel::transfer::zmodem;

namespace {

using qorvel::test::TMemoryHost;

// The headers in a side's output, as "ZRPOS 3".
std::vector<std::string> Headers(std::string_view Out) {
    std::vector<std::string> found;
    TReader reader;
    while (!Out.empty()) {
        TReader::TEvent event;
        Out.remove_prefix(reader.Feed(Out, event));
        if (event != TReader::TEvent::Header) continue;
        const std::uint8_t type = reader.Header().Type;
        const std::string at = " " + std::to_string(reader.Header().Position());
        found.push_back(type == ZRPOS    ? "ZRPOS" + at
                        : type == ZACK   ? "ZACK" + at
                        : type == ZRINIT ? "ZRINIT"
                        : type == ZSKIP  ? "ZSKIP"
                        : type == ZFIN   ? "ZFIN"
                                         : "?");
        if (type == ZDATA) reader.ExpectData(reader.Header().Crc32);
    }
    return found;
}

// A string with '|' standing for NUL.
std::string Nul(std::string Text) {
    std::replace(Text.begin(), Text.end(), '|', '\0');
    return Text;
}

std::string Take(TTransfer& Side, TMillis Now = 0) {
    std::string out;
    Side.Output(out, 1 << 20, Now);
    return out;
}

std::string AllBytes() {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    return all + "@\r@\x8d";
}

std::string Sub(std::string_view Data, char End) {
    TEscaper escaper;
    std::string out;
    AppendSubpacket(out, Data, End, true, escaper);
    return out;
}

std::string Frame(std::uint8_t Type, std::uint32_t Position, std::string_view Data = {}, char End = ZCRCW) {
    TEscaper escaper;
    std::string out;
    AppendBinaryHeader(out, MakeHeader(Type, Position), true, escaper);
    if (Type == ZFILE || Type == ZDATA) AppendSubpacket(out, Data, End, true, escaper);
    return out;
}

// Every byte value survives both escapings and CRCs; a damaged header is never read as another.
TEST(ZmodemFrames, RoundTripEveryByteRefuseDamageAndParseFileInfoDefensively) {
    for (const bool controls : {false, true})
        for (const bool crc32 : {false, true}) {
            TEscaper escaper(controls);
            std::string wire;
            AppendBinaryHeader(wire, MakeHeader(ZDATA, 0x11181393), crc32, escaper);
            AppendSubpacket(wire, AllBytes(), ZCRCG, crc32, escaper);
            for (const unsigned char c : wire.substr(3)) // no raw flow control or lone ZDLE reaches the line
                EXPECT_TRUE(c != 0x11 && c != 0x13 && c != 0x91 && c != 0x93 &&
                            (!controls || (c & 0x60) || c == 0x18));
            TReader reader;
            TReader::TEvent event;
            std::string_view in = wire;
            in.remove_prefix(reader.Feed(in, event));
            ASSERT_EQ(event, TReader::TEvent::Header);
            EXPECT_EQ(reader.Header().Position(), 0x11181393u);
            reader.ExpectData(reader.Header().Crc32);
            reader.Feed(in, event);
            ASSERT_EQ(event, TReader::TEvent::Data) << controls << crc32;
            EXPECT_EQ(reader.Data(), AllBytes());
            EXPECT_EQ(reader.End(), ZCRCG);
        }

    std::string hex;
    AppendHexHeader(hex, MakeFlagsHeader(ZRINIT, CANFDX | CANOVIO | CANFC32));
    EXPECT_EQ(hex, "**\030B0100000023be50\r\x8a\x11");
    for (std::string wire : {hex, Frame(ZEOF, 77)})
        for (std::size_t at = 4; at < wire.size() - 3; ++at) {
            std::string bad = wire;
            bad[at] ^= 0x01;
            const std::vector<std::string> found = Headers(bad);
            EXPECT_TRUE(found.empty() || found[0] == Headers(wire)[0]) << at;
        }

    const struct {
        std::string Data;
        std::string Name;
        std::optional<std::uint64_t> Size;
        std::optional<std::int64_t> Time;
        std::optional<std::uint32_t> Mode;
    } rows[] = {
        {Nul("a.bin|1234 14567214560 100644 0 3 9999|"), "a.bin", 1234, 014567214560, 0644},
        {Nul("../../etc/passwd|4294967296 0 104755|"), "../../etc/passwd", 4294967296ull, 0, 0755},
        {Nul("x|-5 99999 1000000000000000000000000|"), "x", {}, {}, {}},
        {Nul("x|12abc 7z"), "x", {}, {}, {}},
        {"no-terminator", "no-terminator", {}, {}, {}},
        {Nul("||"), "", {}, {}, {}},
    };
    for (const auto& row : rows) {
        const TFileInfo info = ParseFileInfo(row.Data);
        EXPECT_EQ(info.Name, row.Name);
        EXPECT_EQ(info.Size, row.Size) << row.Name;
        EXPECT_EQ(info.ModTime, row.Time) << row.Name;
        EXPECT_EQ(info.Mode, row.Mode) << row.Name;
    }
    const TFileInfo back = ParseFileInfo(FormatFileInfo({"dir/b", 77, 1000, 0640}, 2, 100));
    EXPECT_EQ(back.Name, "b"); // the sender gives no paths away
    EXPECT_EQ(back.Size, 77u);
    EXPECT_EQ(back.Mode, 0640u);
}

// Scripted receiver: what the sender says -> the headers we must answer, and the end state.
TEST(ZmodemReceiver, ScriptedExchanges) {
    const std::string offer = Frame(ZFILE, 0, Nul("f|6 0 0|"));
    std::string badCrc = Frame(ZDATA, 3, "def", ZCRCE);
    badCrc[badCrc.size() - 1] ^= 0x20;
    struct TRow {
        const char* Name;
        std::string Script;
        std::vector<std::string> Answers;
        std::string Received;
        TState State = TState::Running;
        std::uint64_t Resume = 0;
        bool Refuse = false;
    };
    std::string zsinit; // a hex header with data, as "sz -e" sends it
    TEscaper escaper;
    AppendHexHeader(zsinit, MakeFlagsHeader(ZSINIT, TESCCTL));
    AppendSubpacket(zsinit, {"\0", 1}, ZCRCW, false, escaper);
    const std::string start = offer + Frame(ZDATA, 0, "abc", ZCRCG), cut = Sub("", ZCRCE);
    const std::vector<std::string> asks3 = {"ZRINIT", "ZRPOS 0", "ZRPOS 3"};
    // clang-format off
    const std::vector<TRow> rows = {
        {"whole file, then ZFIN and OO",
         start + Sub("def", ZCRCE) + Frame(ZEOF, 6) + "**\030B0800000000022d\r\x8aOO$ ",
         {"ZRINIT", "ZRPOS 0", "ZRINIT", "ZFIN"}, "abcdef", TState::Done},
        {"hex ZSINIT and its data", zsinit + offer, {"ZRINIT", "ZACK 1", "ZRPOS 0"}},
        {"bad CRC asks again from the last good byte", start + badCrc, asks3, "abc"},
        {"a gap asks for the missing part", start + cut + Frame(ZDATA, 5, "xyz"), asks3, "abc"},
        {"a repeat of held data is trimmed", start + cut + Frame(ZDATA, 1, "bcdef"),
         {"ZRINIT", "ZRPOS 0", "ZACK 6"}, "abcdef"},
        {"resume asks from the length held", offer, {"ZRINIT", "ZRPOS 4"}, "", TState::Running, 4},
        {"refused file is skipped", offer, {"ZRINIT", "ZSKIP"}, "", TState::Running, 0, true},
        {"endless escapes are an error, not memory", start + kZdle + std::string(200000, 'X'), asks3, "abc"},
        {"five CAN cancel", start + "\x18\x18\x18\x18\x18", {}, "abc", TState::Cancelled},
    };
    // clang-format on
    for (const TRow& row : rows) {
        TMemoryHost host;
        host.Resume = row.Resume;
        host.Refuse = row.Refuse;
        auto receiver = MakeZmodemReceiver(host, 0);
        for (char c : row.Script) // byte by byte: nothing may depend on how bytes are batched
            receiver->Receive({&c, 1}, 0);
        EXPECT_EQ(Headers(Take(*receiver)), row.Answers) << row.Name;
        EXPECT_EQ(host.Received, row.Received) << row.Name;
        EXPECT_EQ(receiver->State(), row.State) << row.Name;
        if (row.State == TState::Done) EXPECT_EQ(receiver->TakeTrailing(), "$ ");
        if (row.State == TState::Cancelled) EXPECT_EQ(receiver->Error(), "Cancelled by the device");
    }
}

TEST(ZmodemReceiver, GivesUpAfterTenTriesWithoutProgress) {
    TMemoryHost host;
    auto receiver = MakeZmodemReceiver(host, 0);
    receiver->Receive(Frame(ZFILE, 0, Nul("f|6|")) + Frame(ZDATA, 0, "ab", ZCRCG), 0);
    for (TMillis now = 0; receiver->State() == TState::Running && now < 1000000; now += 1000) {
        Take(*receiver, now);
        receiver->Tick(now);
    }
    EXPECT_EQ(receiver->State(), TState::Failed);
    EXPECT_EQ(receiver->Error(), "No good data at offset 2 after 10 tries (last: timeout)");
    EXPECT_EQ(host.Log.find("E1"), std::string::npos); // never taken as whole
}

TEST(ZmodemDetector, FindsBothStartsSplitAnywhereAndNothingElse) {
    const std::string text = "boot> x**\030B0?**\030B02**\030";
    for (const auto& [header, start] :
         {std::pair{"**\030B00000000000000\r\x8a", TZmodemDetector::TStart::DeviceSends},
          std::pair{"**\030B0100000023be50\r\x8a", TZmodemDetector::TStart::DeviceReceives}}) {
        const std::string stream = text + header + "tail";
        for (std::size_t split = 0; split <= stream.size(); ++split) {
            TZmodemDetector detector;
            std::size_t end = 0;
            const std::string_view a = std::string_view(stream).substr(0, split),
                                   b = std::string_view(stream).substr(split);
            auto found = detector.Scan(a, end);
            std::size_t at = end;
            if (found == TZmodemDetector::TStart::None) {
                found = detector.Scan(b, end);
                at = split + end;
            }
            EXPECT_EQ(found, start) << split;
            EXPECT_EQ(at, text.size() + 6) << split;
        }
    }
}

// Either side: the operator's cancel goes out as the abort before the side ends; the device's ends it.
TEST(ZmodemCancel, ByTheOperatorOrTheDeviceOnEitherSide) {
    for (const bool sender : {true, false})
        for (const bool device : {false, true}) {
            SCOPED_TRACE(std::string(sender ? "sender, " : "receiver, ") + (device ? "device" : "operator"));
            TMemoryHost host;
            host.Files = {"data"};
            auto side = sender ? MakeZmodemSender(host, 0) : MakeZmodemReceiver(host, 0);
            EXPECT_EQ(Take(*side).substr(0, 3), sender ? "rz\r" : "**\030"); // the start a device sees
            if (device) {
                side->Receive("\x18\x18\x18\x18\x18\x18\x18\x18\b\b", 0);
                EXPECT_EQ(side->Error(), "Cancelled by the device");
            } else {
                side->Cancel(0);
                EXPECT_EQ(side->State(), TState::Running); // until the abort is taken
                EXPECT_EQ(Take(*side), kAbort);
            }
            EXPECT_EQ(side->State(), TState::Cancelled);
        }
}

} // namespace
