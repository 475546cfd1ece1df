#include "textconv/native_text.h"

#include "platform/platform.h"
#include "textconv/textconv.h"

namespace kestrav3 {

std::string native_to_utf8(std::string_view native) {
    if constexpr (platform::native_text_is_utf8) return std::string(native);
    std::string out(2 * native.size() + 1, '\0');
    int out_len = 0;
    conv_cp1250_to_utf8(native.data(), static_cast<int>(native.size()), out.data(), &out_len);
    out.resize(static_cast<std::size_t>(out_len));
    return out;
}

std::string utf8_to_native(const char* src, int len) {
    if constexpr (platform::native_text_is_utf8) return std::string(src, static_cast<std::size_t>(len));
    std::string out(static_cast<std::size_t>(len) + 1, '\0');
    int out_len = 0;
    conv_utf8_to_cp1250(src, len, out.data(), &out_len);
    out.resize(static_cast<std::size_t>(out_len));
    return out;
}

std::string safe_ascii_name(std::string_view native) {
    // A std::string keeps a NUL behind its last byte, which the UTF-8 filter
    // may read to complete a pair.
    const std::string src(native);
    std::string out(src.size() + 1, '\0');
    if constexpr (platform::native_text_is_utf8)
        filter_utf8_to_ascii(src.c_str(), static_cast<int>(src.size()), out.data());
    else
        filter_w1250_to_ascii(src.c_str(), static_cast<int>(src.size()), out.data());
    out.resize(std::char_traits<char>::length(out.c_str()));
    return out;
}

}  // namespace kestrav3
