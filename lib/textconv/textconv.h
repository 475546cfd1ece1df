// Conversions between Windows-1250 and UTF-8 by the system's own tables, and
// reduction of names to safe ASCII. Every output is NUL-terminated.
#pragma once

namespace kestrav3 {

// dst holds 2*len+1 bytes; *out_len receives the output length.
void conv_cp1250_to_utf8(const char* src, int len, char* dst, int* out_len);
// dst holds len+1 bytes; src[len] must be readable (it may complete a pair).
void conv_utf8_to_cp1250(const char* src, int len, char* dst, int* out_len);
// dst holds len+1 bytes; exactly len bytes are written before the NUL.
void filter_w1250_to_ascii(const char* src, int len, char* dst);
// dst holds len+1 bytes; src[len] must be readable.
void filter_utf8_to_ascii(const char* src, int len, char* dst);

}  // namespace kestrav3
