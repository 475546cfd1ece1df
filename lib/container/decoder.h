// What a restore reports once it is done: the restored name, and the blocks
// that failed their check and where they are logged.
#pragma once
#include <string>

#include "container/tester.h"
#include "shared/run_settings.h"

namespace kestrav3 {

struct RestoreOutcome {
    std::string path;         // the coded file, as the caller named it
    std::string name;         // the restored file's name, in native text
    std::string kept;         // the name of a file the damaged restore left untouched, when it met one
    std::string log;          // the hash-error log: the restored path + ".err"
    BlockList damaged;        // blocks whose digest differs from their record
    BlockList missing;        // blocks the coded file ends before, written as zeros
    long long complete = 0;   // groups read whole
    long long trailing = 0;   // bytes after the last group
    HeaderCheck header;       // how the header copies compared
    bool logged = false;      // the damaged and missing blocks were appended to the log
    std::string log_failure;  // why they could not be, when not

    // 0 when the restore is whole; otherwise damage_count. Header copies
    // that differ are not counted when one was read: the restored file is right.
    int result() const { return damage_count(damaged.count() + missing.count(), trailing, header.lost); }
    // The damaged and missing blocks, as the log lists them.
    BlockList listed() const {
        BlockList all = damaged;
        for (const auto& [first, last] : missing.runs()) all.add_run(first, last);
        return all;
    }
    // The restore is damaged once anything but the header copies' difference is wrong.
    bool damaged_restore() const { return damaged.count() > 0 || missing.count() > 0 || trailing > 0 || header.lost; }
};

// Restores as decode_streams does and fills outcome. A coded file that ends
// early is restored to its full size, the missing blocks as zeros. A damaged
// restore never replaces a file: under a taken name it is written to NAME +
// ".damaged" (or ".damaged.1" and on). run.written_path receives the path
// written (or about to be when it failed). Returns outcome.result(), or a
// negative error code.
int decode_streams(const char* path, const char* key, const RunSettings& settings, RestoreOutcome& outcome,
                   RunResult& run);

// Appends the numbers, one a line, to the log (created when missing; a link
// there is not followed), checking every write and the close. False, with
// the system's text in why, when any of it failed.
bool write_damage_log(const std::string& log, const BlockList& damaged, std::string& why);

// The lines after the progress line: the restored name (escaped on a
// terminal), what was wrong with the header copies or after the last group,
// and, when blocks failed their check or are missing, how many and where
// they are listed.
void print_restore_report(const RestoreOutcome& outcome);

}  // namespace kestrav3
