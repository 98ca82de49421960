#pragma once
// UTF-8 received text turned into code page 437 cell bytes before the engine sees it, so the
// engine keeps working on bytes. Only the UTF-8 mode pays for it.
#include <cstdint>
#include <string>
#include <string_view>

namespace qorvel {

class TUtf8Decoder {
public:
    // Shown for a code point without a glyph of its own and for each invalid sequence.
    static constexpr uint8_t kSubstitute = 0xA8; // the inverted question mark

    // Appends the cell bytes of Input to Output. ASCII passes unchanged, controls and escape
    // sequences included; a sequence cut off at the end of Input is completed by the next call.
    void Decode(std::string_view Input, std::string& Output);
    // Forgets a partial sequence: a new connection or mode starts clean.
    void Reset() { FNeed = 0; }

    // The cell byte that shows CodePoint, or kSubstitute. Glyphs of cells 0x01-0x1F are not
    // reachable: those bytes are control codes to the engine.
    static uint8_t CellOf(char32_t CodePoint);

private:
    char32_t FCodePoint = 0;
    int FNeed = 0; // continuation bytes still expected
    // The range the next continuation byte must lie in; narrower after some lead bytes, which
    // rejects overlong forms, surrogates and code points above U+10FFFF at their second byte.
    uint8_t FLower = 0x80;
    uint8_t FUpper = 0xBF;
};

} // namespace qorvel
