// Pieces of paths, and which names a coded file may restore.
#pragma once
#include <string_view>

namespace kestrav3 {

// True for a name the decoder restores, so the coder accepts it: a plain
// file name in the coded file's folder, without control characters or DEL,
// that this platform's file system can hold.
bool restorable_name(std::string_view name);

// Everything up to and including the last directory separator ("" if none).
std::string_view directory_part(std::string_view path);
// Everything after the last directory separator.
std::string_view base_name(std::string_view path);

}  // namespace kestrav3
