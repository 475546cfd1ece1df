#include "progress_view.h"

#include <algorithm>

namespace progress_window {

int parse_message(const unsigned char* bytes, std::size_t size) {
    const std::size_t limit = std::min(size, message_max);
    int value = 0;
    for (std::size_t i = 0; i < limit; ++i) {
        const unsigned char c = bytes[i];
        if (c == '\n') {
            // At least one digit, and the value is percent + 1 for 0 to 100.
            if (i == 0 || value < 1 || value > 101) return -1;
            return value - 1;
        }
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return -1;
}

namespace {

bool show(Reading& reading, int percent) {
    if (percent <= reading.shown) return false;
    reading.shown = percent;
    return true;
}

}  // namespace

bool take_reading(Reading& reading, int percent) {
    const int earlier = reading.previous;
    reading.previous = percent;
    if (percent < 0 || earlier < 0) return false;
    return show(reading, std::min(percent, earlier));
}

bool take_final_reading(Reading& reading, int percent) {
    reading.previous = percent;
    return percent >= 0 && show(reading, percent);
}

PercentText percent_text(int percent) {
    PercentText text;
    int value = std::clamp(percent, 0, 100);
    std::array<char, 3> digits{};
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (count > 0) text.chars[text.length++] = digits[--count];
    text.chars[text.length++] = '%';
    return text;
}

Layout layout_window(int width, int height, int percent, TextExtent text) {
    const int text_height = text.ascent + text.descent;
    const int bar_height = std::clamp(height - 2 * margin - text_gap - text_height, bar_min_height, bar_max_height);
    const int top = std::max(0, (height - (bar_height + text_gap + text_height)) / 2);

    Layout layout;
    layout.track = {margin, top, std::max(2, width - 2 * margin), bar_height};
    // The fill lies inside the one-pixel outline and grows from the left.
    const int inner_width = layout.track.width - 2;
    const int done = std::clamp(percent, 0, 100);
    layout.fill = {layout.track.x + 1, layout.track.y + 1, inner_width * done / 100, layout.track.height - 2};
    layout.text_x = (width - text.width) / 2;
    layout.text_baseline = top + bar_height + text_gap + text.ascent;
    return layout;
}

}  // namespace progress_window
