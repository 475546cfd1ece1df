// The recovery commands of the program: adding a recovery set to coded
// files, repairing coded files from their sets, and coding with a set.
#pragma once

namespace kestrav3::commands {

// kestrav3 -p [--recovery=P] FILE.archi...: args are what follows "-p".
int protect(int count, char** args);
// kestrav3 --repair FILE.archi...: args are what follows "--repair".
int repair(int count, char** args);
// kestrav3 -c --recovery=P FILE KEY: args are what follows "-c".
int code_with_recovery(int count, char** args);

// The lines --help adds for these commands.
extern const char* const help_text;

}  // namespace kestrav3::commands
