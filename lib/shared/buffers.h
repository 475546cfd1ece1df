// The two process-wide blocks every run works through: the key matrix, and
// the noise block the generators fill and the transform masks.
#pragma once
#include <array>
#include <cstdint>

#include "shared/sizes.h"

namespace kestrav3 {

// 4096 bytes: a data block, a header copy, a noise block, the key matrix.
using Block = std::array<std::uint8_t, BLOCK_SIZE>;

// 4096 bytes derived from the key, per run; a chunk of n bytes uses the first n.
extern Block kmatrix;
// The noise block, per chunk: masked noise after coding, stored noise before decoding.
extern Block vizard;

// Zeroes both blocks, as the library is loaded.
void clear_buffers();

}  // namespace kestrav3
