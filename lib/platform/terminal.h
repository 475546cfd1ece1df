// The terminal: the program's key prompt, and whether output goes to a
// terminal. Compiled into the program and the library; the library only
// asks about its output, it never reads from the user.
#pragma once
#include <string>

namespace kestrav3::platform {

// True when standard input is a terminal.
bool input_is_terminal();

// True when standard output is a terminal.
bool output_is_terminal();

// Shows prompt on the terminal and reads one line without echoing it (the
// line feed removed). False when there is no terminal to read from.
bool read_hidden_line(const char* prompt, std::string& line);

}  // namespace kestrav3::platform
