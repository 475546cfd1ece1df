// Names and metadata between the platform's native text and the UTF-8 stored
// in coded files. On POSIX the native text already is UTF-8, so the
// Windows-1250 tables only apply on Windows.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

std::string native_to_utf8(std::string_view native);
// src[len] must be readable: the table conversion may pair it with the last byte.
std::string utf8_to_native(const char* src, int len);
// The coded file's name: every byte reduced to letters, digits, '-', '.' or '_'.
std::string safe_ascii_name(std::string_view native);

}  // namespace kestrav3
