#pragma once
// The hex dump of received bytes without Qt: 16 bytes a row, the oldest rows dropped beyond a limit,
// offsets counted from Connect or Clear. Bytes are kept raw and the text is made only for rows that
// are shown or copied, so appending stays cheap during a flood.
#include <chrono>
#include <cstdint>
#include <deque>
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

    int RowCount() const noexcept { return int((FCount + kBytesPerRow - 1) / kBytesPerRow); }
    // Rows dropped so far: the row numbering of Row(i) starts there.
    std::uint64_t DroppedRows() const noexcept { return FDropped; }
    std::uint64_t TotalBytes() const noexcept { return FDropped * kBytesPerRow + FCount; }
    // "00000010  41 42 ...  |AB..|", with "[2026-12-09 10:15:00.123] " before it when Stamped.
    std::string RowText(int Row, bool Stamped) const;
    // Characters of a full row while offsets fit in 8 digits (below 4 GiB).
    static constexpr int RowChars(bool Stamped) {
        return (Stamped ? 26 : 0) + 10 + 3 * kBytesPerRow + 3 + kBytesPerRow;
    }
    // Rows First..Last (inclusive) joined by '\n', as copied.
    std::string Text(int First, int Last, bool Stamped) const;

private:
    // The first row starting in one Append, and when that batch came: a row's stamp is the latest
    // such record at or before it, so a flood costs one record per batch, not one per row.
    struct TStamp {
        std::uint64_t Row;
        TClock::time_point Arrived;
    };
    std::size_t Capacity() const noexcept { return std::size_t(FMaxRows) * kBytesPerRow; }
    std::uint8_t At(std::size_t Index) const { return FBytes[(FHead + Index) % FBytes.size()]; }
    void DropRows(std::size_t Rows);

    // Raw bytes, a ring once it holds the row limit: FHead is the oldest byte, always a row start.
    std::vector<std::uint8_t> FBytes;
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    std::deque<TStamp> FStamps;
    std::uint64_t FDropped = 0;
    int FMaxRows;
};

} // namespace qorvel
