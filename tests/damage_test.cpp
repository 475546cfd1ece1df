// Damaged and truncated coded files: logged blocks, fields from the second
// header copy, and failures that leave no partial output.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "cli_support.h"
#include "kestrav3lib.h"

namespace kestrav3::testing {
namespace {

class Damage : public ::testing::Test {
protected:
    TempDir dir;
    std::string plain, coded;

    // Codes a file of size bytes as "d.bin" and keeps its coded bytes.
    void code(std::size_t size, const std::string& meta = "") {
        plain = pattern_bytes(size, 11);
        write_file(dir / "d.bin", plain);
        if (!meta.empty()) write_file(dir / "d.bin.met", meta);
        ASSERT_EQ(run_cli({"-c", "d.bin", "damage key"}, dir.path()).status, 0);
        coded = read_file(dir / "d.bin.archi");
        fs::remove(dir / "d.bin");
    }
    void store(const std::string& bytes) { write_file(dir / "d.bin.archi", bytes); }
    std::string flipped(std::size_t offset) const {
        std::string bytes = coded;
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x5A);
        return bytes;
    }
    RunResult decode() { return run_cli({"-d", "d.bin.archi", "damage key"}, dir.path()); }
    std::string log() const { return read_text_file(dir / "d.bin.err"); }
};

TEST_F(Damage, FlippedBlockBytesAreLoggedByBlockNumber) {
    code(3 * 4096 + 100);
    // Block 1's data, then the rest block's data: the rest is numbered NBLOCKS + 1.
    std::string bytes = flipped(header_end + group + 80 + 4096 + 7);
    bytes[header_end + 3 * group + 80 + 100 + 3] ^= 1;
    store(bytes);
    RunResult r = decode();
    // Written and logged, and said: status 3, as -t gives.
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(log(), "1\n4\n");
    EXPECT_NE(r.out.find("\n Restored:  d.bin\n Damaged:   2 blocks failed their check, listed in d.bin.err\n"),
              std::string::npos)
        << r.out;
    const std::string restored = read_file(dir / "d.bin");
    ASSERT_EQ(restored.size(), plain.size());
    EXPECT_TRUE(restored.compare(0, 4096, plain, 0, 4096) == 0);
    EXPECT_FALSE(restored.compare(4096, 4096, plain, 4096, 4096) == 0);

    // The log is appended to, run after run.
    fs::remove(dir / "d.bin");
    r = decode();
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(log(), "1\n4\n1\n4\n");
}

TEST_F(Damage, DamagedRecordNoiseOrBlockNoiseAllShowAsMismatch) {
    code(2 * 4096);
    store(flipped(header_end + 3));  // noise of block 0's record
    EXPECT_EQ(decode().status, 3);
    EXPECT_EQ(log(), "0\n");
    fs::remove(dir / "d.bin.err");
    fs::remove(dir / "d.bin");
    store(flipped(header_end + group + 80 + 5));  // noise of block 1
    EXPECT_EQ(decode().status, 3);
    EXPECT_EQ(log(), "1\n");
}

TEST_F(Damage, AFieldLostFromTheFirstCopyIsTakenFromTheSecond) {
    code(5000, "kept metadata");
    // Stored byte 1 of copy 1 holds the plain 'F' of "FN=" (pairs are swapped).
    std::string bytes = flipped(4096 + 1);
    store(bytes);
    EXPECT_EQ(decode().status, 0);
    EXPECT_TRUE(read_file(dir / "d.bin") == plain);
    EXPECT_EQ(run_cli({"-m", "d.bin.archi", "damage key"}, dir.path()).out, "kept metadata\n");

    // Lost from both copies: the first group's record shows the key is
    // right; a wrong key keeps its message, and creates nothing.
    fs::remove(dir / "d.bin");
    bytes[12288 + 1] ^= 0x5A;
    store(bytes);
    RunResult r = run_cli({"-d", "d.bin.archi", "wrong key"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, " \n Size of file is zero [2]\n \n d.bin.archi: the key is wrong, or this is not a coded file\n");
    EXPECT_FALSE(fs::exists(dir / "d.bin"));
    r = decode();
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(read_file(dir / "d.bin") == plain);
}

TEST_F(Damage, FilesCutInsideTheirHeaderFailAndLeaveNoPartialOutput) {
    code(3 * 4096 + 10, "meta");
    for (std::size_t length : {std::size_t{8192}, std::size_t{12000}, header_end - 1}) {
        store(coded.substr(0, length));
        const RunResult r = decode();
        EXPECT_EQ(r.status, 1) << "length " << length;
        EXPECT_EQ(r.out.substr(r.out.find(" \n")),
                  " \n Read or write on HDD is stopped [4]\n \n d.bin.archi: ends inside its header\n")
            << length;
        EXPECT_FALSE(fs::exists(dir / "d.bin")) << "partial output left at length " << length;
        EXPECT_FALSE(fs::exists(dir / "d.bin.err")) << "log left at length " << length;
    }
    // The metadata reader needs only the two header copies.
    store(coded.substr(0, 12000));
    EXPECT_EQ(run_cli({"-m", "d.bin.archi", "damage key"}, dir.path()).out,
              " \n Cannot read data from file [1]\n \n d.bin.archi: ends inside its header\n\n End.\n");
    store(coded.substr(0, header_end));
    EXPECT_EQ(run_cli({"-m", "d.bin.archi", "damage key"}, dir.path()).out, "meta\n");
}

TEST_F(Damage, ADamagedRestoreNeverReplacesAFile) {
    code(20 * 4096 + 33);
    std::string bytes = coded;
    for (std::size_t i = 0; i < 3; ++i) bytes[header_end + 10 * group + 4176 + 500 + i] ^= 0x41;  // block 10
    store(bytes);
    write_file(dir / "d.bin", "THE ONLY GOOD COPY");
    // The three-word form, the many-file form with -f, and a link at the
    // next name (a file on Windows), which counts as taken and is left as it is.
#if defined(_WIN32)
    write_file(dir / "d.bin.damaged.1", "TAKEN");
#else
    fs::create_symlink("elsewhere", dir / "d.bin.damaged.1");
#endif
    struct Case {
        std::vector<std::string> args;
        const char* written;
    };
    for (const Case& c : {Case{{"-d", "d.bin.archi", "damage key"}, "d.bin.damaged"},
                          Case{{"-d", "-f", "-k", "-", "d.bin.archi"}, "d.bin.damaged.2"}}) {
        const RunResult r = run_cli_with_input(c.args, dir.path(), "damage key\n");
        EXPECT_EQ(r.status, 3) << c.written;
        EXPECT_EQ(read_file(dir / "d.bin"), "THE ONLY GOOD COPY") << c.written;
        EXPECT_EQ(read_text_file(dir / (std::string(c.written) + ".err")), "10\n") << c.written;
        const std::string restored = read_file(dir / c.written);
        ASSERT_EQ(restored.size(), plain.size()) << c.written;
        EXPECT_TRUE(restored.compare(0, 10 * 4096, plain, 0, 10 * 4096) == 0) << c.written;
        EXPECT_NE(r.out.find(c.written), std::string::npos) << r.out;
    }
    const RunResult r = decode();
    EXPECT_NE(
        r.out.find("\n Restored:  d.bin.damaged.3\n Note:      d.bin exists and stays untouched: a damaged "
                   "restore replaces no file\n Damaged:   1 block failed its check, listed in d.bin.damaged.3.err\n"),
        std::string::npos)
        << r.out;
#if !defined(_WIN32)
    EXPECT_TRUE(fs::is_symlink(dir / "d.bin.damaged.1"));
#endif
    EXPECT_FALSE(fs::exists(dir / "d.bin.err"));
}

TEST_F(Damage, ACutFileGivesBackWhatItHolds) {
    code(4 * 4096 + 10);
    // Inside group 2, and at the end of group 3.
    for (const std::size_t whole : {std::size_t{2}, std::size_t{4}}) {
        const std::size_t cut = header_end + whole * group + (whole == 2 ? 5000 : 0);
        store(coded.substr(0, cut));
        const std::string path = (dir / "d.bin.archi").string();
        const std::size_t missing = 4 - whole + 1;
        EXPECT_EQ(kestrav3decode(path.c_str(), "damage key", 0), static_cast<int>(missing)) << cut;
        const std::string restored = read_file(dir / "d.bin");
        EXPECT_TRUE(restored == plain.substr(0, whole * 4096) + std::string(plain.size() - whole * 4096, '\0')) << cut;
        fs::remove(dir / "d.bin");
        fs::remove(dir / "d.bin.err");
        const RunResult r = decode();
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.out.find(" Damaged:   " + std::to_string(missing) + (missing == 1 ? " block" : " blocks") +
                             " missing (the coded file ends after " + std::to_string(whole) +
                             " complete blocks, zeros written in their place), listed in d.bin.err\n"),
                  std::string::npos)
            << r.out;
        EXPECT_EQ(log(), whole == 2 ? "2\n3\n5\n" : "5\n");
        fs::remove(dir / "d.bin");
        fs::remove(dir / "d.bin.err");
    }
}

TEST_F(Damage, BytesTheHeaderDoesNotDescribeAreNamedByTheRestore) {
    // Bytes after the last group; and a rest group that a header of REST 0
    // does not describe (a 2-block file's header over a 2-block-and-100 file's groups).
    code(2 * 4096 + 100);
    const std::string with_rest = coded;
    code(2 * 4096);
    struct Case {
        std::string bytes;
        const char* trailing;
    };
    for (const Case& c :
         {Case{coded + std::string(1234, 'x'), " Trailing:  1234 bytes after the last group\n"},
          Case{coded + with_rest.substr(coded.size()), " Trailing:  280 bytes after the last group\n"}}) {
        store(c.bytes);
        fs::remove(dir / "d.bin");
        const RunResult r = decode();
        EXPECT_EQ(r.status, 3);
        EXPECT_NE(r.out.find(c.trailing), std::string::npos) << r.out;
        EXPECT_TRUE(read_file(dir / "d.bin") == plain.substr(0, 2 * 4096));
    }
}

#if !defined(_WIN32)
// POSIX only: the failed writes come from a file-size limit.
TEST_F(Damage, AFailedWriteRemovesThePartialRestore) {
    code(64 * 4096);
    store(coded);
    const RunResult r = run_cli({"-d", "d.bin.archi", "damage key"}, dir.path(), 100000);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(framed_message(-4)), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir / "d.bin"));
}

TEST_F(Damage, AFailedCodingWriteLeavesNothing) {
    write_file(dir / "big.bin", pattern_bytes(64 * 4096));
    const RunResult r = run_cli({"-c", "big.bin", "damage key"}, dir.path(), 100000);
    EXPECT_EQ(r.status, 1);
    // The write the system refused, and why.
    EXPECT_NE(r.out.find(" \n Read or write on HDD is stopped [4]\n \n big.bin.archi: " +
                         std::string(std::strerror(EFBIG)) + "\n"),
              std::string::npos)
        << r.out;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"big.bin"});
}
#endif

}  // namespace
}  // namespace kestrav3::testing
