// Header field lookup on arbitrary decoded header bytes.
#include <cstring>

#include "container/container.h"
#include "container/header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrav3;
    HeaderBlock copy1{}, copy2{};
    const std::size_t first = size < copy1.size() ? size : copy1.size();
    std::memcpy(copy1.data(), data, first);
    if (size > first) std::memcpy(copy2.data(), data + first, std::min(size - first, copy2.size()));
    for (const char* name : {"FN", "BLOCKSIZE", "NBLOCKS", "REST", "LENMET"}) {
        if (const auto value = lookup_field(copy1, copy2, name)) parse_number(*value);
        std::string out;
        select_value(record_text(copy1), name, out);
    }
    return 0;
}
