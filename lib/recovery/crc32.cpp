// CRC-32, eight bytes per step: table k holds the CRC of a byte followed by
// k zero bytes, so eight lookups fold a whole 64-bit word at once.
#include "recovery/crc32.h"

#include <array>

namespace kestrav3::recovery {

namespace {

constexpr std::uint32_t reflected_polynomial = 0xEDB88320u;

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables make_tables() {
    Tables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ ((c & 1u) ? reflected_polynomial : 0u);
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    return t;
}

constexpr Tables tables = make_tables();

}  // namespace

std::uint32_t crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint32_t c = ~crc;
    // Bytes are read one at a time and combined little-end first, so the
    // result does not depend on the machine's byte order.
    for (; size >= 8; size -= 8, p += 8) {
        const std::uint32_t lo = c ^ (static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                      static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        c = tables[7][lo & 0xFFu] ^ tables[6][(lo >> 8) & 0xFFu] ^ tables[5][(lo >> 16) & 0xFFu] ^ tables[4][lo >> 24] ^
            tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^ tables[0][p[7]];
    }
    for (; size > 0; --size, ++p) c = (c >> 8) ^ tables[0][(c ^ *p) & 0xFFu];
    return ~c;
}

}  // namespace kestrav3::recovery
