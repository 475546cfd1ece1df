// Outputs that meet what already has their name: older files, links, a
// second run, closed pipes and size limits; names both directions agree
// on; and metadata shown on a terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>

#include "cli_support.h"
#include "kestrav3lib.h"
#include "textconv/visible_text.h"

namespace kestrav3::testing {
namespace {

const std::string io_stopped = " \n Read or write on HDD is stopped [4]\n \n";
const std::string name_refused = " \n Name of file is not allowed [13]\n \n";
const std::string other_archive =
    " \n Coded file of another name exists [14]\n \n"
    " x.archi: is not this file's coded file with this key; to go on, remove or rename it\n";

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

[[maybe_unused]] bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A folder holding n.bin.archi, coded from plain bytes that are kept here.
class SafeFiles : public ::testing::Test {
protected:
    TempDir dir;
    std::string plain = pattern_bytes(5 * 4096 + 300, 11);

    void SetUp() override {
        write_file(dir / "n.bin", plain);
        ASSERT_EQ(run_cli({"-c", "n.bin", "safe key"}, dir.path()).status, 0);
        fs::remove(dir / "n.bin");
    }
    RunResult decode(std::uint64_t limit = 0, SizeSignal size_signal = SizeSignal::ignored) {
        return run_cli({"-d", "n.bin.archi", "safe key"}, dir.path(), limit, size_signal);
    }
    void truncate_coded() { fs::resize_file(dir / "n.bin.archi", header_end + group + 100); }
};

TEST_F(SafeFiles, ADamagedRestoreLeavesTheOldFileUntouched) {
    write_file(dir / "n.bin", "PRECIOUS");
    truncate_coded();
    const RunResult r = decode();
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find(" Restored:  n.bin.damaged\n"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(dir / "n.bin"), "PRECIOUS");
    EXPECT_EQ(listing(dir.path()),
              (std::set<std::string>{"n.bin", "n.bin.archi", "n.bin.damaged", "n.bin.damaged.err"}));
}

TEST_F(SafeFiles, ARestoreReplacesTheOldFileOnlyWhenComplete) {
    write_file(dir / "n.bin", "OLD");
    EXPECT_EQ(decode().status, 0);
    EXPECT_TRUE(read_file(dir / "n.bin") == plain);
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"n.bin", "n.bin.archi"}));
}

#if !defined(_WIN32)
// POSIX only: links, signals, pipes, size limits, pseudo-terminals, and
// names with characters Windows cannot hold.

TEST_F(SafeFiles, ALinkUnderTheRestoredNameIsReplacedNotFollowed) {
    TempDir elsewhere;
    write_file(elsewhere / "target", "TARGET");
    write_file(dir / "inside.txt", "INSIDE");
    // Outside the folder, inside it, and dangling.
    for (const fs::path& target : {elsewhere / "target", fs::path("inside.txt"), elsewhere / "missing"}) {
        fs::remove(dir / "n.bin");
        fs::create_symlink(target, dir / "n.bin");
        EXPECT_EQ(decode().status, 0) << target;
        EXPECT_FALSE(fs::is_symlink(dir / "n.bin")) << target;
        EXPECT_TRUE(read_file(dir / "n.bin") == plain) << target;
    }
    EXPECT_EQ(read_file(elsewhere / "target"), "TARGET");
    EXPECT_EQ(read_file(dir / "inside.txt"), "INSIDE");
    EXPECT_FALSE(fs::exists(elsewhere / "missing"));

    // A damaged restore leaves the link and its target as they were.
    fs::remove(dir / "n.bin");
    fs::create_symlink(elsewhere / "target", dir / "n.bin");
    const std::string coded = read_file(dir / "n.bin.archi");
    truncate_coded();
    EXPECT_EQ(decode().status, 3);
    EXPECT_TRUE(fs::is_symlink(dir / "n.bin"));
    EXPECT_EQ(read_file(elsewhere / "target"), "TARGET");
    fs::remove(dir / "n.bin");

    // The hash-error log is not written through a link either.
    std::string damaged = coded;
    damaged[header_end + 2 * record_bytes + 100] ^= 0x01;
    write_file(dir / "n.bin.archi", damaged);
    write_file(elsewhere / "log", "LOG\n");
    fs::create_symlink(elsewhere / "log", dir / "n.bin.err");
    // The restore still ends with status 3, and says the log was not written.
    const RunResult r = decode();
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find(" Damaged:   1 block failed its check (0), not listed: n.bin.err cannot be written: "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(read_file(elsewhere / "log"), "LOG\n");
    EXPECT_TRUE(fs::is_symlink(dir / "n.bin.err"));
}

TEST(Interrupts, AnInterruptedRestoreLeavesTheOldFileUntouched) {
    TempDir dir;
    write_file(dir / "big.bin", pattern_bytes(48 * 1024 * 1024, 5));
    ASSERT_EQ(run_cli({"-c", "big.bin", "signal key"}, dir.path()).status, 0);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU}) {
        write_file(dir / "big.bin", "PRECIOUS");
        const RunResult r = run_cli_when_ready(
            {"-d", "big.bin.archi", "signal key"}, dir.path(), [&] { return hidden_file_of(dir.path(), "big.bin"); },
            [sig](int pid) { kill(pid, sig); });
        EXPECT_EQ(r.status, 128 + sig) << "the run should end by signal " << sig;
        EXPECT_EQ(read_file(dir / "big.bin"), "PRECIOUS") << "signal " << sig;
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"big.bin", "big.bin.archi"})) << "signal " << sig;
    }
    // SIGKILL cannot be caught: the hidden file may stay, but the old file
    // keeps its name and its bytes.
    const RunResult r = run_cli_when_ready(
        {"-d", "big.bin.archi", "signal key"}, dir.path(), [&] { return hidden_file_of(dir.path(), "big.bin"); },
        [](int pid) { kill(pid, SIGKILL); });
    EXPECT_EQ(r.status, 128 + SIGKILL);
    EXPECT_EQ(read_file(dir / "big.bin"), "PRECIOUS");
}

TEST(Concurrent, TwoRestoresUnderOneNameEachWriteAWholeFile) {
    TempDir dir;
    const std::string first = pattern_bytes(40 * 1024 * 1024, 1), second = pattern_bytes(40 * 1024 * 1024, 2);
    for (const auto& [folder, bytes] : {std::pair{"a", &first}, std::pair{"b", &second}}) {
        fs::create_directory(dir / folder);
        write_file(dir / folder / "same.bin", *bytes);
        ASSERT_EQ(run_cli({"-c", "same.bin", "both key"}, dir / folder).status, 0);
    }
    fs::rename(dir / "a" / "same.bin.archi", dir / "one.archi");
    fs::rename(dir / "b" / "same.bin.archi", dir / "two.archi");
    fs::remove_all(dir / "a");
    fs::remove_all(dir / "b");

    // The second restore starts once the first has created its output. Both
    // coded files were renamed, so a restore that finds the name taken by
    // the other's finished file would refuse it: -f lets each replace it,
    // whichever ends first.
    write_file(dir / "key.txt", "both key\n");
    RunResult later;
    const RunResult earlier = run_cli_when_ready(
        {"-d", "-f", "-q", "-k", "key.txt", "one.archi"}, dir.path(), [&] { return listing(dir.path()).size() > 3; },
        [&](int) {
            later = run_cli({"-d", "-f", "-q", "-k", "key.txt", "two.archi"}, dir.path());
        });
    EXPECT_EQ(earlier.status, 0);
    EXPECT_EQ(later.status, 0);
    const std::string restored = read_file(dir / "same.bin");
    EXPECT_TRUE(restored == first || restored == second) << "the restored file mixes both runs' blocks";
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"key.txt", "one.archi", "same.bin", "two.archi"}));
}

TEST(ClosedPipe, RunsIntoAClosedPipeComplete) {
    TempDir dir;
    const std::string plain = pattern_bytes(8 * 1024 * 1024 + 7, 3);
    write_file(dir / "p.bin", plain);
    RunResult r = run_cli_into_closed_pipe({"-c", "p.bin", "pipe key"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fs::file_size(dir / "p.bin.archi"), coded_size(plain.size()));
    fs::remove(dir / "p.bin");
    r = run_cli_into_closed_pipe({"-d", "p.bin.archi", "pipe key"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(read_file(dir / "p.bin") == plain);
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"p.bin", "p.bin.archi"}));
}

TEST_F(SafeFiles, ASizeLimitWithTheDefaultSignalIsAWriteError) {
    write_file(dir / "n.bin", "PRECIOUS");
    const RunResult r = decode(4096 + 10, SizeSignal::default_action);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, io_stopped + " n.bin: " + std::strerror(EFBIG) + "\n")) << r.out;
    EXPECT_EQ(read_file(dir / "n.bin"), "PRECIOUS");
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"n.bin", "n.bin.archi"}));

    // Coding meets the same limit as a write error and leaves nothing.
    write_file(dir / "c.bin", plain);
    const RunResult c = run_cli({"-c", "c.bin", "safe key"}, dir.path(), 9000, SizeSignal::default_action);
    EXPECT_EQ(c.status, 1);
    EXPECT_TRUE(ends_with(c.out, io_stopped + " c.bin.archi: " + std::strerror(EFBIG) + "\n")) << c.out;
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"c.bin", "n.bin", "n.bin.archi"}));
}

TEST(CodedName, ALinkUnderTheCodedNameIsRefusedNotWrittenThrough) {
    TempDir dir, elsewhere;
    const std::string plain = pattern_bytes(3 * 4096 + 17, 9);
    write_file(elsewhere / "target", "TARGET");
    const auto hard = [&] { fs::create_hard_link(dir / "x", dir / "x.archi"); };
    const auto soft = [&] { fs::create_symlink("x", dir / "x.archi"); };
    const auto outside = [&] { fs::create_symlink(elsewhere / "target", dir / "x.archi"); };
    // None of them is x's own coded file: refused, and nothing written
    // through them or beside them.
    for (const auto& make_link :
         {std::function<void()>(hard), std::function<void()>(soft), std::function<void()>(outside)}) {
        fs::remove(dir / "x.archi");
        write_file(dir / "x", plain);
        make_link();
        const RunResult r = run_cli({"-c", "x", "link key"}, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.out, other_archive)) << r.out;
        EXPECT_TRUE(read_file(dir / "x") == plain) << "the input was written through a link";
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"x", "x.archi"}));
    }
    EXPECT_EQ(read_file(elsewhere / "target"), "TARGET");

    // The input reached through a link at its name is the coded name's only
    // file: removing that name would lose it.
    write_file(dir / "y.archi", plain);
    fs::create_symlink("y.archi", dir / "y");
    const RunResult r = run_cli({"-c", "y", "link key"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, name_refused + " y.archi: is the file to be coded\n")) << r.out;
    EXPECT_TRUE(read_file(dir / "y.archi") == plain);
}

TEST(Names, WhatTheCoderAcceptsTheDecoderRestores) {
    TempDir dir;
    const std::string plain = pattern_bytes(4096 + 5, 4);
    // A backslash is an ordinary character here.
    write_file(dir / "a\\b.bin", plain);
    ASSERT_EQ(run_cli({"-c", "a\\b.bin", "name key"}, dir.path()).status, 0);
    const std::string coded = "a_b.bin.archi";
    ASSERT_TRUE(fs::exists(dir / coded));
    fs::remove(dir / "a\\b.bin");
    const RunResult d = run_cli({"-d", coded, "name key"}, dir.path());
    EXPECT_EQ(d.status, 0) << d.out;
    EXPECT_TRUE(read_file(dir / "a\\b.bin") == plain);

    // Control characters and DEL are refused before anything is printed or created.
    // The line after the message shows the name's controls escaped.
    for (const auto& [name, shown] : {std::pair<std::string, std::string>{"tab\there", "tab\\x09here"},
                                      {"new\nline", "new\\x0Aline"},
                                      {"one\x01", "one\\x01"},
                                      {"del\x7f", "del\\x7F"}}) {
        write_file(dir / name, plain);
        const auto before = listing(dir.path());
        const RunResult r = run_cli({"-c", name, "name key"}, dir.path());
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, name_refused + " " + shown + ": its name holds a character that cannot be restored\n") << name;
        EXPECT_EQ(listing(dir.path()), before) << name;
        fs::remove(dir / name);
    }
}

TEST(Metadata, ControlsAreEscapedOnATerminalAndRawInAPipe) {
    TempDir dir;
    write_file(dir / "m.bin", "plain bytes");
    const std::string metadata = "title\x1b]0;owned\x07 clear\x1b[2J bell\x07 del\x7f tab\tend";
    write_file(dir / "m.bin.met", metadata);
    ASSERT_EQ(run_cli({"-c", "m.bin", "meta key"}, dir.path()).status, 0);

    const RunResult shown = run_cli_on_terminal({"-m", "m.bin.archi", "meta key"}, dir.path(), {});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("title\\x1B]0;owned\\x07 clear\\x1B[2J bell\\x07 del\\x7F tab\tend"), std::string::npos)
        << shown.out;
    EXPECT_EQ(shown.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(shown.out.find('\x07'), std::string::npos);

    const RunResult piped = run_cli({"-m", "m.bin.archi", "meta key"}, dir.path());
    EXPECT_EQ(piped.out, metadata + "\n");
}
#endif

TEST(VisibleText, ControlsAreEscapedAndTextIsKept) {
    EXPECT_EQ(visible_text("a\x1b[2Jb\x01\x1f\x7f"), "a\\x1B[2Jb\\x01\\x1F\\x7F");
    EXPECT_EQ(visible_text("line\nnext\tcol\r\n"), "line\nnext\tcol\r\n");
    // C1 controls as UTF-8 pairs; other pairs starting with C2, a lone C2
    // at the end, and a backslash stay.
    EXPECT_EQ(visible_text("\xc2\x80x\xc2\x9b\xc2\x9f"), "\\u0080x\\u009B\\u009F");
    EXPECT_EQ(visible_text("\xc2\xa0\xc2\xa9 \xc4\x8d\\x \xc2"), "\xc2\xa0\xc2\xa9 \xc4\x8d\\x \xc2");
    EXPECT_EQ(visible_text(std::string_view("nul\0!", 5)), "nul\\x00!");
}

// The export the program shows names with: the whole escaped text when it
// fits with its NUL, else nothing; the length either way.
TEST(VisibleText, TheExportFillsTheBufferOnlyWhenTheTextFits) {
    const struct {
        int size;
        const char* shown;
    } cases[] = {{0, "untouched"}, {1, ""}, {9, ""}, {10, "a\\x1B[2Jb"}, {64, "a\\x1B[2Jb"}};
    for (const auto& c : cases) {
        char shown[64] = "untouched";
        EXPECT_EQ(kestrav3visible("a\x1b[2Jb", shown, c.size), 9) << c.size;
        EXPECT_STREQ(shown, c.shown) << c.size;
    }
}

}  // namespace
}  // namespace kestrav3::testing
