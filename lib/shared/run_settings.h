// The settings of one run and what it reports back beyond its result code.
// The exports build a RunSettings from their arguments and hand it, with a
// RunResult to fill, to the pipeline they run; no layer below reads a
// setting from anywhere else.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

// The input a folder walk saw: when inode is not 0, the input at path is
// opened without following a link and must be this file.
struct WalkedInput {
    std::string path;
    unsigned long long device = 0;
    unsigned long long inode = 0;
};

// A recovery set's share, in percent of its input slices: 1 to 100. The
// one range every recovery percent is checked against.
constexpr int max_recovery_percent = 100;
constexpr bool recovery_percent_fits(int percent) { return percent >= 1 && percent <= max_recovery_percent; }

struct RunSettings {
    // The coder prints its console lines (the sizes, "Meta:", "Save:",
    // "Start coder:"); only kestrav3run turns them off.
    bool console_lines = true;
    // The pipelines replace what they would otherwise refuse to replace (an
    // existing coded file or restored file that is not the run's own).
    // Refusals that protect the input itself (a coded file's only name
    // being the input's) are never overruled. Only kestrav3run sets it.
    bool force_replace = false;
    // A restore refuses any existing file under the restored name
    // (ERR_NAME_TAKEN), force_replace or not.
    bool refuse_existing = false;
    // An empty input is coded into a coded file of its headers alone; the
    // design's forms refuse an empty file.
    bool code_empty = false;
    // The folder the coded or restored file is written into, with a
    // separator at its end; empty: beside the input.
    std::string output_folder;
    // The coder's recovery set, in percent of its slices: 0 writes none.
    // The exports check its range; the pipelines take it as given.
    int recovery_percent = 0;
    WalkedInput walked_input;

    // The folder part a pipeline writes into for an input whose own folder
    // part is input_folder.
    std::string output_folder_for(std::string_view input_folder) const {
        return output_folder.empty() ? std::string(input_folder) : output_folder;
    }
};

struct RunResult {
    // The path the coding or restore wrote (or was about to write when it
    // failed); empty when it got not that far.
    std::string written_path;
    // The coding, writing no set, removed the recovery set beside the coded
    // file it replaced: that set described the replaced bytes.
    bool removed_old_set = false;
    // The coding put its coded file in place but could not write its
    // recovery set; the failure names the set file and why.
    bool recovery_set_failed = false;
};

}  // namespace kestrav3
