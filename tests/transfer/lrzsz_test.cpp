// qorvel-xfer against lrzsz's programs on pseudo-terminals: every X/YMODEM flavour both ways over
// the sizes around the block edges, a line that loses, doubles and flips bytes and stalls, cancels
// from either end, and a peer that never starts.
#include "peer_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

namespace qorvel::test {
namespace {

using TArgs = std::vector<std::string>;
using TFiles = std::vector<std::pair<std::string, std::string>>;

const std::size_t kSizes[] = {0, 1, 127, 128, 129, 1023, 1024, 1025};

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

// The sent files: the edge sizes, all 256 values, and optionally 1 MiB of noise.
TFiles Payloads(bool Large) {
    TFiles files;
    for (const std::size_t size : kSizes)
        files.emplace_back("f" + std::to_string(size) + ".bin", RandomBytes(size, size));
    files.emplace_back("all256.bin", AllByteValues());
    if (Large) files.emplace_back("big.bin", RandomBytes(1 << 20, 7));
    return files;
}

// XMODEM carries no length: the file arrives padded with SUB to its last block, and that padding is
// kept, so the check is "what was sent, then only SUB, less than a block of it".
void ExpectXmodemCopy(const std::string& Sent, const std::string& Got) {
    ASSERT_GE(Got.size(), Sent.size());
    EXPECT_EQ(Got.substr(0, Sent.size()), Sent);
    EXPECT_LT(Got.size() - Sent.size(), 1024u);
    EXPECT_EQ(Got.find_first_not_of('\x1A', Sent.size()), std::string::npos);
}

int Retries(const std::string& Report) {
    std::smatch m;
    return std::regex_search(Report, m, std::regex(R"((\d+) retries)")) ? std::stoi(m[1]) : -1;
}

struct TRow {
    std::string Name;
    TPeerRun Run;
    TFiles Files;
};

// A row sending Files (written into Source) with Protocol, lrzsz running Lrzsz on the other end.
TRow Row(std::string Name, const std::string& Source, const char* Protocol, bool OursSends, TArgs Lrzsz,
         TFiles Files) {
    TRow row{std::move(Name), {}, std::move(Files)};
    row.Run.Protocol = Protocol;
    row.Run.OursSends = OursSends;
    row.Run.Lrzsz = std::move(Lrzsz);
    for (const auto& file : row.Files)
        row.Run.Files.push_back(WriteFile(Source, file.first, file.second));
    return row;
}

// Runs the rows a few at a time: most of a row's time is the peers' fixed waits, not work.
std::vector<TPeerResult> RunAll(const std::vector<TRow>& Rows) {
    std::vector<TPeerResult> results(Rows.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 6; ++i)
        workers.emplace_back([&] {
            for (std::size_t row; (row = next++) < Rows.size();)
                results[row] = RunPeer(Rows[row].Run);
        });
    for (std::thread& worker : workers)
        worker.join();
    return results;
}

TEST(LrzszPeer, EveryFlavourBothWaysAtTheBlockEdges) {
    const std::string source = TempFolder();
    struct TFlavour {
        const char* Protocol;
        std::vector<std::string> TheySend, TheyReceive;
    };
    const TFlavour flavours[] = {{"xmodem", {"sx", "-q"}, {"rx", "-q"}},
                                 {"xmodem-crc", {"sx", "-q"}, {"rx", "-q", "-c"}},
                                 {"xmodem-1k", {"sx", "-q", "-k"}, {"rx", "-q", "-c"}}};
    std::vector<TRow> rows;
    // YMODEM first, as its rows take longest: every payload in batches each way, 1K blocks and
    // lrzsz's default 128-byte ones. rb takes two seconds per file, so its batch is split.
    const auto payloads = Payloads(true);
    for (const auto& [oursSends, lrzsz, first, last] :
         std::vector<std::tuple<bool, TArgs, int, int>>{{true, {"rb", "-q"}, 0, 3},
                                                        {true, {"rb", "-q"}, 3, 6},
                                                        {true, {"rb", "-q"}, 6, 10},
                                                        {false, {"sb", "-q", "-k"}, 0, 10},
                                                        {false, {"sb", "-q"}, 0, 9}}) {
        rows.push_back(
            Row("ymodem " + lrzsz[0] + (lrzsz.size() > 2 ? " -k" : "") + " file " + std::to_string(first),
                source, "ymodem", oursSends, lrzsz, {payloads.begin() + first, payloads.begin() + last}));
        rows.back().Run.TimeoutMs = 120000; // 1 MiB of stop-and-wait on a busy machine
    }
    // ZMODEM: every payload in one batch each way.
    rows.push_back(Row("zmodem batch to rz", source, "zmodem", true, {"rz", "-q", "-y"}, payloads));
    rows.push_back(Row("zmodem batch from sz", source, "zmodem", false, {"sz", "-q"}, payloads));
    for (const TFlavour& f : flavours)
        for (const bool oursSends : {true, false})
            for (const auto& file : Payloads(false))
                rows.push_back(
                    Row(std::string(f.Protocol) + (oursSends ? " to lrzsz, " : " from lrzsz, ") + file.first,
                        source, f.Protocol, oursSends, oursSends ? f.TheyReceive : f.TheySend, {file}));

    const std::vector<TPeerResult> results = RunAll(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TRow& row = rows[i];
        const TPeerResult& r = results[i];
        SCOPED_TRACE(row.Name + "\n" + r.OursReport);
        ASSERT_FALSE(r.TimedOut);
        EXPECT_EQ(r.OursExit, 0);
        EXPECT_EQ(r.TheirsExit, 0);
        const auto got = FolderFiles(r.Folder);
        if (row.Run.Protocol == "ymodem" || row.Run.Protocol == "zmodem") {
            std::map<std::string, std::string> sent(row.Files.begin(), row.Files.end());
            EXPECT_TRUE(got == sent) << got.size() << " files came";
        } else if (row.Files[0].second.empty()) {
            // Nothing to carry: EOT alone, and the receiver keeps an empty file.
            ASSERT_EQ(got.count("out.bin"), 1u);
            EXPECT_EQ(got.at("out.bin"), "");
        } else {
            ASSERT_EQ(got.count("out.bin"), 1u);
            ExpectXmodemCopy(row.Files[0].second, got.at("out.bin"));
        }
    }
}

TEST(LrzszPeer, YmodemOverABadLineArrivesExact) {
    const std::string source = TempFolder();
    const TFiles noisy = {{"noisy.bin", RandomBytes(100000, 11)}};
    std::vector<TRow> rows = {Row("ours to rb", source, "ymodem", true, {"rb", "-q"}, noisy),
                              Row("sb -k to ours", source, "ymodem", false, {"sb", "-q", "-k"}, noisy),
                              Row("ours to rz", source, "zmodem", true, {"rz", "-q", "-y"}, noisy),
                              Row("sz to ours", source, "zmodem", false, {"sz", "-q"}, noisy)};
    for (TRow& row : rows) {
        // About one fault in 5000 bytes, a third of each kind, and one 3 s stall.
        row.Run.Faults = {15000, 15000, 15000, 30000, row.Run.OursSends ? 5u : 6u};
        row.Run.TimeoutMs = 150000;
    }
    const std::vector<TPeerResult> results = RunAll(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TPeerResult& r = results[i];
        SCOPED_TRACE(rows[i].Name + "\n" + r.OursReport);
        ASSERT_FALSE(r.TimedOut);
        EXPECT_GT(r.FaultsMade, 0u);
        EXPECT_EQ(r.OursExit, 0);
        EXPECT_EQ(r.TheirsExit, 0);
        EXPECT_EQ(FolderFiles(r.Folder)["noisy.bin"], noisy[0].second);
        EXPECT_GT(Retries(r.OursReport), 0);
    }
}

TEST(LrzszPeer, CancelsAndSilentPeersEndCleanly) {
    const std::string source = TempFolder();
    const TFiles big = {{"big.bin", RandomBytes(4 << 20, 3)}};
    struct TCase {
        const char* Name;
        const char* Protocol;
        bool OursSends;
        TArgs Lrzsz; // empty: no peer starts
        bool InterruptOurs, InterruptTheirs;
        const char* Expect; // in our report
    };
    // clang-format off
    const TCase cases[] = {
        {"we cancel sending", "ymodem", true, {"rb", "-q"}, true, false, "Cancelled by the operator"},
        {"we cancel receiving", "ymodem", false, {"sb", "-q", "-k"}, true, false, "Cancelled by the operator"},
        {"sb interrupted", "ymodem", false, {"sb", "-q", "-k"}, false, true, "Cancelled by the device"},
        {"rb interrupted", "ymodem", true, {"rb", "-q"}, false, true, "Cancelled by the device"},
        {"no sender", "ymodem", false, {}, false, false, "The sender did not start (no block in 2 s)"},
        {"no receiver", "ymodem", true, {}, false, false, "The receiver did not start (no 'C' in 2 s)"},
        {"zmodem: we cancel sending", "zmodem", true, {"rz", "-q", "-y"}, true, false, "Cancelled by the operator"},
        {"zmodem: we cancel receiving", "zmodem", false, {"sz", "-q"}, true, false, "Cancelled by the operator"},
        {"zmodem: rz interrupted", "zmodem", true, {"rz", "-q", "-y"}, false, true, "Cancelled by the device"},
    };
    // clang-format on
    std::vector<TRow> rows;
    for (const TCase& c : cases) {
        rows.push_back(Row(c.Name, source, c.Protocol, c.OursSends, c.Lrzsz, big));
        TPeerRun& run = rows.back().Run;
        run.StartLrzsz = !c.Lrzsz.empty();
        if (!run.StartLrzsz) run.XferOptions = {"--start-timeout", "2"};
        run.InterruptOursAtByte = c.InterruptOurs ? 200000 : 0;
        run.InterruptTheirsAtByte = c.InterruptTheirs ? 200000 : 0;
    }
    const std::vector<TPeerResult> results = RunAll(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TPeerResult& r = results[i];
        SCOPED_TRACE(std::string(cases[i].Name) + "\n" + r.OursReport);
        EXPECT_FALSE(r.TimedOut); // both ends stopped on their own
        EXPECT_EQ(r.OursExit, 1);
        EXPECT_NE(r.OursReport.find(cases[i].Expect), std::string::npos);
        if (rows[i].Run.StartLrzsz) {
            EXPECT_NE(r.TheirsExit, 0);
        }
        // A file cut short stays on disk, named as such, and is never the whole file.
        if (!cases[i].OursSends && rows[i].Run.StartLrzsz) {
            EXPECT_NE(r.OursReport.find("partial file kept"), std::string::npos);
            EXPECT_LT(FolderFiles(r.Folder)["big.bin"].size(), 4u << 20);
        }
    }
}

} // namespace
} // namespace qorvel::test
