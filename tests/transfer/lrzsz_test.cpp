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

const std::size_t kSizes[] = {0, 1, 127, 128, 129, 1023, 1024, 1025};

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

// The sent files: the edge sizes, all 256 values, and optionally 1 MiB of noise.
std::vector<std::pair<std::string, std::string>> Payloads(bool Large) {
    std::vector<std::pair<std::string, std::string>> files;
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
    std::vector<std::pair<std::string, std::string>> Files;
};

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
         std::vector<std::tuple<bool, std::vector<std::string>, std::size_t, std::size_t>>{
             {true, {"rb", "-q"}, 0, 3},
             {true, {"rb", "-q"}, 3, 6},
             {true, {"rb", "-q"}, 6, 10},
             {false, {"sb", "-q", "-k"}, 0, 10},
             {false, {"sb", "-q"}, 0, 9}}) {
        TRow row{std::string("ymodem batch ") + (oursSends ? "to " : "from ") + lrzsz[0] +
                     (lrzsz.size() > 2 ? " -k" : "") + " from file " + std::to_string(first),
                 {},
                 {payloads.begin() + first, payloads.begin() + last}};
        row.Run.Protocol = "ymodem";
        row.Run.OursSends = oursSends;
        row.Run.Lrzsz = lrzsz;
        row.Run.TimeoutMs = 120000; // 1 MiB of stop-and-wait on a busy machine
        for (const auto& file : row.Files)
            row.Run.Files.push_back(WriteFile(source, file.first, file.second));
        rows.push_back(row);
    }
    // ZMODEM: every payload in one batch each way.
    for (const bool oursSends : {true, false}) {
        TRow row{oursSends ? "zmodem batch to rz" : "zmodem batch from sz", {}, payloads};
        row.Run.Protocol = "zmodem";
        row.Run.OursSends = oursSends;
        row.Run.Lrzsz =
            oursSends ? std::vector<std::string>{"rz", "-q", "-y"} : std::vector<std::string>{"sz", "-q"};
        for (const auto& file : row.Files)
            row.Run.Files.push_back(WriteFile(source, file.first, file.second));
        rows.push_back(row);
    }
    for (const TFlavour& f : flavours)
        for (const bool oursSends : {true, false})
            for (const auto& file : Payloads(false)) {
                TRow row{std::string(f.Protocol) + (oursSends ? " to " : " from ") + "lrzsz, " + file.first,
                         {},
                         {file}};
                row.Run.Protocol = f.Protocol;
                row.Run.OursSends = oursSends;
                row.Run.Lrzsz = oursSends ? f.TheyReceive : f.TheySend;
                row.Run.Files = {WriteFile(source, file.first, file.second)};
                rows.push_back(row);
            }

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
    const std::string data = RandomBytes(100000, 11);
    const std::string path = WriteFile(source, "noisy.bin", data);
    std::vector<TRow> rows;
    for (const bool oursSends : {true, false}) {
        TRow row{oursSends ? "ours to rb" : "sb -k to ours", {}, {}};
        row.Run.Protocol = "ymodem";
        row.Run.OursSends = oursSends;
        row.Run.Lrzsz =
            oursSends ? std::vector<std::string>{"rb", "-q"} : std::vector<std::string>{"sb", "-q", "-k"};
        row.Run.Files = {path};
        // About one fault in 5000 bytes, a third of each kind, and one 3 s stall.
        row.Run.Faults = {15000, 15000, 15000, 30000, 3000, oursSends ? 5u : 6u};
        row.Run.TimeoutMs = 150000;
        rows.push_back(row);
    }
    for (const bool oursSends : {true, false}) { // the same line for ZMODEM
        TRow row = rows[oursSends ? 0 : 1];
        row.Name = oursSends ? "ours to rz" : "sz to ours";
        row.Run.Protocol = "zmodem";
        row.Run.Lrzsz =
            oursSends ? std::vector<std::string>{"rz", "-q", "-y"} : std::vector<std::string>{"sz", "-q"};
        rows.push_back(row);
    }
    const std::vector<TPeerResult> results = RunAll(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TPeerResult& r = results[i];
        SCOPED_TRACE(rows[i].Name + "\n" + r.OursReport);
        ASSERT_FALSE(r.TimedOut);
        EXPECT_GT(r.FaultsMade, 0u);
        EXPECT_EQ(r.OursExit, 0);
        EXPECT_EQ(r.TheirsExit, 0);
        EXPECT_EQ(FolderFiles(r.Folder)["noisy.bin"], data);
        EXPECT_GT(Retries(r.OursReport), 0);
    }
}

TEST(LrzszPeer, CancelsAndSilentPeersEndCleanly) {
    const std::string source = TempFolder();
    const std::string path = WriteFile(source, "big.bin", RandomBytes(4 << 20, 3));
    struct TCase {
        const char* Name;
        bool OursSends;
        std::vector<std::string> Lrzsz;
        bool InterruptOurs, InterruptTheirs, StartLrzsz;
        const char* Expect; // in our report
        const char* Protocol = "ymodem";
    };
    const TCase cases[] = {
        {"we cancel sending", true, {"rb", "-q"}, true, false, true, "Cancelled by the operator"},
        {"we cancel receiving", false, {"sb", "-q", "-k"}, true, false, true, "Cancelled by the operator"},
        {"sb interrupted", false, {"sb", "-q", "-k"}, false, true, true, "Cancelled by the device"},
        {"rb interrupted", true, {"rb", "-q"}, false, true, true, "Cancelled by the device"},
        {"no sender", false, {}, false, false, false, "The sender did not start (no block in 2 s)"},
        {"no receiver", true, {}, false, false, false, "The receiver did not start (no 'C' in 2 s)"},
        {"zmodem: we cancel sending",
         true,
         {"rz", "-q", "-y"},
         true,
         false,
         true,
         "Cancelled by the operator",
         "zmodem"},
        {"zmodem: we cancel receiving",
         false,
         {"sz", "-q"},
         true,
         false,
         true,
         "Cancelled by the operator",
         "zmodem"},
        {"zmodem: rz interrupted",
         true,
         {"rz", "-q", "-y"},
         false,
         true,
         true,
         "Cancelled by the device",
         "zmodem"},
    };
    std::vector<TRow> rows;
    for (const TCase& c : cases) {
        TRow row{c.Name, {}, {}};
        row.Run.Protocol = c.Protocol;
        row.Run.OursSends = c.OursSends;
        row.Run.Lrzsz = c.Lrzsz;
        row.Run.Files = {path};
        row.Run.StartLrzsz = c.StartLrzsz;
        if (!c.StartLrzsz) row.Run.XferOptions = {"--start-timeout", "2"};
        row.Run.InterruptOursAtByte = c.InterruptOurs ? 200000 : 0;
        row.Run.InterruptTheirsAtByte = c.InterruptTheirs ? 200000 : 0;
        row.Run.TimeoutMs = 60000;
        rows.push_back(row);
    }
    const std::vector<TPeerResult> results = RunAll(rows);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TPeerResult& r = results[i];
        SCOPED_TRACE(std::string(cases[i].Name) + "\n" + r.OursReport);
        EXPECT_FALSE(r.TimedOut); // both ends stopped on their own
        EXPECT_EQ(r.OursExit, 1);
        EXPECT_NE(r.OursReport.find(cases[i].Expect), std::string::npos);
        if (cases[i].StartLrzsz) {
            EXPECT_NE(r.TheirsExit, 0);
        }
        // A file cut short stays on disk, named as such, and is never the whole file.
        if (!cases[i].OursSends && cases[i].StartLrzsz) {
            EXPECT_NE(r.OursReport.find("partial file kept"), std::string::npos);
            EXPECT_LT(FolderFiles(r.Folder)["big.bin"].size(), 4u << 20);
        }
    }
}

} // namespace
} // namespace qorvel::test
