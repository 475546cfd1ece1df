// The lines the many-file form prints for one file, and the run of one file
// through the library that they report.
#pragma once
#include <string>

#include "batch_files.h"
#include "batch_options.h"
#include "kestrav3lib.h"
#include "operations.h"

namespace kestrav3::cmd {

// Names are always shown escaped, in a pipe too, so that each file's line
// stays one line and no name can forge a line or an escape: a backslash is
// doubled, line feeds, tabs, carriage returns and every other control are
// written as \xHH (C1 controls as \u00HH).
std::string shown(const std::string& text);

// skipped: passed over on purpose (a link under -r), said on standard
// output; refused: not run, so as not to replace a file, said on standard
// error and failing the run.
enum class Outcome { done, damaged, failed, skipped, refused };

// What one file came to, and the lines that say so.
struct Report {
    Outcome outcome = Outcome::failed;
    std::string text;  // whole lines, each ending in a line feed
};

// A file that failed, and why: the line every failure of the form starts with.
Report failure(const std::string& name, const std::string& why);

// Runs one file of the batch and says what it came to.
Report run_file(const Operation& operation, const BatchOptions& options, const Entry& entry, const std::string& key);

}  // namespace kestrav3::cmd
