// CRC-32 as Ethernet, zip, gzip and PAR 2.0 use it: the reflected polynomial
// 0xEDB88320, started from all ones and inverted at the end.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrav3::recovery {

// The CRC of crc's data followed by size bytes at data. Start with 0; the
// result of one call continues in the next, so crc32(crc32(0, a), b) is the
// CRC of a followed by b (the same convention as zlib's crc32()).
std::uint32_t crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace kestrav3::recovery
