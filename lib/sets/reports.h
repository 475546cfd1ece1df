// What the test and the restore say about a recovery set they find beside
// a coded file, and whether the set could repair it.
#pragma once

#include "shared/run_settings.h"

namespace kestrav3 {

// What -t and -d say about a set beside the coded file, given the count of
// blocks they found damaged or missing and whether they found other damage
// (bytes after the last group, a damaged header copy): nothing when there is
// no set.
void print_set_notice(const char* path, long long damaged_blocks, bool other_damage);

// True when the set beside the coded file at path holds enough recovery
// slices to rebuild every damaged slice of it; prints nothing. A path that
// is the walked input is read as the file the walk saw.
bool set_can_repair(const char* path, const WalkedInput& walked);

}  // namespace kestrav3
