// What an unlucky user or a hostile sender meets: names the record holds
// whole, a coded file never replaced by another file's, an input that
// changes while it is coded, a restore that replaces only the file it is
// for, damage said in the output and the exit status, and names too long.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <set>

#include "cli_support.h"
#include "kestrav3lib.h"

namespace kestrav3::testing {
namespace {

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

std::string framed(const std::string& message) { return " \n" + message + "\n \n"; }

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string line_of(const std::string& out, const std::string& label) {
    const std::size_t at = out.find(label);
    return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

// Names with "&", "=" and whole field keys: the coder stores them, and every
// reader takes them whole, with the sizes of the tail.
TEST(StoredNames, NamesWithAmpersandsOrFieldKeysRestoreWhole) {
    struct Case {
        std::string name, coded;
        std::size_t size;
    };
    for (const Case& c :
         {Case{"Tom & Jerry.txt", "Tom___Jerry.txt.archi", 100}, Case{"AT&T report.pdf", "AT_T_report.pdf.archi", 5000},
          Case{"&notes.txt", "_notes.txt.archi", 10}, Case{"FOREST=green.txt", "FOREST_green.txt.archi", 10000},
          Case{"xLENMET=2999.txt", "xLENMET_2999.txt.archi", 77},
          Case{"a&BLOCKSIZE=1&NBLOCKS=1&REST=1&LENMET=1&", "a_BLOCKSIZE_1_NBLOCKS_1_REST_1_LENMET_1_.archi", 4097}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string plain = pattern_bytes(c.size, 7);
        write_file(dir / c.name, plain);
        const RunResult code = run_cli({"-c", c.name, "name key"}, dir.path());
        ASSERT_EQ(code.status, 0) << code.out;
        EXPECT_NE(code.out.find("\nSave: " + c.coded + "\n"), std::string::npos) << code.out;
        fs::remove(dir / c.name);

        const RunResult t = run_cli({"-t", c.coded, "name key"}, dir.path());
        EXPECT_EQ(t.status, 0);
        EXPECT_EQ(line_of(t.out, " Name:"), " Name:      " + c.name);
        EXPECT_EQ(line_of(t.out, " Size:"), " Size:      " + std::to_string(c.size) + " bytes");
        const RunResult m = run_cli({"-m", c.coded, "name key"}, dir.path());
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.out, "no added file description\n");
        const RunResult d = run_cli({"-d", c.coded, "name key"}, dir.path());
        EXPECT_EQ(d.status, 0) << d.out;
        EXPECT_TRUE(ends_with(d.out, " Restored:  " + c.name + "\n")) << d.out;
        EXPECT_TRUE(read_file(dir / c.name) == plain);
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{c.coded, c.name}));
    }
}

TEST(StoredNames, ANameHoldingFieldsNeverRestoresAnotherFile) {
    TempDir dir;
    const std::string name = "report&NBLOCKS=0&REST=0&.txt", coded = "report_NBLOCKS_0_REST_0_.txt.archi";
    const std::string plain = pattern_bytes(9000, 3);
    write_file(dir / "report", "PRECIOUS");
    write_file(dir / name, plain);
    ASSERT_EQ(run_cli({"-c", name, "name key"}, dir.path()).status, 0);
    fs::remove(dir / name);
    const RunResult d = run_cli({"-d", coded, "name key"}, dir.path());
    EXPECT_EQ(d.status, 0) << d.out;
    EXPECT_EQ(read_file(dir / "report"), "PRECIOUS");
    EXPECT_TRUE(read_file(dir / name) == plain);
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"report", name, coded}));
}

// Two inputs whose names reduce to one coded name: the second never
// replaces the first's coded file.
TEST(CodedNames, AnotherInputsCodedFileIsNeverReplaced) {
    std::vector<std::pair<std::string, std::string>> pairs = {{"a b.txt", "a_b.txt"}};
#if !defined(_WIN32)
    // Characters Windows-1250 lacks: each becomes one underscore.
    pairs.push_back({"日本.txt", "中国.txt"});
#endif
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(first);
        TempDir dir;
        write_file(dir / first, "the first file");
        write_file(dir / second, "the second file");
        ASSERT_EQ(run_cli({"-c", first, "same key"}, dir.path()).status, 0);
        auto names = listing(dir.path());
        ASSERT_EQ(names.size(), 3u);
        names.erase(first);
        names.erase(second);
        const std::string coded = *names.begin();
        const std::string earlier = read_file(dir / coded);

        // Refused before anything is printed or written.
        const std::string refused = framed(" Coded file of another name exists [14]") + " " + coded +
                                    ": is not this file's coded file with this key; to go on, remove or rename it\n";
        RunResult r = run_cli({"-c", second, "same key"}, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, refused);
        // The input's own coded file made with another key is no more its own.
        r = run_cli({"-c", first, "other key"}, dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, refused);
        EXPECT_TRUE(read_file(dir / coded) == earlier);
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{first, second, coded}));

        // Its own coded file with its key is replaced.
        r = run_cli({"-c", first, "same key"}, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_FALSE(read_file(dir / coded) == earlier);
        fs::remove(dir / first);
        EXPECT_EQ(run_cli({"-d", coded, "same key"}, dir.path()).status, 0);
        EXPECT_EQ(read_file(dir / first), "the first file");
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{first, second, coded}));
    }
}

// A coded file renamed (or made elsewhere) never replaces a file of the
// folder that has its stored name.
TEST(RestoredNames, ARenamedCodedFileNeverReplacesAFileOfTheFolder) {
    TempDir dir;
    write_file(dir / ".bashrc", "export EVIL=1\n");
    ASSERT_EQ(run_cli({"-c", ".bashrc", "trap key"}, dir.path()).status, 0);
    fs::rename(dir / ".bashrc.archi", dir / "holiday-photos.archi");
    write_file(dir / ".bashrc", "PRECIOUS");
    RunResult r = run_cli({"-d", "holiday-photos.archi", "trap key"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, framed(" Restored name is taken by another file [16]") +
                         " .bashrc: exists, and the coded file holiday-photos.archi is not named after it "
                         "(.bashrc.archi); to go on, move one of them or rename the coded file\n");
    EXPECT_EQ(read_file(dir / ".bashrc"), "PRECIOUS");
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{".bashrc", "holiday-photos.archi"}));

    // Where the name is free the restore goes on, and says what it wrote.
    fs::remove(dir / ".bashrc");
    r = run_cli({"-d", "holiday-photos.archi", "trap key"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, " Restored:  .bashrc\n");
    EXPECT_EQ(read_file(dir / ".bashrc"), "export EVIL=1\n");

    // Under the name the coder gave it, it replaces the file as ever.
    fs::rename(dir / "holiday-photos.archi", dir / ".bashrc.archi");
    write_file(dir / ".bashrc", "OLD");
    r = run_cli({"-d", ".bashrc.archi", "trap key"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / ".bashrc"), "export EVIL=1\n");
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{".bashrc", ".bashrc.archi"}));
}

// A coded file of three full blocks and a rest, kept here to be damaged.
class RestoreDamage : public ::testing::Test {
protected:
    static constexpr std::size_t header_end = 16384, group = 8272;
    TempDir dir;
    std::string plain = pattern_bytes(3 * 4096 + 100, 13), coded;

    void SetUp() override {
        write_file(dir / "d.bin", plain);
        ASSERT_EQ(run_cli({"-c", "d.bin", "damage key"}, dir.path()).status, 0);
        coded = read_file(dir / "d.bin.archi");
        fs::remove(dir / "d.bin");
    }
    // Flips a byte in the data of each block given (3: the rest block).
    void damage(std::initializer_list<std::size_t> blocks, std::size_t length = std::string::npos) {
        std::string bytes = coded.substr(0, length);
        for (const std::size_t k : blocks) bytes.at(header_end + k * group + (k < 3 ? 4176 : 180) + 11) ^= 0x21;
        write_file(dir / "d.bin.archi", bytes);
    }
};

TEST_F(RestoreDamage, ALogThatCannotBeWrittenIsSaidAndTheStatusStaysThree) {
    damage({1});
    fs::create_directory(dir / "d.bin.err");
    const RunResult r = run_cli({"-d", "d.bin.archi", "damage key"}, dir.path());
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("\n Restored:  d.bin\n Damaged:   1 block failed its check (1), not listed: d.bin.err "
                         "cannot be written: "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(fs::file_size(dir / "d.bin"), plain.size());
    EXPECT_TRUE(fs::is_empty(dir / "d.bin.err"));
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"d.bin", "d.bin.archi", "d.bin.err"}));
}

#if !defined(_WIN32)
// POSIX only: the failed write comes from a file-size limit.
TEST_F(RestoreDamage, AFailedRestoreLeavesNoLog) {
    // Block 0 damaged, and the restore cannot be written past block 1.
    damage({0});
    const RunResult r = run_cli({"-d", "d.bin.archi", "damage key"}, dir.path(), 6000);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(framed(" Read or write on HDD is stopped [4]")), std::string::npos) << r.out;
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"d.bin.archi"});
}
#endif

TEST_F(RestoreDamage, TheExportsReturnTheCountOfDamagedBlocks) {
    damage({0, 2, 3});
    const std::string path = (dir / "d.bin.archi").string();
    EXPECT_EQ(kestrav3decode(path.c_str(), "damage key", 0), 2 + 1);
    EXPECT_EQ(read_text_file(dir / "d.bin.err"), "0\n2\n4\n");
    write_file(dir / "d.bin.archi", coded);
    EXPECT_EQ(kestrav3decode(path.c_str(), "damage key", 0), 0);
    EXPECT_TRUE(read_file(dir / "d.bin") == plain);
    EXPECT_EQ(read_text_file(dir / "d.bin.err"), "0\n2\n4\n");
}

#if !defined(_WIN32)
// POSIX only: a run changed from outside while it is under way, and names
// longer than a Windows path leaves room for here.

TEST(ChangingInput, AnInputWrittenToOrReplacedWhileItIsCodedFails) {
    TempDir dir;
    const std::string plain = pattern_bytes(64 * 1024 * 1024, 17);
    write_file(dir / "in.bin", plain);
    ASSERT_EQ(run_cli({"-c", "in.bin", "change key"}, dir.path()).status, 0);
    const std::string earlier = read_file(dir / "in.bin.archi");
    const auto append = [&] { std::ofstream(dir / "in.bin", std::ios::binary | std::ios::app) << "appended"; };
    const auto rewrite = [&] {
        std::fstream f(dir / "in.bin", std::ios::binary | std::ios::in | std::ios::out);
        f << "rewritten";
    };
    // Made before the runs, so that the change itself is quick.
    write_file(dir / "other", pattern_bytes(plain.size(), 18));
    const auto replace = [&] { fs::rename(dir / "other", dir / "in.bin"); };
    int step = 0;
    for (const auto& change :
         {std::function<void()>(append), std::function<void()>(rewrite), std::function<void()>(replace)}) {
        SCOPED_TRACE(++step);
        write_file(dir / "in.bin", plain);
        const RunResult r = run_cli_when_ready(
            {"-c", "in.bin", "change key"}, dir.path(), [&] { return hidden_file_of(dir.path(), "in.bin.archi"); },
            [&](int) { change(); });
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.out, framed(" File changed while it was coded [15]") +
                                         " in.bin: was written to or replaced while it was coded\n"))
            << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
        EXPECT_TRUE(read_file(dir / "in.bin.archi") == earlier);
        std::set<std::string> expected{"in.bin", "in.bin.archi"};
        if (step < 3) expected.insert("other");
        EXPECT_EQ(listing(dir.path()), expected);
    }
}

TEST(LongNames, NamesWhoseCodedNameCannotBeMadeAreRefusedFirst) {
    TempDir dir;
    for (const std::size_t length : {250, 251, 255}) {
        const std::string name = std::string(length - 4, 'n') + ".bin";
        write_file(dir / name, "long");
        const RunResult r = run_cli({"-c", name, "long key"}, dir.path());
        EXPECT_EQ(r.status, 1) << length;
        EXPECT_EQ(r.out, framed(" Name of file is too long [5]") + " " + name +
                             ": its name is too long to be stored, or its coded name too long for a folder\n")
            << length;
        EXPECT_EQ(listing(dir.path()), std::set<std::string>{name}) << length;
        fs::remove(dir / name);
    }
    // 249 bytes give a coded name of 255, the most a folder holds.
    const std::string name = std::string(245, 'n') + ".bin";
    write_file(dir / name, "long");
    ASSERT_EQ(run_cli({"-c", name, "long key"}, dir.path()).status, 0);
    fs::remove(dir / name);
    EXPECT_EQ(run_cli({"-d", name + ".archi", "long key"}, dir.path()).status, 0);
    EXPECT_EQ(read_file(dir / name), "long");
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{name, name + ".archi"}));
}
#endif

}  // namespace
}  // namespace kestrav3::testing
