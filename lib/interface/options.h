// Option globals, result codes and the framed error printer.
#pragma once

namespace kestrav3 {

// Result codes of the pipelines: 0 is success, every failure is negative.
enum : int {
    ERR_READ = -1,
    ERR_EMPTY = -2,
    ERR_NOMEM = -3,
    ERR_IO_STOPPED = -4,
    ERR_NAME_TOO_LONG = -5,
    ERR_KEY_TOO_LONG = -7,
    ERR_KEY_TOO_SHORT = -8,
    ERR_NUMBER = -10,
    ERR_REDUNDANCY = -11,
    ERR_HEADER = -12,
    ERR_NAME_REFUSED = -13,
    ERR_NOISE = -20,
};

// 1: names and metadata are converted between the native text and UTF-8.
extern int code_utf8;
// 1: the coding pipelines try to start the progress window.
extern int win_progress_onoff;
// 3: the console progress line may be shown; -1: quiet.
extern int runlevel;

// Prints " ", the code's message line (when it has one) and " " again.
void print_error(int code);

}  // namespace kestrav3
