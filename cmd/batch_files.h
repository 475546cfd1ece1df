// The files of a run of the many-file form: those the command line names and
// those its folders hold, each once, and the refusal of two that would write
// one name.
#pragma once
#include <string>
#include <vector>

#include "batch_options.h"
#include "operations.h"
#include "system/program.h"

namespace kestrav3::cmd {

// A file of the batch, or an argument that is none.
struct Entry {
    std::string path;
    std::string problem;  // why it is not run ("" when it is)
    // A file a folder walk found: which file it was then (inode 0 for a
    // file named on the command line), so that no other is opened.
    system::NodeId walked{};
    bool skipped = false;  // problem says why it is passed over, not failed
};

// The files of the command line and of the folders walked. A file named
// twice (in two spellings, or by two links) is run once, with a note.
std::vector<Entry> collect(const Operation& operation, const BatchOptions& options, std::vector<std::string>& notes);

// Two files of one batch that would write the same name of one folder are
// refused before anything is written.
bool refuse_collisions(const Operation& operation, const BatchOptions& options, const std::vector<Entry>& entries,
                       const std::string& key);

}  // namespace kestrav3::cmd
