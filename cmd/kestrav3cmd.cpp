// kestrav3: codes, restores and describes files through kestrav3lib.
// Exit status: 0 success, 1 the operation failed, 2 the command line was not
// understood (the help text was printed).
#include <clocale>
#include <cstdio>
#include <cstring>

#include "kestrav3lib.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

int status_of(int result) { return result < 0 ? exit_failed : exit_ok; }

int describe(const char* file, const char* key) {
    char text[3000];
    if (kestrav3desc(file, key, text, 1) < 0) {
        std::puts("\n End.");
        return exit_failed;
    }
    std::setlocale(LC_ALL, "");
    std::puts(text);
    return exit_ok;
}

int run_operation(const char* option, const char* file, const char* key) {
    if (std::strcmp(option, "-c") == 0) return status_of(kestrav3code(file, key, 1));
    if (std::strcmp(option, "-cg") == 0) return status_of(kestrav3code_g(file, key, 1));
    if (std::strcmp(option, "-d") == 0) return status_of(kestrav3decode(file, key, 1));
    if (std::strcmp(option, "-dg") == 0) return status_of(kestrav3decode_g(file, key, 1));
    if (std::strcmp(option, "-m") == 0) return describe(file, key);
    return -1;
}

bool is_version_option(const char* option) {
    return std::strcmp(option, "-v") == 0 || std::strcmp(option, "-vg") == 0;
}

}  // namespace

int main(int argc, char** argv) {
    switch_utf_converting(1);
    if (argc == 4) {
        // Keys longer than 40 bytes reach the library, which refuses them
        // with its framed message.
        const int status = run_operation(argv[1], argv[2], argv[3]);
        if (status >= 0) return status;
    }
    if (argc == 2 && is_version_option(argv[1])) {
        kestrav3ver(argv[1]);
        return exit_ok;
    }
    print_help();
    return exit_usage;
}
