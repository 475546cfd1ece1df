// The metadata reader: the free text of a coded file's header, nothing else.
#include <cstring>
#include <string>

#include "container/container.h"
#include "container/files.h"
#include "container/header.h"
#include "platform/platform.h"
#include "shared/options.h"
#include "shared/results.h"
#include "textconv/native_text.h"
#include "transform/transform.h"

namespace kestrav3 {

namespace {

constexpr char no_metadata[] = "no added file description";

}  // namespace

int decode_met(const char* path, const char* key, char* text, HeaderCheck& header, const RunSettings& settings) {
    HeaderRecord record;
    header = HeaderCheck{};
    {
        // Only the header copies are read; a file that ends inside them is unreadable.
        Stream in;
        const int result = open_coded_file(path, key, RecordUse::metadata, ERR_READ, in, record, settings.walked_input);
        if (result != 0) return result;
    }
    header = record.header;
    // The text printed may be wrong when the copies give different ones.
    const int found = header.metadata_differs ? 1 : 0;
    if (record.lenmet == 0) {
        std::memcpy(text, no_metadata, sizeof no_metadata);
        return found;
    }
    // The byte after the text is passed along because a conversion may pair
    // it. Read on POSIX, a Windows coder's pairs can grow into longer
    // characters: the text is kept to what the caller's buffer holds.
    const auto n = static_cast<std::size_t>(record.lenmet);
    const std::string native = code_utf8 == 1
                                   ? utf8_to_native(record.metadata.c_str(), static_cast<int>(n), max_metadata)
                                   : record.metadata.substr(0, n);
    std::memcpy(text, native.c_str(), native.size() + 1);
    return found;
}

int decode_met(const char* path, const char* key, char* text) {
    HeaderCheck header;
    return decode_met(path, key, text, header);
}

}  // namespace kestrav3
