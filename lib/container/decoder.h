// What a restore reports once it is done: the restored name, and the blocks
// that failed their check and where they are logged.
#pragma once
#include <string>

#include "container/tester.h"

namespace kestrav3 {

struct RestoreOutcome {
    std::string name;         // the restored file's name, in native text
    std::string log;          // the hash-error log: the restored path + ".err"
    BlockList damaged;        // blocks whose digest differs from their record
    bool logged = false;      // the damaged blocks were appended to the log
    std::string log_failure;  // why they could not be, when not
};

// Restores as decode_streams does and fills outcome. Returns the count of
// damaged blocks (0 when intact, at most INT_MAX), or a negative error code.
int decode_streams(const char* path, const char* key, RestoreOutcome& outcome);

// Appends the numbers, one a line, to the log (created when missing; a link
// there is not followed), checking every write and the close. False, with
// the system's text in why, when any of it failed.
bool write_damage_log(const std::string& log, const BlockList& damaged, std::string& why);

// The lines after the progress line: the restored name (escaped on a
// terminal) and, when blocks failed their check, how many and where they
// are listed.
void print_restore_report(const RestoreOutcome& outcome);

}  // namespace kestrav3
