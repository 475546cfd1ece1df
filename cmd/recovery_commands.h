// The recovery commands of the program, -p and --repair (their rows are in
// operations.h): adding a recovery set to coded files and repairing coded
// files from their sets; coding with a set is the many-file form's
// --recovery=P.
#pragma once
#include <string_view>

namespace kestrav3::cmd {

// The percent of --recovery=P: a whole number from 1 to 100; -1 otherwise.
int recovery_percent_value(std::string_view digits);

}  // namespace kestrav3::cmd
