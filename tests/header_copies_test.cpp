// The two header copies of a coded file hold the same plain bytes: every
// reader compares them, says where they differ and which one it used, and a
// whole copy beats a broken one. Damage is placed by offset: a stored byte
// of a copy at 4096 + (i ^ 1) (copy 2: 12288 + (i ^ 1)) holds its plain
// byte i, since the pairs are swapped.
#include <gtest/gtest.h>

#include "cli_support.h"

namespace kestrav3::testing {
namespace {

constexpr std::size_t copy1 = 4096, copy2 = 12288;

// The stored byte of plain byte i of a copy.
std::size_t at(std::size_t copy, std::size_t i) { return copy + (i ^ 1); }

// The report line that starts with label, without its line feed ("" if none).
std::string line_of(const std::string& out, const std::string& label) {
    const std::size_t found = out.find("\n " + label);
    if (found == std::string::npos) return "";
    return out.substr(found + 1, out.find('\n', found + 1) - found - 1);
}

class HeaderCopies : public ::testing::Test {
protected:
    TempDir dir;
    std::string plain, coded;

    // d.bin of 5000 bytes with metadata: its record is
    // FN=d.bin&BLOCKSIZE=4096&NBLOCKS=1&REST=904&LENMET=13& (NBLOCKS' digit at 32).
    void SetUp() override {
        plain = pattern_bytes(5000, 3);
        write_file(dir / "d.bin", plain);
        write_file(dir / "d.bin.met", "kept metadata");
        ASSERT_EQ(run_cli({"-c", "d.bin", "copy key"}, dir.path()).status, 0);
        coded = read_file(dir / "d.bin.archi");
        fs::remove(dir / "d.bin");
    }
    RunResult run(const std::string& flag) { return run_cli({flag, "d.bin.archi", "copy key"}, dir.path()); }
    RunResult batch(const std::string& flag) {
        return run_cli_with_input({flag, "-k", "-", "d.bin.archi"}, dir.path(), "copy key\n");
    }
};

TEST_F(HeaderCopies, EveryReaderNamesTheDifferenceAndTheCopyItUsed) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::size_t, std::size_t>> flips;  // stored offset, count of bytes
        std::uint8_t mask;                                       // XORed in; 0: the bytes are zeroed
        const char* note;
        const char* fault;     // the many-file line's name for the damaged copy
        const char* restored;  // the name -d restores to
        std::string metadata;  // what -m prints
        int metadata_status;
    };
    // Plain bytes 802 to 809 of the metadata with their lowest bit flipped.
    std::string flipped_metadata = "kept metadata";
    for (std::size_t i = 2; i < 10; ++i) flipped_metadata[i] ^= 0x01;
    const Case cases[] = {
        {"copy 1 and its noise overwritten",
         {{0, 8192}},
         0,
         "header copies differ in the record, metadata and filler; copy 2 used (copy 1's record is broken, copy 2's "
         "is whole)",
         "header copy 1",
         "d.bin",
         "kept metadata",
         3},
        {"one bit of copy 1's record",
         {{at(copy1, 33), 1}},
         0x01,
         "header copies differ in the record; copy 2 used (copy 1's record is broken, copy 2's is whole)",
         "header copy 1",
         "d.bin",
         "kept metadata",
         0},
        {"copy 1's NBLOCKS, still whole",
         {{at(copy1, 32), 1}},
         0x02,
         "header copies differ in the record; copy 2 used (its NBLOCKS and REST agree with the file's size)",
         "header copy 1",
         "d.bin",
         "kept metadata",
         0},
        {"copy 2's NBLOCKS, still whole",
         {{at(copy2, 32), 1}},
         0x02,
         "header copies differ in the record; copy 1 used (its NBLOCKS and REST agree with the file's size)",
         "header copy 2",
         "d.bin",
         "kept metadata",
         0},
        {"copy 1's name",
         {{at(copy1, 3), 1}},
         0x01,
         "header copies differ in the record; copy 1 used",
         "a header copy",
         "e.bin",
         "kept metadata",
         0},
        {"8 bytes of copy 1's metadata",
         {{copy1 + 802, 8}},
         0x01,
         "header copies differ in the metadata; copy 1 used",
         "a header copy",
         "d.bin",
         flipped_metadata,
         3},
        {"copy 2's filler",
         {{at(copy2, 3000), 8}},
         0x10,
         "header copies differ in the filler; copy 1 used",
         "a header copy",
         "d.bin",
         "kept metadata",
         0},
    };
    for (const Case& c : cases) {
        std::string bytes = coded;
        for (const auto& [offset, count] : c.flips)
            for (std::size_t i = offset; i < offset + count; ++i)
                bytes[i] = static_cast<char>(c.mask == 0 ? 0 : bytes[i] ^ c.mask);
        write_file(dir / "d.bin.archi", bytes);

        // -t: damage, status 3.
        RunResult r = run("-t");
        EXPECT_EQ(r.status, 3) << c.what;
        EXPECT_EQ(line_of(r.out, "Note:"), std::string(" Note:      ") + c.note) << c.what;
        EXPECT_EQ(line_of(r.out, "Result:"), " Result:    not intact") << c.what;
        r = batch("-t");
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), std::string("d.bin.archi: damaged: ") + c.fault) << c.what;
        EXPECT_EQ(r.status, 3) << c.what;

        // -d: the restored file is right, so status 0, with the note.
        r = run("-d");
        EXPECT_EQ(r.status, 0) << c.what;
        EXPECT_EQ(line_of(r.out, "Restored:"), std::string(" Restored:  ") + c.restored) << c.what;
        EXPECT_EQ(line_of(r.out, "Note:"), std::string(" Note:      ") + c.note) << c.what;
        EXPECT_TRUE(read_file(dir / c.restored) == plain) << c.what;
        fs::remove(dir / c.restored);
        r = batch("-d");
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
                  std::string("d.bin.archi: written ") + c.restored + ", " + c.fault + " damaged")
            << c.what;
        fs::remove(dir / c.restored);

        // -m: the metadata alone on standard output, the note on standard error.
        r = run("-m");
        EXPECT_EQ(r.out, c.metadata + "\n") << c.what;
        EXPECT_EQ(r.status, c.metadata_status) << c.what;
        EXPECT_NE(r.err.find(" Note:      header copies differ in the "), std::string::npos) << c.what;
        r = batch("-m");
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), std::string("d.bin.archi: metadata (") + c.fault + " damaged):")
            << c.what;
        EXPECT_EQ(r.status, c.metadata_status) << c.what;
    }
    // Identical copies: no note, nothing on standard error.
    write_file(dir / "d.bin.archi", coded);
    const RunResult r = run("-m");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(line_of(run("-t").out, "Note:"), "");
}

TEST_F(HeaderCopies, ANameWithAnAmpersandIsReadFromTheWholeCopy) {
    // A name holding "&" and a field's text: only the record's shape finds its end.
    for (const std::string name : {"Tom & Jerry.txt", "report&NBLOCKS=0&.txt"}) {
        const std::string big = pattern_bytes(3 * 4096 + 7, 9);
        write_file(dir / name, big);
        ASSERT_EQ(run_cli({"-c", name, "copy key"}, dir.path()).status, 0);
        fs::remove(dir / name);
        std::string coded_name;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind(name.substr(0, 3), 0) == 0)
                coded_name = e.path().filename().string();
        std::string bytes = read_file(dir / coded_name);
        // One bit of the "&" after the name in copy 1.
        bytes[at(copy1, 3 + name.size())] ^= 0x01;
        write_file(dir / coded_name, bytes);
        const RunResult r = run_cli({"-d", coded_name, "copy key"}, dir.path());
        EXPECT_EQ(r.status, 0) << name << r.out;
        EXPECT_TRUE(read_file(dir / name) == big) << name;
        fs::remove(dir / name);
        fs::remove(dir / coded_name);
    }
}

TEST_F(HeaderCopies, BothCopiesLostWithTheRightKeyAreRestoredByTheFilesSize) {
    std::string bytes = coded;
    for (std::size_t i = 0; i < header_end; ++i) bytes[i] = 0;
    write_file(dir / "d.bin.archi", bytes);

    // The wrong key keeps its output, byte for byte.
    RunResult r = run_cli({"-d", "d.bin.archi", "other key"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Size of file is zero [2]\n \n d.bin.archi: the key is wrong, or this is not a coded file\n");

    const std::string lost = " d.bin.archi: the key is right, but both header copies are damaged";
    r = run("-t");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find(lost + "\n Name:      d.bin\n Size:      5000 bytes\n"), std::string::npos) << r.out;
    r = run("-m");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Cannot decode the header [12]\n \n" + lost + "\n\n End.\n");

    // Under the coded file's name without ".archi"; never over a file.
    r = run("-d");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find(lost + "\n Restored:  d.bin\n Note:      both header copies are damaged"), std::string::npos)
        << r.out;
    EXPECT_TRUE(read_file(dir / "d.bin") == plain);
    r = run("-d");
    EXPECT_EQ(line_of(r.out, "Restored:"), " Restored:  d.bin.damaged");
    EXPECT_TRUE(read_file(dir / "d.bin.damaged") == plain);

    // With a recovery set beside it, the report points to --repair.
    write_file(dir / "d.bin.archi", coded);
    ASSERT_EQ(run_cli({"-p", "--recovery=100", "d.bin.archi"}, dir.path()).status, 0);
    write_file(dir / "d.bin.archi", bytes);
    r = run("-t");
    EXPECT_NE(r.out.find(" Repair:    kestrav3 --repair can repair"), std::string::npos) << r.out;
}

TEST_F(HeaderCopies, ADamagedCopyIsAmongTheSlicesASetWouldRebuild) {
    ASSERT_EQ(run_cli({"-p", "--recovery=20", "d.bin.archi"}, dir.path()).status, 0);
    std::string bytes = coded;
    bytes[at(copy1, 33)] ^= 0x01;
    write_file(dir / "d.bin.archi", bytes);
    RunResult r = run("-t");
    EXPECT_EQ(line_of(r.out, "Result:"), " Result:    not intact");
    EXPECT_NE(r.out.find(" Repair:    kestrav3 --repair can repair them (1 damaged slice)"), std::string::npos)
        << r.out;
    r = run("-d");
    EXPECT_NE(r.out.find(" Repair:    kestrav3 --repair can repair"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace kestrav3::testing
