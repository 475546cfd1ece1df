// The twelve exported operations, the option globals they set, and the
// texts of errors, help and version.
#include <array>
#include <cstdio>
#include <string_view>

#include "container/container.h"
#include "container/recovery_sets.h"
#include "container/tester.h"
#include "kestrav3lib.h"
#include "progress/progress.h"
#include "random/dense_noise.h"
#include "shared/options.h"
#include "shared/results.h"

namespace kestrav3 {

// Prints " ", the code's message line (when it has one) and " " again.
void print_error(int code);

namespace {

struct ErrorText {
    int code;
    const char* text;
};

constexpr std::array<ErrorText, 13> error_texts{{
    {ERR_READ, " Cannot read data from file [1]"},
    {ERR_EMPTY, " Size of file is zero [2]"},
    {ERR_NOMEM, " Cannot allocate memory [3]"},
    {ERR_IO_STOPPED, " Read or write on HDD is stopped [4]"},
    {ERR_KEY_TOO_LONG, " Password too long max. 40 chars [7]"},
    {ERR_KEY_TOO_SHORT, " Password too short min. 4 chars [8]"},
    {ERR_NUMBER, " Error of conversion string to number [10]"},
    {ERR_REDUNDANCY, " Incorrect comparison of redundant data [11]"},
    {ERR_HEADER, " Cannot decode the header [12]"},
    {ERR_NAME_REFUSED, " Name of file is not allowed [13]"},
    {ERR_NO_SET, " No usable recovery set beside the file [14]"},
    {ERR_NOT_CODED, " The file's size is no coded file's size [15]"},
    {ERR_NOISE, " Noise gen. doesn't work [20]"},
}};

constexpr std::array<const char*, 17> help_lines{
    "Coding:    kestrav3 -c <file> <key>",
    "           (graphical progress bar OFF)",
    "Coding:    kestrav3 -cg <file> <key>",
    "           (graphical progress bar ON)",
    "           <file> - name of file to coding",
    "           <key>  - required (use only ascii)\n",
    "Decode:    kestrav3 -d <file> <key>",
    "           (graphical progress bar OFF)",
    "Decode:    kestrav3 -dg <file> <key>",
    "           (graphical progress bar ON)",
    "           <file> - name of file to decoding",
    "           <key>  - required key for decoding\n",
    "Metadata:  kestrav3 -m <file> <key>",
    "           <file> - name of coded file",
    "           <key>  - required key for decoding\n",
    "Version:   kestrav3 -v\n",
    "Gen. ver.: kestrav3 -vg\n",
};

// Sets the options of one run, runs it, and reports a failure when asked.
template <typename Pipeline>
int run(int report, int window, Pipeline pipeline) {
    const bool reporting = report == 1;
    runlevel = reporting ? 3 : -1;
    if (window >= 0) win_progress_onoff = window;
    const int result = pipeline();
    if (result < 0 && reporting) print_error(result);
    return result;
}

constexpr int keep_window_setting = -1;

// A restore that found damaged blocks says whether the set beside the coded
// file can repair them.
int restore_and_notice(const char* file, const char* key, int report, int window) {
    static TestOutcome damage;
    const int result = run(report, window, [&] { return decode_streams(file, key, &damage); });
    if (result == 0 && report == 1 && damage.damaged.count() > 0) {
        progress_line_end();
        print_set_notice(file, damage);
    }
    return result;
}

// The coder with a recovery set of percent, the option reset after the run.
int code_with_set(const char* file, const char* key, int percent, int report, int window) {
    if (percent < 0 || percent > 100) {
        if (report == 1) print_error(ERR_NUMBER);
        return ERR_NUMBER;
    }
    recovery_percent = percent;
    const int result = run(report, window, [&] { return combine_streams(file, key); });
    recovery_percent = 0;
    return result;
}

}  // namespace

void print_error(int code) {
    std::puts(" ");
    for (const auto& entry : error_texts)
        if (entry.code == code) std::puts(entry.text);
    std::puts(" ");
}

}  // namespace kestrav3

using namespace kestrav3;

extern "C" {

int kestrav3code(const char* file, const char* key, int report) {
    return run(report, 0, [&] { return combine_streams(file, key); });
}

int kestrav3code_g(const char* file, const char* key, int report) {
    return run(report, 1, [&] { return combine_streams(file, key); });
}

int kestrav3decode(const char* file, const char* key, int report) { return restore_and_notice(file, key, report, 0); }

int kestrav3decode_g(const char* file, const char* key, int report) { return restore_and_notice(file, key, report, 1); }

int kestrav3desc(const char* file, const char* key, char* text, int report) {
    return run(report, keep_window_setting, [&] { return decode_met(file, key, text); });
}

int kestrav3test(const char* file, const char* key, int report) {
    static TestOutcome outcome;
    const int result = run(report, 0, [&] { return test_streams(file, key, outcome); });
    if (result >= 0 && report == 1) {
        print_test_report(outcome);
        print_set_notice(file, outcome);
    }
    return result;
}

int kestrav3code_recovery(const char* file, const char* key, int recovery, int report) {
    return code_with_set(file, key, recovery, report, 0);
}

int kestrav3protect(const char* file, int recovery, int report) {
    static ProtectOutcome outcome;
    if (recovery < 1 || recovery > 100) {
        if (report == 1) print_error(ERR_NUMBER);
        return ERR_NUMBER;
    }
    const int result = run(report, 0, [&] { return protect_streams(file, recovery, outcome); });
    if (result == 0 && report == 1) print_protect_report(outcome);
    return result;
}

int kestrav3repair(const char* file, int report) {
    static RepairOutcome outcome;
    const int result = run(report, 0, [&] { return repair_streams(file, outcome); });
    if (report == 1 && result != ERR_READ) print_repair_report(outcome);
    return result;
}

void kestrav3ver(const char* option) {
    const std::string_view text(option);
    if (text == "-v") std::printf("\n kestrav3 %s\n\n", KESTRAV3_VERSION);
    if (text == "-vg") {
        std::printf("\n");
        random_genenerator_version();
        std::printf("\n");
    }
}

void print_help(void) {
    std::printf("\n");
    for (const char* line : help_lines) std::puts(line);
    std::printf("\n");
}

void switch_utf_converting(int value) { code_utf8 = value == 1 ? 1 : 0; }

}  // extern "C"
