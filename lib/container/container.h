// The four pipelines over coded files (the coder, the restore and the
// metadata reader here, the test in tester.h), and the pieces of them that
// the tests exercise on their own.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

// Codes the file at path into <base name>.archi beside it.
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
