// One chunk of a coded file: its fresh noise, the coded bytes, and the way
// back.
#pragma once
#include <cstdint>
#include <cstdio>

namespace kestrav3 {

// Codes n bytes in place with fresh noise (dense, falling back to fast per
// chunk, or fast) and swaps the pairs; vizard then holds the masked noise.
int code_chunk(std::uint8_t* data, int n, bool dense);
// Writes the masked noise and the coded bytes in one call, and checks it.
int write_chunk(std::FILE* out, const std::uint8_t* data, int n);
// Reads a stored noise and data pair and decodes the data in place.
// short_read is the result for a file that ends inside the pair.
int read_chunk(std::FILE* in, std::uint8_t* data, int n, int error_result, int short_read_result);

}  // namespace kestrav3
