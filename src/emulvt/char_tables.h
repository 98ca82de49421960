#pragma once
// The two fixed translation tables of the terminal engine, and the code page 437 glyph table
// that everything displaying cell bytes (the view, qorvel-vtdump) shares.
#include <cstdint>

namespace qorvel {

constexpr int kCharTableSize = 256;

// 0x00-0x7F unchanged, 0x80-0x9F blank, 0xA0-0xFF from ISO 8859-1 to code page 437 glyphs.
extern const uint8_t NormalCharTable[kCharTableSize];
// NormalCharTable with the DEC line-drawing letters j k l m n q t u v w x as box characters.
extern const uint8_t GraphicCharTable[kCharTableSize];

// Unicode code point of the code page 437 glyph of each cell byte. 0x00 maps to a blank;
// 0x01-0x1F and 0x7F map to their pictures (U+263A ... U+2302), as the terminal font shows them.
extern const char16_t Cp437ToUnicode[kCharTableSize];

} // namespace qorvel
