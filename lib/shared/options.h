// The option globals of a run, set by the exported operations and read by
// the layers below them. They are the caller's choices, not a run's state:
// a run begins by setting runlevel (and, for the coding runs,
// win_progress_onoff) and leaves code_utf8 as switch_utf_converting set it.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

// 1: names and metadata are converted between the native text and UTF-8.
extern int code_utf8;
// 1: the coding pipelines try to start the progress window.
extern int win_progress_onoff;
// 3: the console progress line may be shown; -1: quiet.
extern int runlevel;
// The coder's recovery set, in percent of its slices: 0 writes none.
extern int recovery_percent;

// 1: the coder prints its console lines (the sizes, "Meta:", "Save:",
// "Start coder:"); 0: it prints none of them. Only kestrav3run sets 0, for
// the run it is in; every other export runs with 1.
extern int console_lines;

// 1: the pipelines replace what they would otherwise refuse to replace
// (an existing coded file or restored file that is not the run's own).
// A refusal that -f may overrule is written as
//     if (force_replace == 0) return <its error code>;
// Only kestrav3run sets 1, for the run it is in; every other export runs
// with 0. Refusals that protect the input itself (a coded file's only name
// being the input's) are never overruled.
extern int force_replace;

// The folder the coded or restored file is written into, with a separator
// at its end; empty: beside the input, as the design's forms do. Set by
// kestrav3run for its run, empty otherwise.
extern std::string output_folder;

// 1: a restore refuses any existing file under the restored name
// (ERR_NAME_TAKEN), -f or not. Only kestrav3run sets 1, when asked.
extern int refuse_existing;
// 1: an empty input is coded into a coded file of its headers alone.
// Only kestrav3run sets 1; the design's forms refuse an empty file.
extern int code_empty;

// The input a folder walk saw: when inode is not 0, the input at path is
// opened without following a link and must be this file.
struct WalkedInput {
    std::string path;
    unsigned long long device = 0;
    unsigned long long inode = 0;
};
extern WalkedInput walked_input;

// The path the last coding or restore wrote (or was about to write when it
// failed); empty when it got not that far.
extern std::string written_path;
// 1: the last coding, writing no set, removed the recovery set beside the
// coded file it replaced: that set described the replaced bytes.
extern int removed_old_set;

// The folder part a pipeline writes into for an input whose own folder part
// is input_folder.
std::string output_folder_for(std::string_view input_folder);

}  // namespace kestrav3
