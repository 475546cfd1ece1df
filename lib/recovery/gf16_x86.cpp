// The vector kernels of the region products, each compiled for its own
// instruction set and picked at run time. Data stays in the PAR 2.0 layout
// (little-endian words) in memory; each kernel separates the low and high
// bytes of the words in registers and puts them back before it stores.
//
// Byte shuffle (ssse3, avx2, avx512): 32 bytes per 128-bit lane and step.
// The low and high bytes of 16 words are packed into two vectors, each
// nibble of them picks its product bytes from a 16-entry table, and the
// low and high product bytes are interleaved again.
//
// Affine transform (avx2_gfni, avx512_gfni): 16 bytes per 128-bit lane and
// step. A shuffle puts the lane's 8 low bytes in its first half and its 8
// high bytes in the second; two GF(2^8) affine transforms give the four
// partial products (low to low, high to high; low to high, high to low)
// and two interleaves add them into words again.
#include "recovery/gf16_paths.h"

#if defined(KESTRAV3_X86_VECTORS)
#include <immintrin.h>

// Every function between a push and its pop is compiled for the given
// instruction sets, in GCC's words or in clang's.
#define KESTRAV3_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define KESTRAV3_TARGET_PUSH(isa) \
    KESTRAV3_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define KESTRAV3_TARGET_POP KESTRAV3_PRAGMA(clang attribute pop)
#else
#define KESTRAV3_TARGET_PUSH(isa) KESTRAV3_PRAGMA(GCC push_options) KESTRAV3_PRAGMA(GCC target(isa))
#define KESTRAV3_TARGET_POP KESTRAV3_PRAGMA(GCC pop_options)
#endif
#endif

namespace kestrav3::recovery {

#if defined(KESTRAV3_X86_VECTORS)
namespace {

KESTRAV3_TARGET_PUSH("ssse3")
namespace ssse3 {

template <bool Add>
std::size_t shuffle_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    __m128i low[4], high[4];
    for (int k = 0; k < 4; ++k) {
        low[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(t.low[k]));
        high[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(t.high[k]));
    }
    const __m128i nibble = _mm_set1_epi8(0x0F), low_bytes = _mm_set1_epi16(0x00FF);
    std::size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 16));
        const __m128i lo = _mm_packus_epi16(_mm_and_si128(a, low_bytes), _mm_and_si128(b, low_bytes));
        const __m128i hi = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
        const __m128i n0 = _mm_and_si128(lo, nibble), n1 = _mm_and_si128(_mm_srli_epi16(lo, 4), nibble);
        const __m128i n2 = _mm_and_si128(hi, nibble), n3 = _mm_and_si128(_mm_srli_epi16(hi, 4), nibble);
        const __m128i out_lo = _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(low[0], n0), _mm_shuffle_epi8(low[1], n1)),
                                             _mm_xor_si128(_mm_shuffle_epi8(low[2], n2), _mm_shuffle_epi8(low[3], n3)));
        const __m128i out_hi =
            _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(high[0], n0), _mm_shuffle_epi8(high[1], n1)),
                          _mm_xor_si128(_mm_shuffle_epi8(high[2], n2), _mm_shuffle_epi8(high[3], n3)));
        __m128i r0 = _mm_unpacklo_epi8(out_lo, out_hi), r1 = _mm_unpackhi_epi8(out_lo, out_hi);
        if (Add) {
            r0 = _mm_xor_si128(r0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i)));
            r1 = _mm_xor_si128(r1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i + 16)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), r0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 16), r1);
    }
    return i;
}

std::size_t mul_add(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return shuffle_region<true>(dst, src, bytes, t);
}
std::size_t mul(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return shuffle_region<false>(dst, src, bytes, t);
}

}  // namespace ssse3
KESTRAV3_TARGET_POP

KESTRAV3_TARGET_PUSH("avx2")
namespace avx2 {

inline __m256i table(const std::uint8_t* entries) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(entries)));
}

// The same steps as ssse3 on two 128-bit lanes: packs, shuffles and
// interleaves stay within a lane, so the lanes never need to meet.
template <bool Add>
std::size_t shuffle_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    __m256i low[4], high[4];
    for (int k = 0; k < 4; ++k) {
        low[k] = table(t.low[k]);
        high[k] = table(t.high[k]);
    }
    const __m256i nibble = _mm256_set1_epi8(0x0F), low_bytes = _mm256_set1_epi16(0x00FF);
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 32));
        const __m256i lo = _mm256_packus_epi16(_mm256_and_si256(a, low_bytes), _mm256_and_si256(b, low_bytes));
        const __m256i hi = _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
        const __m256i n0 = _mm256_and_si256(lo, nibble), n1 = _mm256_and_si256(_mm256_srli_epi16(lo, 4), nibble);
        const __m256i n2 = _mm256_and_si256(hi, nibble), n3 = _mm256_and_si256(_mm256_srli_epi16(hi, 4), nibble);
        const __m256i out_lo =
            _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(low[0], n0), _mm256_shuffle_epi8(low[1], n1)),
                             _mm256_xor_si256(_mm256_shuffle_epi8(low[2], n2), _mm256_shuffle_epi8(low[3], n3)));
        const __m256i out_hi =
            _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(high[0], n0), _mm256_shuffle_epi8(high[1], n1)),
                             _mm256_xor_si256(_mm256_shuffle_epi8(high[2], n2), _mm256_shuffle_epi8(high[3], n3)));
        __m256i r0 = _mm256_unpacklo_epi8(out_lo, out_hi), r1 = _mm256_unpackhi_epi8(out_lo, out_hi);
        if (Add) {
            r0 = _mm256_xor_si256(r0, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i)));
            r1 = _mm256_xor_si256(r1, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i + 32)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), r0);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i + 32), r1);
    }
    return i;
}

std::size_t mul_add(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return shuffle_region<true>(dst, src, bytes, t);
}
std::size_t mul(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return shuffle_region<false>(dst, src, bytes, t);
}

}  // namespace avx2
KESTRAV3_TARGET_POP

KESTRAV3_TARGET_PUSH("avx512f,avx512bw")
namespace avx512 {

// The 16 bytes at entries in every 128-bit lane (the masked form: GCC 12
// warns that the unmasked one reads an uninitialised value).
inline __m512i lanes_of(const void* entries) {
    return _mm512_maskz_broadcast_i32x4(static_cast<__mmask16>(0xFFFF),
                                        _mm_load_si128(static_cast<const __m128i*>(entries)));
}

// Three-way XOR in one instruction.
inline __m512i xor3(__m512i a, __m512i b, __m512i c) { return _mm512_ternarylogic_epi32(a, b, c, 0x96); }

template <bool Add>
std::size_t shuffle_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    __m512i low[4], high[4];
    for (int k = 0; k < 4; ++k) {
        low[k] = lanes_of(t.low[k]);
        high[k] = lanes_of(t.high[k]);
    }
    const __m512i nibble = _mm512_set1_epi8(0x0F), low_bytes = _mm512_set1_epi16(0x00FF);
    std::size_t i = 0;
    for (; i + 128 <= bytes; i += 128) {
        const __m512i a = _mm512_loadu_si512(src + i);
        const __m512i b = _mm512_loadu_si512(src + i + 64);
        const __m512i lo = _mm512_packus_epi16(_mm512_and_si512(a, low_bytes), _mm512_and_si512(b, low_bytes));
        const __m512i hi = _mm512_packus_epi16(_mm512_srli_epi16(a, 8), _mm512_srli_epi16(b, 8));
        const __m512i n0 = _mm512_and_si512(lo, nibble), n1 = _mm512_and_si512(_mm512_srli_epi16(lo, 4), nibble);
        const __m512i n2 = _mm512_and_si512(hi, nibble), n3 = _mm512_and_si512(_mm512_srli_epi16(hi, 4), nibble);
        const __m512i out_lo = _mm512_xor_si512(
            xor3(_mm512_shuffle_epi8(low[0], n0), _mm512_shuffle_epi8(low[1], n1), _mm512_shuffle_epi8(low[2], n2)),
            _mm512_shuffle_epi8(low[3], n3));
        const __m512i out_hi = _mm512_xor_si512(
            xor3(_mm512_shuffle_epi8(high[0], n0), _mm512_shuffle_epi8(high[1], n1), _mm512_shuffle_epi8(high[2], n2)),
            _mm512_shuffle_epi8(high[3], n3));
        __m512i r0 = _mm512_unpacklo_epi8(out_lo, out_hi), r1 = _mm512_unpackhi_epi8(out_lo, out_hi);
        if (Add) {
            r0 = _mm512_xor_si512(r0, _mm512_loadu_si512(dst + i));
            r1 = _mm512_xor_si512(r1, _mm512_loadu_si512(dst + i + 64));
        }
        _mm512_storeu_si512(dst + i, r0);
        _mm512_storeu_si512(dst + i + 64, r1);
    }
    return i;
}

std::size_t mul_add(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return shuffle_region<true>(dst, src, bytes, t);
}
std::size_t mul(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return shuffle_region<false>(dst, src, bytes, t);
}

}  // namespace avx512
KESTRAV3_TARGET_POP

// Within each 128-bit lane: the 8 low bytes, then the 8 high bytes.
alignas(16) constexpr std::uint8_t separate_bytes[16] = {0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15};

KESTRAV3_TARGET_PUSH("avx2,gfni")
namespace avx2_gfni {

template <bool Add>
std::size_t affine_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    const __m256i separate =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(separate_bytes)));
    const __m256i same = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t.same)));
    const __m256i cross = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(t.cross)));
    std::size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m256i x = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i)), separate);
        // p: low bytes' share of the low bytes | high bytes' share of the high bytes;
        // q: low bytes' share of the high bytes | high bytes' share of the low bytes.
        const __m256i p = _mm256_gf2p8affine_epi64_epi8(x, same, 0);
        const __m256i q = _mm256_gf2p8affine_epi64_epi8(x, cross, 0);
        __m256i r = _mm256_xor_si256(_mm256_unpacklo_epi8(p, q), _mm256_unpackhi_epi8(q, p));
        if (Add) r = _mm256_xor_si256(r, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), r);
    }
    return i;
}

std::size_t mul_add(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return affine_region<true>(dst, src, bytes, t);
}
std::size_t mul(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return affine_region<false>(dst, src, bytes, t);
}

}  // namespace avx2_gfni
KESTRAV3_TARGET_POP

KESTRAV3_TARGET_PUSH("avx512f,avx512bw,gfni")
namespace avx512_gfni {

template <bool Add>
std::size_t affine_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    const __m512i separate = avx512::lanes_of(separate_bytes);
    const __m512i same = avx512::lanes_of(t.same), cross = avx512::lanes_of(t.cross);
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m512i x = _mm512_shuffle_epi8(_mm512_loadu_si512(src + i), separate);
        const __m512i p = _mm512_gf2p8affine_epi64_epi8(x, same, 0);
        const __m512i q = _mm512_gf2p8affine_epi64_epi8(x, cross, 0);
        const __m512i lo = _mm512_unpacklo_epi8(p, q), hi = _mm512_unpackhi_epi8(q, p);
        const __m512i r =
            Add ? _mm512_ternarylogic_epi32(lo, hi, _mm512_loadu_si512(dst + i), 0x96) : _mm512_xor_si512(lo, hi);
        _mm512_storeu_si512(dst + i, r);
    }
    return i;
}

std::size_t mul_add(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return affine_region<true>(dst, src, bytes, t);
}
std::size_t mul(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, const FactorTables& t) {
    return affine_region<false>(dst, src, bytes, t);
}

}  // namespace avx512_gfni
KESTRAV3_TARGET_POP

}  // namespace
#endif

RegionKernels vector_kernels(platform::FastPath path) {
    using platform::FastPath;
    switch (path) {
#if defined(KESTRAV3_X86_VECTORS)
    case FastPath::ssse3: return {ssse3::mul_add, ssse3::mul};
    case FastPath::avx2: return {avx2::mul_add, avx2::mul};
    case FastPath::avx512: return {avx512::mul_add, avx512::mul};
    case FastPath::avx2_gfni: return {avx2_gfni::mul_add, avx2_gfni::mul};
    case FastPath::avx512_gfni: return {avx512_gfni::mul_add, avx512_gfni::mul};
#endif
    default: return {nullptr, nullptr};
    }
}

}  // namespace kestrav3::recovery
