// CRC-32 on two paths (platform::FastUnit::crc32):
//   reference  eight bytes per step: table k holds the CRC of a byte
//              followed by k zero bytes, so eight lookups fold a 64-bit word
//   pclmul     64 bytes per step folded with carry-less multiplies: each
//              128-bit part is multiplied by x^d mod P, which moves it d bits
//              ahead onto the data that follows; what is left is 16 bytes
//              with the same remainder as everything before them, and the
//              tables finish from there
#include "recovery/crc32.h"

#include <array>

#include "platform/fast_paths.h"

#if defined(KESTRAV3_X86_VECTORS)
#include <immintrin.h>
#endif

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

// The register (not inverted) after size more bytes. Bytes are read one at
// a time and combined little-end first, so the result does not depend on
// the machine's byte order.
std::uint32_t update(std::uint32_t c, const std::uint8_t* p, std::size_t size) {
    for (; size >= 8; size -= 8, p += 8) {
        const std::uint32_t lo = c ^ (static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                      static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        c = tables[7][lo & 0xFFu] ^ tables[6][(lo >> 8) & 0xFFu] ^ tables[5][(lo >> 16) & 0xFFu] ^ tables[4][lo >> 24] ^
            tables[3][p[4]] ^ tables[2][p[5]] ^ tables[1][p[6]] ^ tables[0][p[7]];
    }
    for (; size > 0; --size, ++p) c = (c >> 8) ^ tables[0][(c ^ *p) & 0xFFu];
    return c;
}

#if defined(KESTRAV3_X86_VECTORS)

// x^exponent modulo the CRC polynomial, in the bit order the reflected
// carry-less product needs (reflected over 33 bits): the factor that moves a
// 64-bit half exponent - 32 bits ahead.
constexpr std::uint64_t fold_constant(unsigned exponent) {
    std::uint64_t r = 1;
    for (unsigned i = 0; i < exponent; ++i) {
        r <<= 1;
        if (r & 0x100000000u) r ^= 0x104C11DB7u;
    }
    std::uint64_t reflected = 0;
    for (unsigned bit = 0; bit < 32; ++bit)
        if (r & (std::uint64_t{1} << bit)) reflected |= std::uint64_t{1} << (31 - bit);
    return reflected << 1;
}

// The first half of a 128-bit part lies 64 bits further back than the
// second, so it is moved 64 bits further.
constexpr std::uint64_t fold_512[2] = {fold_constant(512 + 32), fold_constant(512 - 32)};
constexpr std::uint64_t fold_128[2] = {fold_constant(128 + 32), fold_constant(128 - 32)};

#define KESTRAV3_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define KESTRAV3_TARGET_PUSH(isa) \
    KESTRAV3_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define KESTRAV3_TARGET_POP KESTRAV3_PRAGMA(clang attribute pop)
#else
#define KESTRAV3_TARGET_PUSH(isa) KESTRAV3_PRAGMA(GCC push_options) KESTRAV3_PRAGMA(GCC target(isa))
#define KESTRAV3_TARGET_POP KESTRAV3_PRAGMA(GCC pop_options)
#endif

KESTRAV3_TARGET_PUSH("sse2,pclmul")

inline __m128i fold(__m128i part, __m128i constants, __m128i next) {
    const __m128i first = _mm_clmulepi64_si128(part, constants, 0x00);
    const __m128i second = _mm_clmulepi64_si128(part, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(first, second), next);
}

inline __m128i load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// At least 64 bytes.
std::uint32_t update_pclmul(std::uint32_t c, const std::uint8_t* p, std::size_t size) {
    const __m128i by_512 = _mm_set_epi64x(static_cast<long long>(fold_512[1]), static_cast<long long>(fold_512[0]));
    const __m128i by_128 = _mm_set_epi64x(static_cast<long long>(fold_128[1]), static_cast<long long>(fold_128[0]));
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    size -= 64;
    for (; size >= 64; size -= 64, p += 64) {
        x0 = fold(x0, by_512, load(p));
        x1 = fold(x1, by_512, load(p + 16));
        x2 = fold(x2, by_512, load(p + 32));
        x3 = fold(x3, by_512, load(p + 48));
    }
    x1 = fold(x0, by_128, x1);
    x2 = fold(x1, by_128, x2);
    x3 = fold(x2, by_128, x3);
    for (; size >= 16; size -= 16, p += 16) x3 = fold(x3, by_128, load(p));
    alignas(16) std::uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x3);
    return update(update(0, rest, 16), p, size);
}

KESTRAV3_TARGET_POP

bool use_pclmul() {
    static const bool possible = platform::path_possible(platform::FastUnit::crc32, platform::FastPath::pclmul);
    const platform::FastPath chosen = platform::chosen_path(platform::FastUnit::crc32);
    return chosen == platform::FastPath::pclmul || (chosen == platform::FastPath::automatic && possible);
}

#endif

}  // namespace

std::uint32_t crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
#if defined(KESTRAV3_X86_VECTORS)
    if (size >= 64 && use_pclmul()) return ~update_pclmul(~crc, p, size);
#endif
    return ~update(~crc, p, size);
}

}  // namespace kestrav3::recovery
