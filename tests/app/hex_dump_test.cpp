// The hex dump's rows: offsets, the ASCII column's edges, the row limit and the time stamp column.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/hex_dump.h"
#include "app/session_log.h"

namespace qorvel {
namespace {

using namespace std::string_literals;

TEST(HexDump, RowsOffsetsAndLimit) {
    const auto pad = [](int Missing) { return std::string(3 * Missing, ' '); };
    const std::string a15 = "abcdefghijklmno", hex15 = "61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F ";
    const struct {
        std::vector<std::string> Batches;
        int MaxRows;
        std::vector<std::string> Rows; // oldest first
    } cases[] = {
        {{}, 4, {}},
        {{"\x1f\x20\x7e\x7f\xff\0"s}, 4, {"00000000  1F 20 7E 7F FF 00 " + pad(10) + " |. ~...|"}},
        {{a15}, 4, {"00000000  " + hex15 + pad(1) + " |" + a15 + "|"}},
        {{"abcdefg", "hijklmnop"}, 4, {"00000000  " + hex15 + "70  |" + a15 + "p|"}},
        {{a15 + "pq"}, 4, {"00000000  " + hex15 + "70  |" + a15 + "p|", "00000010  71 " + pad(15) + " |q|"}},
        // 65 bytes, the newest two rows kept: offsets go on counting.
        {{std::string(48, '.') + a15, "pq"},
         2,
         {"00000030  " + hex15 + "70  |" + a15 + "p|", "00000040  71 " + pad(15) + " |q|"}},
    };
    for (const auto& c : cases) {
        THexDump dump(c.MaxRows);
        for (const std::string& batch : c.Batches)
            dump.Append(batch, {});
        std::vector<std::string> rows;
        for (int row = 0; row < dump.RowCount(); ++row)
            rows.push_back(dump.RowText(row, false));
        EXPECT_EQ(rows, c.Rows);
    }
}

// A limited dump shows the last rows of an unlimited one, whatever the batches and limit changes.
TEST(HexDump, RingKeepsTheNewestRowsAcrossBatchesAndLimitChanges) {
    // Batch sizes; a negative entry sets the row limit instead. The limit starts at 2.
    const std::vector<std::vector<int>> cases = {
        {20, 20, 20, 20, 20}, {-1, 4, 100}, {-3, 7, 300, 5, 33}, {50, -8, 70, -2, 9, -5, 40}, {3, 13, 1, 15, 16, 17}};
    for (const auto& c : cases) {
        THexDump limited(2), whole(1000);
        for (const int size : c) {
            std::string batch;
            for (int i = 0; i < size; ++i)
                batch += char('!' + (whole.TotalBytes() + batch.size()) % 90);
            size < 0 ? limited.SetMaxRows(-size) : limited.Append(batch, {});
            whole.Append(batch, {});
        }
        const int skip = whole.RowCount() - limited.RowCount();
        EXPECT_LE(limited.RowCount(), limited.MaxRows());
        EXPECT_EQ(limited.TotalBytes(), whole.TotalBytes());
        EXPECT_EQ(limited.DroppedRows(), std::uint64_t(skip));
        EXPECT_EQ(limited.Text(0, limited.RowCount() - 1, false), whole.Text(skip, whole.RowCount() - 1, false));
    }
}

TEST(HexDump, EachRowIsStampedWithItsFirstByte) {
    THexDump dump;
    const auto first = THexDump::TClock::now(), second = first + std::chrono::milliseconds(1250);
    dump.Append(std::string(10, 'a'), first);
    dump.Append(std::string(10, 'b'), second); // ends the first row, starts the second
    dump.Append(std::string(4, 'c'), second + std::chrono::seconds(1)); // within the second row
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(dump.RowText(row, true),
                  "[" + TSessionLog::TimeText(row ? second : first, true) + "] " + dump.RowText(row, false));
    EXPECT_EQ(int(dump.RowText(0, true).size()), THexDump::RowChars(true));
    dump.SetMaxRows(1); // the kept row keeps its stamp
    EXPECT_EQ(dump.RowText(0, true), "[" + TSessionLog::TimeText(second, true) + "] " + dump.RowText(0, false));
}

} // namespace
} // namespace qorvel
