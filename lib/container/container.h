// The four pipelines over coded files (the coder, the restore and the
// metadata reader here, the test in tester.h), and the pieces of them that
// the tests exercise on their own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "shared/run_settings.h"

namespace kestrav3 {

// What a layer above lends the coder: each step is left out when empty.
struct CodingHooks {
    // Once the input is planned and before the coded file is created, with
    // the size the coded file will have: 0 to go on, or the run's error code.
    std::function<int(std::uint64_t coded_size)> begin;
    // Sees every coded byte as it reaches the file, in order.
    std::function<void(const std::uint8_t* data, std::size_t size)> observe;
    // Runs once the coded file is complete and the input unchanged, before
    // the coded file takes its name.
    std::function<void(const std::string& coded_path)> before_naming;
};

// Codes the file at path into <base name>.archi beside it (or in the
// settings' output folder). run.written_path receives the coded file's path
// once the coding is about to write it.
int combine_streams(const char* path, const char* key, const RunSettings& settings, RunResult& run,
                    const CodingHooks& hooks);
// The same with the design's settings and no hooks.
int combine_streams(const char* path, const char* key);
// Restores the plain file from the coded file at path, into its folder:
// the count of damaged blocks (0 when intact), or a negative error code.
int decode_streams(const char* path, const char* key);
// Fills text (at least 3000 bytes) with the coded file's metadata: 0, 1
// when the header copies give different metadata (the text is still
// filled), or a negative error code.
int decode_met(const char* path, const char* key, char* text);

// Value of field name ("FN", "REST", ...) in a header record: 0 and the
// value, or -1 and "NULL". The search is a plain substring search for
// "name=", confined to the record.
int select_value(std::string_view record, std::string_view name, std::string& out);

}  // namespace kestrav3
