// The many-file form (kestrav3 OPERATION [OPTION...] FILE...): key sources,
// folders, removal, output folder, quiet, parallel workers, collisions and
// the exit status rule; and the design's three-word forms, compared with
// the outputs the program gave before the many-file form existed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "cli_support.h"
#include "kestrav3lib.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace kestrav3::testing {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.push_back("");
    return parts;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines = split(text, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// "\n" in a case's input stands for a line feed.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string text_sizes_left_out(const std::string& listing) {
#if defined(_WIN32)
    std::string out;
    for (const auto& line : lines_of(listing)) {
        const std::size_t err = line.find(".err ");
        out += (err == std::string::npos ? line : line.substr(0, err + 4)) + "\n";
    }
    return out;
#else
    return listing;
#endif
}

// Each file of the folder with its size, as capture.sh lists them. An error
// log is a text file, whose size differs on Windows (CR LF line ends): its
// size is left out there.
std::string folder_listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    std::string listing;
    for (const auto& name : names) listing += name + " " + std::to_string(fs::file_size(dir / name)) + "\n";
    return text_sizes_left_out(listing);
}

void set_variable(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::string three_word(const std::string& name) { return read_file(test_data("three_word/" + name)); }

TEST(ThreeWordForms, AreByteIdenticalToTheProgramBeforeTheManyFileForm) {
    std::ifstream cases(test_data("three_word/cases.txt"));
    ASSERT_TRUE(cases);
    int run = 0;
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> fields = split(line, '|');
        ASSERT_GE(fields.size(), 2u) << line;
        const std::string name = fields[0];
        const std::vector<std::string> args(fields.begin() + 2, fields.end());
        TempDir dir;
        for (const char* file :
             {"abc.txt", "abc.txt.archi", "report.pdf", "report.pdf.archi", "two-blocks-damaged.archi"})
            fs::copy_file(test_data(file), dir / file);
        const RunResult r = run_cli_with_input(args, dir.path(), unescaped(fields[1]));
        // Texts read from coded files are shown in the native text (Windows-1250 there).
        EXPECT_EQ(r.out, native(three_word(name + ".out"))) << name;
        EXPECT_EQ(r.err, three_word(name + ".err")) << name;
        EXPECT_EQ(std::to_string(r.status) + "\n", three_word(name + ".status")) << name;
        EXPECT_EQ(folder_listing(dir.path()), text_sizes_left_out(three_word(name + ".files"))) << name;
        ++run;
    }
    EXPECT_GE(run, 20);
}

class Batch : public ::testing::Test {
protected:
    TempDir dir;

    void SetUp() override { write_file(dir / "key", "abcd-key\n"); }

    // Codes the named files with the key "abcd-key".
    void code(const std::vector<std::string>& names) {
        std::vector<std::string> args{"-c", "-k", "key"};
        args.insert(args.end(), names.begin(), names.end());
        ASSERT_EQ(run_cli(args, dir.path()).status, 0);
    }

    // One intact, one damaged (block 1) coded file, and one not a coded file.
    void mixed_batch() {
        write_file(dir / "good.bin", pattern_bytes(9000, 1));
        write_file(dir / "bad.bin", pattern_bytes(9000, 2));
        code({"good.bin", "bad.bin"});
        // Block 1's bytes sit after two header pairs, then pairs of record
        // and block: flip one byte inside the coded block 1.
        std::string coded = read_file(dir / "bad.bin.archi");
        const std::size_t block1 = 2 * 8192 + (2 * 40 + 2 * 4096) + 2 * 40 + 4096 + 100;
        coded[block1] = static_cast<char>(coded[block1] ^ 0x55);
        write_file(dir / "bad.bin.archi", coded);
        write_file(dir / "junk.archi", "this is not a coded file");
    }
};

TEST_F(Batch, ExitStatusIsFailedThenDamagedThenDone) {
    mixed_batch();
    RunResult r = run_cli({"-t", "-k", "key", "good.bin.archi", "bad.bin.archi", "junk.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{"good.bin.archi: intact", "bad.bin.archi: damaged: 1",
                                                         "kestrav3: 3 files: 1 intact, 1 damaged, 1 failed"}));
    // The failure, and then why.
    EXPECT_EQ(lines_of(r.err),
              (std::vector<std::string>{
                  "junk.archi: failed: Cannot read data from file [1]",
                  "junk.archi: is too short to be a coded file (24 bytes; a coded file has at least 8192)"}));

    r = run_cli({"-t", "-k", "key", "good.bin.archi", "bad.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(lines_of(r.out).back(), "kestrav3: 2 files: 1 intact, 1 damaged, 0 failed");

    r = run_cli({"-t", "-k", "key", "good.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "good.bin.archi: intact\nkestrav3: 1 file: 1 intact, 0 damaged, 0 failed\n");
}

// -q keeps the lines of what is not well, one per file, and the summary
// only then; a run where every file is fine prints nothing.
TEST_F(Batch, QuietPrintsOnlyFailuresAndDamagedFiles) {
    mixed_batch();
    RunResult r = run_cli({"-t", "-q", "-k", "key", "good.bin.archi", "bad.bin.archi", "junk.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "bad.bin.archi: damaged: 1\nkestrav3: 3 files: 1 intact, 1 damaged, 1 failed\n");
    EXPECT_EQ(lines_of(r.err).size(), 2u) << r.err;
    r = run_cli({"-t", "-q", "-k", "key", "good.bin.archi", "bad.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "bad.bin.archi: damaged: 1\nkestrav3: 2 files: 1 intact, 1 damaged, 0 failed\n");
    r = run_cli({"-t", "-q", "-k", "key", "good.bin.archi", "good.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
}

TEST_F(Batch, TwoWorkersGiveTheSameLinesSummaryAndStatusAsOne) {
    mixed_batch();
    const std::vector<std::string> files{"good.bin.archi", "bad.bin.archi", "junk.archi", "good.bin.archi",
                                         "missing.archi"};
    std::vector<std::string> one{"-t", "-k", "key"}, two{"-t", "-j", "2", "-k", "key"};
    one.insert(one.end(), files.begin(), files.end());
    two.insert(two.end(), files.begin(), files.end());
    const RunResult a = run_cli(one, dir.path());
    const RunResult b = run_cli(two, dir.path());
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.err, b.err);
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.status, 1);

    // Coding and restoring in workers write the same files.
    fs::create_directory(dir / "out");
    for (int i = 0; i < 4; ++i) write_file(dir / ("p" + std::to_string(i)), pattern_bytes(20000 + i, 10 + i));
    RunResult r = run_cli({"-c", "-j", "2", "-k", "key", "p0", "p1", "p2", "p3"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_of(r.out)[2], "p2: written p2.archi");
    r = run_cli({"-d", "-j", "3", "-k", "key", "--output-dir", "out", "p0.archi", "p1.archi", "p2.archi", "p3.archi"},
                dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(same_contents(dir / ("p" + std::to_string(i)), dir / "out" / ("p" + std::to_string(i))));
}

TEST_F(Batch, KeysFromFilesStandardInputAndTheEnvironment) {
    write_file(dir / "a.bin", pattern_bytes(5000, 3));
    write_file(dir / "crlf", "abcd-key\r\n");
    write_file(dir / "bare", "abcd-key");
    RunResult r = run_cli({"-c", "-k", "crlf", "a.bin"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    // The key without its CR opens it, from every source.
    EXPECT_EQ(run_cli({"-t", "-k", "key", "a.bin.archi"}, dir.path()).status, 0);
    EXPECT_EQ(run_cli({"-t", "-k", "bare", "a.bin.archi"}, dir.path()).status, 0);
    EXPECT_EQ(run_cli_with_input({"-t", "-k", "-", "a.bin.archi"}, dir.path(), "abcd-key\r\nrest\n").status, 0);
    EXPECT_EQ(run_cli_with_input({"-t", "a.bin.archi", "a.bin.archi", "a.bin.archi"}, dir.path(), "abcd-key\n").status,
              0);
    // The design's key "-" reads by the same rules.
    EXPECT_EQ(run_cli_with_input({"-t", "a.bin.archi", "-"}, dir.path(), "abcd-key\r\n").status, 0);
    set_variable("KESTRAV3_TEST_KEY", "abcd-key");
    EXPECT_EQ(run_cli({"-t", "-E", "KESTRAV3_TEST_KEY", "a.bin.archi"}, dir.path()).status, 0);
    set_variable("KESTRAV3_TEST_KEY", "other-key");
    r = run_cli({"-t", "-E", "KESTRAV3_TEST_KEY", "a.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "a.bin.archi: failed: Size of file is zero [2]\n"
              "a.bin.archi: the key is wrong, or this is not a coded file\n");

    r = run_cli({"-t", "-E", "KESTRAV3_NO_SUCH_VARIABLE", "a.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kestrav3: variable KESTRAV3_NO_SUCH_VARIABLE: not set\n");
    r = run_cli({"-t", "-k", "no-such-file", "a.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kestrav3: key file no-such-file: cannot be read: No such file or directory\n");
}

// A key that every file would refuse alike is refused once, before any
// file, in one line on standard error.
TEST_F(Batch, KeyProblemsAreReportedOnceBeforeAnyFile) {
    write_file(dir / "a.bin", pattern_bytes(5000, 3));
    write_file(dir / "b.bin", pattern_bytes(5000, 4));
    write_file(dir / "empty", "");
    write_file(dir / "short", "abc\n");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string err;
    };
    std::vector<Case> cases{
        {{"-c", "-k", "empty", "a.bin", "b.bin"}, "", "kestrav3: key file empty: is empty\n"},
        {{"-c", "-k", "short", "a.bin", "b.bin"},
         "",
         "kestrav3: key file short: Password too short min. 4 chars [8]\n"},
        {{"-c", "-k", "-", "a.bin", "b.bin"}, "", "kestrav3: no key on standard input\n"},
        {{"-c", "--", "a.bin", "b.bin"}, "", "kestrav3: no key on standard input\n"},
    };
#if !defined(_WIN32)
    cases.push_back(
        {{"-c", "-k", ".", "a.bin", "b.bin"}, "", "kestrav3: key file .: cannot be read: Is a directory\n"});
#endif
    for (const auto& c : cases) {
        const RunResult r = run_cli_with_input(c.args, dir.path(), c.input);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir / "a.bin.archi"));
    }
}

TEST_F(Batch, AKeyGivenInTwoWaysIsRefused) {
    write_file(dir / "a.bin", "abc");
    for (const auto& args : std::vector<std::vector<std::string>>{{"-c", "-k", "key", "-E", "HOME", "a.bin"},
                                                                  {"-c", "-k", "key", "-k", "key", "a.bin"},
                                                                  {"-t", "-E", "A", "-E", "B", "a.bin"}}) {
        const RunResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("the key is given in two ways"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(dir / "a.bin.archi"));
}

TEST_F(Batch, KeyLinesAreRefusedWhenTooLongOrHoldingNul) {
    write_file(dir / "a.bin", pattern_bytes(5000, 3));
    code({"a.bin"});
    write_file(dir / "nul-key", std::string("abcd\0key\n", 9));
    RunResult r = run_cli({"-t", "-k", "nul-key", "a.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kestrav3: key file nul-key: the key holds a NUL byte\n");
    r = run_cli_with_input({"-t", "a.bin.archi", "-"}, dir.path(), std::string("abcd\0-key\n", 10));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Key holds a NUL byte\n \n");

    // A line past 1 KiB is refused as too long, as the design's key is.
    write_file(dir / "long", std::string(5000, 'k') + "\n");
    r = run_cli({"-t", "-k", "long", "a.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kestrav3: key file long: Password too long max. 40 chars [7]\n");
    r = run_cli_with_input({"-t", "a.bin.archi", "-"}, dir.path(), std::string(5000, 'k') + "\n");
    EXPECT_EQ(r.out, " \n Password too long max. 40 chars [7]\n \n");
}

TEST_F(Batch, RecursionCodesPlainFilesAndTestsCodedFilesNeverThroughALink) {
    fs::create_directories(dir / "tree/sub");
    write_file(dir / "tree/one.txt", "one file");
    write_file(dir / "tree/sub/two.txt", "two file");
    write_file(dir / "tree/sub/two.txt.met", "metadata of two");
    write_file(dir / "tree/sub/old.err", "1\n");
    write_file(dir / "tree/sub/data.par2", "recovery");
    write_file(dir / "tree/sub/data.vol0+1.par2", "recovery");
#if !defined(_WIN32)
    fs::create_directories(dir / "outside");
    write_file(dir / "outside/not-mine.txt", "must not be coded");
    fs::create_directory_symlink(dir / "outside", dir / "tree/link");
    fs::create_symlink(dir / "tree/one.txt", dir / "tree/one-link.txt");
#endif
    RunResult r = run_cli({"-c", "-r", "-k", "key", "tree"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
#if defined(_WIN32)
    EXPECT_EQ(lines_of(r.out).back(), "kestrav3: 2 files: 2 written, 0 damaged, 0 failed") << r.out;
#else
    // Each link is passed over aloud, and counted.
    EXPECT_EQ(lines_of(r.out),
              (std::vector<std::string>{
                  "tree/link: skipped: a symbolic link", "tree/one-link.txt: skipped: a symbolic link",
                  "tree/one.txt: written tree/one.txt.archi", "tree/sub/two.txt: written tree/sub/two.txt.archi",
                  "kestrav3: 4 files: 2 written, 0 damaged, 2 skipped, 0 failed"}));
    EXPECT_EQ(run_cli({"-c", "-r", "-q", "-f", "-k", "key", "tree"}, dir.path()).out, "");
#endif
    EXPECT_TRUE(fs::exists(dir / "tree/one.txt.archi"));
    EXPECT_TRUE(fs::exists(dir / "tree/sub/two.txt.archi"));
    EXPECT_FALSE(fs::exists(dir / "outside/not-mine.txt.archi"));

    // Coding again skips the coded files; the test takes only them.
    r = run_cli({"-t", "-r", "-k", "key", "tree"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
#if defined(_WIN32)
    EXPECT_EQ(lines_of(r.out).back(), "kestrav3: 2 files: 2 intact, 0 damaged, 0 failed") << r.out;
#else
    EXPECT_EQ(lines_of(r.out).back(), "kestrav3: 4 files: 2 intact, 0 damaged, 2 skipped, 0 failed") << r.out;
#endif

    // Without -r a folder is a failure of its own.
    r = run_cli({"-t", "-k", "key", "tree"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tree: failed: is a folder (use -r to walk it)\n");
}

TEST_F(Batch, RemoveInputOnlyAfterSuccess) {
    write_file(dir / "a.bin", pattern_bytes(5000, 4));
    write_file(dir / "b.bin", pattern_bytes(5000, 5));
    // b.bin's coded name is a folder: its coding fails.
    fs::create_directory(dir / "b.bin.archi");
    RunResult r = run_cli({"-c", "--rm", "-k", "key", "a.bin", "b.bin"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines_of(r.out)[0], "a.bin: written a.bin.archi, input removed");
    EXPECT_EQ(r.err, "b.bin: failed: Cannot read data from file [1]\nb.bin: is a folder\n");
    EXPECT_FALSE(fs::exists(dir / "a.bin"));
    EXPECT_TRUE(fs::exists(dir / "b.bin"));
    ASSERT_EQ(run_cli({"-d", "-k", "key", "a.bin.archi"}, dir.path()).status, 0);
    EXPECT_EQ(read_file(dir / "a.bin"), pattern_bytes(5000, 4));
    // A key too short fails every file: nothing is removed.
    write_file(dir / "short", "abc\n");
    r = run_cli({"-c", "--rm", "-k", "short", "a.bin"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::exists(dir / "a.bin"));
    // --rm belongs to coding.
    r = run_cli({"-t", "--rm", "-k", "key", "a.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(fs::exists(dir / "a.bin.archi"));
}

TEST_F(Batch, OutputFolderTakesTheCodedAndTheRestoredFiles) {
    write_file(dir / "a.bin", pattern_bytes(6000, 6));
    fs::create_directories(dir / "coded");
    fs::create_directories(dir / "plain");
    RunResult r = run_cli({"-c", "-f", "-k", "key", "--output-dir", "coded", "a.bin"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(dir / "a.bin.archi"));
    EXPECT_EQ(lines_of(r.out)[0], "a.bin: written coded/a.bin.archi");
    r = run_cli({"-d", "-k", "key", "--output-dir=plain", "coded/a.bin.archi"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "plain/a.bin"), pattern_bytes(6000, 6));
    r = run_cli({"-c", "-k", "key", "--output-dir", "no-such-folder", "a.bin"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kestrav3: --output-dir no-such-folder: not a folder\n");
}

TEST_F(Batch, CollidingOutputNamesAreRefusedBeforeAnythingIsWritten) {
    write_file(dir / "a b.txt", "first");
    write_file(dir / "a_b.txt", "second");
    write_file(dir / "c.txt", "third");
    RunResult r = run_cli({"-c", "-k", "key", "c.txt", "a b.txt", "a_b.txt"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kestrav3: a b.txt and a_b.txt would both write a_b.txt.archi; nothing written\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(dir / "c.txt.archi"));
    EXPECT_FALSE(fs::exists(dir / "a_b.txt.archi"));

    // However the folder is spelt: the outputs are one name of one folder,
    // even with -f and --rm, and no input is touched.
    fs::create_directories(dir / "d");
    write_file(dir / "d/a b.txt", "first");
    write_file(dir / "d/a_b.txt", "second");
    write_file(dir / "A b.txt", "fourth");
    struct Spelling {
        std::string first, second, target;
    };
    std::vector<Spelling> spellings{{"./a b.txt", "a_b.txt", "./a_b.txt.archi"},
                                    {"d/a b.txt", "d//a_b.txt", "d/a_b.txt.archi"},
                                    {"d/a b.txt", "./d/a_b.txt", "d/a_b.txt.archi"}};
#if defined(_WIN32)
    // Windows compares names blind to case.
    spellings.push_back({"A b.txt", "a_b.txt", "A_b.txt.archi"});
#endif
    for (const auto& [first, second, target] : spellings) {
        r = run_cli({"-c", "-f", "--rm", "-k", "key", "--", first, second}, dir.path());
        EXPECT_EQ(r.status, 1) << first;
        EXPECT_EQ(r.err,
                  "kestrav3: " + first + " and " + second + " would both write " + target + "; nothing written\n");
        EXPECT_TRUE(fs::exists(dir / first) && fs::exists(dir / second)) << first;
        EXPECT_FALSE(fs::exists(dir / "a_b.txt.archi") || fs::exists(dir / "d/a_b.txt.archi")) << first;
    }

    // Two coded files of one stored name, restored into one folder.
    fs::create_directories(dir / "x");
    fs::create_directories(dir / "out");
    code({"c.txt"});
    fs::copy_file(dir / "c.txt.archi", dir / "x/c.txt.archi");
    r = run_cli({"-d", "-k", "key", "--output-dir", "out", "c.txt.archi", "x/c.txt.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("c.txt.archi and x/c.txt.archi would both write out/c.txt"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out/c.txt"));
}

TEST_F(Batch, CommandLinesNotUnderstoodGiveStatus2) {
    write_file(dir / "a.bin", "abc");
    for (const auto& args : std::vector<std::vector<std::string>>{{"-t", "-x", "a.bin", "a.bin"},
                                                                  {"-t", "-j", "0", "a.bin"},
                                                                  {"-t", "-j", "two", "a.bin"},
                                                                  {"-t", "-q"},
                                                                  {"-t", "a.bin", "-k"},
                                                                  {"-t", "-r=1", "a.bin", "a.bin"},
                                                                  // A set while coding: 1 to 100 percent,
                                                                  // and for coding only.
                                                                  {"-c", "--recovery=101", "a.bin", "a.bin"},
                                                                  {"-c", "--recovery=0", "-k", "k", "a.bin"},
                                                                  {"-c", "--recovery", "5%", "a.bin"},
                                                                  {"-t", "--recovery=5", "a.bin"}}) {
        const RunResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_NE(r.err.find("see kestrav3 --help"), std::string::npos) << r.err;
    }
}

TEST_F(Batch, AnOperationWithOneFileOrThreeIsTheManyFileForm) {
    write_file(dir / "file", "plain");
    RunResult r = run_cli_with_input({"-c", "file"}, dir.path(), "abcd-key\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "file: written file.archi\nkestrav3: 1 file: 1 written, 0 damaged, 0 failed\n");
    write_file(dir / "other", "plain");
    r = run_cli_with_input({"-c", "-f", "file", "other", "file"}, dir.path(), "abcd-key\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_of(r.out).back(), "kestrav3: 2 files: 2 written, 0 damaged, 0 failed");
    // The same file named twice, in any spelling, is run once.
    r = run_cli_with_input({"-t", "file.archi", "./file.archi", "file.archi"}, dir.path(), "abcd-key\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_of(r.out).back(), "kestrav3: 1 file: 1 intact, 0 damaged, 0 failed");
    EXPECT_EQ(lines_of(r.err), (std::vector<std::string>{"kestrav3: ./file.archi is file.archi again; it is run once",
                                                         "kestrav3: file.archi is file.archi again; it is run once"}));
}

TEST_F(Batch, MetadataOfManyFiles) {
    const RunResult r = run_cli({"-m", "-k", "key", "missing.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    fs::copy_file(test_data("report.pdf.archi"), dir / "report.pdf.archi");
    write_file(dir / "rkey", "correct horse battery\n");
    fs::copy_file(test_data("report.pdf.archi"), dir / "copy.archi");
    const RunResult m = run_cli({"-m", "-k", "rkey", "report.pdf.archi", "copy.archi"}, dir.path());
    EXPECT_EQ(m.status, 0);
    // Each line of the text is indented under its file's line.
    std::string text;
    for (const auto& line : lines_of(native(read_file(test_data("report.pdf.met.expected")))))
        text += "  " + line + "\n";
    const std::string block = ": metadata:\n" + text + "\n";
    EXPECT_EQ(m.out,
              "report.pdf.archi" + block + "copy.archi" + block + "kestrav3: 2 files: 2 read, 0 damaged, 0 failed\n");
}

#if !defined(_WIN32)
// Runs the program with standard output on /dev/full; standard error is returned.
RunResult run_into_full_device(const std::vector<std::string>& args, const fs::path& cwd) {
    const fs::path err_path = cwd / "stderr.txt";
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    Launch launch;
    launch.args.push_back(KESTRAV3_CLI);
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    launch.folder = cwd;
    launch.stdout_file = "/dev/full";
    launch.stderr_fd = err;
    Child child(launch);
    RunResult r;
    r.status = child.wait();
    close(err);
    r.err = read_file(err_path);
    return r;
}

TEST_F(Batch, AFullStandardOutputFailsTheRun) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    set_variable("KESTRAV3_FULL_KEY", "correct horse battery");
    fs::copy_file(test_data("report.pdf.archi"), dir / "report.pdf.archi");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-m", "report.pdf.archi", "correct horse battery"},
                                               {"-t", "report.pdf.archi", "correct horse battery"},
                                               {"--help"},
                                               {"-v"},
                                               {"-t", "-E", "KESTRAV3_FULL_KEY", "report.pdf.archi"}}) {
        const RunResult r = run_into_full_device(args, dir.path());
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, "kestrav3: write error: No space left on device\n") << args[0];
    }
}

// The process id of a worker of -j running in folder, or 0.
int worker_in(const fs::path& folder) {
    for (const auto& process : fs::directory_iterator("/proc")) {
        const std::string name = process.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code error;
        if (fs::read_symlink(process.path() / "cwd", error) != folder) continue;
        std::ifstream in(process.path() / "cmdline", std::ios::binary);
        const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (line.find(std::string("\0--worker\0", 10)) != std::string::npos) return std::stoi(name);
    }
    return 0;
}

TEST_F(Batch, AWorkerThatIsKilledFailsOnlyTheFileAtHand) {
    // The first file keeps the worker busy long enough to be stopped on it;
    // the program runs the small ones meanwhile, and gives the worker the
    // next one too.
    write_file(dir / "f00", pattern_bytes(16 << 20, 9));
    std::vector<std::string> args{"-t", "-j", "2", "-k", "key"};
    for (int i = 1; i <= 30; ++i) {
        const std::string name = (i < 10 ? "f0" : "f") + std::to_string(i);
        write_file(dir / name, pattern_bytes(4096, i));
    }
    std::vector<std::string> names;
    for (int i = 0; i <= 30; ++i) names.push_back((i < 10 ? "f0" : "f") + std::to_string(i));
    code(names);
    for (const auto& name : names) args.push_back(name + ".archi");
    const fs::path folder = fs::canonical(dir.path());
    int worker = 0;
    const RunResult r = run_cli_when_ready(
        args, dir.path(),
        [&] {
            worker = worker_in(folder);
            return worker != 0 && kill(worker, SIGSTOP) == 0;
        },
        [&](int) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            kill(worker, SIGKILL);
        });
    ASSERT_NE(worker, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "f00.archi: failed: its worker process ended without a result\n");
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 31u) << r.out;
    for (int i = 1; i <= 30; ++i) EXPECT_EQ(lines[i - 1], names[i] + ".archi: intact");
    EXPECT_EQ(lines[30], "kestrav3: 31 files: 30 intact, 0 damaged, 1 failed");
}

TEST_F(Batch, MetadataShownOnATerminalIsEscapedInWorkersToo) {
    const std::string metadata = "title\x1b]0;owned\x07 clear\x1b[2J end";
    for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
        write_file(dir / name, pattern_bytes(3000, 4));
        write_file(dir / (std::string(name) + ".met"), metadata);
    }
    ASSERT_EQ(run_cli({"-c", "-q", "-k", "key", "a.bin", "b.bin", "c.bin"}, dir.path()).status, 0);
    for (const char* jobs : {"1", "2", "3"}) {
        const RunResult r = run_cli_on_terminal(
            {"-m", "-j", jobs, "-k", "key", "a.bin.archi", "b.bin.archi", "c.bin.archi"}, dir.path(), {});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "-j " << jobs;
        std::size_t shown = 0;
        for (std::size_t at = r.out.find("title\\x1B]0;owned"); at != std::string::npos;
             at = r.out.find("title\\x1B]0;owned", at + 1))
            ++shown;
        EXPECT_EQ(shown, 3u) << "-j " << jobs;
    }
}

TEST_F(Batch, TheKeyIsAskedOnceOnTheTerminalTwiceWhenCoding) {
    write_file(dir / "a.bin", pattern_bytes(5000, 7));
    write_file(dir / "b.bin", pattern_bytes(5000, 8));
    RunResult r = run_cli_on_terminal({"-c", "a.bin", "b.bin", "-q"}, dir.path(), {"typed key", "typed key"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("typed key"), std::string::npos);
    r = run_cli_on_terminal({"-t", "a.bin.archi", "b.bin.archi", "-q"}, dir.path(), {"typed key"});
    EXPECT_EQ(r.status, 0) << r.out;
    r = run_cli_on_terminal({"-c", "-f", "a.bin", "b.bin"}, dir.path(), {"typed key", "other key"});
    EXPECT_EQ(r.status, 1) << r.out;
}
#endif

#if defined(_WIN32)
TEST_F(Batch, WildcardsInFileArgumentsAreExpandedByTheProgram) {
    write_file(dir / "one.bin", pattern_bytes(5000, 11));
    write_file(dir / "two.bin", pattern_bytes(5000, 12));
    RunResult r = run_cli({"-c", "-k", "key", "*.bin"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "one.bin: written one.bin.archi\ntwo.bin: written two.bin.archi\n"
              "kestrav3: 2 files: 2 written, 0 damaged, 0 failed\n");
    // two.bin.archi matches both patterns: one file, run once, with a note.
    r = run_cli({"-t", "-k", "key", "t?o.bin.archi", "*.archi"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_of(r.out).back(), "kestrav3: 2 files: 2 intact, 0 damaged, 0 failed");
    EXPECT_EQ(r.err, "kestrav3: two.bin.archi is two.bin.archi again; it is run once\n");
    r = run_cli({"-t", "-k", "key", "*.nothing"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines_of(r.err).front(), "*.nothing: failed: Cannot read data from file [1]");
}
#endif

TEST(BatchExports, RunFillsTheResultAndLeavesTheDesignExportsAsTheyWere) {
    TempDir dir;
    fs::copy_file(test_data("two-blocks-damaged.archi"), dir / "two-blocks-damaged.archi");
    const std::string coded = (dir / "two-blocks-damaged.archi").string();
    static kestrav3_result result;
    kestrav3_options options{};
    EXPECT_EQ(kestrav3run(KESTRAV3_TEST, coded.c_str(), "block-key", &options, &result), 1);
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(std::string(result.damaged), "1");
    EXPECT_EQ(result.damaged_count, 1);
    EXPECT_EQ(std::string(result.message), "");
    EXPECT_EQ(kestrav3run(KESTRAV3_TEST, coded.c_str(), "abc", &options, &result), -8);
    EXPECT_EQ(std::string(result.message), "Password too short min. 4 chars [8]");

    static char target[4096];
    ASSERT_EQ(kestrav3target(KESTRAV3_DECODE, coded.c_str(), "block-key", "elsewhere", target, sizeof target), 0);
    EXPECT_EQ(std::string(target), "elsewhere/two-blocks.bin");
    ASSERT_EQ(kestrav3target(KESTRAV3_CODE, "dir/a b.txt", "", nullptr, target, sizeof target), 0);
    EXPECT_EQ(std::string(target), "dir/a_b.txt.archi");
    EXPECT_LT(kestrav3target(KESTRAV3_CODE, "dir/a b.txt", "", nullptr, target, 5), 0);

    // The coder's console lines come back for the design's export.
    write_file(dir / "p.bin", "plain");
    const std::string plain = (dir / "p.bin").string();
    ASSERT_EQ(kestrav3run(KESTRAV3_CODE, plain.c_str(), "abcd", &options, &result), 0);
    EXPECT_EQ(std::string(result.written), (dir / "p.bin.archi").string());
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(kestrav3code(plain.c_str(), "abcd", 1), 0);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Size:    5 B"), std::string::npos) << printed;
    EXPECT_NE(printed.find("\nSave: p.bin.archi\n"), std::string::npos) << printed;
}

// -f never replaces another input's coded file (one that opens with this
// key and holds another name: it may be that input's only copy); it
// replaces one that cannot be told whose it is, and a file under the name
// a renamed coded file stores. Without -f all are refused, each saying
// what is true, and the files keep their bytes.
TEST_F(Batch, ForceReplacesOnlyWhatCannotBeAnotherInputsCodedFile) {
    write_file(dir / "a b.txt", pattern_bytes(5000, 8));
    write_file(dir / "a_b.txt", pattern_bytes(7000, 9));
    write_file(dir / "other-key", "other-key\n");
    ASSERT_EQ(run_cli({"-c", "--rm", "-k", "key", "a_b.txt"}, dir.path()).status, 0);
    const std::string first = read_file(dir / "a_b.txt.archi");
    const std::string whose =
        "a b.txt: a_b.txt.archi holds a_b.txt; -f does not replace another file's coded file: "
        "to go on, code into another folder (--output-dir) or rename one of the two\n";
    for (const bool force : {false, true}) {
        std::vector<std::string> args{"-c", "--rm", "-k", "key", "a b.txt"};
        if (force) args.insert(args.begin() + 1, "-f");
        const RunResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "a b.txt: failed: Coded file of another name exists [14]\n" + whose) << force;
        EXPECT_EQ(read_file(dir / "a_b.txt.archi"), first);
        EXPECT_TRUE(fs::exists(dir / "a b.txt"));
    }
    // Made with another key: it cannot be told whose it is.
    RunResult r = run_cli({"-c", "-k", "other-key", "a b.txt"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "a b.txt: failed: Coded file of another name exists [14]\n"
              "a b.txt: a_b.txt.archi does not open with this key (another key, damage, or no coded file), "
              "so whose it is cannot be told; -f replaces it\n");
    EXPECT_EQ(read_file(dir / "a_b.txt.archi"), first);
#if !defined(_WIN32)
    // This input's own coded file that cannot be read is called so.
    write_file(dir / "own.txt", "own");
    ASSERT_EQ(run_cli({"-c", "-k", "key", "own.txt"}, dir.path()).status, 0);
    fs::permissions(dir / "own.txt.archi", fs::perms::none);
    if (geteuid() != 0) {
        r = run_cli({"-c", "-k", "key", "own.txt"}, dir.path());
        EXPECT_EQ(r.err,
                  "own.txt: failed: Cannot read data from file [1]\n"
                  "own.txt: own.txt.archi cannot be read: Permission denied\n");
    }
    fs::permissions(dir / "own.txt.archi", fs::perms::owner_read | fs::perms::owner_write);
#endif
    fs::rename(dir / "a_b.txt.archi", dir / "kept.archi");
    write_file(dir / "a_b.txt.archi", "not a coded file");
    r = run_cli({"-c", "-f", "-k", "key", "a b.txt"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    fs::rename(dir / "kept.archi", dir / "a_b.txt.archi");
    ASSERT_EQ(run_cli({"-d", "-k", "key", "a_b.txt.archi"}, dir.path()).status, 0);

    fs::rename(dir / "a_b.txt.archi", dir / "holiday.archi");
    write_file(dir / "a_b.txt", "another file");
    r = run_cli({"-d", "-k", "key", "holiday.archi"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "a_b.txt"), "another file");
    r = run_cli({"-d", "-f", "-k", "key", "holiday.archi"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "a_b.txt"), pattern_bytes(7000, 9));
}

// The last word of the three-word form that names an existing file or
// folder (as a shell's glob of two names gives) is refused before anything
// is written, with the ways to say what was meant; the key "-" never is.
TEST_F(Batch, AKeyThatNamesAFileIsRefusedBeforeAnythingIsWritten) {
    write_file(dir / "a.txt", "first");
    write_file(dir / "b.txt", "second");
    fs::create_directories(dir / "sub");
    for (const std::string operation : {"-c", "-d", "-t", "-m"}) {
        for (const std::string key : {"b.txt", "sub"}) {
            const RunResult r = run_cli({operation, "a.txt", key}, dir.path());
            EXPECT_EQ(r.status, 2) << operation << " " << key;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "kestrav3: the key '" + key +
                                 "' names an existing file or folder; nothing done\n"
                                 "kestrav3: to run " +
                                 operation +
                                 " on both, give the key with -k FILE or -E VAR, or end the options with --: "
                                 "kestrav3 " +
                                 operation +
                                 " -- FILE...\n"
                                 "kestrav3: to use it as the key, give it with -k FILE or -E VAR, or give - and "
                                 "type it\n");
        }
    }
    EXPECT_FALSE(fs::exists(dir / "a.txt.archi"));
    EXPECT_FALSE(fs::exists(dir / "b.txt.archi"));
    write_file(dir / "-", "a file named -");
    const RunResult r = run_cli_with_input({"-c", "a.txt", "-"}, dir.path(), "abcd-key\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir / "a.txt.archi"));
}

// In the many-file form a restore replaces no file without -f, as gzip and
// zstd do: it names the file and goes on with the others, and the run
// fails. The design's three-word -d replaces the file as it always has.
TEST_F(Batch, ARestoreReplacesNoFileWithoutForce) {
    write_file(dir / "a.txt", "as coded");
    write_file(dir / "b.txt", "second");
    code({"a.txt", "b.txt"});
    write_file(dir / "a.txt", "edited after coding");
    fs::remove(dir / "b.txt");
    fs::create_directories(dir / "out");
    write_file(dir / "out/b.txt", "kept in out");
    struct Case {
        std::vector<std::string> options;
        std::string refused, written;
    };
    const std::vector<Case> cases{{{}, "a.txt", "b.txt"}, {{"--output-dir", "out"}, "out/b.txt", "out/a.txt"}};
    for (const auto& c : cases) {
        std::vector<std::string> args{"-d", "-k", "key"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {"a.txt.archi", "b.txt.archi"});
        const RunResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.status, 1);
        const std::string archi = fs::path(c.refused).filename().string() + ".archi";
        EXPECT_EQ(r.err, archi + ": skipped: " + fs::path(c.refused).filename().string() +
                             " already exists; not replaced (-f replaces it)\n");
        const std::string other = archi == "a.txt.archi" ? "b.txt.archi" : "a.txt.archi";
        EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{other + ": written " + c.written,
                                                             "kestrav3: 2 files: 1 written, 0 damaged, 1 skipped, "
                                                             "0 failed"}));
    }
    EXPECT_EQ(read_file(dir / "a.txt"), "edited after coding");
    EXPECT_EQ(read_file(dir / "out/b.txt"), "kept in out");
    RunResult r = run_cli({"-d", "-f", "-k", "key", "a.txt.archi"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "a.txt"), "as coded");
    write_file(dir / "a.txt", "edited again");
    r = run_cli({"-d", "a.txt.archi", "abcd-key"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(read_file(dir / "a.txt"), "as coded");
}

// An empty file is coded in the many-file form into its two header copies
// alone (NBLOCKS 0, REST 0), which restores to an empty file and takes a
// recovery set; the three-word form refuses it as the design does.
TEST_F(Batch, EmptyFilesAreCodedIntoTheirHeadersAlone) {
    write_file(dir / "empty.txt", "");
    write_file(dir / "empty2.txt", "");
    RunResult r = run_cli({"-c", "--rm", "-k", "key", "empty.txt"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir / "empty.txt.archi"), header_end);
    EXPECT_FALSE(fs::exists(dir / "empty.txt"));
    EXPECT_EQ(run_cli({"-t", "-k", "key", "empty.txt.archi"}, dir.path()).out,
              "empty.txt.archi: intact\nkestrav3: 1 file: 1 intact, 0 damaged, 0 failed\n");
    EXPECT_EQ(run_cli({"-p", "empty.txt.archi"}, dir.path()).status, 0);
    EXPECT_EQ(run_cli({"--repair", "empty.txt.archi"}, dir.path()).status, 0);
    r = run_cli({"-d", "-k", "key", "empty.txt.archi"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::exists(dir / "empty.txt"));
    EXPECT_EQ(fs::file_size(dir / "empty.txt"), 0u);
    r = run_cli({"-c", "empty2.txt", "abcd-key"}, dir.path());
    EXPECT_NE(r.out.find(" Size of file is zero [2]"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir / "empty2.txt.archi"));
}

// A damaged file's line lists its blocks, for the test and the restore
// alike, and names a recovery set beside it that can repair the damage.
TEST_F(Batch, DamagedLinesListTheBlocksAndASetThatCanRepairThem) {
    mixed_batch();
    fs::create_directories(dir / "out");
    RunResult r = run_cli({"-d", "-k", "key", "--output-dir", "out", "bad.bin.archi"}, dir.path());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{"bad.bin.archi: written out/bad.bin, damaged: 1",
                                                         "kestrav3: 1 file: 1 written, 1 damaged, 0 failed"}));
    ASSERT_EQ(run_cli({"-p", "bad.bin.archi"}, dir.path()).status, 0);
    r = run_cli({"-t", "-k", "key", "bad.bin.archi"}, dir.path());
    EXPECT_EQ(lines_of(r.out).front(), "bad.bin.archi: damaged: 1, repairable with kestrav3 --repair");
    // With -f too, a damaged restore goes beside the file of its name, never over it.
    r = run_cli({"-d", "-f", "-k", "key", "--output-dir", "out", "bad.bin.archi"}, dir.path());
    EXPECT_EQ(lines_of(r.out).front(),
              "bad.bin.archi: written out/bad.bin.damaged, damaged: 1, repairable with kestrav3 --repair");
}

#if !defined(_WIN32)
// Names reach the lines escaped, in a pipe too: a line feed, a tab and a
// backslash in a name cannot forge a line, a summary or an escape.
TEST_F(Batch, EveryNameIsEscapedSoThatEachFileIsOneLine) {
    write_file(dir / "a.bin", pattern_bytes(3000, 5));
    code({"a.bin"});
    fs::create_directories(dir / "tree");
    const std::string forged = "r.archi: intact\nkestrav3: 1 file: 1 intact, 0 damaged, 0 failed\n\\x41\tz.archi";
    fs::copy_file(dir / "a.bin.archi", dir / "tree" / forged);
    const RunResult r = run_cli({"-t", "-r", "-k", "key", "tree"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "tree/r.archi: intact\\x0Akestrav3: 1 file: 1 intact, 0 damaged, 0 failed\\x0A\\\\x41\\x09z.archi: "
              "intact\nkestrav3: 1 file: 1 intact, 0 damaged, 0 failed\n");
}

// A damage log the restore creates and cannot fill (a full disk, here a
// file-size limit of one byte: the restored byte fits, the log's "1\n"
// does not) is not left behind.
TEST_F(Batch, AFullDiskLeavesNoNewDamageLog) {
    write_file(dir / "one.txt", "x");
    code({"one.txt"});
    std::string coded = read_file(dir / "one.txt.archi");
    coded.back() = static_cast<char>(coded.back() ^ 0x55);
    write_file(dir / "one.txt.archi", coded);
    fs::remove(dir / "one.txt");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-d", "-k", "key", "one.txt.archi"}, {"-d", "one.txt.archi", "abcd-key"}}) {
        const RunResult r = run_cli(args, dir.path(), 1);
        EXPECT_EQ(r.status, 3) << r.out << r.err;
        EXPECT_EQ(fs::file_size(dir / "one.txt"), 1u);
        EXPECT_FALSE(fs::exists(dir / "one.txt.err"));
        fs::remove(dir / "one.txt");
    }
}

// --output-dir may be a link to a folder.
TEST_F(Batch, TheOutputFolderMayBeALinkToAFolder) {
    write_file(dir / "a.bin", pattern_bytes(3000, 6));
    fs::create_directories(dir / "out");
    fs::create_directory_symlink("out", dir / "via");
    const RunResult r = run_cli({"-c", "-k", "key", "--output-dir", "via", "a.bin"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out/a.bin.archi"));
}

// A signal to the program alone while -j 3 --rm runs. SIGTERM: the workers
// stop with it, the program says what was done and ends by the signal.
// SIGKILL: the workers, whose program has gone, end too. Either way nothing
// goes on after the program: no worker is left, the folder stays as the
// program left it, and every input is either still there or has a complete
// coded file; after SIGTERM no hidden file is left, and an input is gone
// exactly when a line says it was removed.
TEST_F(Batch, WorkersStopWithTheRunAndNothingGoesOnAfterIt) {
    constexpr int count = 12;
    constexpr std::size_t size = 6u << 20;
    const fs::path folder = fs::canonical(dir.path());
    for (const int sig : {SIGTERM, SIGKILL}) {
        std::vector<std::string> args{"-c", "--rm", "-j", "3", "-k", "key"};
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back("f" + std::to_string(10 + i));
            fs::remove(dir / (names.back() + ".archi"));
            write_file(dir / names.back(), pattern_bytes(size, static_cast<std::uint32_t>(i)));
            args.push_back(names.back());
        }
        const auto names_now = [&] {
            std::set<std::string> found;
            for (const auto& entry : fs::directory_iterator(dir.path()))
                if (entry.path().filename().string()[0] != '.') found.insert(entry.path().filename().string());
            return found;
        };
        // The inputs and coded files as the program left them: taken as
        // soon as it has ended (a zombie not yet reaped).
        std::set<std::string> left;
        const RunResult r = run_cli_when_ready(
            args, dir.path(),
            [&] {
                return std::any_of(names.begin(), names.end(),
                                   [&](const std::string& name) { return fs::exists(dir / (name + ".archi")); });
            },
            [&](int pid) {
                kill(pid, sig);
                const fs::path stat = "/proc/" + std::to_string(pid) + "/stat";
                for (int waited = 0; waited < 2000; ++waited) {
                    const std::string text = read_file(stat);
                    const std::size_t end = text.rfind(')');
                    if (end != std::string::npos && text.compare(end, 4, ") Z ") == 0) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                left = names_now();
            });
        EXPECT_EQ(r.status, 128 + sig) << r.out << r.err;
        for (int waited = 0; waited < 200 && worker_in(folder) != 0; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(worker_in(folder), 0) << sig;
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        EXPECT_EQ(names_now(), left) << sig;
        // The program's own file is ended with it by SIGKILL alone.
        if (sig == SIGTERM) {
            for (const auto& entry : fs::directory_iterator(dir.path()))
                EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
        }
        if (sig == SIGTERM) {
            EXPECT_NE(r.err.find("kestrav3: stopped by a signal;"), std::string::npos) << r.err;
        }
        for (const auto& name : names) {
            const bool said = r.out.find(name + ": written " + name + ".archi, input removed\n") != std::string::npos;
            if (sig == SIGTERM || said) {
                EXPECT_EQ(fs::exists(dir / name), !said) << name << "\n" << r.out;
            }
            if (!fs::exists(dir / name)) {
                EXPECT_EQ(fs::file_size(dir / (name + ".archi")), coded_size(size)) << name;
            }
        }
    }
}
#endif

// A file taken from a folder walk is opened as the file the walk saw: a
// link or another file put under its name since is refused.
TEST(BatchExports, AWalkedInputIsOpenedOnlyAsTheFileTheWalkSaw) {
    TempDir dir;
    write_file(dir / "seen.bin", pattern_bytes(5000, 7));
    write_file(dir / "other.bin", pattern_bytes(5000, 8));
    const std::string seen = (dir / "seen.bin").string();
    const std::string other = (dir / "other.bin").string();
#if defined(_WIN32)
    GTEST_SKIP() << "inode numbers are POSIX";
#else
    struct stat st {};
    ASSERT_EQ(stat(seen.c_str(), &st), 0);
    kestrav3_options options{};
    options.input_device = static_cast<unsigned long long>(st.st_dev);
    options.input_inode = static_cast<unsigned long long>(st.st_ino);
    static kestrav3_result result;
    EXPECT_EQ(kestrav3run(KESTRAV3_CODE, other.c_str(), "abcd-key", &options, &result), -1);
    EXPECT_STREQ(result.detail, "was replaced (by a link or another file) since the folder was walked");
    fs::create_symlink(seen, dir / "link.bin");
    const std::string link = (dir / "link.bin").string();
    EXPECT_EQ(kestrav3run(KESTRAV3_CODE, link.c_str(), "abcd-key", &options, &result), -1);
    EXPECT_FALSE(fs::exists(dir / "link.bin.archi"));
    EXPECT_EQ(kestrav3run(KESTRAV3_CODE, seen.c_str(), "abcd-key", &options, &result), 0) << result.detail;
#endif
}

}  // namespace
}  // namespace kestrav3::testing
