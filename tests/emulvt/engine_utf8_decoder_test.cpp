// The UTF-8 decoder: code points to cells, invalid input, and batches cut at every byte.
#include <gtest/gtest.h>

#include <string>

#include "emulvt/utf8_decoder.h"

namespace qorvel {
namespace {

TEST(Utf8Decoder, CellsWholeAndSplitAtEveryByte) {
    const std::string sub(1, char(TUtf8Decoder::kSubstitute));
    const struct {
        const char* Name;
        std::string In;
        std::string Cells;
    } cases[] = {
        {"ASCII, controls and escapes", "A\x1b[1mB\r\n\x07\x7f", "A\x1b[1mB\r\n\x07\x7f"},
        {"box, shade, block", "\xe2\x94\x80\xe2\x95\xac\xe2\x96\x91\xe2\x96\x88", "\xc4\xce\xb0\xdb"},
        {"Latin-1 letters and signs", "\xc3\xa9\xc3\x84\xc2\xb0\xc2\xb1\xc2\xb2\xc2\xb7\xc2\xa0",
         "\x82\x8e\xf8\xf1\xfd\xfa\xff"},
        {"Greek, math, house", "\xce\xb1\xce\xa3\xe2\x88\x9e\xe2\x8c\x82", "\xe0\xe4\xec\x7f"},
        {"glyphs of control cells", "\xe2\x80\xa2\xe2\x98\xba\xe2\x86\x91", sub + sub + sub},
        {"no glyph: euro, C1, wide, emoji", "\xe2\x82\xac\xc2\x85\xe4\xb8\xad\xf0\x9f\x98\x80x",
         sub + sub + sub + sub + "x"},
        {"overlong", "\xc0\xaf\xe0\x80\xaf\xf0\x80\x80\xaf",
         sub + sub + sub + sub + sub + sub + sub + sub + sub},
        {"surrogate and above U+10FFFF", "\xed\xa0\x80\xf4\x90\x80\x80", std::string(7, sub[0])},
        {"stray bytes keep what follows", "\x80x\xf5y\xffz", sub + "x" + sub + "y" + sub + "z"},
        {"cut short by ASCII or ESC",
         "\xe2\x94"
         "A\xf0\x9f\x98\x1b[m",
         sub + "A" + sub + "\x1b[m"},
        {"cut short by a new lead", "\xc3\xc3\xa9", sub + "\x82"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        for (std::size_t cut = 0; cut <= c.In.size(); ++cut) {
            TUtf8Decoder decoder;
            std::string out;
            decoder.Decode(std::string_view(c.In).substr(0, cut), out);
            decoder.Decode(std::string_view(c.In).substr(cut), out);
            EXPECT_EQ(out, c.Cells) << "cut at " << cut;
        }
        TUtf8Decoder decoder;
        std::string out;
        for (char b : c.In)
            decoder.Decode(std::string_view(&b, 1), out);
        EXPECT_EQ(out, c.Cells) << "byte by byte";
    }
    // A sequence left open by the last connection does not reach the next one.
    TUtf8Decoder decoder;
    std::string out;
    decoder.Decode("\xe2\x94", out);
    decoder.Reset();
    decoder.Decode("\x80"
                   "A",
                   out);
    EXPECT_EQ(out, sub + "A");
}

} // namespace
} // namespace qorvel
