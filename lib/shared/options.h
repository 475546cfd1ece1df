// The option globals of a run, set by the exported operations and read by
// the layers below them. They are the caller's choices, not a run's state:
// a run begins by setting runlevel (and, for the coding runs,
// win_progress_onoff) and leaves code_utf8 as switch_utf_converting set it.
// Every other setting of a run travels as a RunSettings (run_settings.h).
#pragma once

namespace kestrav3 {

// 1: names and metadata are converted between the native text and UTF-8.
extern int code_utf8;
// 1: the coding pipelines try to start the progress window.
extern int win_progress_onoff;
// 3: the console progress line may be shown; -1: quiet.
extern int runlevel;

}  // namespace kestrav3
