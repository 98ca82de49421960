#include "transfer/crc.h"

#include <array>

namespace qorvel::transfer {
namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[i] = crc;
    }
    return table;
}

constexpr auto kCrc16Table = MakeCrc16Table();
constexpr auto kCrc32Table = MakeCrc32Table();

} // namespace

std::uint16_t Crc16(std::string_view Bytes, std::uint16_t Crc) {
    for (const char c : Bytes)
        Crc = static_cast<std::uint16_t>((Crc << 8) ^
                                         kCrc16Table[((Crc >> 8) ^ static_cast<std::uint8_t>(c)) & 0xFF]);
    return Crc;
}

std::uint32_t Crc32(std::string_view Bytes, std::uint32_t Crc) {
    Crc = ~Crc;
    for (const char c : Bytes)
        Crc = (Crc >> 8) ^ kCrc32Table[(Crc ^ static_cast<std::uint8_t>(c)) & 0xFF];
    return ~Crc;
}

} // namespace qorvel::transfer
