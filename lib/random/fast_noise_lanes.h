// Up to 32 fast-noise chains advanced side by side in vector lanes.
#pragma once
#include <cstdint>

namespace kestrav3::noise_lanes {

constexpr int chains = 32;
// The first draw whose whole state is kept: a pass uses at least 2048 draws,
// so its last used draw lies at or after 2047, inside the last kept groups.
constexpr int kept_from = 2040;
constexpr int max_groups = (2048 + 64) / 8;  // groups of eight draws

// Draw d of chain c: its low byte is bytes[c][d] (the bytes of each chain
// in order, written eight at a time); for d >= kept_from its state is
// kept[d - kept_from][c]. Each kernel runs at least `used` of the chains
// from start[c] for 8 * groups draws.
using Bytes = std::uint64_t[max_groups];
using States = std::int64_t[chains];

// out[2i] = even[i], out[2i + 1] = odd[i] for i < n.
void interleave(const std::uint8_t* even, const std::uint8_t* odd, int n, std::uint8_t* out);

// The kernels below run only where platform::path_possible allows their
// path for platform::FastUnit::fast_noise. AVX-512 with the 52-bit
// multiply-add (IFMA) and double shifts (VBMI2):
void advance_avx512_ifma(const std::int64_t* start, int used, int groups, Bytes* bytes, States* kept);
// With the same features: copies the nonzero bytes among the first
// `available` draws to out until it has `want` of them; returns how many it
// copied and sets *used to the number of draws read (up to and including
// the last byte copied when it reached want).
int compact_nonzero(const std::uint8_t* draws, int available, int want, std::uint8_t* out, int* used);
void advance_avx512(const std::int64_t* start, int used, int groups, Bytes* bytes, States* kept);
void advance_avx2(const std::int64_t* start, int used, int groups, Bytes* bytes, States* kept);

}  // namespace kestrav3::noise_lanes
