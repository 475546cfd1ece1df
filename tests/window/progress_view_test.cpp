// What the window makes of the bytes in the block, and where it draws.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "progress_view.h"

namespace {

using namespace progress_window;

int parse(const std::string& bytes) {
    return parse_message(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(ProgressMessage, ReadsPercentPlusOneUpToTheNewline) {
    EXPECT_EQ(parse("1\n"), 0);
    EXPECT_EQ(parse("10\n"), 9);
    EXPECT_EQ(parse("101\n"), 100);
    // Bytes behind the newline are older messages and do not count.
    EXPECT_EQ(parse("2\n01\n"), 1);
    EXPECT_EQ(parse(std::string("51\n\0\0", 5)), 50);
}

TEST(ProgressMessage, RejectsAnythingButAWholeMessage) {
    EXPECT_EQ(parse(std::string(8, '\0')), -1);  // a new, empty block
    EXPECT_EQ(parse("\n"), -1);
    EXPECT_EQ(parse("0\n"), -1);  // below percent + 1 for 0
    EXPECT_EQ(parse("102\n"), -1);
    EXPECT_EQ(parse("1010\n"), -1);                 // longer than any message
    EXPECT_EQ(parse(std::string("101\0", 4)), -1);  // no newline yet
    EXPECT_EQ(parse("-5\n"), -1);
    EXPECT_EQ(parse("4 \n"), -1);
    EXPECT_EQ(parse("12"), -1);  // cut short
}

TEST(ProgressReading, TakesTheSmallerOfTwoReadsInARow) {
    Reading r;
    EXPECT_FALSE(take_reading(r, 41));  // one read alone counts for nothing
    EXPECT_EQ(r.shown, 0);
    EXPECT_TRUE(take_reading(r, 41));
    EXPECT_EQ(r.shown, 41);
    EXPECT_FALSE(take_reading(r, 41));  // unchanged
    // An unparsable read breaks the pair.
    EXPECT_FALSE(take_reading(r, -1));
    EXPECT_FALSE(take_reading(r, 60));
    EXPECT_EQ(r.shown, 41);
    EXPECT_TRUE(take_reading(r, 61));
    EXPECT_EQ(r.shown, 60);
}

TEST(ProgressReading, KeepsUpWhenEveryReadIsNew) {
    // A fast run moves on between any two reads; the bar follows one behind.
    Reading r;
    for (int p = 10; p <= 20; ++p) take_reading(r, p);
    EXPECT_EQ(r.shown, 19);
    take_reading(r, 99);
    EXPECT_EQ(r.shown, 20);
    EXPECT_FALSE(finished(r));
    take_reading(r, 100);
    EXPECT_EQ(r.shown, 99);
    EXPECT_TRUE(take_reading(r, 100));
    EXPECT_TRUE(finished(r));
}

TEST(ProgressReading, ATornMessageNeitherShowsNorEndsTheRun) {
    // "10\n" written over "9\n1\n" passes through "101\n" for an instant.
    Reading r;
    take_reading(r, 8);
    take_reading(r, 8);
    EXPECT_FALSE(take_reading(r, parse("101\n")));
    EXPECT_EQ(r.shown, 8);
    EXPECT_TRUE(take_reading(r, parse("10\n")));
    EXPECT_EQ(r.shown, 9);
    EXPECT_FALSE(finished(r));
    // "20\n" written over "19\n" can pass through "29\n".
    take_reading(r, parse("19\n"));
    take_reading(r, parse("19\n"));
    EXPECT_FALSE(take_reading(r, parse("29\n")));
    EXPECT_EQ(r.shown, 18);
    EXPECT_TRUE(take_reading(r, parse("20\n")));
    EXPECT_EQ(r.shown, 19);
    // The real end is read twice in a row.
    take_reading(r, 100);
    EXPECT_TRUE(take_reading(r, 100));
    EXPECT_TRUE(finished(r));
}

TEST(ProgressReading, NeverGoesBack) {
    Reading r;
    take_reading(r, 70);
    take_reading(r, 70);
    EXPECT_FALSE(take_reading(r, 7));
    EXPECT_FALSE(take_reading(r, 7));
    EXPECT_EQ(r.shown, 70);
    EXPECT_FALSE(take_final_reading(r, 12));
    EXPECT_EQ(r.shown, 70);
}

TEST(ProgressReading, AFinalReadCountsAtOnce) {
    Reading r;
    EXPECT_TRUE(take_final_reading(r, 100));
    EXPECT_TRUE(finished(r));
    Reading unreadable;
    EXPECT_FALSE(take_final_reading(unreadable, -1));
    EXPECT_EQ(unreadable.shown, 0);
}

TEST(ProgressText, IsThePercentageWithItsSign) {
    auto text = [](int p) {
        const PercentText t = percent_text(p);
        return std::string(t.chars.data(), static_cast<std::size_t>(t.length));
    };
    EXPECT_EQ(text(0), "0%");
    EXPECT_EQ(text(7), "7%");
    EXPECT_EQ(text(42), "42%");
    EXPECT_EQ(text(100), "100%");
    EXPECT_EQ(text(250), "100%");
    EXPECT_EQ(text(-3), "0%");
}

TEST(ProgressLayout, BarAndTextStayInsideEveryAllowedWindow) {
    const TextExtent text{40, 13, 3};
    for (const auto& [width, height] :
         {std::pair{min_width, min_height}, std::pair{initial_width, initial_height}, std::pair{800, 600}}) {
        for (int percent : {0, 49, 100}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " at " + std::to_string(percent));
            const Layout l = layout_window(width, height, percent, text);
            EXPECT_EQ(l.track.x, margin);
            EXPECT_EQ(l.track.x + l.track.width, width - margin);
            EXPECT_GE(l.track.height, bar_min_height);
            EXPECT_LE(l.track.height, bar_max_height);
            // The fill grows from the left inside the outline, and is full at 100.
            EXPECT_EQ(l.fill.x, l.track.x + 1);
            EXPECT_LE(l.fill.x + l.fill.width, l.track.x + l.track.width - 1);
            EXPECT_EQ(l.fill.width == l.track.width - 2, percent == 100);
            EXPECT_EQ(l.fill.width == 0, percent == 0);
            // The text is centred below the bar, and the whole sits centred.
            EXPECT_NEAR(l.text_x + text.width / 2, width / 2, 1);
            EXPECT_GE(l.text_baseline - text.ascent, l.track.y + l.track.height);
            const int below = height - (l.text_baseline + text.descent);
            EXPECT_NEAR(l.track.y, below, 1);
            EXPECT_GE(below, margin / 2);
        }
    }
}

}  // namespace
