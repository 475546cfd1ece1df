// The nine exported operations, the option globals they set, and the
// texts of errors, help and version.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "container/container.h"
#include "container/files.h"
#include "container/header.h"
#include "container/names.h"
#include "container/tester.h"
#include "kestrav3lib.h"
#include "platform/platform.h"
#include "progress/progress.h"
#include "random/dense_noise.h"
#include "shared/options.h"
#include "shared/results.h"
#include "textconv/native_text.h"

namespace kestrav3 {

// Prints " ", the code's message line (when it has one) and " " again.
void print_error(int code);

namespace {

struct ErrorText {
    int code;
    const char* text;
};

constexpr std::array<ErrorText, 11> error_texts{{
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

// The message line of a code, without its leading space; "" for none.
const char* message_of(int code) {
    for (const auto& entry : error_texts)
        if (entry.code == code) return entry.text + 1;
    return "";
}

// Copies text into a caller's buffer of size bytes; a text too long ends,
// at a space where it can, in " ...".
template <std::size_t N>
void copy_text(char (&buffer)[N], std::string_view text) {
    if (text.size() < N) {
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\0';
        return;
    }
    constexpr std::string_view more = " ...";
    std::string_view kept = text.substr(0, N - more.size() - 1);
    const std::size_t space = kept.find_last_of(' ');
    if (space != std::string_view::npos) kept = kept.substr(0, space);
    std::memcpy(buffer, kept.data(), kept.size());
    std::memcpy(buffer + kept.size(), more.data(), more.size());
    buffer[kept.size() + more.size()] = '\0';
}

// The options of a batch run, in place for one pipeline and put back after
// it, so the design's exports keep running as they always have.
class BatchSettings {
public:
    explicit BatchSettings(const kestrav3_options& options) {
        runlevel = options.progress == 1 ? 3 : -1;
        runlevel3 = 1;  // every file of a batch gets its own progress line
        win_progress_onoff = options.window == 1 ? 1 : 0;
        console_lines = 0;
        force_replace = options.force == 1 ? 1 : 0;
        output_folder = folder_with_separator(options.output_dir);
        written_path.clear();
    }
    ~BatchSettings() {
        console_lines = 1;
        force_replace = 0;
        output_folder.clear();
    }
    BatchSettings(const BatchSettings&) = delete;
    BatchSettings& operator=(const BatchSettings&) = delete;

    static std::string folder_with_separator(const char* dir) {
        std::string folder = dir != nullptr ? dir : "";
        if (!folder.empty() && !platform::is_separator(folder.back())) folder += '/';
        return folder;
    }
};

int run_test(const char* file, const char* key, kestrav3_result& result) {
    static TestOutcome outcome;
    const int code = test_streams(file, key, outcome);
    if (code < 0) return code;
    const BlockList missing = outcome.missing();
    result.damaged_count = outcome.damaged.count();
    result.missing_count = missing.count();
    result.trailing_bytes = outcome.trailing;
    if (outcome.damaged.count() > 0) copy_text(result.damaged, outcome.damaged.text());
    if (missing.count() > 0) copy_text(result.missing, missing.text());
    return code;
}

// The input goes only once its coded file is on the device.
int remove_coded_input(const char* file, kestrav3_result& result) {
    if (!platform::flush_to_device(written_path.c_str())) return ERR_IO_STOPPED;
    if (!platform::remove_entry(file)) return ERR_READ;
    result.removed = 1;
    return 0;
}

int run_batch_pipeline(int operation, const char* file, const char* key, const kestrav3_options& options,
                       kestrav3_result& result) {
    switch (operation) {
    case KESTRAV3_CODE: {
        const int code = combine_streams(file, key);
        return code == 0 && options.remove_input == 1 ? remove_coded_input(file, result) : code;
    }
    case KESTRAV3_DECODE: return decode_streams(file, key);
    case KESTRAV3_TEST: return run_test(file, key, result);
    case KESTRAV3_DESCRIBE: return decode_met(file, key, result.metadata);
    default: return ERR_READ;
    }
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

int kestrav3decode(const char* file, const char* key, int report) {
    return run(report, 0, [&] { return decode_streams(file, key); });
}

int kestrav3decode_g(const char* file, const char* key, int report) {
    return run(report, 1, [&] { return decode_streams(file, key); });
}

int kestrav3desc(const char* file, const char* key, char* text, int report) {
    return run(report, keep_window_setting, [&] { return decode_met(file, key, text); });
}

int kestrav3test(const char* file, const char* key, int report) {
    static TestOutcome outcome;
    const int result = run(report, 0, [&] { return test_streams(file, key, outcome); });
    if (result >= 0 && report == 1) print_test_report(outcome);
    return result;
}

int kestrav3run(int operation, const char* file, const char* key, const kestrav3_options* options,
                kestrav3_result* result) {
    *result = kestrav3_result{};
    const kestrav3_options settings = options != nullptr ? *options : kestrav3_options{};
    int code = 0;
    {
        const BatchSettings batch(settings);
        code = run_batch_pipeline(operation, file, key, settings, *result);
        progress_line_end();
        const bool writes = operation == KESTRAV3_CODE || operation == KESTRAV3_DECODE;
        if (writes && code >= 0) copy_text(result->written, written_path);
    }
    if (operation != KESTRAV3_DESCRIBE || code < 0) result->metadata[0] = '\0';
    result->code = code;
    if (code < 0) copy_text(result->message, message_of(code));
    return code;
}

int kestrav3target(int operation, const char* file, const char* key, const char* output_dir, char* path, int size) {
    if (size <= 0) return ERR_NOMEM;
    path[0] = '\0';
    const std::string folder = BatchSettings::folder_with_separator(output_dir);
    const std::string_view input(file);
    std::string target;
    if (operation == KESTRAV3_CODE) {
        const std::string base(base_name(input));
        target = (folder.empty() ? std::string(directory_part(input)) : folder) + safe_ascii_name(base + ".archi");
    } else if (operation == KESTRAV3_DECODE) {
        Stream in;
        HeaderRecord record;
        const int code = open_coded_file(file, key, RecordUse::blocks, ERR_IO_STOPPED, in, record);
        if (code != 0) return code;
        target = (folder.empty() ? std::string(directory_part(input)) : folder) + record.name;
    }
    if (target.size() >= static_cast<std::size_t>(size)) return ERR_NOMEM;
    std::memcpy(path, target.c_str(), target.size() + 1);
    return 0;
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
