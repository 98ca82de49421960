#pragma once
// The hex dump of received bytes without Qt: 16 bytes a row, the oldest rows dropped beyond a limit,
// offsets counted from Connect or Clear. Bytes are kept raw and the text is made only for rows that
// are shown or copied, so appending stays cheap during a flood.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qorvel {

class THexDump {
public:
    using TClock = std::chrono::system_clock;
    static constexpr int kBytesPerRow = 16;

    explicit THexDump(int MaxRows = 10000);

    // Rows beyond the limit are dropped from the oldest end; at least one row is kept.
    void SetMaxRows(int Rows);
    int MaxRows() const noexcept { return FMaxRows; }
    // Every byte as received; a row is stamped with the time its first byte arrived.
    void Append(std::string_view Bytes, TClock::time_point Arrived);
    // Empty, offsets from 0 again.
    void Clear();

    int RowCount() const noexcept { return int(FCount); }
    // Rows dropped so far: the row numbering of Row(i) starts there.
    std::uint64_t DroppedRows() const noexcept { return FDropped; }
    std::uint64_t TotalBytes() const noexcept;
    // "00000010  41 42 ...  |AB..|", with "[2026-12-09 10:15:00.123] " before it when Stamped.
    std::string RowText(int Row, bool Stamped) const;
    // Characters of a full row while offsets fit in 8 digits (below 4 GiB).
    static constexpr int RowChars(bool Stamped) {
        return (Stamped ? 26 : 0) + 10 + 3 * kBytesPerRow + 3 + kBytesPerRow;
    }
    // Rows First..Last (inclusive) joined by '\n', as copied.
    std::string Text(int First, int Last, bool Stamped) const;

private:
    struct TRow {
        std::uint8_t Bytes[kBytesPerRow];
        std::uint8_t Count;
        TClock::time_point Arrived;
    };
    TRow& At(std::size_t Row) { return FRows[(FHead + Row) % FRows.size()]; }
    const TRow& At(std::size_t Row) const { return FRows[(FHead + Row) % FRows.size()]; }
    TRow& NewRow(TClock::time_point Arrived);

    // A ring once full: FHead is the oldest row.
    std::vector<TRow> FRows;
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    std::uint64_t FDropped = 0;
    int FMaxRows;
};

} // namespace qorvel
