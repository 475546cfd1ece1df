#include "shared/options.h"

namespace kestrav3 {

int code_utf8 = 1;
int win_progress_onoff = 1;
int runlevel = 3;

}  // namespace kestrav3
