// Every export of kestrav3lib.h, the settings they hand to the pipelines,
// and the texts of errors, help and version.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "container/container.h"
#include "container/decoder.h"
#include "container/files.h"
#include "container/header.h"
#include "container/names.h"
#include "container/run_buffers.h"
#include "container/tester.h"
#include "kestrav3lib.h"
#include "md5/md5.h"
#include "platform/platform.h"
#include "progress/progress.h"
#include "random/dense_noise.h"
#include "random/run_state.h"
#include "sets/protect.h"
#include "sets/repair.h"
#include "sets/reports.h"
#include "shared/buffers.h"
#include "shared/failure.h"
#include "shared/options.h"
#include "shared/results.h"
#include "shared/run_settings.h"
#include "textconv/native_text.h"
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

constexpr std::array<ErrorText, 18> error_texts{{
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
    {ERR_NO_SET, " No usable recovery set beside the file [18]"},
    {ERR_NOT_CODED, " The file's size is no coded file's size [19]"},
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

// The folder of --output-dir with a separator at its end; "" for none.
std::string folder_with_separator(const char* dir) {
    std::string folder = dir != nullptr ? dir : "";
    if (!folder.empty() && !platform::is_separator(folder.back())) folder += '/';
    return folder;
}

// The settings of a run of kestrav3run. The progress globals are set for
// it too: every file of a batch gets its own progress line.
RunSettings batch_settings(const kestrav3_options& options, const char* file) {
    runlevel = options.progress == 1 ? 3 : -1;
    runlevel3 = 1;
    win_progress_onoff = options.window == 1 ? 1 : 0;
    RunSettings settings;
    settings.console_lines = false;
    settings.force_replace = options.force == 1;
    settings.refuse_existing = options.refuse_existing == 1;
    settings.code_empty = true;
    settings.output_folder = folder_with_separator(options.output_dir);
    settings.recovery_percent = options.recovery;
    if (options.input_inode != 0) settings.walked_input = {file, options.input_device, options.input_inode};
    return settings;
}

// The percent of a coding's set: 0 (none) or a share that fits.
bool coding_percent_fits(int percent) { return percent == 0 || recovery_percent_fits(percent); }
static_assert(KESTRAV3_RECOVERY_MAX == max_recovery_percent, "the header gives the library's range");

int run_test(const char* file, const char* key, const RunSettings& settings, kestrav3_result& result) {
    static TestOutcome outcome;
    const int code = test_streams(file, key, outcome, settings);
    if (code < 0) return code;
    const BlockList missing = outcome.missing();
    result.damaged_count = outcome.damaged.count();
    result.missing_count = missing.count();
    result.trailing_bytes = outcome.trailing;
    if (outcome.damaged.count() > 0) copy_text(result.damaged, outcome.damaged.text());
    if (missing.count() > 0) copy_text(result.missing, missing.text());
    copy_text(result.header, outcome.record.header.fault());
    return code;
}

// A restore with damaged blocks still writes the file; the batch line
// names them.
int run_restore(const char* file, const char* key, const RunSettings& settings, RunResult& run,
                kestrav3_result& result) {
    static RestoreOutcome outcome;
    outcome = RestoreOutcome{};
    const int code = decode_streams(file, key, settings, outcome, run);
    if (code < 0) return code;
    result.damaged_count = outcome.damaged.count();
    result.missing_count = outcome.missing.count();
    result.trailing_bytes = outcome.trailing;
    if (outcome.damaged.count() > 0) copy_text(result.damaged, outcome.damaged.text());
    if (outcome.missing.count() > 0) copy_text(result.missing, outcome.missing.text());
    copy_text(result.header, outcome.header.fault());
    return code;
}

int run_describe(const char* file, const char* key, const RunSettings& settings, kestrav3_result& result) {
    HeaderCheck header;
    const int code = decode_met(file, key, result.metadata, header, settings);
    copy_text(result.header, header.fault());
    return code;
}

// The input goes only once its coded file is on the device.
int remove_coded_input(const char* file, const std::string& coded_path, kestrav3_result& result) {
    if (!platform::flush_to_device(coded_path.c_str())) return ERR_IO_STOPPED;
    if (!platform::remove_entry(file)) return ERR_READ;
    result.removed = 1;
    return 0;
}

int run_batch_pipeline(int operation, const char* file, const char* key, const kestrav3_options& options,
                       const RunSettings& settings, RunResult& run, kestrav3_result& result) {
    switch (operation) {
    case KESTRAV3_CODE: {
        const int code = code_streams(file, key, settings, run);
        return code == 0 && options.remove_input == 1 ? remove_coded_input(file, run.written_path, result) : code;
    }
    case KESTRAV3_DECODE: return run_restore(file, key, settings, run, result);
    case KESTRAV3_TEST: return run_test(file, key, settings, result);
    case KESTRAV3_DESCRIBE: return run_describe(file, key, settings, result);
    default: return ERR_READ;
    }
}

// The coder of the design's forms, with a recovery set of percent (0: none).
int code_with_set(const char* file, const char* key, int percent, int report, int window) {
    if (!coding_percent_fits(percent)) {
        if (report == 1) print_error(ERR_NUMBER);
        return ERR_NUMBER;
    }
    RunSettings settings;
    settings.recovery_percent = percent;
    RunResult done;
    return run(report, window, [&] { return code_streams(file, key, settings, done); });
}

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
    RunResult done;
    const int result = run(report, window, [&] { return decode_streams(file, key, RunSettings{}, outcome, done); });
    if (result >= 0 && report == 1) {
        print_restore_report(outcome);
        // Damage: whether the recovery set beside the coded file can repair it.
        const long long blocks = outcome.damaged.count() + outcome.missing.count();
        const bool other = outcome.trailing > 0 || outcome.header.any();
        if (blocks > 0 || other) print_set_notice(file, blocks, other);
    }
    return result;
}

}  // namespace

}  // namespace kestrav3

using namespace kestrav3;

extern "C" {

int kestrav3code(const char* file, const char* key, int report) { return code_with_set(file, key, 0, report, 0); }

int kestrav3code_g(const char* file, const char* key, int report) { return code_with_set(file, key, 0, report, 1); }

int kestrav3decode(const char* file, const char* key, int report) { return restore(file, key, report, 0); }

int kestrav3decode_g(const char* file, const char* key, int report) { return restore(file, key, report, 1); }

int kestrav3desc(const char* file, const char* key, char* text, int report) {
    HeaderCheck header;
    const int result = run(report, keep_window_setting, [&] { return decode_met(file, key, text, header); });
    // Standard output carries the metadata alone: the copies' difference
    // goes to standard error.
    if (result >= 0 && report == 1 && header.any()) std::fprintf(stderr, " Note:      %s\n", header.note().c_str());
    return result;
}

int kestrav3test(const char* file, const char* key, int report) {
    TestOutcome outcome;
    const int result = run(report, 0, [&] { return test_streams(file, key, outcome); });
    if (result >= 0 && report == 1) {
        print_test_report(outcome);
        print_set_notice(file, outcome.damaged.count() + outcome.missing().count(),
                         outcome.trailing > 0 || !outcome.record.from_copy2.empty() || outcome.record.header.any());
    }
    return result;
}

int kestrav3code_recovery(const char* file, const char* key, int recovery, int report) {
    return code_with_set(file, key, recovery, report, 0);
}

int kestrav3protect(const char* file, int recovery, int report) {
    static ProtectOutcome outcome;
    if (!recovery_percent_fits(recovery)) {
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

int kestrav3run(int operation, const char* file, const char* key, const kestrav3_options* options,
                kestrav3_result* result) {
    *result = kestrav3_result{};
    begin_run();
    const kestrav3_options settings = options != nullptr ? *options : kestrav3_options{};
    int code = 0;
    if (!coding_percent_fits(settings.recovery)) {
        code = ERR_NUMBER;
    } else {
        const RunSettings run_settings = batch_settings(settings, file);
        RunResult done;
        code = run_batch_pipeline(operation, file, key, settings, run_settings, done, *result);
        progress_line_end();
        const bool writes = operation == KESTRAV3_CODE || operation == KESTRAV3_DECODE;
        // A coded file whose set failed is written all the same.
        if (writes && (code >= 0 || done.recovery_set_failed)) copy_text(result->written, done.written_path);
        if (operation == KESTRAV3_CODE && code >= 0) result->old_set_removed = done.removed_old_set ? 1 : 0;
        const bool checks = operation == KESTRAV3_TEST || operation == KESTRAV3_DECODE;
        if (checks && code > 0) result->repairable = set_can_repair(file, run_settings.walked_input) ? 1 : 0;
    }
    if (operation != KESTRAV3_DESCRIBE || code < 0) result->metadata[0] = '\0';
    result->code = code;
    if (code < 0) copy_text(result->message, message_of(code));
    if (code < 0 && !failure_detail.cause.empty()) copy_text(result->detail, failure_detail.cause);
    return code;
}

int kestrav3target(int operation, const char* file, const char* key, const char* output_dir, char* path, int size) {
    if (size <= 0) return ERR_NOMEM;
    path[0] = '\0';
    const std::string folder = folder_with_separator(output_dir);
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
