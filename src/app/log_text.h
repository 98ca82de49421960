#pragma once
// The log of received text: an append-only byte buffer kept in fixed-size blocks, so appending is
// amortised O(1) without ever copying what is already stored and memory stays close to the text's size.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel {

class TLogText {
public:
    static constexpr std::size_t kBlockSize = 64 * 1024;

    void Append(std::string_view Bytes);
    void Clear();

    std::size_t Size() const noexcept { return FSize; }
    bool Empty() const noexcept { return FSize == 0; }

    // True when the text's last Suffix.size() bytes equal Suffix, byte for byte; an empty suffix
    // always matches, a text shorter than the suffix never does.
    bool EndsWith(std::string_view Suffix) const;

    // The stored bytes in order, as views into the blocks; valid until the next Append or Clear.
    std::vector<std::string_view> Chunks() const;

    // A contiguous copy of the whole text.
    std::string ToString() const;

    // Bytes of memory held for the text (blocks and their index), for the memory figures.
    std::size_t AllocatedBytes() const noexcept;

private:
    std::vector<std::unique_ptr<char[]>> FBlocks;
    std::size_t FSize = 0;
};

} // namespace qorvel
