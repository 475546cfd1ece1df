// The metadata reader on arbitrary coded files.
#include <cstring>

#include "container/container.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrav3;
    const std::string path = fuzzing::stage_input(data, size);
    char text[3000];
    // A successful read (1: the header copies' metadata differ) always
    // leaves a terminated text.
    if (decode_met(path.c_str(), fuzzing::fuzz_key, text) >= 0 && std::memchr(text, '\0', sizeof text) == nullptr)
        __builtin_trap();
    fuzzing::clean_up_after_run();
    return 0;
}
