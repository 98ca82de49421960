// The hex dump's rows: offsets, the ASCII column's edges, the row limit and the time stamp column.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/hex_dump.h"
#include "app/session_log.h"

namespace qorvel {
namespace {

using namespace std::string_literals;
using TTime = THexDump::TClock::time_point;

std::string Bytes(int From, int Count) {
    std::string bytes;
    for (int i = 0; i < Count; ++i)
        bytes += char(From + i);
    return bytes;
}

TEST(HexDump, RowsOffsetsAndLimit) {
    const auto pad = [](int Missing) { return std::string(3 * Missing, ' '); };
    const struct {
        const char* Name;
        std::vector<std::string> Batches;
        int MaxRows;
        std::vector<std::string> Rows; // the dump's rows after the batches, oldest first
    } cases[] = {
        {"empty", {}, 4, {}},
        {"ASCII edges",
         {"\x1f\x20\x7e\x7f\xff\0"s},
         4,
         {"00000000  1F 20 7E 7F FF 00 " + pad(10) + " |. ~...|"}},
        {"15 bytes",
         {Bytes('a', 15)},
         4,
         {"00000000  61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F     |abcdefghijklmno|"}},
        {"16 bytes across batches",
         {Bytes('a', 7), Bytes('h', 9)},
         4,
         {"00000000  61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70  |abcdefghijklmnop|"}},
        {"17 bytes",
         {Bytes('a', 17)},
         4,
         {"00000000  61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70  |abcdefghijklmnop|",
          "00000010  71 " + pad(15) + " |q|"}},
        {"oldest rows dropped",
         {Bytes('A', 40), Bytes('a', 25)},
         2,
         {"00000030  69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76 77 78  |ijklmnopqrstuvwx|",
          "00000040  79 " + pad(15) + " |y|"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        THexDump dump(c.MaxRows);
        for (const std::string& batch : c.Batches)
            dump.Append(batch, TTime{});
        std::vector<std::string> rows;
        for (int row = 0; row < dump.RowCount(); ++row)
            rows.push_back(dump.RowText(row, false));
        EXPECT_EQ(rows, c.Rows);
        EXPECT_EQ(dump.Text(0, dump.RowCount() - 1, false), [&] {
            std::string joined;
            for (const std::string& row : c.Rows)
                joined += (joined.empty() ? "" : "\n") + row;
            return joined;
        }());
        dump.Clear();
        dump.Append("x", TTime{});
        EXPECT_EQ(dump.RowText(0, false).substr(0, 10), "00000000  ") << "Clear counts from 0 again";
    }
}

TEST(HexDump, EachRowIsStampedWithItsFirstByte) {
    THexDump dump;
    const TTime first = THexDump::TClock::now(), second = first + std::chrono::milliseconds(1250);
    dump.Append(Bytes('a', 10), first);
    dump.Append(Bytes('a', 10), second); // ends the first row, starts the second
    ASSERT_EQ(dump.RowCount(), 2);
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(dump.RowText(row, true),
                  "[" + TSessionLog::TimeText(row ? second : first, true) + "] " + dump.RowText(row, false));
    EXPECT_EQ(int(dump.RowText(0, true).size()), THexDump::RowChars(true));
}

} // namespace
} // namespace qorvel
