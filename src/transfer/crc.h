#pragma once
// The checks of the transfer protocols, table-driven.
#include <cstdint>
#include <string_view>

namespace qorvel::transfer {

// CRC-16/XMODEM: polynomial 0x1021, start 0, no reflection ("123456789" -> 0x31C3).
std::uint16_t Crc16(std::string_view Bytes, std::uint16_t Crc = 0);
// CRC-32 as in ZIP and ZMODEM's 32-bit frames: reflected 0xEDB88320, start and final XOR 0xFFFFFFFF
// ("123456789" -> 0xCBF43926). Pass the previous result to continue over more bytes.
std::uint32_t Crc32(std::string_view Bytes, std::uint32_t Crc = 0);

} // namespace qorvel::transfer
