// The platform-independent part of the progress window: reading the progress
// message out of the shared block, deciding which value to show, and where
// the bar and its text go in a window of a given size.
#pragma once
#include <array>
#include <cstddef>

#include "progress/progress_block.h"

namespace progress_window {

// The block the library writes, as its header defines it: the name, the
// size in bytes, and the longest message ("101\n").
inline constexpr const char* block_name = kestrav3::progress_block::name;
inline constexpr std::size_t block_size = kestrav3::progress_block::size;
inline constexpr std::size_t message_max = kestrav3::progress_block::message_max;

// How often the block is read, how many reads lie between two checks that
// the block still exists, and how long 100 % stays on screen before the
// window closes.
inline constexpr int poll_interval_ms = 50;
inline constexpr int polls_per_block_check = 4;
inline constexpr int final_linger_ms = 500;

// Percentage shown for the start of the block, or -1 when the bytes hold no
// complete message. The block holds percent + 1 in decimal and a newline;
// anything after the newline is left over from older messages.
int parse_message(const unsigned char* bytes, std::size_t size);

// What the window shows. A reader may catch the library in the middle of
// writing a message, and a half-written message can look like a different,
// even larger, number: writing "10\n" over "9\n1\n" passes through "101\n".
// Such a read lasts only an instant, and the library's values only grow
// during a run. So each read is weighed with the one before it and the
// smaller of the two is taken: a torn read never outweighs a whole one, the
// bar lags one read behind, and 100 % needs two reads in a row. The value
// shown never goes down.
struct Reading {
    int shown = 0;      // percentage on screen
    int previous = -1;  // the last read, -1 when it was unparsable
};

// Feeds the result of one read; true when the shown value changed.
bool take_reading(Reading& reading, int percent);
// Feeds a read made after the writer has finished, which cannot be torn.
bool take_final_reading(Reading& reading, int percent);
// True when the run has reported its last block.
inline bool finished(const Reading& reading) { return reading.shown >= 100; }

// The percentage as text, e.g. "42%", with its length.
struct PercentText {
    std::array<char, 8> chars{};
    int length = 0;
};
PercentText percent_text(int percent);

// Window geometry, in pixels.
inline constexpr int margin = 16;
inline constexpr int text_gap = 10;  // between the bar and the text
inline constexpr int bar_min_height = 10;
inline constexpr int bar_max_height = 28;
inline constexpr int initial_width = 360;
inline constexpr int initial_height = 100;
inline constexpr int min_width = 220;
inline constexpr int min_height = 80;

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct TextExtent {
    int width = 0;
    int ascent = 0;
    int descent = 0;
};

struct Layout {
    Rect track;      // the whole bar, outlined
    Rect fill;       // the done part, inside the outline
    int text_x = 0;  // left end of the text
    int text_baseline = 0;
};

// Places the bar and the text for the given percentage: the bar spans the
// width inside the margins, the text sits centred below it, and both
// together are centred vertically.
Layout layout_window(int width, int height, int percent, TextExtent text);

// Colours as 8-bit red, green, blue.
struct Colour {
    unsigned char red;
    unsigned char green;
    unsigned char blue;
};
inline constexpr Colour background_colour{0xf4, 0xf4, 0xf2};
inline constexpr Colour track_colour{0xdc, 0xdc, 0xda};
inline constexpr Colour outline_colour{0xa0, 0xa0, 0x9c};
inline constexpr Colour fill_colour{0x2f, 0x6f, 0xcf};
inline constexpr Colour text_colour{0x22, 0x22, 0x22};

}  // namespace progress_window
