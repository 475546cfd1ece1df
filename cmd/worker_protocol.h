// How the program and a worker of -j talk, and the worker's side of it.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "batch_files.h"
#include "batch_options.h"
#include "file_report.h"
#include "operations.h"

namespace kestrav3::cmd {

// A worker of -j and the program talk in records ended by a NUL byte, which
// neither a key nor a path nor a report can hold. The program sends the key,
// then a file's path whenever the worker is free; the worker answers each
// file with the outcome's letter, a line feed and the report.
constexpr std::string_view outcome_letters = "dDFsS";
constexpr char record_end = '\0';

// The next record of standard input; false at its end.
bool read_record(std::string& record);

// A file as the program sends it to a worker: the device and inode a walk
// saw (0 0 for none), then the path.
std::string file_record(const Entry& entry);

// The arguments the program starts a worker with: its own options, for the
// files it will be sent.
std::vector<std::string> worker_arguments(const Operation& operation, const BatchOptions& options);

// The report a worker answered for file, or a failure when the answer is none.
Report worker_report(const std::string& file, const std::string& raw);

// A worker runs file after file for as long as the program that started it
// is there: once it has gone, the worker starts no new file (and the
// system ends it in the middle of one, which leaves a coded file complete
// or not written, and the input in place).
int run_as_worker(const Operation& operation, const BatchOptions& options, const std::string& key);

}  // namespace kestrav3::cmd
