// How many block groups the coder, the restore and the test handle at a time.
#pragma once
#include "md5/md5.h"
#include "random/fast_noise.h"

namespace kestrav3 {

// As many as MD5 digests and the fast noise fills side by side.
constexpr int batch_size = max_md5_lanes;
static_assert(batch_size <= max_noise_blocks, "a batch's noise is made in one call");

}  // namespace kestrav3
