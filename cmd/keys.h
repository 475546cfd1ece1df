// Keys read rather than typed on the command line: from the terminal without
// echo, from standard input's first line, from a file's first line or from
// the environment. Every source passes the same rules.
#pragma once
#include <cstdio>
#include <string>

namespace kestrav3::cmd {

// Longest key line read; a longer one is refused as too long at once,
// without reading further.
constexpr std::size_t max_key_line = 1024;

enum class KeyStatus {
    ok,
    too_long,    // the line passes max_key_line; key holds its first part
    holds_nul,   // a NUL byte in the key
    mismatch,    // the two keys typed on the terminal differ
    unreadable,  // the file cannot be read, or the variable is not set
};

// The first line of in: up to the line feed or the end, one carriage return
// before the line feed dropped.
KeyStatus read_key_line(std::FILE* in, std::string& key);

// A key line from path ("-" for standard input); why gets the system's
// reason when the file cannot be read.
KeyStatus read_key_file(const char* path, std::string& key, std::string& why);

// The key from the environment variable name.
KeyStatus read_key_variable(const char* name, std::string& key);

// The key asked for as the key "-" is: on the terminal without echo (twice
// when confirm is set), or standard input's first line when that is not a
// terminal.
KeyStatus ask_key(bool confirm, std::string& key);

// The key is handed to the library as a C text: a NUL would cut it short.
KeyStatus checked_key(std::string& key);

}  // namespace kestrav3::cmd
