// Sizes of the coded file's pieces, shared by every layer that handles them.
#pragma once

namespace kestrav3 {

// A data block, a header copy, the key matrix and the noise block.
constexpr int BLOCK_SIZE = 4096;
// The digest record stored before every block.
constexpr int record_size = 40;
// The most full blocks a coded file may describe.
constexpr long long max_blocks = 2147483647;

// Where the metadata starts in the header, and the most it may hold.
constexpr int metadata_offset = 800;
constexpr int max_metadata = 2999;
// The most bytes of a stored name.
constexpr int max_stored_name = 256;
// The most bytes of one name in a folder (the coded file's included).
constexpr int max_file_name = 255;

}  // namespace kestrav3
