// The program's one table of operations: each row is a flag, the export the
// design's three-word form calls, the library operation of the many-file
// form, and whether a key asked for on the terminal is asked twice; or, for
// the keyless recovery commands, the function that takes their files.
#pragma once
#include <array>
#include <string_view>

#include "kestrav3lib.h"

namespace kestrav3::cmd {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_not_intact = 3;

struct Operation {
    std::string_view flag;
    // The three-word form: runs the export with report 1, returns the exit status.
    int (*run_one)(const char* file, const char* key);
    int batch_operation;  // KESTRAV3_CODE, ... for kestrav3run
    bool window;          // the _g variant: feeds the progress window
    bool confirm_key;     // coding: a key typed on the terminal is asked twice
    // What a file of the many-file form is when it is done well: "written",
    // "intact", "read".
    std::string_view done_word;
    // The keyless commands: runs on the words after the flag, returns the
    // exit status. Null for the operations above, which take a key.
    int (*run_files)(int count, char** words) = nullptr;
};

int code_plain(const char* file, const char* key);
int code_window(const char* file, const char* key);
int decode_plain(const char* file, const char* key);
int decode_window(const char* file, const char* key);
int test(const char* file, const char* key);
int describe(const char* file, const char* key);
// kestrav3 -p [--recovery=P] FILE.archi... and kestrav3 --repair FILE.archi...
int protect(int count, char** words);
int repair(int count, char** words);

inline constexpr std::array<Operation, 8> operations{{
    {"-c", code_plain, KESTRAV3_CODE, false, true, "written"},
    {"-cg", code_window, KESTRAV3_CODE, true, true, "written"},
    {"-d", decode_plain, KESTRAV3_DECODE, false, false, "written"},
    {"-dg", decode_window, KESTRAV3_DECODE, true, false, "written"},
    {"-t", test, KESTRAV3_TEST, false, false, "intact"},
    {"-m", describe, KESTRAV3_DESCRIBE, false, false, "read"},
    {"-p", nullptr, 0, false, false, "protected", protect},
    {"--repair", nullptr, 0, false, false, "repaired", repair},
}};

// The row of flag, or nullptr.
inline const Operation* find_operation(std::string_view flag) {
    for (const auto& operation : operations)
        if (operation.flag == flag) return &operation;
    return nullptr;
}

// The many-file form: argv[1] is the operation's flag. Returns the exit status.
int run_batch(const Operation& operation, int argc, char** argv);

// True when word is one of the many-file form's options, so that a
// three-word command line holding it is the many-file form.
bool is_batch_option(std::string_view word);

// Ends the run: a standard output that could not be written makes it fail,
// with one line on standard error.
int finish_output(int status);

}  // namespace kestrav3::cmd
