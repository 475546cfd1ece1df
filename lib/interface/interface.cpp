// The nine exported operations, the option globals they set, and the
// texts of errors, help and version.
#include <array>
#include <cstdio>
#include <string_view>

#include "container/container.h"
#include "container/decoder.h"
#include "container/run_buffers.h"
#include "container/tester.h"
#include "kestrav3lib.h"
#include "md5/md5.h"
#include "progress/progress.h"
#include "random/dense_noise.h"
#include "random/run_state.h"
#include "shared/buffers.h"
#include "shared/failure.h"
#include "shared/options.h"
#include "shared/results.h"
#include "textconv/visible_text.h"

namespace kestrav3 {

// Prints " ", the code's message line (when it has one) and " " again;
// then, when the run's failure named one, the file concerned and why.
void print_error(int code);

namespace {

struct ErrorText {
    int code;
    const char* text;
};

constexpr std::array<ErrorText, 16> error_texts{{
    {ERR_READ, " Cannot read data from file [1]"},
    {ERR_EMPTY, " Size of file is zero [2]"},
    {ERR_NOMEM, " Cannot allocate memory [3]"},
    {ERR_IO_STOPPED, " Read or write on HDD is stopped [4]"},
    {ERR_NAME_TOO_LONG, " Name of file is too long [5]"},
    {ERR_KEY_TOO_LONG, " Password too long max. 40 chars [7]"},
    {ERR_KEY_TOO_SHORT, " Password too short min. 4 chars [8]"},
    {ERR_NUMBER, " Error of conversion string to number [10]"},
    {ERR_REDUNDANCY, " Incorrect comparison of redundant data [11]"},
    {ERR_HEADER, " Cannot decode the header [12]"},
    {ERR_NAME_REFUSED, " Name of file is not allowed [13]"},
    {ERR_OTHER_ARCHIVE, " Coded file of another name exists [14]"},
    {ERR_INPUT_CHANGED, " File changed while it was coded [15]"},
    {ERR_NAME_TAKEN, " Restored name is taken by another file [16]"},
    {ERR_KEY_NOT_ASCII, " Password may hold only printable ascii chars [17]"},
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

// Where every run begins: each per-run global goes back to the state the
// library is loaded with, so a run shows and does the same whatever ran
// before it in the process. The console progress line is armed again (it
// closes itself at 100 and would stay silent for every later run).
void begin_run() {
    reset_progress();
    clear_buffers();
    reset_md5_state();
    reset_generators();
    clear_coder_buffers();
    clear_header_copies();
    clear_group_batch();
    clear_failure();
}

// Begins a run, sets its options, runs it, and reports a failure when asked.
template <typename Pipeline>
int run(int report, int window, Pipeline pipeline) {
    begin_run();
    const bool reporting = report == 1;
    runlevel = reporting ? 3 : -1;
    if (window >= 0) win_progress_onoff = window;
    const int result = pipeline();
    if (result < 0 && reporting) print_error(result);
    return result;
}

constexpr int keep_window_setting = -1;

}  // namespace

void print_error(int code) {
    std::puts(" ");
    for (const auto& entry : error_texts)
        if (entry.code == code) std::puts(entry.text);
    std::puts(" ");
    if (failure_detail.file.empty() && failure_detail.cause.empty()) return;
    // The name may hold any byte: its controls are shown, not obeyed, and a
    // line feed in it cannot break the line.
    std::string file = visible_text(failure_detail.file);
    for (std::size_t at = 0; (at = file.find_first_of("\n\r\t", at)) != std::string::npos;)
        file.replace(at, 1, file[at] == '\n' ? "\\x0A" : file[at] == '\r' ? "\\x0D" : "\\x09");
    std::printf(" %s: %s\n", file.c_str(), failure_detail.cause.c_str());
}

namespace {

// A restore, and after it the restored name and its damage when reporting.
int restore(const char* file, const char* key, int report, int window) {
    static RestoreOutcome outcome;
    const int result = run(report, window, [&] { return decode_streams(file, key, outcome); });
    if (result >= 0 && report == 1) print_restore_report(outcome);
    return result;
}

}  // namespace

}  // namespace kestrav3

using namespace kestrav3;

extern "C" {

int kestrav3code(const char* file, const char* key, int report) {
    return run(report, 0, [&] { return combine_streams(file, key); });
}

int kestrav3code_g(const char* file, const char* key, int report) {
    return run(report, 1, [&] { return combine_streams(file, key); });
}

int kestrav3decode(const char* file, const char* key, int report) { return restore(file, key, report, 0); }

int kestrav3decode_g(const char* file, const char* key, int report) { return restore(file, key, report, 1); }

int kestrav3desc(const char* file, const char* key, char* text, int report) {
    return run(report, keep_window_setting, [&] { return decode_met(file, key, text); });
}

int kestrav3test(const char* file, const char* key, int report) {
    TestOutcome outcome;
    const int result = run(report, 0, [&] { return test_streams(file, key, outcome); });
    if (result >= 0 && report == 1) print_test_report(outcome);
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
