// The scheduler of -j: the program's own file and its workers' files, the
// reports shown in the files' order.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "batch_files.h"
#include "batch_options.h"
#include "file_report.h"
#include "operations.h"

namespace kestrav3::cmd {

// What is done with each report, in the files' order.
using ShowReport = std::function<void(const Report&)>;

// options.jobs files at a time: the program runs one itself, and each of
// options.jobs - 1 workers, the program again started once, takes file
// after file. A worker holds the file at hand and the next one, so that it
// never waits while the program is busy with its own file.
void run_in_workers(const Operation& operation, const BatchOptions& options, const std::vector<Entry>& entries,
                    const std::string& key, const ShowReport& show);

}  // namespace kestrav3::cmd
