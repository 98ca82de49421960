// The log text beyond its memory limit: the older part moved to an unnamed file, read back in
// order by Save Log and by the prompt check, and kept whole when the file cannot be written.
#include <gtest/gtest.h>

#include <cerrno>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "app/log_text.h"
#include "app/text_file.h"

namespace qorvel {
namespace {

constexpr std::size_t kBlock = TLogText::kBlockSize;

// A text in which every position is told apart from its neighbours, so a lost, repeated or
// reordered block shows.
std::string Pattern(std::size_t Size, std::size_t Seed = 0) {
    std::string text(Size, '\0');
    for (std::size_t i = 0; i < Size; ++i)
        text[i] = static_cast<char>((i * 7 + Seed + i / 251) % 256);
    return text;
}

struct TTempDir {
    TTempDir() {
        char name[] = "/tmp/qorvel-logtest-XXXXXX";
        Path = ::mkdtemp(name);
    }
    ~TTempDir() { std::filesystem::remove_all(Path); }
    std::size_t Entries() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(Path), std::filesystem::directory_iterator()));
    }
    std::string Path;
};

std::string ReadFile(const std::string& Name) {
    std::ifstream in(Name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Appends Text in pieces of the given sizes, cycling, so appends land on and across block edges.
void AppendInPieces(TLogText& Log, std::string_view Text, std::initializer_list<std::size_t> Sizes) {
    std::size_t at = 0;
    while (at < Text.size()) {
        for (std::size_t n : Sizes) {
            n = std::min(n, Text.size() - at);
            Log.Append(Text.substr(at, n));
            at += n;
        }
    }
}

TEST(LogSpill, SaveLogAndToStringEqualAcrossTheLimit) {
    const struct {
        const char* Name;
        std::size_t Limit;
        std::size_t Size;
        std::initializer_list<std::size_t> Pieces;
    } cases[] = {
        {"under the limit stays in memory", 4 * kBlock, 3 * kBlock + 5, {4000, 1}},
        {"just over the limit", 2 * kBlock, 2 * kBlock + 1, {kBlock, 1}},
        {"many limits, odd pieces", 2 * kBlock, 40 * kBlock + 123, {1, 65534, 3, 200000, 7}},
        {"limit below a block keeps one", 1000, 5 * kBlock + 9, {4096}},
        {"one append of many blocks", 3 * kBlock, 20 * kBlock + 77, {20 * kBlock + 77}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir dir;
        TLogText log(c.Limit, dir.Path);
        const std::string text = Pattern(c.Size);
        AppendInPieces(log, text, c.Pieces);
        EXPECT_EQ(log.Size(), text.size());
        EXPECT_EQ(log.SpilledBytes() > 0, c.Size > std::max(c.Limit, kBlock));
        // Bounded: the limit, the block being filled and the spares that refill a quarter limit.
        EXPECT_LE(log.AllocatedBytes(), std::max(c.Limit, kBlock) + c.Limit / 4 + 3 * kBlock);
        EXPECT_EQ(log.ToString(), text);
        const std::string saved = dir.Path + "/saved.log";
        log.SaveToFile(saved);
        EXPECT_TRUE(ReadFile(saved) == text);
        std::filesystem::remove(saved);
        // The file has no name in the folder.
        EXPECT_EQ(dir.Entries(), 0u);
        EXPECT_EQ(log.TakeSpillError(), 0);
    }
}

TEST(LogSpill, PromptFoundAcrossTheFileAndMemory) {
    TTempDir dir;
    TLogText log(2 * kBlock, dir.Path);
    const std::string text = Pattern(10 * kBlock + 300) + "QLX7400>";
    log.Append(text);
    ASSERT_GT(log.SpilledBytes(), 0u);
    const std::size_t inMemory = log.Size() - log.SpilledBytes();
    for (std::size_t length : {std::size_t{1}, std::size_t{8}, inMemory, inMemory + 1, inMemory + 5000,
                               text.size() - 1, text.size()}) {
        SCOPED_TRACE(length);
        const std::string suffix = text.substr(text.size() - length);
        EXPECT_TRUE(log.EndsWith(suffix));
        // One byte changed in the part that lives in the file, or in memory, is no match.
        std::string wrong = suffix;
        wrong[0] = static_cast<char>(wrong[0] ^ 0x20);
        EXPECT_FALSE(log.EndsWith(wrong));
    }
    EXPECT_FALSE(log.EndsWith("x" + text));
    EXPECT_TRUE(log.EndsWith(""));
}

// Writes the first Budget bytes it is given, then fails as a full disk does.
std::size_t gBudget = 0;
ssize_t FullDisk(int Fd, const iovec* Blocks, int Count, off_t Offset) {
    std::size_t total = 0;
    for (int i = 0; i < Count; ++i) {
        const std::size_t n = std::min(Blocks[i].iov_len, gBudget);
        if (n > 0 && ::pwrite(Fd, Blocks[i].iov_base, n, Offset + static_cast<off_t>(total)) < 0) return -1;
        gBudget -= n;
        total += n;
        if (n < Blocks[i].iov_len) break;
    }
    if (total > 0) return static_cast<ssize_t>(total);
    errno = ENOSPC;
    return -1;
}

TEST(LogSpill, FullDiskKeepsEveryByteAndReportsOnce) {
    TTempDir dir;
    TLogText log(2 * kBlock, dir.Path);
    log.SetSpillWrite(FullDisk);
    // Room for one and a half blocks: the half-written one must be written again later, not lost.
    gBudget = kBlock + kBlock / 2;
    const std::string text = Pattern(12 * kBlock + 17, 3);
    AppendInPieces(log, text, {5000});
    EXPECT_EQ(log.SpilledBytes(), kBlock);
    EXPECT_EQ(log.TakeSpillError(), ENOSPC);
    // Still failing: no second report.
    EXPECT_EQ(log.TakeSpillError(), 0);
    EXPECT_EQ(log.ToString(), text);
    const std::string saved = dir.Path + "/saved.log";
    log.SaveToFile(saved);
    EXPECT_TRUE(ReadFile(saved) == text);
    EXPECT_TRUE(log.EndsWith(text.substr(text.size() - 3 * kBlock)));

    // Room again: the next try moves the held bytes, and a later failure is reported anew.
    gBudget = SIZE_MAX;
    const std::string more = Pattern(4 * kBlock, 9);
    log.Append(more);
    EXPECT_EQ(log.TakeSpillError(), 0);
    EXPECT_LE(log.Size() - log.SpilledBytes(), 2 * kBlock);
    EXPECT_EQ(log.ToString(), text + more);
    gBudget = 0;
    log.Append(Pattern(3 * kBlock, 5));
    EXPECT_EQ(log.TakeSpillError(), ENOSPC);
}

TEST(LogSpill, NoFolderForTheFileKeepsTheTextInMemory) {
    TLogText log(kBlock, "/nonexistent-qorvel-folder");
    const std::string text = Pattern(5 * kBlock);
    log.Append(text);
    EXPECT_EQ(log.TakeSpillError(), ENOENT);
    EXPECT_EQ(log.SpilledBytes(), 0u);
    EXPECT_EQ(log.ToString(), text);
}

TEST(LogSpill, ClearDropsTheFileAndStartsAfresh) {
    TTempDir dir;
    TLogText log(kBlock, dir.Path);
    log.Append(Pattern(6 * kBlock));
    ASSERT_GT(log.SpilledBytes(), 0u);
    log.Clear();
    EXPECT_EQ(log.Size(), 0u);
    EXPECT_EQ(log.SpilledBytes(), 0u);
    EXPECT_EQ(log.AllocatedBytes(), 0u);
    EXPECT_FALSE(log.EndsWith("x"));
    const std::string text = Pattern(3 * kBlock + 2, 1);
    log.Append(text);
    EXPECT_EQ(log.ToString(), text);
    EXPECT_TRUE(log.EndsWith(text));
}

} // namespace
} // namespace qorvel
