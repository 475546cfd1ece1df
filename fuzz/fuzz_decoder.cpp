// The decoder on arbitrary coded files.
#include "container/container.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrav3;
    const std::string path = fuzzing::stage_input(data, size);
    const int result = decode_streams(path.c_str(), fuzzing::fuzz_key);
    fuzzing::clean_up_after_run(result >= 0);
    return 0;
}
