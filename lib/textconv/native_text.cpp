#include "textconv/native_text.h"

#include <algorithm>

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

std::string utf8_to_native(const char* src, int len, std::size_t max_size) {
    if constexpr (platform::native_text_is_utf8) return conv_stored_utf8_to_utf8(src, len, max_size);
    // One Windows-1250 byte per character: a plain cut splits nothing.
    std::string out(static_cast<std::size_t>(len) + 1, '\0');
    int out_len = 0;
    conv_stored_utf8_to_cp1250(src, len, out.data(), &out_len);
    out.resize(std::min(static_cast<std::size_t>(out_len), max_size));
    return out;
}

// Both systems give a name the same safe form: a UTF-8 name is read as the
// Windows-1250 name the Windows build would see.
std::string safe_ascii_name(std::string_view native) {
    if constexpr (platform::native_text_is_utf8) return filter_utf8_name_to_ascii(native);
    std::string out(native.size() + 1, '\0');
    filter_w1250_to_ascii(native.data(), static_cast<int>(native.size()), out.data());
    out.resize(native.size());
    return out;
}

}  // namespace kestrav3
