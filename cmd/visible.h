// Text shown on a terminal with its controls escaped, by the library's own
// rule (kestrav3visible), so that the program shows a name as the library does.
#pragma once
#include <string>

#include "kestrav3lib.h"

namespace kestrav3::cmd {

inline std::string visible_text(const std::string& text) {
    const int length = kestrav3visible(text.c_str(), nullptr, 0);
    if (length <= 0) return {};
    std::string shown(static_cast<std::size_t>(length) + 1, '\0');
    kestrav3visible(text.c_str(), shown.data(), length + 1);
    shown.resize(static_cast<std::size_t>(length));
    return shown;
}

}  // namespace kestrav3::cmd
