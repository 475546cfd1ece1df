#include "textconv/visible_text.h"

namespace kestrav3 {

std::string visible_text(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool control = (byte < 0x20 && c != '\n' && c != '\t' && c != '\r') || byte == 0x7F;
        if (!control) {
            out.push_back(c);
            continue;
        }
        out += "\\x";
        out.push_back(hex[byte >> 4]);
        out.push_back(hex[byte & 0xF]);
    }
    return out;
}

}  // namespace kestrav3
