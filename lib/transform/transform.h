// The block transform: XOR with fresh noise, noise masked with the key
// matrix, bytes swapped in adjacent pairs.
#pragma once
#include <cstdint>

#include "shared/buffers.h"

namespace kestrav3 {

void gen_kmatrix(const char* key);
// Dense noise; -1 (data untouched) when that generator cannot seed itself.
int code_block(std::uint8_t* data, int n);
// Fast noise; always codes.
void code_block_fast(std::uint8_t* data, int n);
// Codes a chunk with the first n fresh noise bytes made beforehand (data ^=
// noise, masked noise = noise ^ kmatrix), then swaps its pairs as permut
// does, in one pass over the chunk. The masked noise goes to masked_noise,
// which may be noise itself: a chunk coded in a batch keeps its own.
void code_and_swap_with_noise(std::uint8_t* data, int n, const std::uint8_t* noise,
                              std::uint8_t* masked_noise = vizard.data());
// Decodes a chunk whose stored (masked) noise is in vizard: permut, then
// vizard ^= kmatrix and data ^= vizard, in one pass over the chunk.
void swap_and_decode(std::uint8_t* data, int n);
// The same with the stored noise read from stored_noise; vizard is left as it is.
// The two one-pass transforms take 64-byte AVX-512 steps on the avx512 path
// of platform::FastUnit::transforms (chosen automatically where the
// processor has it) and only the narrow steps on the reference path.
void swap_and_decode_with(std::uint8_t* data, int n, const std::uint8_t* stored_noise);
// Swaps bytes 0<->1, 2<->3, ...; an odd last byte stays. Its own inverse.
int permut(std::uint8_t* data, int n);

}  // namespace kestrav3
