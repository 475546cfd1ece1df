// The many-file form: kestrav3 OPERATION [OPTION...] FILE...
// One line per file on standard output (failures on standard error), then a
// summary line; exit status 1 when any file failed, else 3 when any was
// damaged, else 0; 2 for a command line not understood.
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "batch_files.h"
#include "batch_options.h"
#include "file_report.h"
#include "operations.h"
#include "system/program.h"
#include "system/terminal.h"
#include "worker_protocol.h"
#include "workers.h"

namespace kestrav3::cmd {

namespace {

int usage_error(const std::string& problem) {
    std::fprintf(stderr, "kestrav3: %s\nkestrav3: see kestrav3 --help\n", problem.c_str());
    return exit_usage;
}

struct Tally {
    long long files = 0;
    long long done = 0;
    long long damaged = 0;
    long long failed = 0;
    long long skipped = 0;  // passed over or refused
    long long refused = 0;
};

// Failures and refusals go to standard error; -q keeps only them and the
// damaged files.
void show(const Report& report, const BatchOptions& options, Tally& tally) {
    ++tally.files;
    switch (report.outcome) {
    case Outcome::done: ++tally.done; break;
    case Outcome::damaged: ++tally.damaged; break;
    case Outcome::failed: ++tally.failed; break;
    case Outcome::skipped: ++tally.skipped; break;
    case Outcome::refused:
        ++tally.skipped;
        ++tally.refused;
        break;
    }
    if (report.outcome == Outcome::failed || report.outcome == Outcome::refused) {
        std::fflush(stdout);
        std::fputs(report.text.c_str(), stderr);
        return;
    }
    if (!options.quiet || report.outcome == Outcome::damaged) std::fputs(report.text.c_str(), stdout);
    std::fflush(stdout);
}

// Coding and restoring count every file written, a damaged restore among
// them; the test and the metadata count the intact (or read) ones apart.
// Files passed over or refused are counted when there are any; under -q
// there is a summary only when something is not well.
void print_summary(const Operation& operation, const BatchOptions& options, const Tally& tally) {
    if (options.quiet && tally.damaged == 0 && tally.failed == 0 && tally.refused == 0) return;
    const bool writes = operation.batch_operation == KESTRAV3_CODE || operation.batch_operation == KESTRAV3_DECODE;
    const std::string skipped = tally.skipped > 0 ? ", " + std::to_string(tally.skipped) + " skipped" : "";
    std::printf("kestrav3: %lld file%s: %lld %s, %lld damaged%s, %lld failed\n", tally.files,
                tally.files == 1 ? "" : "s", writes ? tally.done + tally.damaged : tally.done,
                std::string(operation.done_word).c_str(), tally.damaged, skipped.c_str(), tally.failed);
}

int status_of(const Tally& tally) {
    if (tally.failed > 0 || tally.refused > 0) return exit_failed;
    return tally.damaged > 0 ? exit_not_intact : exit_ok;
}

}  // namespace

int run_batch(const Operation& operation, int argc, char** argv) {
    BatchOptions options;
    std::string error;
    if (!parse_batch(operation, argc, argv, options, error)) return usage_error(error);
    if (!options.output_dir.empty() && !system::leads_to_folder(options.output_dir)) {
        std::fprintf(stderr, "kestrav3: --output-dir %s: not a folder\n", options.output_dir.c_str());
        return exit_failed;
    }
    if (!options.worker) options.terminal = system::output_is_terminal();
    std::string key;
    if (!batch_key(operation, options, key)) return exit_failed;
    if (options.worker) return run_as_worker(operation, options, key);
    std::vector<std::string> notes;
    const std::vector<Entry> entries = collect(operation, options, notes);
    if (refuse_collisions(operation, options, entries, key)) return exit_failed;
    if (!options.quiet)
        for (const auto& note : notes) std::fprintf(stderr, "%s\n", note.c_str());
    if (operation.batch_operation == KESTRAV3_DESCRIBE) std::setlocale(LC_ALL, "");
    Tally tally;
    // Without its own path the program cannot start workers: it runs the files itself.
    if (options.jobs > 1 && entries.size() > 1 && !system::own_program().empty()) {
        run_in_workers(operation, options, entries, key, [&](const Report& report) { show(report, options, tally); });
    } else {
        for (const auto& entry : entries) show(run_file(operation, options, entry, key), options, tally);
    }
    print_summary(operation, options, tally);
    const int status = finish_output(status_of(tally));
    // Stopped by a signal: what was done is said; the run ends as the
    // signal ends a program, so that the caller sees it.
    if (system::stop_signal() != 0) system::end_by_signal(system::stop_signal());
    return status;
}

}  // namespace kestrav3::cmd
