// ZMODEM: frame codecs, scripted exchanges with each side, both sides against each other over a
// lossy in-memory line, and the recogniser of a device-started transfer.
#include <gtest/gtest.h>

#include <random>

#include "transfer/zmodem.h"
#include "transfer/zmodem_frames.h"

using namespace qorvel::transfer;
using namespace qorvel::transfer::zmodem;

namespace {

struct TMemoryHost : THost {
    std::vector<std::string> Files; // to send
    std::string Received;
    std::vector<TFileInfo> Begun;
    std::uint64_t Resume = 0;
    bool Refuse = false;
    int Complete = 0;

    std::size_t SendCount() const override { return Files.size(); }
    TFileInfo SendInfo(std::size_t I) const override {
        return {"dir/f" + std::to_string(I), Files[I].size(), 0, 0644};
    }
    std::ptrdiff_t ReadFile(std::size_t I, std::uint64_t Offset, char* Buffer, std::size_t Count,
                            std::string&) override {
        const std::string_view rest =
            std::string_view(Files[I]).substr(std::min<std::size_t>(Offset, Files[I].size()));
        return static_cast<std::ptrdiff_t>(rest.copy(Buffer, Count));
    }
    bool BeginFile(const TFileInfo& Info, std::uint64_t& ResumeFrom, std::string& Error) override {
        Begun.push_back(Info);
        ResumeFrom = Resume;
        Error = "refused";
        return !Refuse;
    }
    bool WriteFile(std::string_view Data, std::string&) override { return Received.append(Data), true; }
    void EndFile(bool Whole) override { Complete += Whole; }
};

// The headers in a side's output, as "ZRPOS 3".
std::vector<std::string> Headers(std::string_view Out) {
    std::vector<std::string> found;
    TReader reader;
    while (!Out.empty()) {
        TReader::TEvent event;
        Out.remove_prefix(reader.Feed(Out, event));
        const std::uint8_t type = reader.Header().Type;
        if (event == TReader::TEvent::Header && type == ZRPOS)
            found.push_back("ZRPOS " + std::to_string(reader.Header().Position()));
        else if (event == TReader::TEvent::Header && type == ZACK)
            found.push_back("ZACK " + std::to_string(reader.Header().Position()));
        else if (event == TReader::TEvent::Header)
            found.push_back(type == ZRINIT  ? "ZRINIT"
                            : type == ZSKIP ? "ZSKIP"
                            : type == ZFIN  ? "ZFIN"
                                            : "?");
        if (event == TReader::TEvent::Header && reader.Header().Type == ZDATA)
            reader.ExpectData(reader.Header().Crc32);
    }
    return found;
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

TEST(ZmodemFrames, SubpacketsAndHeadersRoundTripEveryByte) {
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
}

TEST(ZmodemFrames, HexHeaderAsOnTheWireAndDamagedHeadersRefused) {
    std::string hex;
    AppendHexHeader(hex, MakeFlagsHeader(ZRINIT, CANFDX | CANOVIO | CANFC32));
    EXPECT_EQ(hex, "**\x18"
                   "B0100000023be50\r\x8a\x11");
    TEscaper escaper;
    for (std::string wire : {hex, Frame(ZEOF, 77)})
        for (std::size_t at = 4; at < wire.size() - 3; ++at) {
            std::string bad = wire;
            bad[at] ^= 0x01;
            const std::vector<std::string> found = Headers(bad);
            EXPECT_TRUE(found.empty() || found[0] == Headers(wire)[0]) << at; // never a wrong header
        }
}

TEST(ZmodemFrames, FileInfoParsedDefensively) {
    struct TRow {
        std::string_view Data;
        std::string Name;
        std::optional<std::uint64_t> Size;
        std::optional<std::int64_t> Time;
        std::optional<std::uint32_t> Mode;
    };
    const TRow rows[] = {
        {{"a.bin\0"
          "1234 14567214560 100644 0 3 9999\0",
          39},
         "a.bin",
         1234,
         014567214560,
         0644},
        {{"../../etc/passwd\0"
          "4294967296 0 104755\0",
          37},
         "../../etc/passwd",
         4294967296ull,
         0,
         0755},
        {{"x\0"
          "-5 99999 1000000000000000000000000\0",
          37},
         "x",
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {{"x\0"
          "12abc 7z",
          10},
         "x",
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"no-terminator", "no-terminator", std::nullopt, std::nullopt, std::nullopt},
        {{"\0\0", 2}, "", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const TRow& row : rows) {
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
    const std::string offer = Frame(ZFILE, 0,
                                    {"f\0"
                                     "6 0 0\0",
                                     8});
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
    const std::vector<TRow> rows = {
        {"whole file, then ZFIN and OO",
         start + Sub("def", ZCRCE) + Frame(ZEOF, 6) +
             "**\x18"
             "B0800000000022d\r\x8a"
             "OO$ ",
         {"ZRINIT", "ZRPOS 0", "ZRINIT", "ZFIN"},
         "abcdef",
         TState::Done},
        {"hex ZSINIT and its data", zsinit + offer, {"ZRINIT", "ZACK 1", "ZRPOS 0"}},
        {"bad CRC asks again from the last good byte",
         start + badCrc,
         {"ZRINIT", "ZRPOS 0", "ZRPOS 3"},
         "abc"},
        {"a gap asks for the missing part",
         start + cut + Frame(ZDATA, 5, "xyz"),
         {"ZRINIT", "ZRPOS 0", "ZRPOS 3"},
         "abc"},
        {"a repeat of held data is trimmed",
         start + cut + Frame(ZDATA, 1, "bcdef"),
         {"ZRINIT", "ZRPOS 0", "ZACK 6"},
         "abcdef"},
        {"resume asks from the length held", offer, {"ZRINIT", "ZRPOS 4"}, "", TState::Running, 4},
        {"refused file is skipped", offer, {"ZRINIT", "ZSKIP"}, "", TState::Running, 0, true},
        {"endless escapes are an error, not memory",
         start + std::string(200000, 'X').insert(0, 1, kZdle),
         {"ZRINIT", "ZRPOS 0", "ZRPOS 3"},
         "abc"},
        {"five CAN cancel", start + "\x18\x18\x18\x18\x18", {}, "abc", TState::Cancelled},
    };
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
    receiver->Receive(Frame(ZFILE, 0,
                            {"f\0"
                             "6\0",
                             4}) +
                          Frame(ZDATA, 0, "ab", ZCRCG),
                      0);
    for (TMillis now = 0; receiver->State() == TState::Running && now < 1000000; now += 1000) {
        Take(*receiver, now);
        receiver->Tick(now);
    }
    EXPECT_EQ(receiver->State(), TState::Failed);
    EXPECT_EQ(receiver->Error(), "No good data at offset 2 after 10 tries (last: timeout)");
    EXPECT_EQ(host.Complete, 0);
}

// Both sides over an in-memory line that drops, repeats and flips bytes, paced by a small room.
TEST(ZmodemLoopback, FilesArriveWholeOverALossyLine) {
    std::mt19937 random(7);
    for (const int faultEvery : {0, 3000}) {
        TMemoryHost from, to;
        for (std::size_t size : {0, 1, 1024, 1025, 200000}) {
            from.Files.emplace_back(size, '\0');
            for (char& c : from.Files.back())
                c = static_cast<char>(random());
        }
        auto sender = MakeZmodemSender(from, 0);
        auto receiver = MakeZmodemReceiver(to, 0);
        auto line = [&](TTransfer& a, TTransfer& b, TMillis now) {
            std::string bytes;
            a.Output(bytes, 4096, now);
            if (faultEvery)
                for (std::size_t i = 0; i < bytes.size(); ++i)
                    if (random() % faultEvery == 0)
                        bytes.erase(i, 1).insert(i, random() % 2 ? "\x01\x01" : "");
            b.Receive(bytes, now);
        };
        TMillis now = 0;
        for (; now < 3600000 && (sender->State() == TState::Running || receiver->State() == TState::Running);
             now += 10) {
            line(*sender, *receiver, now);
            line(*receiver, *sender, now);
            sender->Tick(now);
            receiver->Tick(now);
        }
        EXPECT_EQ(sender->State(), TState::Done) << faultEvery << sender->Error();
        EXPECT_EQ(receiver->State(), TState::Done) << faultEvery << receiver->Error();
        EXPECT_EQ(to.Complete, 5);
        std::string all;
        for (const std::string& file : from.Files)
            all += file;
        EXPECT_TRUE(to.Received == all) << faultEvery;
        EXPECT_EQ(to.Begun.size(), 5u);
        EXPECT_EQ(to.Begun[4].Name, "f4");
        EXPECT_EQ(to.Begun[4].Size, 200000u);
    }
}

TEST(ZmodemDetector, FindsBothStartsSplitAnywhereAndNothingElse) {
    const std::string text = "boot> x**\x18"
                             "B0?**\x18"
                             "B02**\x18";
    for (const auto& [header, start] : {std::pair{"**\x18"
                                                  "B00000000000000\r\x8a",
                                                  TZmodemDetector::TStart::DeviceSends},
                                        std::pair{"**\x18"
                                                  "B0100000023be50\r\x8a",
                                                  TZmodemDetector::TStart::DeviceReceives}}) {
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

TEST(ZmodemSender, CancelSendsTheAbortAndTheDevicesCancelIsReported) {
    TMemoryHost host;
    host.Files = {"data"};
    auto sender = MakeZmodemSender(host, 0);
    EXPECT_EQ(Take(*sender).substr(0, 3), "rz\r");
    sender->Cancel(0);
    EXPECT_EQ(sender->State(), TState::Running); // until the abort is taken
    EXPECT_EQ(Take(*sender), kAbort);
    EXPECT_EQ(sender->State(), TState::Cancelled);
    auto other = MakeZmodemSender(host, 0);
    other->Receive("\x18\x18\x18\x18\x18\x18\x18\x18\b\b", 0);
    EXPECT_EQ(other->State(), TState::Cancelled);
    EXPECT_EQ(other->Error(), "Cancelled by the device");
}

} // namespace
