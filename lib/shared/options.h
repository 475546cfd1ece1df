// The option globals of a run, set by the exported operations and read by
// the layers below them.
#pragma once

namespace kestrav3 {

// 1: names and metadata are converted between the native text and UTF-8.
extern int code_utf8;
// 1: the coding pipelines try to start the progress window.
extern int win_progress_onoff;
// 3: the console progress line may be shown; -1: quiet.
extern int runlevel;
// The coder's recovery set, in percent of its slices: 0 writes none.
extern int recovery_percent;

}  // namespace kestrav3
