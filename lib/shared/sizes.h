// Sizes of the coded file's pieces, shared by every layer that handles them.
#pragma once
#include <cstdint>

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

// The coded file: the two header copies (each its noise and its block),
// 16,384 bytes, then one group per full block (record noise, record, block
// noise, block), 8,272 bytes, and a rest group of 80 bytes and twice the
// rest when the plain file has one.
constexpr std::int64_t coded_headers_size = 4 * BLOCK_SIZE;
constexpr std::int64_t coded_group_size = 2 * record_size + 2 * BLOCK_SIZE;

// The size of the coded file of a plain file with nblocks full blocks and a
// rest of rest bytes.
constexpr std::uint64_t coded_size_of(long long nblocks, long long rest) {
    return static_cast<std::uint64_t>(coded_headers_size) + static_cast<std::uint64_t>(nblocks) * coded_group_size +
           (rest > 0 ? static_cast<std::uint64_t>(2 * record_size + 2 * rest) : 0);
}

// Whether size is the size of some coded file: the two header copies (the
// coded file of an empty file), then whole groups, then perhaps a rest group.
constexpr bool coded_file_size(std::int64_t size) {
    if (size < coded_headers_size) return false;
    const std::int64_t tail = (size - coded_headers_size) % coded_group_size;
    return tail == 0 || (tail > 2 * record_size && tail % 2 == 0);
}

}  // namespace kestrav3
