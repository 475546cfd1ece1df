// MD5 of several independent 4096-byte blocks at once, one block per vector
// lane. The path is chosen from the processor's features on first use; tests
// and benchmarks may pin one path so that every path is checked on any
// machine that has it.
#pragma once
#include <cstdint>

namespace kestrav3 {

enum class Md5LanesPath {
  automatic,  // best path for each batch size on this processor
  scalar,     // one block after another, no vectors
  sse2,       // 4 lanes in 128-bit vectors
  avx2,       // 8 lanes in 256-bit vectors
  avx512_x4,  // 4 lanes in 128-bit vectors with ternary logic and rotates
  avx512_x8,  // 8 lanes in 256-bit vectors with ternary logic and rotates
  avx512_x16, // 16 lanes in 512-bit vectors with ternary logic and rotates
};

// Whether this processor (and build) can run the path.
bool md5_lanes_supported(Md5LanesPath path);

// Pins the path used by md5_blocks. Returns 0, or -1 and keeps the current
// path when the processor lacks it.
int set_md5_lanes_path(Md5LanesPath path);

Md5LanesPath md5_lanes_path();

// Digest words A..D of count (1 or more) 4096-byte blocks by the current path.
// Returns 0, or -1 when the blocks are to be hashed one by one instead.
int md5_lanes_words(const std::uint8_t* const blocks[], int count, std::uint32_t words[][4]);

// The same for count messages of at most 55 bytes, each given as its single
// 64-byte chunk with the padding already in place.
int md5_lanes_chunk_words(const std::uint8_t* const chunks[], int count, std::uint32_t words[][4]);

}  // namespace kestrav3
