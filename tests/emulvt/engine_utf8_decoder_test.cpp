// The UTF-8 decoder: code points to cells, invalid input, and batches cut at every byte.
#include <gtest/gtest.h>

#include <string>

#include "emulvt/utf8_decoder.h"

namespace qorvel {
namespace {

TEST(Utf8Decoder, CellsWholeAndSplitAtEveryByte) {
    const std::string s(1, char(TUtf8Decoder::kSubstitute));
    const struct {
        std::string In;
        std::string Cells;
    } cases[] = {
        // ASCII with controls and escapes; glyphs 437 has (box, shade, letters, signs, Greek, house)
        {"A\x1b[1mB\r\n\x07\x7f", "A\x1b[1mB\r\n\x07\x7f"},
        {"\xe2\x94\x80\xe2\x96\x91\xc3\xa9\xc2\xb0\xc2\xb2\xc2\xb7\xce\xb1\xe2\x8c\x82\xc2\xa0",
         "\xc4\xb0\x82\xf8\xfd\xfa\xe0\x7f\xff"},
        // a glyph of a control cell, the euro, a C1 control, a wide character, an emoji
        {"\xe2\x80\xa2\xe2\x82\xac\xc2\x85\xe4\xb8\xad\xf0\x9f\x98\x80", s + s + s + s + s},
        // overlong forms, a surrogate, above U+10FFFF: one substitute per byte
        {"\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80", std::string(12, s[0])},
        // stray bytes, sequences cut short by ASCII, ESC or a new lead: what follows survives
        {"\x80x\xffy\xe2\x94z\xf0\x9f\x98\x1b[m\xc3\xc3\xa9",
         s + "x" + s + "y" + s + "z" + s + "\x1b[m" + s + "\x82"},
    };
    for (const auto& c : cases) {
        for (std::size_t cut = 0; cut <= c.In.size(); ++cut) {
            TUtf8Decoder decoder;
            std::string out;
            decoder.Decode(std::string_view(c.In).substr(0, cut), out);
            decoder.Decode(std::string_view(c.In).substr(cut), out);
            EXPECT_EQ(out, c.Cells) << "row " << &c - cases << ", cut at " << cut;
        }
    }
}

} // namespace
} // namespace qorvel
