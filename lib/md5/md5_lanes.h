// MD5 of several independent 4096-byte blocks at once, one block per vector
// lane. The path (platform::FastUnit::md5_lanes) is chosen from the
// processor's features per batch size; tests and benchmarks may pin one so
// that every path is checked on any machine that has it:
//   reference   one block after another, no vectors
//   sse2        4 lanes in 128-bit vectors
//   avx2        8 lanes in 256-bit vectors
//   avx512_128  4 lanes in 128-bit vectors with ternary logic and rotates
//   avx512_256  8 lanes in 256-bit vectors with ternary logic and rotates
//   avx512      16 lanes in 512-bit vectors with ternary logic and rotates
#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrav3 {

// Digest words A..D of count (1 or more) 4096-byte blocks by the current path.
// Returns 0, or -1 when the blocks are to be hashed one by one instead.
int md5_lanes_words(const std::uint8_t* const blocks[], int count, std::uint32_t words[][4]);

// The same for count messages of at most 55 bytes, each given as its single
// 64-byte chunk with the padding already in place.
int md5_lanes_chunk_words(const std::uint8_t* const chunks[], int count, std::uint32_t words[][4]);

// The same for count messages of length bytes each (any length, the same
// for all).
int md5_lanes_message_words(const std::uint8_t* const messages[], int count, std::size_t length,
                            std::uint32_t words[][4]);

}  // namespace kestrav3
