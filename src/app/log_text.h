#pragma once
// The log of received text: an append-only byte buffer kept in fixed-size blocks, so appending is
// amortised O(1) without ever copying what is already stored. Memory stays bounded however long
// the session: once the blocks held exceed the memory limit, the oldest whole blocks go to an
// unnamed temporary file (nothing is left behind when the program ends, even by a crash), and
// only the newest part stays in memory.
#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <sys/uio.h>
#include <vector>

namespace qorvel {

class TLogText {
public:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    static constexpr std::size_t kSpillStep = 16 * kBlockSize;
    // Small: the prompt gate needs only the tail, and fresh memory costs more than a file write.
    static constexpr std::size_t kDefaultMemoryLimit = 4 * 1024 * 1024;

    // Writes blocks to the temporary file at an offset; the system's pwritev unless a test injects
    // a failing one. Returns the bytes written or -1 with errno set.
    using TSpillWrite = ssize_t (*)(int Fd, const iovec* Blocks, int Count, off_t Offset);

    // MemoryLimit: bytes of text kept in memory before the oldest go to the file (at least one
    // block stays). Folder: where the file is made; empty means the temp folder ($TMPDIR, /tmp),
    // then $XDG_RUNTIME_DIR.
    explicit TLogText(std::size_t MemoryLimit = kDefaultMemoryLimit, std::string Folder = {});
    ~TLogText();
    TLogText(const TLogText&) = delete;
    TLogText& operator=(const TLogText&) = delete;

    // Never raises for a failed file write: the bytes then stay in memory and SpillError reports it.
    void Append(std::string_view Bytes);
    // Empties the text and drops the file.
    void Clear();

    std::size_t Size() const noexcept { return FSize; }
    bool Empty() const noexcept { return FSize == 0; }

    // True when the text's last Suffix.size() bytes equal Suffix, byte for byte; an empty suffix
    // always matches, a text shorter than the suffix never does. Reads back from the file only the
    // part of the suffix that is no longer in memory (false if that read fails).
    bool EndsWith(std::string_view Suffix) const;

    // Calls OnChunk with the stored bytes in order: the file's part read back in pieces, then the
    // blocks in memory. Raises EInOutError when the file cannot be read.
    void ForEachChunk(const std::function<void(std::string_view Chunk)>& OnChunk) const;

    // Creates (or empties) the file and writes the whole text byte for byte; raises EInOutError.
    void SaveToFile(const std::string& FileName) const;

    // A contiguous copy of the whole text.
    std::string ToString() const;

    // Bytes of memory held for the text (blocks and their index), for the memory figures.
    std::size_t AllocatedBytes() const noexcept;
    // Bytes of the text that live in the temporary file.
    std::size_t SpilledBytes() const noexcept { return FSpilled; }

    // The system error (errno) of a failed move to the file not reported yet, or 0; taking it
    // resets it, so an operator sees one report per failure until a move succeeds again.
    int TakeSpillError() noexcept;

    // A new limit applies from the next Append.
    void SetMemoryLimit(std::size_t MemoryLimit) noexcept {
        FMemoryLimit = std::max(MemoryLimit, kBlockSize);
    }
    void SetSpillWrite(TSpillWrite Write) noexcept { FSpillWrite = Write; }

private:
    void Spill();
    bool OpenFile();
    std::size_t InMemory() const noexcept { return FSize - FSpilled; }

    std::size_t FMemoryLimit;
    std::string FFolder;
    TSpillWrite FSpillWrite;
    // Block i holds the bytes from FSpilled + i * kBlockSize; FSpilled is a whole number of blocks.
    std::deque<std::unique_ptr<char[]>> FBlocks;
    // Blocks already moved to the file, kept for reuse so a long session does not churn the heap.
    std::vector<std::unique_ptr<char[]>> FSpare;
    std::size_t FSize = 0;
    std::size_t FSpilled = 0;
    int FFd = -1;
    // After a failed move, the next try waits until this much more is held in memory.
    std::size_t FRetryAt = 0;
    int FSpillError = 0;
    bool FErrorReported = false;
};

} // namespace qorvel
