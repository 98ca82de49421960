#include "emulvt/utf8_decoder.h"

#include <algorithm>
#include <array>
#include <utility>

#include "emulvt/char_tables.h"

namespace qorvel {

namespace {

// The glyph table inverted for the cells 0x7F-0xFF, sorted by code point; built once.
using TInverse = std::array<std::pair<char32_t, uint8_t>, 0x81>;

TInverse MakeInverse() {
    TInverse inverse{};
    for (int cell = 0x7F; cell <= 0xFF; ++cell)
        inverse[cell - 0x7F] = {Cp437ToUnicode[cell], uint8_t(cell)};
    std::sort(inverse.begin(), inverse.end());
    return inverse;
}

} // namespace

uint8_t TUtf8Decoder::CellOf(char32_t CodePoint) {
    if (CodePoint < 0x80) return uint8_t(CodePoint);
    static const TInverse inverse = MakeInverse();
    const auto it =
        std::lower_bound(inverse.begin(), inverse.end(), std::pair<char32_t, uint8_t>{CodePoint, 0});
    return it != inverse.end() && it->first == CodePoint ? it->second : kSubstitute;
}

void TUtf8Decoder::Decode(std::string_view Input, std::string& Output) {
    const auto* p = reinterpret_cast<const uint8_t*>(Input.data());
    const std::size_t n = Input.size();
    std::size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (FNeed > 0) {
            if (b >= FLower && b <= FUpper) {
                FCodePoint = (FCodePoint << 6) | (b & 0x3F);
                FLower = 0x80;
                FUpper = 0xBF;
                if (--FNeed == 0) Output += char(CellOf(FCodePoint));
                ++i;
                continue;
            }
            // The broken sequence shows once; the byte that broke it is read afresh.
            FNeed = 0;
            Output += char(kSubstitute);
        }
        if (b < 0x80) {
            // Device text is mostly ASCII: copy the whole run at once.
            std::size_t j = i + 1;
            while (j < n && p[j] < 0x80)
                ++j;
            Output.append(Input.data() + i, j - i);
            i = j;
            continue;
        }
        ++i;
        FLower = 0x80;
        FUpper = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            FNeed = 1;
            FCodePoint = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            FNeed = 2;
            FCodePoint = b & 0x0F;
            if (b == 0xE0) FLower = 0xA0; // overlong below U+0800
            if (b == 0xED) FUpper = 0x9F; // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            FNeed = 3;
            FCodePoint = b & 0x07;
            if (b == 0xF0) FLower = 0x90; // overlong below U+10000
            if (b == 0xF4) FUpper = 0x8F; // above U+10FFFF
        } else {
            // A stray continuation byte, C0, C1 (always overlong) or F5-FF.
            Output += char(kSubstitute);
        }
    }
}

} // namespace qorvel
