// "-t": a coded file checked block by block without restoring it. Every case
// checks the exit status, the report's " Damaged:" line, and that the folder
// holds exactly what it held before.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <cstring>
#include <map>

#include "cli_support.h"
#include "container/chunks.h"
#include "container/header.h"
#include "container/tester.h"
#include "kestrav3lib.h"

namespace kestrav3::testing {
namespace {

// Names and contents of everything in a folder.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()] = read_file(entry);
    return files;
}

// The report line that starts with label, without its line feed ("" if none).
std::string line_of(const std::string& out, const std::string& label) {
    const std::size_t at = out.find("\n " + label);
    if (at == std::string::npos) return out.rfind(" " + label, 0) == 0 ? out.substr(0, out.find('\n')) : "";
    const std::size_t end = out.find('\n', at + 1);
    return out.substr(at + 1, end - at - 1);
}

class TestCommand : public ::testing::Test {
protected:
    TempDir dir;
    std::string coded;

    // Codes size bytes as "t.bin", keeps the coded bytes and removes the plain file.
    void code(std::size_t size) {
        write_file(dir / "t.bin", pattern_bytes(size, 13));
        ASSERT_EQ(run_cli({"-c", "t.bin", "test key"}, dir.path()).status, 0);
        coded = read_file(dir / "t.bin.archi");
        fs::remove(dir / "t.bin");
    }
    std::string flipped(std::initializer_list<std::size_t> offsets) const {
        std::string bytes = coded;
        for (const std::size_t at : offsets) bytes[at] = static_cast<char>(bytes[at] ^ 0x24);
        return bytes;
    }
    // Stores bytes as the coded file, runs -t on it and checks that nothing
    // in the folder changed.
    RunResult test(const std::string& bytes, const std::string& key = "test key") {
        write_file(dir / "t.bin.archi", bytes);
        const auto before = snapshot(dir.path());
        RunResult r = run_cli({"-t", "t.bin.archi", key}, dir.path());
        EXPECT_EQ(snapshot(dir.path()), before) << "-t changed the folder";
        EXPECT_EQ(r.err, "");
        return r;
    }
};

TEST_F(TestCommand, AnIntactFileFromTheCoderGivesTheFullReport) {
    code(3 * 4096 + 100);
    const RunResult r = test(coded);
    EXPECT_EQ(r.status, 0);
    // The progress line as -d shows it, then the report.
    EXPECT_EQ(r.out, std::string(13, '\b') + "progress: 33%" + std::string(13, '\b') + "progress: 66%" +
                         std::string(14, '\b') + "progress: 100%\n" +
                         " Name:      t.bin\n"
                         " Size:      12388 bytes\n"
                         " Blocks:    4 (full blocks 0-2 of 4096 bytes, rest block 4 of 100 bytes)\n"
                         " Damaged:   none\n"
                         " Result:    intact\n");
}

TEST_F(TestCommand, TheProgressLineIsTheSameBytesAsTheRestores) {
    code(250 * 4096);
    const RunResult t = test(coded);
    EXPECT_EQ(t.status, 0);
    const RunResult d = run_cli({"-d", "t.bin.archi", "test key"}, dir.path());
    ASSERT_EQ(d.status, 0);
    EXPECT_EQ(t.out.substr(0, t.out.find(" Name:")), d.out.substr(0, d.out.find(" Restored:")));
}

TEST_F(TestCommand, DamagedBlocksAreNamedInTheLogsNumbering) {
    code(8 * 4096 + 10);
    // Block 1's data, block 3's record, block 4's noise, the rest's data.
    RunResult r = test(flipped({header_end + group + 4176 + 9, header_end + 3 * group + 45,
                                header_end + 4 * group + 80 + 2, header_end + 8 * group + 80 + 10 + 4}));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(line_of(r.out, "Damaged:"), " Damaged:   1 3 4 9");
    EXPECT_EQ(line_of(r.out, "Result:"), " Result:    not intact");
    EXPECT_EQ(line_of(r.out, "Missing:"), "");

    // A damaged stretch is written as a range.
    r = test(flipped({header_end + 2 * group + 4200, header_end + 3 * group + 4200, header_end + 4 * group + 4200,
                      header_end + 5 * group + 4200, header_end + 7 * group + 50}));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(line_of(r.out, "Damaged:"), " Damaged:   2-5 7");
}

TEST_F(TestCommand, ACopyWithABrokenRecordGivesWayToTheWholeOne) {
    code(2 * 4096 + 5);
    // Stored byte 1 of copy 1 holds the plain 'F' of "FN=" (pairs are swapped).
    RunResult r = test(flipped({4096 + 1}));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(line_of(r.out, "Note:"),
              " Note:      header copies differ in the record; copy 2 used (copy 1's record "
              "is broken, copy 2's is whole)");
    EXPECT_EQ(line_of(r.out, "Name:"), " Name:      t.bin");
    EXPECT_EQ(line_of(r.out, "Damaged:"), " Damaged:   none");

    r = test(coded);
    EXPECT_EQ(line_of(r.out, "Note:"), "");
}

TEST_F(TestCommand, AFileThatEndsEarlyNamesItsMissingBlocks) {
    code(5 * 4096 + 300);
    struct Case {
        std::size_t length;
        const char* missing;
    };
    for (const Case c :
         {Case{header_end, " Missing:   0-4 6 (the coded file ends after 0 complete blocks)"},
          Case{header_end + 2 * group + 60, " Missing:   2-4 6 (the coded file ends after 2 complete blocks)"},
          Case{header_end + 3 * group + 5000, " Missing:   3 4 6 (the coded file ends after 3 complete blocks)"},
          Case{header_end + 4 * group, " Missing:   4 6 (the coded file ends after 4 complete blocks)"},
          Case{header_end + 5 * group, " Missing:   6 (the coded file ends after 5 complete blocks)"},
          Case{coded.size() - 1, " Missing:   6 (the coded file ends after 5 complete blocks)"}}) {
        std::string bytes = coded.substr(0, c.length);
        if (c.length > header_end) bytes[header_end + 40 + 3] ^= 1;  // block 0's record
        const RunResult r = test(bytes);
        EXPECT_EQ(r.status, 3) << c.length;
        EXPECT_EQ(line_of(r.out, "Missing:"), c.missing) << c.length;
        EXPECT_EQ(line_of(r.out, "Damaged:"), c.length > header_end ? " Damaged:   0" : " Damaged:   none") << c.length;
        // The report starts on a line of its own after an unfinished progress line.
        const std::size_t name_at = r.out.find(" Name:      t.bin\n");
        ASSERT_NE(name_at, std::string::npos) << c.length;
        EXPECT_TRUE(name_at == 0 || r.out[name_at - 1] == '\n') << r.out;
    }
}

TEST_F(TestCommand, BytesAfterTheLastGroupAreCounted) {
    code(4096 + 7);
    RunResult r = test(coded + std::string(300, 'x'));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(line_of(r.out, "Trailing:"), " Trailing:  300 bytes after the last group");
    EXPECT_EQ(line_of(r.out, "Damaged:"), " Damaged:   none");
    EXPECT_EQ(line_of(r.out, "Result:"), " Result:    not intact");
    r = test(coded + "y");
    EXPECT_EQ(line_of(r.out, "Trailing:"), " Trailing:  1 byte after the last group");
}

TEST_F(TestCommand, UnreadableFilesFailWithTheRestoresMessages) {
    code(3 * 4096);
    RunResult r = test(coded, "wrong key");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Size of file is zero [2]\n \n t.bin.archi: the key is wrong, or this is not a coded file\n");
    r = test(coded.substr(0, 8000));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              " \n Cannot read data from file [1]\n \n"
              " t.bin.archi: is too short to be a coded file (8000 bytes; a coded file has at least 8192)\n");
    r = test(coded.substr(0, 12000));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Read or write on HDD is stopped [4]\n \n t.bin.archi: ends inside its header\n");
    r = test(coded, "abc");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, framed_message(-8));
    r = run_cli({"-t", "none.archi", "test key"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              " \n Cannot read data from file [1]\n \n none.archi: " + std::string(std::strerror(ENOENT)) + "\n");
}

// A coded file whose header copies hold record1 and record2, followed by
// one coded chunk of zeros.
std::string crafted_pair(const std::string& record1, const std::string& record2, const char* key) {
    TempDir scratch;
    const fs::path path = scratch / "c.archi";
    gen_kmatrix(key);
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    for (int chunk = 0; chunk < 3; ++chunk) {
        HeaderBlock bytes{};
        if (chunk < 2) {
            const std::string& record = chunk == 0 ? record1 : record2;
            std::memcpy(bytes.data(), record.c_str(), record.size() + 1);
        }
        code_chunk(bytes.data(), BLOCK_SIZE, false);
        write_chunk(f, bytes.data(), BLOCK_SIZE);
    }
    std::fclose(f);
    return read_file(path);
}

std::string crafted(const std::string& record, const char* key) { return crafted_pair(record, record, key); }

TEST_F(TestCommand, FieldsOfCopiesNeitherWholeAreTakenOneByOne) {
    // Neither record has the coder's shape (an empty field after REST): copy
    // 1 lacks its REST field, which copy 2 gives.
    const std::string second = "FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REST=5&LENMET=&";
    RunResult r = test(crafted_pair("FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REXT=5&LENMET=&", second, "test key"));
    EXPECT_EQ(line_of(r.out, "Note:"), " Note:      header copies differ in the record; copy 1 used");
    EXPECT_NE(r.out.find(" Note:      REST taken from header copy 2 (copy 1 lacks it)\n"), std::string::npos) << r.out;
    EXPECT_EQ(line_of(r.out, "Blocks:"), " Blocks:    1 (rest block 1 of 5 bytes)");
}

TEST_F(TestCommand, RefusedHeadersAreRefusedAsTheRestoreRefusesThem) {
    RunResult r = test(crafted("FN=../up.bin&BLOCKSIZE=4096&NBLOCKS=1&REST=5&LENMET=0&", "test key"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              " \n Cannot decode the header [12]\n \n"
              " t.bin.archi: its header names a file that cannot be restored here\n");
    r = test(crafted("FN=x.bin&BLOCKSIZE=5000&NBLOCKS=1&REST=5&LENMET=0&", "test key"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Cannot allocate memory [3]\n \n t.bin.archi: its header gives a block size above 4096\n");
    r = test(crafted("FN=x.bin&BLOCKSIZE=4096&NBLOCKS=0&REST=4097&LENMET=0&", "test key"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Cannot decode the header [12]\n \n t.bin.archi: its header holds impossible sizes\n");
}

TEST(TestCommandVectors, FilesOfTheIndependentWriter) {
    struct Case {
        const char* file;
        const char* key;
        int status;
        const char* damaged;
    };
    for (const Case c : {Case{"abc.txt.archi", "abcd", 0, " Damaged:   none"},
                         Case{"report.pdf.archi", "correct horse battery", 0, " Damaged:   none"},
                         Case{"two-blocks-damaged.archi", "block-key", 3, " Damaged:   1"}}) {
        TempDir dir;
        fs::copy_file(test_data(c.file), dir / c.file);
        const RunResult r = run_cli({"-t", c.file, c.key}, dir.path());
        EXPECT_EQ(r.status, c.status) << c.file;
        EXPECT_EQ(line_of(r.out, "Damaged:"), c.damaged) << c.file;
        EXPECT_EQ(snapshot(dir.path()).size(), 1u) << c.file;
    }
    TempDir dir;
    fs::copy_file(test_data("report.pdf.archi"), dir / "r.archi");
    const RunResult r = run_cli({"-t", "r.archi", "correct horse battery"}, dir.path());
    EXPECT_EQ(line_of(r.out, "Name:"), " Name:      report.pdf");
    EXPECT_EQ(line_of(r.out, "Size:"), " Size:      10000 bytes");
    EXPECT_EQ(line_of(r.out, "Blocks:"), " Blocks:    3 (full blocks 0-1 of 4096 bytes, rest block 3 of 1808 bytes)");
}

TEST(TestCommandExport, ReturnsTheCountOfDamagedAndMissingBlocks) {
    TempDir dir;
    write_file(dir / "e.bin", pattern_bytes(6 * 4096 + 1, 5));
    ASSERT_EQ(kestrav3code((dir / "e.bin").string().c_str(), "export key", 0), 0);
    std::string bytes = read_file(dir / "e.bin.archi");
    const std::string path = (dir / "e.bin.archi").string();
    EXPECT_EQ(kestrav3test(path.c_str(), "export key", 0), 0);
    bytes[header_end + 4200] ^= 1;
    bytes[header_end + group + 4200] ^= 1;
    write_file(dir / "e.bin.archi", bytes);
    EXPECT_EQ(kestrav3test(path.c_str(), "export key", 0), 2);
    // Ending inside block 4: blocks 4, 5 and the rest are missing.
    write_file(dir / "e.bin.archi", bytes.substr(0, header_end + 4 * group + 100));
    EXPECT_EQ(kestrav3test(path.c_str(), "export key", 0), 5);
    write_file(dir / "e.bin.archi", bytes + "zz");
    EXPECT_EQ(kestrav3test(path.c_str(), "export key", 0), 3);
    EXPECT_EQ(kestrav3test(path.c_str(), "bad key", 0), -2);
}

TEST(BlockList, RunsOfThreeOrMoreAreRanges) {
    BlockList list;
    EXPECT_EQ(list.text(), "none");
    for (long long n : {0, 1, 2, 5, 7, 8, 10, 11, 12, 13}) list.add(n);
    EXPECT_EQ(list.text(), "0-2 5 7 8 10-13");
    EXPECT_EQ(list.count(), 10);
    list.add_run(14, 20);
    list.add(22);
    EXPECT_EQ(list.text(), "0-2 5 7 8 10-20 22");
    EXPECT_EQ(list.count(), 18);
}

#if !defined(_WIN32)
// POSIX only: a pseudo-terminal to print on.
TEST(TestCommandTerminal, TheStoredNameIsEscapedOnATerminalOnly) {
    TempDir dir;
    // U+0081, a C1 control the coder accepts in a UTF-8 name.
    const std::string name = "c1\xC2\x81.bin";
    write_file(dir / name, "a few bytes");
    ASSERT_EQ(run_cli({"-c", name, "term key"}, dir.path()).status, 0);
    fs::remove(dir / name);
    const std::string coded = std::string("c1_.bin.archi");
    ASSERT_TRUE(fs::exists(dir / coded));
    const RunResult shown = run_cli_on_terminal({"-t", coded, "term key"}, dir.path(), {});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find(" Name:      c1\\u0081.bin\r\n"), std::string::npos) << shown.out;
    const RunResult piped = run_cli({"-t", coded, "term key"}, dir.path());
    EXPECT_EQ(line_of(piped.out, "Name:"), " Name:      " + name);
}
#endif

}  // namespace
}  // namespace kestrav3::testing
