// The command line as a user meets it: exact texts, framed messages and
// exit statuses. Standard error stays empty in every case.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "cli_support.h"

namespace kestrav3::testing {
namespace {

// The fixed texts, as the files under tests/data/cli keep them.
const std::string help_text = expected_output("help.txt");

std::string with_version(std::string text) {
    const std::string mark = "@VERSION@";
    const auto at = text.find(mark);
    if (at != std::string::npos) text.replace(at, mark.size(), KESTRAV3_VERSION);
    return text;
}

class Cli : public ::testing::Test {
protected:
    TempDir dir;
    RunResult run(const std::vector<std::string>& args) {
        RunResult r = run_cli(args, dir.path());
        EXPECT_EQ(r.err, "") << "standard error must stay empty";
        return r;
    }
};

TEST_F(Cli, CommandLinesNotUnderstoodPrintHelpWithStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-c"},
        // An operation with one file, or with more than two words after it,
        // is the many-file form (tests/batch_test.cpp).
        {"-C", "file", "key1"},
        {"-v", "file", "key1"},
        {"-x"},
        {"file.txt"},
        {"-c"},
        {"-V"},
        {"-v "},
        {""},
        // Only the two long options alone are understood.
        {"--help", "x"},
        {"--version", "x"},
        {"--help", "file", "key1"},
        {"--HELP"},
        {"--help "},
        {"-help"},
        {"--"},
        {"-h"},
        {"--versio"},
        // The recovery commands without a file, or with a percentage outside 1 to 100.
        {"-p"},
        {"-p", "--recovery=5"},
        {"-p", "--recovery=0", "f.archi"},
        {"-p", "--recovery=5%", "f.archi"},
        {"--repair"},
    };
    for (const auto& args : cases) {
        const RunResult r = run(args);
        EXPECT_EQ(r.out, help_text) << "args: " << args.size();
        EXPECT_EQ(r.status, 2);
    }
}

TEST_F(Cli, VersionTexts) {
    RunResult r = run({"-v"});
    EXPECT_EQ(r.out, with_version(expected_output("version.txt")));
    EXPECT_EQ(r.status, 0);
    r = run({"-vg"});
    EXPECT_EQ(r.out, expected_output("version-generator.txt"));
    EXPECT_EQ(r.status, 0);
}

// --help adds to the fixed text what it leaves out; --version prints the
// version line alone. Both succeed.
TEST_F(Cli, HelpAndVersionOptionsSucceed) {
    RunResult r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    ASSERT_GT(r.out.size(), help_text.size());
    EXPECT_EQ(r.out.substr(0, help_text.size()), help_text) << "--help starts with the fixed help text";
    EXPECT_EQ(r.out, expected_output("help-long.txt"));
    const std::string additions = r.out.substr(help_text.size());
    for (const std::string expected :
         {"kestrav3 -t <file> <key>", "a key given as - ", "0 - done", "1 - the operation failed",
          "2 - the command line was not understood", "3 - -t found damaged or missing blocks",
          "-d restored the file, but blocks failed their check", "man kestrav3",
          "kestrav3 -p [--recovery=P] <file.archi>...", "--recovery=P  coding: also write a PAR 2.0 recovery set",
          "kestrav3 --repair <file.archi>...", "--repair found damage beyond the recovery set"})
        EXPECT_NE(additions.find(expected), std::string::npos) << expected << " missing from:\n" << additions;
    EXPECT_EQ(additions.back(), '\n');

    r = run({"--version"});
    EXPECT_EQ(r.out, std::string("kestrav3 ") + KESTRAV3_VERSION + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(run({"-v"}).out.find(" " + r.out), std::string::npos) << "the line -v frames";
}

TEST_F(Cli, KeyLengthIsCheckedBeforeTheFile) {
    const std::string short_key = framed_message(-8);
    const std::string long_key = framed_message(-7);
    const std::string key41(41, 'k');
    for (const std::string option : {"-c", "-cg", "-d", "-dg"}) {
        RunResult r = run({option, "missing.bin", "abc"});
        EXPECT_EQ(r.out, short_key) << option;
        EXPECT_EQ(r.status, 1);
        r = run({option, "missing.bin", ""});
        EXPECT_EQ(r.out, short_key) << option;
        r = run({option, "missing.bin", key41});
        EXPECT_EQ(r.out, long_key) << option;
        EXPECT_EQ(r.status, 1);
    }
    RunResult r = run({"-m", "missing.bin", "abc"});
    EXPECT_EQ(r.out, short_key + "\n End.\n");
    EXPECT_EQ(r.status, 1);
    r = run({"-m", "missing.bin", key41});
    EXPECT_EQ(r.out, long_key + "\n End.\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(Cli, UnreadableInputsAreRefusedBeforeAnythingIsPrintedOrCreated) {
    const std::string cannot_read = framed_message(-1);
    write_file(dir / "empty.bin", "");
    write_file(dir / "short.archi", std::string(8191, 'x'));
    fs::create_directory(dir / "folder");

    // After the framed message, the file concerned and why.
    const std::string missing = " missing.bin: " + std::string(std::strerror(ENOENT)) + "\n";
    const std::string too_short =
        " short.archi: is too short to be a coded file (8191 bytes; a coded file has at least 8192)\n";
    EXPECT_EQ(run({"-c", "missing.bin", "key1"}).out, cannot_read + missing);
    EXPECT_EQ(run({"-c", "folder", "key1"}).out, cannot_read + " folder: is a folder\n");
    EXPECT_EQ(run({"-d", "missing.bin", "key1"}).out, cannot_read + missing);
    EXPECT_EQ(run({"-d", "folder", "key1"}).out, cannot_read + " folder: is a folder\n");
    EXPECT_EQ(run({"-d", "short.archi", "key1"}).out, cannot_read + too_short);
    EXPECT_EQ(run({"-m", "short.archi", "key1"}).out, cannot_read + too_short + "\n End.\n");
    const RunResult empty = run({"-c", "empty.bin", "key1"});
    EXPECT_EQ(empty.out, framed_message(-2) + " empty.bin: is empty\n");
    EXPECT_EQ(empty.status, 1);

    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"empty.bin", "folder", "short.archi"}));
}

TEST_F(Cli, CodingPrintsSummaryMetaSaveAndProgress) {
    write_file(dir / "report.pdf", pattern_bytes(10000));
    const RunResult r = run({"-c", "report.pdf", "correct horse"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Size:    10000 B\n"
              "Sblock:  4096 B\n"
              "Nblocks: 2\n"
              "Rest:    1808 B\n"
              "Noise:   dense\n"
              "Meta:    0 chars\n"
              "\nSave: report.pdf.archi\n"
              "\nStart coder:\n" +
                  std::string(13, '\b') + "progress: 50%" + std::string(14, '\b') + "progress: 100%\n");
    EXPECT_EQ(fs::file_size(dir / "report.pdf.archi"), 36624u);
}

TEST_F(Cli, DecodingPrintsTheProgressLineAndTheRestoredName) {
    write_file(dir / "three.bin", pattern_bytes(3 * 4096));
    ASSERT_EQ(run({"-c", "three.bin", "key-three"}).status, 0);
    fs::rename(dir / "three.bin", dir / "three.orig");
    const RunResult r = run({"-d", "three.bin.archi", "key-three"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(13, '\b') + "progress: 33%" + std::string(13, '\b') + "progress: 66%" +
                         std::string(14, '\b') + "progress: 100%\n Restored:  three.bin\n");
    EXPECT_EQ(read_file(dir / "three.bin"), read_file(dir / "three.orig"));
}

TEST_F(Cli, SmallFilesShowNoProgressLine) {
    write_file(dir / "tiny.txt", "abc");
    RunResult r = run({"-c", "tiny.txt", "abcd"});
    EXPECT_EQ(r.out,
              "Size:    3 B\nSblock:  4096 B\nNblocks: 0\nRest:    3 B\nNoise:   dense\nMeta:    0 chars\n"
              "\nSave: tiny.txt.archi\n\nStart coder:\n");
    fs::remove(dir / "tiny.txt");
    r = run({"-d", "tiny.txt.archi", "abcd"});
    EXPECT_EQ(r.out, " Restored:  tiny.txt\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "tiny.txt"), "abc");
}

TEST_F(Cli, MetadataIsPrintedOrTheFailureEnds) {
    write_file(dir / "a.txt", "abc");
    write_file(dir / "b.txt", "abc");
    write_file(dir / "b.txt.met", "first line\nsecond line\n");
    ASSERT_EQ(run({"-c", "a.txt", "abcd"}).status, 0);
    RunResult r = run({"-c", "b.txt", "abcd"});
    EXPECT_NE(r.out.find("Meta:    23 chars\n"), std::string::npos);

    r = run({"-m", "a.txt.archi", "abcd"});
    EXPECT_EQ(r.out, "no added file description\n");
    EXPECT_EQ(r.status, 0);
    r = run({"-m", "b.txt.archi", "abcd"});
    EXPECT_EQ(r.out, "first line\nsecond line\n\n");
    EXPECT_EQ(r.status, 0);
    r = run({"-m", "b.txt.archi", "wrong key"});
    EXPECT_EQ(r.out, framed_message(-2) + " b.txt.archi: the key is wrong, or this is not a coded file\n\n End.\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(Cli, WrongKeyRestoresNothing) {
    write_file(dir / "data.bin", pattern_bytes(5000));
    ASSERT_EQ(run({"-c", "data.bin", "right key"}).status, 0);
    fs::remove(dir / "data.bin");
    RunResult r = run({"-d", "data.bin.archi", "wrong key"});
    EXPECT_EQ(r.out, framed_message(-2) + " data.bin.archi: the key is wrong, or this is not a coded file\n");
    EXPECT_EQ(r.status, 1);
    // A key read from a Windows text file keeps its carriage return.
    r = run({"-d", "data.bin.archi", "right key\r"});
    EXPECT_EQ(r.out,
              framed_message(-2) +
                  " data.bin.archi: the key is wrong (it ends in a carriage return), or this is not a coded file\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(fs::exists(dir / "data.bin"));
    EXPECT_FALSE(fs::exists(dir / "data.bin.err"));
}

TEST_F(Cli, CodedNameIsSafeAsciiAndStoredNameKeepsTheOriginal) {
    // Names are Windows-1250 on Windows and UTF-8 elsewhere; both give the
    // same coded name: letters through the filter table, the space '_'.
    std::vector<std::pair<std::string, std::string>> names = {
        {native("kůň čápů.txt"), "kun_capu.txt.archi"},
        {native("Žluťoučký kůň.txt"), "Zlutoucky_kun.txt.archi"},
        {native("šťastný Žralok.txt"), "stastny_Zralok.txt.archi"},
    };
#if !defined(_WIN32)
    // A character Windows-1250 lacks becomes one underscore.
    names.push_back({"Αλφα 🐎.txt", "______.txt.archi"});
#endif
    for (const auto& [name, coded] : names) {
        write_file(dir.path() / native_name(name), "horse " + name);
        const RunResult r = run({"-c", name, "abcd"});
        EXPECT_NE(r.out.find("\nSave: " + coded + "\n"), std::string::npos) << r.out;
        fs::remove(dir.path() / native_name(name));
        ASSERT_EQ(run({"-d", coded, "abcd"}).status, 0) << coded;
        EXPECT_EQ(read_file(dir.path() / native_name(name)), "horse " + name);
    }
}

TEST_F(Cli, AnAmpersandIsPartOfTheStoredName) {
    // The name is stored unescaped; a reader takes it by the record's shape.
    write_file(dir / "a&b.txt", "ampersand");
    const RunResult r = run({"-c", "a&b.txt", "abcd"});
    EXPECT_NE(r.out.find("\nSave: a_b.txt.archi\n"), std::string::npos) << r.out;
    fs::remove(dir / "a&b.txt");
    ASSERT_EQ(run({"-d", "a_b.txt.archi", "abcd"}).status, 0);
    EXPECT_EQ(read_file(dir / "a&b.txt"), "ampersand");
    EXPECT_FALSE(fs::exists(dir / "a"));
}

TEST_F(Cli, PathsWithFoldersCodeBesideTheFileAndRestoreBesideTheCodedFile) {
    fs::create_directories(dir / "in" / "deeper");
    write_file(dir / "in" / "deeper" / "notes.txt", pattern_bytes(4097));
    ASSERT_EQ(run({"-c", "in/deeper/notes.txt", "abcd"}).status, 0);
    ASSERT_TRUE(fs::exists(dir / "in" / "deeper" / "notes.txt.archi"));
    fs::create_directory(dir / "out");
    fs::rename(dir / "in" / "deeper" / "notes.txt.archi", dir / "out" / "notes.txt.archi");
    ASSERT_EQ(run({"-d", (dir / "out" / "notes.txt.archi").string(), "abcd"}).status, 0);
    EXPECT_EQ(read_file(dir / "out" / "notes.txt"), read_file(dir / "in" / "deeper" / "notes.txt"));
}

}  // namespace
}  // namespace kestrav3::testing
