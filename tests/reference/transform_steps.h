// The block transform's steps one at a time, byte by byte, as the tests'
// yardstick for the one-pass transforms of the library.
#pragma once
#include <cstdint>

namespace kestrav3 {

// data ^= noise and vizard = noise ^ kmatrix over the first n bytes.
void code_block_with_noise(std::uint8_t* data, int n, const std::uint8_t* noise);
// vizard ^= kmatrix, then data ^= vizard, over the first n bytes: undoes
// code_block_with_noise on a chunk whose masked noise is in vizard.
void decode_block(std::uint8_t* data, int n);

}  // namespace kestrav3
