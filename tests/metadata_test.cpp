// Metadata from the companion file, through coding and "-m".
#include <gtest/gtest.h>

#include "cli_support.h"

namespace kestrav3::testing {
namespace {

struct Described {
    std::string meta_line;  // the encoder's "Meta:" line
    RunResult shown;        // the output of -m
};

Described code_and_describe(const TempDir& dir, const std::string& companion) {
    write_file(dir / "m.bin", "plain");
    write_file(dir / "m.bin.met", companion);
    const RunResult code = run_cli({"-c", "m.bin", "meta key"}, dir.path());
    const std::size_t at = code.out.find("Meta:");
    Described d;
    d.meta_line = at == std::string::npos ? "" : code.out.substr(at, code.out.find('\n', at) - at + 1);
    d.shown = run_cli({"-m", "m.bin.archi", "meta key"}, dir.path());
    return d;
}

TEST(Metadata, ASingleLineFeedIsKept) {
    TempDir dir;
    const Described d = code_and_describe(dir, "\n");
    EXPECT_EQ(d.meta_line, "Meta:    1 chars\n");
    EXPECT_EQ(d.shown.out, "\n\n");
    EXPECT_EQ(d.shown.status, 0);
}

TEST(Metadata, LongTextKeepsTheLinesThatFitIn2999Bytes) {
    TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 4000; ++i) text += "line " + std::to_string(1000 + i) + " of the notes\n";
    // Each line is 23 bytes: 130 lines fit (2990 bytes), the 131st would not.
    const Described d = code_and_describe(dir, text);
    EXPECT_EQ(d.meta_line, "Meta:    2990 chars\n");
    EXPECT_EQ(d.shown.out, text.substr(0, 2990) + "\n");
}

TEST(Metadata, LinesLongerThanAPieceAreReadInPieces) {
    TempDir dir;
    // One line of 3500 bytes is read 99 bytes at a time: 30 pieces fit.
    const Described d = code_and_describe(dir, std::string(3500, 'x'));
    EXPECT_EQ(d.meta_line, "Meta:    2970 chars\n");
    EXPECT_EQ(d.shown.out, std::string(2970, 'x') + "\n");
}

TEST(Metadata, NonAsciiTextComesBackAsWritten) {
    TempDir dir;
#if defined(_WIN32)
    // The companion file is Windows-1250 here, so it holds Czech letters
    // only (and none of those the conversion tables pair differently); it
    // is stored as UTF-8 and printed as Windows-1250 again.
    const std::string utf8 = "Příliš kůň úpěl ďábelské ódy, čtyři.\nDruhý řádek.\n";
    const Described d = code_and_describe(dir, native(utf8));
    EXPECT_EQ(d.meta_line, "Meta:    " + std::to_string(utf8.size()) + " chars\n");
    EXPECT_EQ(d.shown.out, native(utf8) + "\n");
#else
    const std::string text = "Příliš žluťoučký kůň úpěl ďábelské ódy.\nΑλφα, 日本語, emoji 🐎\n";
    const Described d = code_and_describe(dir, text);
    EXPECT_EQ(d.meta_line, "Meta:    " + std::to_string(text.size()) + " chars\n");
    EXPECT_EQ(d.shown.out, text + "\n");
#endif
}

}  // namespace
}  // namespace kestrav3::testing
