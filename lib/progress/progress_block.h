// The shared-memory block between the library, which writes the progress of
// a graphical run into it, and the separate progress window program, which
// reads it. Both sides build from this one header; it holds nothing else,
// so the window program needs no more of the library than this.
#pragma once
#include <cstddef>

namespace kestrav3::progress_block {

// The block's name (POSIX adds the leading slash its names need).
inline constexpr const char* name = "MyFileMappingObject";
// The block's size in bytes.
inline constexpr std::size_t size = 256;
// A message, at the start of the block: percent + 1 in decimal and a
// newline, so at most "101\n". Bytes after the newline are left over from
// older messages.
inline constexpr std::size_t message_max = 4;

}  // namespace kestrav3::progress_block
