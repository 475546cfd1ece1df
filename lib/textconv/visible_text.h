// Text from a coded file shown on a terminal: control characters would act
// on the terminal instead of showing, so they are shown escaped.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

// text with every control byte other than LF, TAB and CR, and DEL, written
// as \xNN (two upper-case hexadecimal digits).
std::string visible_text(std::string_view text);

}  // namespace kestrav3
