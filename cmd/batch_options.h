// The options of the many-file form, kestrav3 OPERATION [OPTION...] FILE...,
// read from the command line, and the key of the batch.
#pragma once
#include <string>
#include <vector>

#include "operations.h"

namespace kestrav3::cmd {

enum class KeySource { ask, file, variable };

struct BatchOptions {
    KeySource key_source = KeySource::ask;
    std::string key_argument;  // the FILE of -k, the VAR of -E
    int key_options = 0;       // how many key options were given
    bool recurse = false;
    bool force = false;
    bool remove_input = false;
    std::string output_dir;
    bool quiet = false;
    int jobs = 1;
    int recovery = 0;     // coding: the percent of the recovery set, 0 none
    bool worker = false;  // a worker of -j: the key and the files come on standard input
    // The program's standard output is a terminal; a worker is told so by
    // --terminal, since its own output is a pipe to the program.
    bool terminal = false;
    std::vector<std::string> arguments;
};

// Reads the options and the files; false with a reason when the command
// line is not understood.
bool parse_batch(const Operation& operation, int argc, char** argv, BatchOptions& options, std::string& error);

// The key, read once for the whole batch; false (after saying why on
// standard error) when there is none to use.
bool batch_key(const Operation& operation, const BatchOptions& options, std::string& key);

}  // namespace kestrav3::cmd
