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
    std::vector<TRow> rows;
    const std::size_t keep = std::min(FCount, std::size_t(Rows));
    rows.reserve(keep);
    for (std::size_t i = FCount - keep; i < FCount; ++i)
        rows.push_back(At(i));
    FDropped += FCount - keep;
    FRows = std::move(rows);
    FHead = 0;
    FCount = keep;
    FMaxRows = Rows;
}

void THexDump::Clear() {
    FRows.clear();
    FHead = FCount = 0;
    FDropped = 0;
}

std::uint64_t THexDump::TotalBytes() const noexcept {
    return FCount == 0 ? FDropped * kBytesPerRow
                       : (FDropped + FCount - 1) * kBytesPerRow + At(FCount - 1).Count;
}

THexDump::TRow& THexDump::NewRow(TClock::time_point Arrived) {
    TRow* row;
    if (FCount < std::size_t(FMaxRows)) {
        // Grows until the limit, so a short session does not hold the whole ring.
        if (FRows.size() == FCount) FRows.emplace_back();
        row = &At(FCount++);
    } else {
        row = &FRows[FHead];
        FHead = (FHead + 1) % FRows.size();
        ++FDropped;
    }
    row->Count = 0;
    row->Arrived = Arrived;
    return *row;
}

void THexDump::Append(std::string_view Bytes, TClock::time_point Arrived) {
    while (!Bytes.empty()) {
        TRow* row = FCount ? &At(FCount - 1) : nullptr;
        if (!row || row->Count == kBytesPerRow) row = &NewRow(Arrived);
        const std::size_t n = std::min<std::size_t>(kBytesPerRow - row->Count, Bytes.size());
        std::memcpy(row->Bytes + row->Count, Bytes.data(), n);
        row->Count = std::uint8_t(row->Count + n);
        Bytes.remove_prefix(n);
    }
}

std::string THexDump::RowText(int Row, bool Stamped) const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const TRow& row = At(std::size_t(Row));
    std::string text;
    text.reserve(112);
    if (Stamped) text += "[" + TSessionLog::TimeText(row.Arrived, true) + "] ";
    char offset[24];
    std::snprintf(offset, sizeof offset, "%08llX  ",
                  static_cast<unsigned long long>((FDropped + std::uint64_t(Row)) * kBytesPerRow));
    text += offset;
    // A short last row keeps the ASCII column where the full rows have it.
    for (int i = 0; i < kBytesPerRow; ++i) {
        if (i < row.Count) {
            text += kDigits[row.Bytes[i] >> 4];
            text += kDigits[row.Bytes[i] & 0xF];
            text += ' ';
        } else {
            text += "   ";
        }
    }
    text += " |";
    for (int i = 0; i < row.Count; ++i)
        text += row.Bytes[i] >= 0x20 && row.Bytes[i] <= 0x7E ? char(row.Bytes[i]) : '.';
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
