// The three pipelines over coded files, and the pieces of them that the
// tests exercise on their own.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

// Codes the file at path into <base name>.archi beside it.
int combine_streams(const char* path, const char* key);
struct TestOutcome;

// Restores the plain file from the coded file at path, into its folder.
// damage, when given, receives the record and the blocks whose digest
// failed.
int decode_streams(const char* path, const char* key, TestOutcome* damage = nullptr);
// Fills text (at least 3000 bytes) with the coded file's metadata.
int decode_met(const char* path, const char* key, char* text);

// Value of field name ("FN", "REST", ...) in a header record: 0 and the
// value, or -1 and "NULL". The search is a plain substring search for
// "name=", confined to the record.
int select_value(std::string_view record, std::string_view name, std::string& out);

// Appends "<number>\n" to <name>.err. Returns 0.
int write_hash_error_to_file(const std::string& name, long long number);

}  // namespace kestrav3
