// The test of a coded file ("-t") on arbitrary coded files: it must read
// them as the restore does, and write nothing at all.
#include "container/tester.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrav3;
    const std::string path = fuzzing::stage_input(data, size);
    static TestOutcome outcome;
    const int result = test_streams(path.c_str(), fuzzing::fuzz_key, outcome);
    // The outcome must agree with the result it gave.
    if (result >= 0 && result != outcome.result()) __builtin_trap();
    fuzzing::expect_only_input();
    return 0;
}
