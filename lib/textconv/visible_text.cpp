#include "textconv/visible_text.h"

namespace kestrav3 {

namespace {

constexpr std::string_view hex_digits = "0123456789ABCDEF";

void append_escape(std::string& out, std::string_view prefix, unsigned char value) {
    out.append(prefix);
    out.push_back(hex_digits[value >> 4]);
    out.push_back(hex_digits[value & 0x0F]);
}

}  // namespace

std::string visible_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c0 = (byte < 0x20 && byte != '\n' && byte != '\t' && byte != '\r') || byte == 0x7F;
        if (c0) {
            append_escape(out, "\\x", byte);
            continue;
        }
        // U+0080 to U+009F are the two bytes C2 80 to C2 9F in UTF-8.
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            append_escape(out, "\\u00", next);
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace kestrav3
