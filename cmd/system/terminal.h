// The terminal: the program's key prompt, and what the console output goes
// to. Part of the program's seam for the system (terminal_posix.cpp,
// terminal_win32.cpp).
#pragma once
#include <string>

namespace kestrav3::cmd::system {

// True when standard output is a terminal (a console on Windows).
bool output_is_terminal();

// A closed pipe or a file-size limit must not end the program: the write
// that meets it fails instead (SIGPIPE and SIGXFSZ ignored; nothing to do
// on Windows).
void ignore_output_signals();

// True when standard input is a terminal.
bool input_is_terminal();

// Shows prompt on the terminal and reads one line without echoing it (the
// line feed removed). False when there is no terminal to read from.
bool read_hidden_line(const char* prompt, std::string& line);

}  // namespace kestrav3::cmd::system
