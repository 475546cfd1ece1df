// The text conversions and readers on arbitrary bytes.
#include <string>

#include "textconv/textconv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrav3;
    if (size > 100000) return 0;
    // The UTF-8 readers may look at the byte after the counted length, as
    // they do on the library's own NUL-terminated texts.
    const std::string src(reinterpret_cast<const char*>(data), size);
    const int len = static_cast<int>(size);
    std::string dst(2 * size + 1, '\0');
    int out_len = 0;
    conv_cp1250_to_utf8(src.c_str(), len, dst.data(), &out_len);
    if (out_len < len || out_len > 2 * len) __builtin_trap();
    conv_utf8_to_cp1250(src.c_str(), len, dst.data(), &out_len);
    if (out_len > len || out_len < (len + 1) / 2) __builtin_trap();
    filter_w1250_to_ascii(src.c_str(), len, dst.data());
    filter_utf8_to_ascii(src.c_str(), len, dst.data());
    conv_stored_utf8_to_cp1250(src.c_str(), len, dst.data(), &out_len);
    if (out_len > len || out_len < (len + 3) / 4) __builtin_trap();
    // Two bytes grow into at most three.
    if (conv_stored_utf8_to_utf8(src.c_str(), len, 2999).size() > 2999) __builtin_trap();
    if (conv_stored_utf8_to_utf8(src.c_str(), len, std::string::npos).size() > size + size / 2 + 2) __builtin_trap();
    if (filter_utf8_name_to_ascii(src).size() > size) __builtin_trap();
    return 0;
}
