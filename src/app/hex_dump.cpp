#include "app/hex_dump.h"

#include <algorithm>
#include <cstring>

#include "app/session_log.h"

namespace qorvel {

THexDump::THexDump(int MaxRows) : FMaxRows(std::max(MaxRows, 1)) {}

void THexDump::SetMaxRows(int Rows) {
    Rows = std::max(Rows, 1);
    if (Rows == FMaxRows) return;
    // The ring is laid out again in order, keeping the newest rows that fit.
    const std::size_t rows = (FCount + kBytesPerRow - 1) / kBytesPerRow;
    DropRows(rows - std::min(rows, std::size_t(Rows)));
    std::vector<std::uint8_t> bytes(FCount);
    for (std::size_t i = 0; i < FCount; ++i)
        bytes[i] = At(i);
    FBytes = std::move(bytes);
    FHead = 0;
    FMaxRows = Rows;
}

void THexDump::Clear() {
    FBytes.clear();
    FStamps.clear();
    FHead = FCount = 0;
    FDropped = 0;
}

void THexDump::DropRows(std::size_t Rows) {
    if (Rows == 0) return;
    const std::size_t bytes = std::min(FCount, Rows * kBytesPerRow);
    FHead = FBytes.empty() ? 0 : (FHead + bytes) % FBytes.size();
    FCount -= bytes;
    FDropped += Rows;
    while (FStamps.size() > 1 && FStamps[1].Row <= FDropped)
        FStamps.pop_front();
}

void THexDump::Append(std::string_view Bytes, TClock::time_point Arrived) {
    const std::uint64_t total = TotalBytes();
    const std::uint64_t firstRow = (total + kBytesPerRow - 1) / kBytesPerRow;
    if (!Bytes.empty() && firstRow * kBytesPerRow < total + Bytes.size()) FStamps.push_back({firstRow, Arrived});
    while (!Bytes.empty()) {
        // Grows until the limit, so a short session does not hold the whole ring.
        if (FBytes.size() < Capacity() && FHead == 0) {
            const std::size_t n = std::min(Bytes.size(), Capacity() - FBytes.size());
            FBytes.insert(FBytes.end(), Bytes.begin(), Bytes.begin() + std::ptrdiff_t(n));
            FCount += n;
            Bytes.remove_prefix(n);
            continue;
        }
        // Full: whole rows make room, oldest first; a row still filling is never dropped.
        const std::size_t free = FBytes.size() - FCount;
        if (Bytes.size() > free)
            DropRows(std::min((Bytes.size() - free + kBytesPerRow - 1) / kBytesPerRow, FCount / kBytesPerRow));
        const std::size_t at = (FHead + FCount) % FBytes.size();
        const std::size_t n = std::min({Bytes.size(), FBytes.size() - FCount, FBytes.size() - at});
        std::memcpy(FBytes.data() + at, Bytes.data(), n);
        FCount += n;
        Bytes.remove_prefix(n);
    }
}

std::string THexDump::RowText(int Row, bool Stamped) const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::uint64_t number = FDropped + std::uint64_t(Row);
    const std::size_t first = std::size_t(Row) * kBytesPerRow;
    const int count = int(std::min<std::size_t>(kBytesPerRow, FCount - first));
    std::uint8_t bytes[kBytesPerRow];
    for (int i = 0; i < count; ++i)
        bytes[i] = At(first + std::size_t(i));
    std::string text;
    text.reserve(112);
    if (Stamped) {
        const auto stamp = std::upper_bound(FStamps.begin(), FStamps.end(), number,
                                            [](std::uint64_t R, const TStamp& S) { return R < S.Row; });
        const TClock::time_point arrived = stamp == FStamps.begin() ? TClock::time_point{} : std::prev(stamp)->Arrived;
        text += "[" + TSessionLog::TimeText(arrived, true) + "] ";
    }
    char offset[24];
    std::snprintf(offset, sizeof offset, "%08llX  ",
                  static_cast<unsigned long long>(number * kBytesPerRow));
    text += offset;
    // A short last row keeps the ASCII column where the full rows have it.
    for (int i = 0; i < kBytesPerRow; ++i) {
        if (i < count) {
            text += kDigits[bytes[i] >> 4];
            text += kDigits[bytes[i] & 0xF];
            text += ' ';
        } else {
            text += "   ";
        }
    }
    text += " |";
    for (int i = 0; i < count; ++i)
        text += bytes[i] >= 0x20 && bytes[i] <= 0x7E ? char(bytes[i]) : '.';
    text += '|';
    return text;
}

std::string THexDump::Text(int First, int Last, bool Stamped) const {
    std::string text;
    First = std::max(First, 0);
    Last = std::min(Last, RowCount() - 1);
    for (int row = First; row <= Last; ++row) {
        if (row > First) text += '\n';
        text += RowText(row, Stamped);
    }
    return text;
}

} // namespace qorvel
