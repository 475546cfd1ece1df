// Side-by-side MD5 of independent 4096-byte blocks: each vector lane carries
// one block's chaining state, so 4, 8 or 16 blocks cost about what one costs
// in the plain code. Every path is compiled for its own instruction set and
// picked at run time; the plain one-block code stays the fallback.
#include "md5/md5_lanes.h"

#include "md5/md5_rounds.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/fast_paths.h"
#include "platform/target_isa.h"

#if defined(KESTRAV3_X86_VECTORS)
#include <immintrin.h>

#endif

namespace kestrav3 {

using platform::FastPath;
using platform::FastUnit;

#if defined(KESTRAV3_X86_VECTORS)
namespace {

// 4x4 transpose: r[j] holds words 4q..4q+3 of lane j (per 128-bit half);
// afterwards x[i] holds word 4q+i of every lane.
#define KESTRAV3_TRANSPOSE4(P, r, x)                    \
    do {                                                \
        const auto t0 = P##_unpacklo_epi32(r[0], r[1]); \
        const auto t1 = P##_unpacklo_epi32(r[2], r[3]); \
        const auto t2 = P##_unpackhi_epi32(r[0], r[1]); \
        const auto t3 = P##_unpackhi_epi32(r[2], r[3]); \
        (x)[0] = P##_unpacklo_epi64(t0, t1);            \
        (x)[1] = P##_unpackhi_epi64(t0, t1);            \
        (x)[2] = P##_unpacklo_epi64(t2, t3);            \
        (x)[3] = P##_unpackhi_epi64(t2, t3);            \
    } while (0)

namespace sse2 {
using V = __m128i;
constexpr int kLanes = 4;
inline V set1(std::uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }
inline V add(V a, V b) { return _mm_add_epi32(a, b); }
inline V round_f(V b, V c, V d) { return _mm_xor_si128(d, _mm_and_si128(b, _mm_xor_si128(c, d))); }
inline V round_g(V b, V c, V d) { return _mm_or_si128(_mm_and_si128(d, b), _mm_andnot_si128(d, c)); }
inline V round_h(V b, V c, V d) { return _mm_xor_si128(_mm_xor_si128(b, c), d); }
inline V round_i(V b, V c, V d) { return _mm_xor_si128(c, _mm_or_si128(b, _mm_xor_si128(d, _mm_set1_epi32(-1)))); }
template <int S>
inline V rotl(V v) {
    return _mm_or_si128(_mm_slli_epi32(v, S), _mm_srli_epi32(v, 32 - S));
}
inline void load_chunk(const std::uint8_t* const p[], std::size_t offset, V* x) {
    for (std::size_t q = 0; q < 4; ++q) {
        V r[4];
        for (int j = 0; j < 4; ++j) r[j] = _mm_loadu_si128(reinterpret_cast<const V*>(p[j] + offset + 16 * q));
        KESTRAV3_TRANSPOSE4(_mm, r, x + 4 * q);
    }
}
inline void store_lanes(std::uint32_t* out, V v) { _mm_store_si128(reinterpret_cast<V*>(out), v); }
#include "md5/md5_lanes_kernel.h"
}  // namespace sse2

KESTRAV3_TARGET_PUSH("avx2")
namespace avx2 {
using V = __m256i;
constexpr int kLanes = 8;
inline V set1(std::uint32_t w) { return _mm256_set1_epi32(static_cast<int>(w)); }
inline V add(V a, V b) { return _mm256_add_epi32(a, b); }
inline V round_f(V b, V c, V d) { return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d))); }
inline V round_g(V b, V c, V d) { return _mm256_or_si256(_mm256_and_si256(d, b), _mm256_andnot_si256(d, c)); }
inline V round_h(V b, V c, V d) { return _mm256_xor_si256(_mm256_xor_si256(b, c), d); }
inline V round_i(V b, V c, V d) {
    return _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
}
template <int S>
inline V rotl(V v) {
    return _mm256_or_si256(_mm256_slli_epi32(v, S), _mm256_srli_epi32(v, 32 - S));
}
// Lanes j and j + 4 share one register pair of 128-bit halves, so the 4x4
// transpose within each half yields all 8 lanes in order.
inline void load_chunk(const std::uint8_t* const p[], std::size_t offset, V* x) {
    for (std::size_t q = 0; q < 4; ++q) {
        V r[4];
        for (int j = 0; j < 4; ++j) {
            const auto lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[j] + offset + 16 * q));
            const auto hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[j + 4] + offset + 16 * q));
            r[j] = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
        }
        KESTRAV3_TRANSPOSE4(_mm256, r, x + 4 * q);
    }
}
inline void store_lanes(std::uint32_t* out, V v) { _mm256_store_si256(reinterpret_cast<V*>(out), v); }
#include "md5/md5_lanes_kernel.h"
}  // namespace avx2
KESTRAV3_TARGET_POP

// Ternary-logic truth tables with b, c, d as the operands 0xf0, 0xcc, 0xaa.
constexpr int kTernF = 0xca;  // (b & c) | (~b & d)
constexpr int kTernG = 0xe4;  // (b & d) | (c & ~d)
constexpr int kTernH = 0x96;  // b ^ c ^ d
constexpr int kTernI = 0x39;  // c ^ (b | ~d)

KESTRAV3_TARGET_PUSH("avx2,avx512f,avx512vl")
namespace avx512_x4 {
using V = __m128i;
constexpr int kLanes = 4;
inline V set1(std::uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }
inline V add(V a, V b) { return _mm_add_epi32(a, b); }
inline V round_f(V b, V c, V d) { return _mm_ternarylogic_epi32(b, c, d, kTernF); }
inline V round_g(V b, V c, V d) { return _mm_ternarylogic_epi32(b, c, d, kTernG); }
inline V round_h(V b, V c, V d) { return _mm_ternarylogic_epi32(b, c, d, kTernH); }
inline V round_i(V b, V c, V d) { return _mm_ternarylogic_epi32(b, c, d, kTernI); }
template <int S>
inline V rotl(V v) {
    return _mm_rol_epi32(v, S);
}
using sse2::load_chunk;
using sse2::store_lanes;
#include "md5/md5_lanes_kernel.h"
}  // namespace avx512_x4

namespace avx512_x8 {
using V = __m256i;
constexpr int kLanes = 8;
inline V set1(std::uint32_t w) { return _mm256_set1_epi32(static_cast<int>(w)); }
inline V add(V a, V b) { return _mm256_add_epi32(a, b); }
inline V round_f(V b, V c, V d) { return _mm256_ternarylogic_epi32(b, c, d, kTernF); }
inline V round_g(V b, V c, V d) { return _mm256_ternarylogic_epi32(b, c, d, kTernG); }
inline V round_h(V b, V c, V d) { return _mm256_ternarylogic_epi32(b, c, d, kTernH); }
inline V round_i(V b, V c, V d) { return _mm256_ternarylogic_epi32(b, c, d, kTernI); }
template <int S>
inline V rotl(V v) {
    return _mm256_rol_epi32(v, S);
}
using avx2::load_chunk;
using avx2::store_lanes;
#include "md5/md5_lanes_kernel.h"
}  // namespace avx512_x8
KESTRAV3_TARGET_POP

KESTRAV3_TARGET_PUSH("avx2,avx512f,avx512vl")
// GCC 12 takes the deliberately undefined pass-through operand of the
// 512-bit unpacks and inserts for an uninitialised read once inlined here.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
namespace avx512_x16 {
using V = __m512i;
constexpr int kLanes = 16;
inline V set1(std::uint32_t w) { return _mm512_set1_epi32(static_cast<int>(w)); }
inline V add(V a, V b) { return _mm512_add_epi32(a, b); }
inline V round_f(V b, V c, V d) { return _mm512_ternarylogic_epi32(b, c, d, kTernF); }
inline V round_g(V b, V c, V d) { return _mm512_ternarylogic_epi32(b, c, d, kTernG); }
inline V round_h(V b, V c, V d) { return _mm512_ternarylogic_epi32(b, c, d, kTernH); }
inline V round_i(V b, V c, V d) { return _mm512_ternarylogic_epi32(b, c, d, kTernI); }
template <int S>
inline V rotl(V v) {
    return _mm512_rol_epi32(v, S);
}
// Quarter k of register j holds lane 4k + j, so the 4x4 transpose within
// each 128-bit quarter yields all 16 lanes in order.
inline void load_chunk(const std::uint8_t* const p[], std::size_t offset, V* x) {
    for (std::size_t q = 0; q < 4; ++q) {
        V r[4];
        for (int j = 0; j < 4; ++j) {
            const auto part = [&](int k) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[4 * k + j] + offset + 16 * q));
            };
            const __m256i low = _mm256_inserti128_si256(_mm256_castsi128_si256(part(0)), part(1), 1);
            const __m256i high = _mm256_inserti128_si256(_mm256_castsi128_si256(part(2)), part(3), 1);
            r[j] = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
        }
        KESTRAV3_TRANSPOSE4(_mm512, r, x + 4 * q);
    }
}
inline void store_lanes(std::uint32_t* out, V v) { _mm512_store_si512(out, v); }
#include "md5/md5_lanes_kernel.h"
}  // namespace avx512_x16
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
KESTRAV3_TARGET_POP

#undef KESTRAV3_TRANSPOSE4

using GroupFn = void (*)(const std::uint8_t* const[], std::uint32_t[][4]);
using MessagesFn = void (*)(const std::uint8_t* const[], std::size_t, std::uint32_t[][4]);

struct Kernel {
    GroupFn hash;           // 4096-byte blocks
    GroupFn hash_chunk;     // single padded chunks
    MessagesFn hash_equal;  // messages of one length
    int lanes;
};

Kernel kernel_of(FastPath path) {
    switch (path) {
    case FastPath::sse2: return {sse2::hash_group, sse2::hash_chunk, sse2::hash_messages, 4};
    case FastPath::avx2: return {avx2::hash_group, avx2::hash_chunk, avx2::hash_messages, 8};
    case FastPath::avx512_128: return {avx512_x4::hash_group, avx512_x4::hash_chunk, avx512_x4::hash_messages, 4};
    case FastPath::avx512_256: return {avx512_x8::hash_group, avx512_x8::hash_chunk, avx512_x8::hash_messages, 8};
    case FastPath::avx512: return {avx512_x16::hash_group, avx512_x16::hash_chunk, avx512_x16::hash_messages, 16};
    default: return {nullptr, nullptr, nullptr, 0};
    }
}

bool cpu_has(FastPath path) { return platform::path_possible(FastUnit::md5_lanes, path); }

// Fastest kernel for a batch of count blocks: one step of the chain costs
// about the same at any width, so the narrowest width that holds the batch
// wins.
Kernel best_kernel(int count) {
    static const Kernel best4 = kernel_of(cpu_has(FastPath::avx512_128) ? FastPath::avx512_128 : FastPath::sse2);
    static const Kernel best8 = cpu_has(FastPath::avx512_256) ? kernel_of(FastPath::avx512_256)
                                : cpu_has(FastPath::avx2)     ? kernel_of(FastPath::avx2)
                                                              : best4;
    static const Kernel best16 = cpu_has(FastPath::avx512) ? kernel_of(FastPath::avx512) : best8;
    return count <= 4 ? best4 : count <= 8 ? best8 : best16;
}

// Groups of lanes inputs; lanes past the end repeat the group's first input
// and their words are dropped.
void hash_in_groups(GroupFn hash, int lanes, const std::uint8_t* const inputs[], int count, std::uint32_t words[][4]) {
    for (int first = 0; first < count; first += lanes) {
        const std::uint8_t* lane_inputs[16];
        std::uint32_t lane_words[16][4];
        for (int l = 0; l < lanes; ++l) lane_inputs[l] = first + l < count ? inputs[first + l] : inputs[first];
        hash(lane_inputs, lane_words);
        for (int l = 0; l < lanes && first + l < count; ++l)
            for (int r = 0; r < 4; ++r) words[first + l][r] = lane_words[l][r];
    }
}

Kernel chosen_kernel(FastPath path, int count) {
    return path == FastPath::automatic ? best_kernel(count) : kernel_of(path);
}

}  // namespace

int md5_lanes_words(const std::uint8_t* const blocks[], int count, std::uint32_t words[][4]) {
    const FastPath path = platform::chosen_path(FastUnit::md5_lanes);
    if (path == FastPath::reference || count < 1) return -1;
    const Kernel k = chosen_kernel(path, count);
    hash_in_groups(k.hash, k.lanes, blocks, count, words);
    return 0;
}

int md5_lanes_chunk_words(const std::uint8_t* const chunks[], int count, std::uint32_t words[][4]) {
    const FastPath path = platform::chosen_path(FastUnit::md5_lanes);
    if (path == FastPath::reference || count < 1) return -1;
    const Kernel k = chosen_kernel(path, count);
    hash_in_groups(k.hash_chunk, k.lanes, chunks, count, words);
    return 0;
}

int md5_lanes_message_words(const std::uint8_t* const messages[], int count, std::size_t length,
                            std::uint32_t words[][4]) {
    const FastPath path = platform::chosen_path(FastUnit::md5_lanes);
    if (path == FastPath::reference || count < 1) return -1;
    const Kernel k = chosen_kernel(path, count);
    for (int first = 0; first < count; first += k.lanes) {
        const std::uint8_t* lane_inputs[16];
        std::uint32_t lane_words[16][4];
        for (int l = 0; l < k.lanes; ++l) lane_inputs[l] = first + l < count ? messages[first + l] : messages[first];
        k.hash_equal(lane_inputs, length, lane_words);
        for (int l = 0; l < k.lanes && first + l < count; ++l)
            for (int r = 0; r < 4; ++r) words[first + l][r] = lane_words[l][r];
    }
    return 0;
}

#else  // no vector paths in this build

int md5_lanes_words(const std::uint8_t* const[], int, std::uint32_t[][4]) { return -1; }
int md5_lanes_chunk_words(const std::uint8_t* const[], int, std::uint32_t[][4]) { return -1; }
int md5_lanes_message_words(const std::uint8_t* const[], int, std::size_t, std::uint32_t[][4]) { return -1; }

#endif

}  // namespace kestrav3
