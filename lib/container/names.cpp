#include "container/names.h"

#include "platform/platform.h"

namespace kestrav3 {

bool restorable_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return platform::holdable_name(name);
}

namespace {

std::size_t after_last_separator(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (platform::is_separator(path[i - 1])) return i;
    return 0;
}

}  // namespace

std::string_view directory_part(std::string_view path) { return path.substr(0, after_last_separator(path)); }

std::string_view base_name(std::string_view path) { return path.substr(after_last_separator(path)); }

}  // namespace kestrav3
