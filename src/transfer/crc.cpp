#include "transfer/crc.h"

#include <array>
#include <cstddef>

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

// Eight tables: table k gives the CRC of a byte followed by k zero bytes, so eight bytes are folded
// per step instead of one. ZMODEM's CRC-32 over every subpacket was the sender's largest cost.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrc32Tables() {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        tables[0][i] = crc;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    return tables;
}

constexpr auto kCrc16Table = MakeCrc16Table();
constexpr auto kCrc32 = MakeCrc32Tables();

} // namespace

std::uint16_t Crc16(std::string_view Bytes, std::uint16_t Crc) {
    for (const char c : Bytes)
        Crc = static_cast<std::uint16_t>((Crc << 8) ^
                                         kCrc16Table[((Crc >> 8) ^ static_cast<std::uint8_t>(c)) & 0xFF]);
    return Crc;
}

std::uint32_t Crc32(std::string_view Bytes, std::uint32_t Crc) {
    Crc = ~Crc;
    const auto* p = reinterpret_cast<const std::uint8_t*>(Bytes.data());
    std::size_t n = Bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t low = Crc ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                         std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        Crc = kCrc32[7][low & 0xFF] ^ kCrc32[6][(low >> 8) & 0xFF] ^ kCrc32[5][(low >> 16) & 0xFF] ^
              kCrc32[4][low >> 24] ^ kCrc32[3][p[4]] ^ kCrc32[2][p[5]] ^ kCrc32[1][p[6]] ^ kCrc32[0][p[7]];
    }
    for (; n > 0; --n, ++p)
        Crc = (Crc >> 8) ^ kCrc32[0][(Crc ^ *p) & 0xFF];
    return ~Crc;
}

} // namespace qorvel::transfer
