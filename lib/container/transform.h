// The block transform: XOR with fresh noise, noise masked with the key
// matrix, bytes swapped in adjacent pairs.
#pragma once
#include <array>
#include <cstdint>

namespace kestrav3 {

constexpr int BLOCK_SIZE = 4096;

// 4096 bytes derived from the key; a chunk of n bytes uses the first n.
extern std::array<std::uint8_t, BLOCK_SIZE> kmatrix;
// The noise block: masked noise after coding, stored noise before decoding.
extern std::array<std::uint8_t, BLOCK_SIZE> vizard;

void gen_kmatrix(const char* key);
// Dense noise; -1 (data untouched) when that generator cannot seed itself.
int code_block(std::uint8_t* data, int n);
// Fast noise; always codes.
void code_block_fast(std::uint8_t* data, int n);
// As code_block_fast, with the first n fresh noise bytes made beforehand.
void code_block_with_noise(std::uint8_t* data, int n, const std::uint8_t* noise);
// code_block_with_noise followed by permut, in one pass over the chunk. The
// masked noise goes to masked_noise, which may be noise itself: a chunk
// coded in a batch keeps its own.
void code_and_swap_with_noise(std::uint8_t* data, int n, const std::uint8_t* noise,
                              std::uint8_t* masked_noise = vizard.data());
void decode_block(std::uint8_t* data, int n);
// permut followed by decode_block, in one pass over the chunk.
void swap_and_decode(std::uint8_t* data, int n);
// The same with the stored noise read from stored_noise; vizard is left as it is.
void swap_and_decode_with(std::uint8_t* data, int n, const std::uint8_t* stored_noise);
// Whether the two one-pass transforms above may use 64-byte AVX-512 steps
// (default true); returns whether they do from now on. Tests switch it off
// to run the narrow steps alone.
bool set_wide_transforms(bool enabled);
// Swaps bytes 0<->1, 2<->3, ...; an odd last byte stays. Its own inverse.
int permut(std::uint8_t* data, int n);

}  // namespace kestrav3
