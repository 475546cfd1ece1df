// The export of the escaping the library applies to stored text it shows on
// a terminal, so that the program shows names and metadata the same way.
#include <climits>
#include <cstring>
#include <string>

#include "kestrav3lib.h"
#include "textconv/visible_text.h"

extern "C" {

int kestrav3visible(const char* text, char* shown, int size) {
    const std::string escaped = kestrav3::visible_text(text);
    if (escaped.size() > static_cast<std::size_t>(INT_MAX)) return -1;
    const int length = static_cast<int>(escaped.size());
    if (size > length)
        std::memcpy(shown, escaped.c_str(), escaped.size() + 1);
    else if (size > 0)
        shown[0] = '\0';
    return length;
}

}  // extern "C"
