// The metadata reader: the free text of a coded file's header, nothing else.
#include <cstring>
#include <string>

#include "container/chunk_io.h"
#include "container/container.h"
#include "container/header.h"
#include "interface/options.h"
#include "platform/platform.h"
#include "textconv/native_text.h"

namespace kestrav3 {

namespace {

constexpr char no_metadata[] = "no added file description";

// Both header copies; a file that ends early is unreadable.
int read_headers(const char* path, HeaderBlock& copy1, HeaderBlock& copy2) {
    Stream in(path, "rb");
    if (!in) return ERR_READ;
    return read_header_copies(in.get(), copy1, copy2, ERR_READ);
}

}  // namespace

int decode_met(const char* path, const char* key, char* text) {
    int result = check_key(key);
    if (result != 0) return result;
    if (!holds_first_header(path)) return ERR_READ;

    gen_kmatrix(key);
    static HeaderBlock copy1, copy2;
    if ((result = read_headers(path, copy1, copy2)) != 0) return result;

    const auto name = lookup_field(copy1, copy2, "FN");
    const auto length = lookup_field(copy1, copy2, "LENMET");
    if (!name || !length) return ERR_EMPTY;
    const long long n = parse_number(*length);
    if (n < 0 || n > max_metadata) return ERR_HEADER;
    if (n == 0) {
        std::memcpy(text, no_metadata, sizeof no_metadata);
        return 0;
    }
    // The text always comes from copy 1, whichever copy gave its length; the
    // byte after it is passed along because a conversion may pair it. Read
    // on POSIX, a Windows coder's pairs can grow into longer characters:
    // the text is kept to what the caller's buffer holds.
    const char* stored = reinterpret_cast<const char*>(copy1.data()) + metadata_offset;
    const std::string native = code_utf8 == 1 ? utf8_to_native(stored, static_cast<int>(n), max_metadata)
                                              : std::string(stored, static_cast<std::size_t>(n));
    std::memcpy(text, native.c_str(), native.size() + 1);
    return 0;
}

}  // namespace kestrav3
