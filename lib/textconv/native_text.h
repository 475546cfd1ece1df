// Names and metadata between the platform's native text and the UTF-8 stored
// in coded files. On POSIX the native text already is UTF-8: it is stored as
// it is, and only the pairs a Windows coder stores for the Windows-1250 bytes
// 80..9F are read as the characters they stand for.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

std::string native_to_utf8(std::string_view native);
// Stored names and metadata, whichever system's coder wrote them. src[len]
// must be readable: a conversion may pair it with the last byte. The result
// ends before the first character that would take it past max_size bytes.
std::string utf8_to_native(const char* src, int len, std::size_t max_size = std::string::npos);
// The coded file's name: every byte reduced to letters, digits, '-', '.' or '_'.
std::string safe_ascii_name(std::string_view native);

}  // namespace kestrav3
