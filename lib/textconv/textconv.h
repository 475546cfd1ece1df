// Conversions between Windows-1250 and UTF-8 by the system's own tables, and
// reduction of names to safe ASCII. Every output is NUL-terminated.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrav3 {

// dst holds 2*len+1 bytes; *out_len receives the output length.
void conv_cp1250_to_utf8(const char* src, int len, char* dst, int* out_len);
// dst holds len+1 bytes; src[len] must be readable (it may complete a pair).
void conv_utf8_to_cp1250(const char* src, int len, char* dst, int* out_len);
// dst holds len+1 bytes; exactly len bytes are written before the NUL.
void filter_w1250_to_ascii(const char* src, int len, char* dst);
// dst holds len+1 bytes; src[len] must be readable.
void filter_utf8_to_ascii(const char* src, int len, char* dst);

// Readers of stored names and metadata, which either system's coder may have
// written: the Windows coder stores the Windows-1250 bytes 80..9F (among them
// the letters S, T and Z with caron) as the table's pairs C2 80..C2 9F, the
// POSIX coder stores real UTF-8. Neither reader changes what a coder of its
// own system wrote. In both, src[len] must be readable: a pair or sequence
// may end on it, as in conv_utf8_to_cp1250.

// Stored text -> UTF-8: a pair C2 80..C2 9F with a table row becomes the
// real UTF-8 of the Windows-1250 character of that row's byte; every other
// byte sequence stays. The result ends before the first character that would
// take it past max_size bytes.
std::string conv_stored_utf8_to_utf8(const char* src, int len, std::size_t max_size);
// Stored text -> Windows-1250: conv_utf8_to_cp1250, and besides that a UTF-8
// sequence with no table row that is the real UTF-8 of a Windows-1250
// character becomes that character's byte. dst holds len+1 bytes.
void conv_stored_utf8_to_cp1250(const char* src, int len, char* dst, int* out_len);
// A UTF-8 name reduced to safe ASCII as filter_w1250_to_ascii reduces the
// same name in Windows-1250: a character Windows-1250 has goes through its
// byte and the filter table, every other non-ASCII character (and every byte
// that is not part of a well-formed one) becomes one '_'.
std::string filter_utf8_name_to_ascii(std::string_view name);

}  // namespace kestrav3
