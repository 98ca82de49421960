// The X/YMODEM engines as scripted exchanges on a fake clock, the YMODEM header's parsing, and the
// file host's naming rules on a real folder.
#include "memory_host.h"
#include "peer_util.h"
#include "transfer/crc.h"
#include "transfer/file_host.h"
#include "transfer/xymodem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qorvel::transfer {
namespace {

using test::TMemoryHost;

std::string Blk(std::uint8_t Number, std::string Data, bool Corrupt = false) {
    Data.resize(Data.size() > 128 ? 1024 : 128, Number == 0 ? '\0' : '\x1A');
    const std::uint16_t crc = Crc16(Data) ^ (Corrupt ? 1 : 0);
    return std::string{Data.size() == 1024 ? '\x02' : '\x01', char(Number), char(~Number)} + Data +
           char(crc >> 8) + char(crc);
}

// One step: at time T the peer sends In; then Out is all the engine wrote ("*": not checked).
struct TStep {
    TMillis T;
    std::string In, Out;
};
struct TScript {
    const char* Name;
    bool Sender;
    TProtocol Protocol;
    std::vector<TStep> Steps;
    TState End;
    const char* Error; // a part of Error()
};

std::string Drive(TTransfer& T, const TStep& S) {
    T.Tick(S.T);
    if (!S.In.empty()) T.Receive(S.In, S.T);
    T.Tick(S.T);
    std::string out;
    T.Output(out, 1 << 20, S.T);
    return out;
}

// clang-format off
const std::string A = "\x06", N = "\x15", C = "C", E = "\x04", Can = std::string(8, '\x18') + std::string(8, '\b');
const std::string kData(200, 'd'), kHead("n.txt\0" "3 0", 9), kSentHead("f.bin\0" "200 0 644", 15);
// clang-format on

TEST(Xymodem, ScriptedExchanges) {
    // clang-format off
    const TScript scripts[] = {
        {"CRC pokes, then the checksum", false, TProtocol::XmodemCrc,
         {{0, "", C}, {3000, "", C}, {6000, "", C}, {9000, "", N}, {60000, "", Can}},
         TState::Failed, "did not start (no block in 60 s)"},
        {"duplicate, bad CRC, wrong number", false, TProtocol::XmodemCrc,
         {{0, "", C}, {10, Blk(1, "a"), A}, {20, Blk(1, "a"), A}, {30, Blk(2, "b", true), ""}, {530, "", N},
          {540, Blk(3, "c"), ""}, {1040, "", N}, {1050, Blk(2, "b"), A}, {1060, E, A}}, TState::Done, ""},
        {"CAN CAN from the sender", false, TProtocol::Xmodem1K, {{0, "", C}, {10, "\x18\x18", ""}},
         TState::Cancelled, "Cancelled by the device"},
        {"YMODEM batch, size trims", false, TProtocol::Ymodem,
         {{0, "", C}, {10, Blk(0, kHead), A + C}, {20, Blk(1, "abcdef"), A}, {30, E, N}, {40, E, A + C},
          {50, Blk(0, ""), A}}, TState::Done, ""},
        {"lost ACK, NAK, then done", true, TProtocol::XmodemCrc,
         {{0, C, Blk(1, kData.substr(0, 128))}, {10000, "", Blk(1, kData.substr(0, 128))},
          {10010, A, Blk(2, kData.substr(128))}, {10020, N, Blk(2, kData.substr(128))}, {10030, A, E},
          {10040, A, ""}}, TState::Done, ""},
        {"YMODEM send with its header", true, TProtocol::Ymodem,
         {{0, C, Blk(0, kSentHead)}, {10, A + C, Blk(1, kData.substr(0, 128))}, {15, A, Blk(2, kData.substr(128))},
          {20, A, E}, {30, N, E}, {40, A + C, Blk(0, "")}, {50, A, ""}}, TState::Done, ""},
        {"YMODEM batch end unanswered (the receiver quit)", true, TProtocol::Ymodem,
         {{0, C, "*"}, {10, A + C, "*"}, {15, A, "*"}, {20, A, E}, {30, A + C, Blk(0, "")}, {10030, "", ""}},
         TState::Done, ""},
        {"YMODEM batch end answered by the prompt", true, TProtocol::Ymodem,
         {{0, C, "*"}, {10, A + C, "*"}, {15, A, "*"}, {20, A, E}, {30, A + C, Blk(0, "")}, {40, "$ ", ""}},
         TState::Done, ""},
        {"CAN CAN from the receiver", true, TProtocol::Xmodem, {{0, N, "*"}, {10, "\x18\x18", ""}},
         TState::Cancelled, "Cancelled by the device"},
    };
    // clang-format on
    for (const TScript& s : scripts) {
        SCOPED_TRACE(s.Name);
        TMemoryHost host;
        host.Files = {kData};
        auto t = s.Sender ? MakeXymodemSender(s.Protocol, host, 0) : MakeXymodemReceiver(s.Protocol, host, 0);
        for (std::size_t i = 0; i < s.Steps.size(); ++i) {
            const std::string out = Drive(*t, s.Steps[i]);
            EXPECT_EQ(s.Steps[i].Out == "*" ? "*" : out, s.Steps[i].Out) << "step " << i;
        }
        EXPECT_EQ(t->State(), s.End);
        EXPECT_NE(t->Error().find(s.Error), std::string::npos) << t->Error();
        if (s.Name[0] == 'Y' && !s.Sender) {
            EXPECT_EQ(host.Received + host.Log, "abcBn.txtE1");
        } else if (s.Name[0] == 'd') {
            EXPECT_EQ(host.Received, Blk(1, "a").substr(3, 128) + Blk(2, "b").substr(3, 128)); // padding kept
        }
    }
}

TEST(Xymodem, TenBadBlocksEndTheTransfer) {
    TMemoryHost host;
    auto t = MakeXymodemReceiver(TProtocol::XmodemCrc, host, 0);
    std::string out;
    for (TMillis now = 10; now < 10000; now += 600) {
        out += Drive(*t, {now, Blk(1, "a", true), ""});
        out += Drive(*t, {now + 500, "", ""}); // the line went quiet: the answer goes
    }
    // Before the first good block 'C' is the answer; the sender sent blocks, so no fallback.
    EXPECT_EQ(out, std::string(10, 'C') + Can);
    EXPECT_EQ(t->Error(), "Block 1: no good block after 10 tries (last: CRC error in block 1)");
    EXPECT_EQ(host.Log, ""); // no file was begun
}

TEST(Xymodem, CancelSendsCansThenEnds) {
    TMemoryHost host;
    auto t = MakeXymodemReceiver(TProtocol::Ymodem, host, 0);
    t->Cancel(5);
    EXPECT_EQ(t->State(), TState::Running); // until the CANs are taken
    std::string out;
    t->Output(out, 100, 5);
    EXPECT_EQ(out, C + Can);
    EXPECT_EQ(t->State(), TState::Cancelled);
}

TEST(Xymodem, HostileHeaders) {
    struct TRow {
        std::string Block; // '|' stands for the NUL after the name
        std::string Name;
        std::optional<std::uint64_t> Size;
        std::optional<std::int64_t> Time;
    };
    // clang-format off
    const TRow rows[] = {
        {"a.txt|123 14000000000 100644", "a.txt", 123, 014000000000},
        {"../../etc/passwd|10", "../../etc/passwd", 10, {}}, // the host reduces it, not the parser
        {"x|4294967296000", "x", 4294967296000ull, {}},      // believed, and never preallocated
        {"x|-5", "x", {}, {}},
        {"x|12ab 9", "x", {}, {}},
        {"x|99999999999999999999999", "x", {}, {}},
        {"no-terminator\x1A\x1A", "no-terminator", {}, {}},
    };
    // clang-format on
    for (TRow r : rows) {
        std::replace(r.Block.begin(), r.Block.end(), '|', '\0');
        const TFileInfo info = ParseYmodemHeader(r.Block);
        EXPECT_EQ(info.Name, r.Name);
        EXPECT_EQ(info.Size, r.Size) << r.Name;
        EXPECT_EQ(info.ModTime, r.Time) << r.Name;
    }
}

TEST(FileHost, NamesStayInTheFolderAndNeverOverwrite) {
    // clang-format off
    const std::pair<const char*, const char*> names[] = {
        {"../../etc/passwd", "passwd"}, {"C:\\dir\\boot.bin", "boot.bin"}, {".bashrc", "_bashrc"}, {"..", ""},
        {"dir/", ""}, {"a\x1b[2Jb", ""}, {"plain.txt", "plain.txt"}};
    // clang-format on
    for (const auto& [raw, safe] : names) {
        std::string why;
        EXPECT_EQ(TFileHost::SafeName(raw, why), safe) << raw;
        EXPECT_EQ(why.empty(), *safe != '\0') << raw;
    }
    const std::string folder = test::TempFolder();
    symlink("/nonexistent-target", (folder + "/link.bin").c_str());
    TFileHost host;
    host.SetFolder(folder);
    std::string error;
    for (const char* name : {"a.txt", "a.txt", "a.txt", "link.bin"}) {
        std::uint64_t resume = 0;
        ASSERT_TRUE(host.BeginFile({name, 4294967296ull, 1000000000, {}}, resume, error)) << error;
        ASSERT_TRUE(host.WriteFile("data", error));
        host.EndFile(false);
    }
    EXPECT_EQ(host.Partial(), (std::vector<std::string>{folder + "/a.txt", folder + "/a (2).txt",
                                                        folder + "/a (3).txt", folder + "/link (2).bin"}));
    struct stat st {};
    ASSERT_EQ(stat((folder + "/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4); // a 4 GiB declared size is never allocated
    host.RemovePartial();
    EXPECT_EQ(test::FolderFiles(folder).size(), 0u);
}

} // namespace
} // namespace qorvel::transfer
