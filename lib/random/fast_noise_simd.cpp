#include "random/fast_noise_lanes.h"

#include "platform/fast_paths.h"

#if defined(KESTRAV3_X86_VECTORS)
#include <immintrin.h>

#include <algorithm>
#include <type_traits>

// GCC 12 takes the deliberately undefined pass-through operand of the
// immediate shifts for an uninitialised read once they are inlined here.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define KESTRAV3_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#define KESTRAV3_AVX2 __attribute__((target("avx2")))

namespace kestrav3::noise_lanes {

namespace {

constexpr long long modulus = (1LL << 48) - 1;
constexpr long long multiplier = 25214903917LL;

// One step of eight chains: t = s * multiplier + 11 wrapping, then the
// truncating remainder by 2^48 - 1. With hi the signed top 16 bits of t and
// lo the low 48, v = hi + lo is congruent to t; m comes off when v >= m for
// t >= 0 and when v >= 1 for t < 0, so the result keeps the sign of t.
KESTRAV3_AVX512 inline __m512i step8(__m512i s) {
    const __m512i m = _mm512_set1_epi64(modulus);
    const __m512i t = _mm512_add_epi64(_mm512_mullo_epi64(s, _mm512_set1_epi64(multiplier)), _mm512_set1_epi64(11));
    const __m512i v = _mm512_add_epi64(_mm512_srai_epi64(t, 48), _mm512_and_si512(t, m));
    // The sign is tested with a compare, which runs beside the shifts and
    // multiplies instead of queueing behind them for the same unit.
    const __m512i threshold =
        _mm512_mask_blend_epi64(_mm512_cmplt_epi64_mask(t, _mm512_setzero_si512()), m, _mm512_set1_epi64(1));
    return _mm512_mask_sub_epi64(v, _mm512_cmpge_epi64_mask(v, threshold), v, m);
}

// Each lane's eight bytes of group g go to its own chain's row, for the
// eight chains from first; the steps leave enough idle time for the scatter.
KESTRAV3_AVX512 inline void scatter_group(Bytes* first, int g, __m512i bytes_of_lanes) {
    const __m512i rows = _mm512_mullo_epi64(_mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0), _mm512_set1_epi64(max_groups));
    _mm512_i64scatter_epi64(first[0] + g, rows, bytes_of_lanes, 8);
}

// Eight draws of NV vectors of chains; the low bytes gather in acc, first
// draw in byte 0. Keep also stores every state.
template <int NV, bool Keep>
KESTRAV3_AVX512 inline void group8(__m512i (&s)[NV], Bytes* bytes, int g, States* kept) {
    __m512i acc[NV];
    for (int v = 0; v < NV; ++v) acc[v] = _mm512_setzero_si512();
        // Fully unrolled, so that the states and bytes stay in registers.
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
#pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) {
            s[v] = step8(s[v]);
            acc[v] = _mm512_or_si512(_mm512_srli_epi64(acc[v], 8), _mm512_slli_epi64(s[v], 56));
            if (Keep) _mm512_storeu_si512(kept[u] + 8 * v, s[v]);
        }
    }
    for (int v = 0; v < NV; ++v) scatter_group(bytes + 8 * v, g, acc[v]);
}

template <int NV>
KESTRAV3_AVX512 void run512(const std::int64_t* start, int groups, Bytes* bytes, States* kept) {
    __m512i s[NV];
    for (int v = 0; v < NV; ++v) s[v] = _mm512_loadu_si512(start + 8 * v);
    constexpr int first_kept = kept_from / 8;
    int g = 0;
    for (; g < groups && g < first_kept; ++g) group8<NV, false>(s, bytes, g, nullptr);
    for (; g < groups; ++g) group8<NV, true>(s, bytes, g, kept + 8 * (g - first_kept));
}

// With IFMA the multiplication takes two 52-bit halves instead of a slow
// 64-bit product. The states run offset by 2^48, s' = s + 2^48, so they are
// never negative and fit 52 bits: s' * multiplier = lo + hi * 2^52 gives
// t = s * multiplier + 11 = lo + (hi << 52) + (11 - 2^48 * multiplier), all
// modulo 2^64. The remainder is formed as in step8, with the offset put
// back by OR-ing 2^48 into the low 48 bits and by raising the thresholds.
constexpr long long offset = 1LL << 48;
constexpr long long offset_term = static_cast<long long>(11ULL - static_cast<unsigned long long>(offset) *
                                                                     static_cast<unsigned long long>(multiplier));

#define KESTRAV3_AVX512_IFMA __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,avx512ifma,avx512vbmi2")))

KESTRAV3_AVX512_IFMA inline __m512i step8_offset(__m512i s) {
    const __m512i m = _mm512_set1_epi64(modulus);
    const __m512i mult = _mm512_set1_epi64(multiplier);
    const __m512i lo = _mm512_madd52lo_epu64(_mm512_set1_epi64(offset_term), s, mult);
    const __m512i hi = _mm512_madd52hi_epu64(_mm512_setzero_si512(), s, mult);
    const __m512i t = _mm512_add_epi64(lo, _mm512_slli_epi64(hi, 52));
    // (t & m) | 2^48 in one instruction: A & B | C is the table 0xEA.
    const __m512i low = _mm512_ternarylogic_epi64(t, m, _mm512_set1_epi64(offset), 0xEA);
    const __m512i v = _mm512_add_epi64(_mm512_srai_epi64(t, 48), low);
    const __m512i threshold =
        _mm512_mask_blend_epi64(_mm512_cmplt_epi64_mask(t, _mm512_setzero_si512()), _mm512_set1_epi64(modulus + offset),
                                _mm512_set1_epi64(1 + offset));
    return _mm512_mask_sub_epi64(v, _mm512_cmpge_epi64_mask(v, threshold), v, m);
}

// As group8, on offset states; the very first draw from the start states,
// which may be any 64-bit values, takes the general step.
template <int NV, bool Keep, bool First>
KESTRAV3_AVX512_IFMA inline void group8_ifma(__m512i (&s)[NV], Bytes* bytes, int g, States* kept) {
    __m512i acc[NV];
    for (int v = 0; v < NV; ++v) acc[v] = _mm512_setzero_si512();
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
#pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) {
            if (First && u == 0)
                s[v] = _mm512_add_epi64(step8(s[v]), _mm512_set1_epi64(offset));
            else
                s[v] = step8_offset(s[v]);
            // The offset has a zero low byte, so the byte drawn is unchanged.
            acc[v] = _mm512_shrdi_epi64(acc[v], s[v], 8);
            if (Keep) _mm512_storeu_si512(kept[u] + 8 * v, _mm512_sub_epi64(s[v], _mm512_set1_epi64(offset)));
        }
    }
    for (int v = 0; v < NV; ++v) scatter_group(bytes + 8 * v, g, acc[v]);
}

template <int NV>
KESTRAV3_AVX512_IFMA void run512_ifma(const std::int64_t* start, int groups, Bytes* bytes, States* kept) {
    __m512i s[NV];
    for (int v = 0; v < NV; ++v) s[v] = _mm512_loadu_si512(start + 8 * v);
    constexpr int first_kept = kept_from / 8;
    static_assert(first_kept > 0, "the first group is never kept");
    int g = 0;
    if (groups > 0) group8_ifma<NV, false, true>(s, bytes, g++, nullptr);
    for (; g < groups && g < first_kept; ++g) group8_ifma<NV, false, false>(s, bytes, g, nullptr);
    for (; g < groups; ++g) group8_ifma<NV, true, false>(s, bytes, g, kept + 8 * (g - first_kept));
}

// The same step on four chains with AVX2: the low 64 bits of the product
// from 32-bit halves (the multiplier's high half is 5), and the arithmetic
// shift by 48 put together from 32-bit shifts.
KESTRAV3_AVX2 inline __m256i step4(__m256i s) {
    const __m256i m = _mm256_set1_epi64x(modulus);
    const __m256i low_mult = _mm256_set1_epi64x(multiplier & 0xFFFFFFFF);
    const __m256i cross = _mm256_add_epi64(_mm256_mul_epu32(_mm256_srli_epi64(s, 32), low_mult),
                                           _mm256_add_epi64(_mm256_slli_epi64(s, 2), s));
    const __m256i t = _mm256_add_epi64(_mm256_add_epi64(_mm256_mul_epu32(s, low_mult), _mm256_set1_epi64x(11)),
                                       _mm256_slli_epi64(cross, 32));
    const __m256i sign = _mm256_shuffle_epi32(_mm256_srai_epi32(t, 31), _MM_SHUFFLE(3, 3, 1, 1));
    const __m256i top = _mm256_shuffle_epi32(_mm256_srai_epi32(t, 16), _MM_SHUFFLE(3, 3, 1, 1));
    const __m256i hi = _mm256_blend_epi32(top, sign, 0xAA);
    const __m256i v = _mm256_add_epi64(hi, _mm256_and_si256(t, m));
    const __m256i threshold = _mm256_xor_si256(m, _mm256_and_si256(sign, _mm256_set1_epi64x(modulus ^ 1)));
    const __m256i below = _mm256_cmpgt_epi64(threshold, v);
    return _mm256_sub_epi64(v, _mm256_andnot_si256(below, m));
}

// Chains first .. first + 4 * NV - 1.
template <int NV, bool Keep>
KESTRAV3_AVX2 inline void group4(__m256i (&s)[NV], int first, Bytes* bytes, int g, States* kept) {
    __m256i acc[NV];
    for (int v = 0; v < NV; ++v) acc[v] = _mm256_setzero_si256();
        // Fully unrolled, so that the states and bytes stay in registers.
#pragma GCC unroll 8
    for (int u = 0; u < 8; ++u) {
#pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) {
            s[v] = step4(s[v]);
            acc[v] = _mm256_or_si256(_mm256_srli_epi64(acc[v], 8), _mm256_slli_epi64(s[v], 56));
            if (Keep) _mm256_storeu_si256(reinterpret_cast<__m256i*>(kept[u] + first + 4 * v), s[v]);
        }
    }
    for (int v = 0; v < NV; ++v) {
        alignas(32) std::uint64_t lane[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lane), acc[v]);
        for (int l = 0; l < 4; ++l) bytes[first + 4 * v + l][g] = lane[l];
    }
}

template <int NV>
KESTRAV3_AVX2 void run256(const std::int64_t* start, int first, int groups, Bytes* bytes, States* kept) {
    __m256i s[NV];
    for (int v = 0; v < NV; ++v) s[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(start + first + 4 * v));
    constexpr int first_kept = kept_from / 8;
    int g = 0;
    for (; g < groups && g < first_kept; ++g) group4<NV, false>(s, first, bytes, g, nullptr);
    for (; g < groups; ++g) group4<NV, true>(s, first, bytes, g, kept + 8 * (g - first_kept));
}

// Calls run with the number of vectors (1 to 4, as a constant) that holds
// the given number of chains at the given chains per vector.
template <class Run>
void with_vectors(int chains_used, int per_vector, Run run) {
    switch ((chains_used + per_vector - 1) / per_vector) {
    case 0:
    case 1: run(std::integral_constant<int, 1>{}); break;
    case 2: run(std::integral_constant<int, 2>{}); break;
    case 3: run(std::integral_constant<int, 3>{}); break;
    default: run(std::integral_constant<int, 4>{}); break;
    }
}

}  // namespace

void interleave(const std::uint8_t* even, const std::uint8_t* odd, int n, std::uint8_t* out) {
    int i = 0;
    for (; i + 16 <= n; i += 16) {  // SSE2 is part of every x86-64 processor
        const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(even + i));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(odd + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(e, o));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(e, o));
    }
    for (; i < n; ++i) {
        out[2 * i] = even[i];
        out[2 * i + 1] = odd[i];
    }
}

__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi2,popcnt"))) int compact_nonzero(const std::uint8_t* draws,
                                                                                        int available, int want,
                                                                                        std::uint8_t* out, int* used) {
    int n = 0, d = 0;
    while (n < want && d < available) {
        const int chunk = std::min(64, available - d);
        const __mmask64 valid = chunk == 64 ? ~0ULL : (1ULL << chunk) - 1;
        const __m512i v = _mm512_maskz_loadu_epi8(valid, draws + d);
        const __mmask64 nonzero = _mm512_test_epi8_mask(v, v);
        const int count = __builtin_popcountll(nonzero);
        if (n + count >= want) {
            // Only up to the (want - n)th nonzero byte of this chunk is used.
            const int k = want - n;
            const std::uint64_t last = _pdep_u64(1ULL << (k - 1), nonzero);
            const __mmask64 taken = nonzero & (last | (last - 1));
            _mm512_mask_storeu_epi8(out + n, k == 64 ? ~0ULL : (1ULL << k) - 1, _mm512_maskz_compress_epi8(taken, v));
            *used = d + __builtin_ctzll(last) + 1;
            return want;
        }
        _mm512_mask_storeu_epi8(out + n, count == 64 ? ~0ULL : (1ULL << count) - 1,
                                _mm512_maskz_compress_epi8(nonzero, v));
        n += count;
        d += chunk;
    }
    *used = d;
    return n;
}

void advance_avx512_ifma(const std::int64_t* start, int used, int groups, Bytes* bytes, States* kept) {
    with_vectors(used, 8, [&](auto nv) { run512_ifma<decltype(nv)::value>(start, groups, bytes, kept); });
}

static_assert(chains % 8 == 0 && chains <= 32, "the kernels below run up to four vectors of eight chains");

void advance_avx512(const std::int64_t* start, int used, int groups, Bytes* bytes, States* kept) {
    with_vectors(used, 8, [&](auto nv) { run512<decltype(nv)::value>(start, groups, bytes, kept); });
}

void advance_avx2(const std::int64_t* start, int used, int groups, Bytes* bytes, States* kept) {
    // Past four vectors the states and bytes no longer fit the sixteen
    // registers, so the chains are run in sets of sixteen.
    for (int first = 0; first < std::max(used, 1); first += 16)
        with_vectors(std::min(used, first + 16) - first, 4,
                     [&](auto nv) { run256<decltype(nv)::value>(start, first, groups, bytes, kept); });
}

}  // namespace kestrav3::noise_lanes

#pragma GCC diagnostic pop

#else  // no vector kernels on this target: the callers stay with the scalar path

namespace kestrav3::noise_lanes {

void interleave(const std::uint8_t* even, const std::uint8_t* odd, int n, std::uint8_t* out) {
    for (int i = 0; i < n; ++i) {
        out[2 * i] = even[i];
        out[2 * i + 1] = odd[i];
    }
}

int compact_nonzero(const std::uint8_t*, int, int, std::uint8_t*, int* used) {
    *used = 0;
    return 0;
}
void advance_avx512_ifma(const std::int64_t*, int, int, Bytes*, States*) {}
void advance_avx512(const std::int64_t*, int, int, Bytes*, States*) {}
void advance_avx2(const std::int64_t*, int, int, Bytes*, States*) {}

}  // namespace kestrav3::noise_lanes

#endif
