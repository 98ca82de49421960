#include "app/log_text.h"

#include <algorithm>
#include <cstring>

namespace qorvel {

void TLogText::Append(std::string_view Bytes) {
    while (!Bytes.empty()) {
        std::size_t used = FSize % kBlockSize;
        if (used == 0 && FSize / kBlockSize == FBlocks.size())
            FBlocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
        std::size_t n = std::min(kBlockSize - used, Bytes.size());
        std::memcpy(FBlocks.back().get() + used, Bytes.data(), n);
        FSize += n;
        Bytes.remove_prefix(n);
    }
}

void TLogText::Clear() {
    FBlocks.clear();
    FBlocks.shrink_to_fit();
    FSize = 0;
}

bool TLogText::EndsWith(std::string_view Suffix) const {
    if (Suffix.size() > FSize) return false;
    std::size_t pos = FSize - Suffix.size();
    for (char c : Suffix) {
        if (FBlocks[pos / kBlockSize][pos % kBlockSize] != c) return false;
        ++pos;
    }
    return true;
}

std::vector<std::string_view> TLogText::Chunks() const {
    std::vector<std::string_view> chunks;
    chunks.reserve(FBlocks.size());
    std::size_t left = FSize;
    for (const auto& block : FBlocks) {
        std::size_t n = std::min(left, kBlockSize);
        chunks.emplace_back(block.get(), n);
        left -= n;
    }
    return chunks;
}

std::string TLogText::ToString() const {
    std::string text;
    text.reserve(FSize);
    for (std::string_view chunk : Chunks())
        text.append(chunk);
    return text;
}

std::size_t TLogText::AllocatedBytes() const noexcept {
    return FBlocks.size() * kBlockSize + FBlocks.capacity() * sizeof(FBlocks[0]);
}

} // namespace qorvel
