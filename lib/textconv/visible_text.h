// Text made safe to show on a terminal: control characters that could move
// the cursor, retitle the window or clear the screen are shown, not obeyed.
#pragma once
#include <string>
#include <string_view>

namespace kestrav3 {

// text with every control character other than line feed, tab and carriage
// return, with DEL, and with the UTF-8 C1 controls (U+0080 to U+009F) in a
// visible escaped form: "\x1B" for the byte 1B, "\u009B" for U+009B.
// Everything else, a backslash included, is kept as it is.
std::string visible_text(std::string_view text);

}  // namespace kestrav3
