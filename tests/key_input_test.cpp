// Keys given as "-": read from standard input, or from the terminal
// without echo (asked twice when coding).
#include <gtest/gtest.h>

#include "cli_support.h"

namespace kestrav3::testing {
namespace {

TEST(KeyInput, OneLineFromStandardInputWhenItIsNoTerminal) {
    TempDir dir;
    write_file(dir / "k.bin", pattern_bytes(6000));
    RunResult r = run_cli_with_input({"-c", "k.bin", "-"}, dir.path(), "piped key\nrest ignored\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Key"), std::string::npos) << "no prompt without a terminal";
    fs::rename(dir / "k.bin", dir / "k.orig");
    // The key read is the key as typed on the command line.
    r = run_cli({"-d", "k.bin.archi", "piped key"}, dir.path());
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(read_file(dir / "k.bin") == read_file(dir / "k.orig"));
    fs::remove(dir / "k.bin");
    r = run_cli_with_input({"-d", "k.bin.archi", "-"}, dir.path(), "piped key");  // no line feed at the end
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::exists(dir / "k.bin"));
    r = run_cli_with_input({"-m", "k.bin.archi", "-"}, dir.path(), "piped key\n");
    EXPECT_EQ(r.out, "no added file description\n");
}

TEST(KeyInput, KeysReadAreCheckedLikeAnyOther) {
    TempDir dir;
    write_file(dir / "k.bin", "x");
    RunResult r = run_cli_with_input({"-c", "k.bin", "-"}, dir.path(), "abc\n");
    EXPECT_EQ(r.out, framed_message(-8));
    EXPECT_EQ(r.status, 1);
    r = run_cli_with_input({"-c", "k.bin", "-"}, dir.path(), "");
    EXPECT_EQ(r.out, framed_message(-8));
    r = run_cli_with_input({"-c", "k.bin", "-"}, dir.path(), std::string(41, 'k') + "\n");
    EXPECT_EQ(r.out, framed_message(-7));
}

#if !defined(_WIN32)
// POSIX only: typed on a pseudo-terminal.
TEST(KeyInput, FromTheTerminalWithoutEchoAndTwiceWhenCoding) {
    TempDir dir;
    write_file(dir / "t.bin", pattern_bytes(5000));
    RunResult r = run_cli_on_terminal({"-c", "t.bin", "-"}, dir.path(), {"typed secret", "typed secret"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("typed secret"), std::string::npos) << "the key must not be echoed: " << r.out;
    EXPECT_EQ(r.out.rfind(" Key: \r\n Key: \r\n", 0), 0u) << r.out;
    fs::rename(dir / "t.bin", dir / "t.orig");
    ASSERT_EQ(run_cli({"-d", "t.bin.archi", "typed secret"}, dir.path()).status, 0);
    EXPECT_TRUE(read_file(dir / "t.bin") == read_file(dir / "t.orig"));

    // Restoring and describing ask once.
    fs::remove(dir / "t.bin");
    r = run_cli_on_terminal({"-d", "t.bin.archi", "-"}, dir.path(), {"typed secret"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find(" Key: ", 1), std::string::npos) << r.out;
    EXPECT_TRUE(read_file(dir / "t.bin") == read_file(dir / "t.orig"));
    r = run_cli_on_terminal({"-m", "t.bin.archi", "-"}, dir.path(), {"typed secret"});
    EXPECT_NE(r.out.find("no added file description"), std::string::npos) << r.out;

    // Two different keys when coding: nothing is coded.
    fs::remove(dir / "t.bin.archi");
    r = run_cli_on_terminal({"-c", "t.orig", "-"}, dir.path(), {"typed secret", "typed secreT"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(" Keys do not match"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir / "t.orig.archi"));
}
#endif

}  // namespace
}  // namespace kestrav3::testing
