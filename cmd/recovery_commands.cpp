// The recovery commands. Exit status per run: 0 when every file is done
// (protected; intact or repaired), 3 when some damage is beyond its set, 1
// when some file or set could not be read (that wins over 3), 2 for a
// command line that is not understood (the help is printed).
#include "recovery_commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "kestrav3lib.h"
#include "operations.h"

namespace kestrav3::cmd {

namespace {

constexpr int exit_beyond = exit_not_intact;

constexpr std::string_view recovery_option = "--recovery=";

// "--recovery=P" with P a whole number from 1 to 100; -1 otherwise.
int percent_of(std::string_view arg) {
    if (arg.substr(0, recovery_option.size()) != recovery_option) return -1;
    return recovery_percent_value(arg.substr(recovery_option.size()));
}

bool is_recovery_option(const char* arg) { return std::strncmp(arg, "--", 2) == 0; }

int usage() {
    print_help();
    return exit_usage;
}

int worse(int a, int b) {
    if (a == exit_failed || b == exit_failed) return exit_failed;
    return a == exit_beyond || b == exit_beyond ? exit_beyond : exit_ok;
}

}  // namespace

int recovery_percent_value(std::string_view digits) {
    if (digits.empty() || digits.size() > 3) return -1;
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= KESTRAV3_RECOVERY_MAX ? value : -1;
}

int protect(int count, char** args) {
    int percent = KESTRAV3_RECOVERY_DEFAULT;
    int first = 0;
    if (count > 0 && is_recovery_option(args[0])) {
        percent = percent_of(args[0]);
        if (percent < 0) return usage();
        first = 1;
    }
    if (first >= count) return usage();
    int status = exit_ok;
    for (int i = first; i < count; ++i) {
        if (i > first) std::puts("");
        status = worse(status, kestrav3protect(args[i], percent, 1) < 0 ? exit_failed : exit_ok);
    }
    return finish_output(status);
}

int repair(int count, char** args) {
    if (count < 1) return usage();
    int status = exit_ok;
    for (int i = 0; i < count; ++i) {
        if (i > 0) std::puts("");
        const int result = kestrav3repair(args[i], 1);
        status = worse(status, result < 0 ? exit_failed : result > 0 ? exit_beyond : exit_ok);
    }
    return finish_output(status);
}

}  // namespace kestrav3::cmd
