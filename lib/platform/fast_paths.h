// The one way to choose how an accelerated unit computes its result. Every
// path of a unit gives the same bytes; they differ only in speed. The
// processor's features and the C library decide which paths are possible;
// tests and benchmarks pin a path to check or time each one.
#pragma once

// Vector kernels for x86-64 are compiled where the compiler offers the
// instruction-set attributes; elsewhere only the reference paths exist.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KESTRAV3_X86_VECTORS 1
#endif

namespace kestrav3::platform {

// The units that have more than one path.
enum class FastUnit {
    md5_lanes,    // MD5 of several blocks or short texts side by side
    fast_noise,   // the 48-bit congruential noise chains
    transforms,   // the one-pass coding and decoding of a chunk
    first_rand,   // the C library's first rand() after srand(seed)
    gf16_region,  // GF(2^16) products of a region of recovery data by a constant
    crc32,        // CRC-32 of the slices of recovery data
};

enum class FastPath {
    automatic,    // the fastest possible path, chosen per call and batch size
    reference,    // the plain code: no processor-specific instructions, no shortcuts
    sse2,         // 128-bit vectors (every x86-64 processor)
    avx2,         // 256-bit vectors
    avx512_128,   // AVX-512 instructions on 128-bit vectors
    avx512_256,   // AVX-512 instructions on 256-bit vectors
    avx512,       // AVX-512 on 512-bit vectors
    avx512_ifma,  // 512-bit vectors with the 52-bit multiply-add and byte compression
    ssse3,        // 128-bit vectors with the byte shuffle
    avx2_gfni,    // 256-bit vectors with the GF(2^8) affine transform
    avx512_gfni,  // 512-bit vectors with the GF(2^8) affine transform
    pclmul,       // 128-bit carry-less multiplies
};

// Whether the unit has the path, this build compiled it and this processor
// and C library can run it. automatic and reference always are.
bool path_possible(FastUnit unit, FastPath path);

// Pins the path the unit takes from now on; false (and no change) when the
// path is not possible. automatic undoes a pin.
bool choose_path(FastUnit unit, FastPath path);

// The path chosen for the unit: automatic unless one was pinned.
FastPath chosen_path(FastUnit unit);

}  // namespace kestrav3::platform
