// Runs that go wrong: full disks at every stage, truncation and damage in
// every region, interrupted runs, and outputs that cannot be written.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <csignal>

#include "cli_support.h"

namespace kestrav3::testing {
namespace {

const std::string io_stopped = framed_message(-4);
const std::string cannot_read = framed_message(-1);

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class Faults : public ::testing::Test {
protected:
    TempDir dir;
    std::string plain, coded;
    static constexpr std::size_t nblocks = 3, rest = 100;

    void SetUp() override {
        plain = pattern_bytes(nblocks * 4096 + rest, 21);
        write_file(dir / "f.bin", plain);
        ASSERT_EQ(run_cli({"-c", "f.bin", "fault key"}, dir.path()).status, 0);
        coded = read_file(dir / "f.bin.archi");
        fs::rename(dir / "f.bin", dir / "f.orig");
    }
    RunResult decode(std::uint64_t limit = 0) { return run_cli({"-d", "f.bin.archi", "fault key"}, dir.path(), limit); }
};

#if !defined(_WIN32)
// POSIX only: full disks are made with a file-size limit, which Windows
// does not have.
TEST_F(Faults, AFullDiskAtEveryStageOfCoding) {
    fs::rename(dir / "f.orig", dir / "f.bin");
    // Inside header copy 1, header copy 2, a record's noise, a record, a
    // block's noise, a block, and the rest group.
    for (const std::uint64_t limit :
         {std::uint64_t{100}, std::uint64_t{4096 + 10}, std::uint64_t{8192 + 5000}, std::uint64_t{header_end + 10},
          std::uint64_t{header_end + 50}, std::uint64_t{header_end + 80 + 9}, std::uint64_t{header_end + 4176 + 2000},
          std::uint64_t{header_end + 2 * group + 4000}, std::uint64_t{header_end + nblocks * group + 90}}) {
        const RunResult r = run_cli({"-c", "f.bin", "fault key"}, dir.path(), limit);
        EXPECT_EQ(r.status, 1) << limit;
        EXPECT_TRUE(ends_with(r.out, io_stopped)) << limit << ": " << r.out;
        EXPECT_EQ(r.err, "");
        // The coder leaves what it wrote; every write was flushed.
        ASSERT_TRUE(fs::exists(dir / "f.bin.archi"));
        EXPECT_EQ(fs::file_size(dir / "f.bin.archi"), limit) << limit;
        EXPECT_EQ(read_file(dir / "f.bin").size(), plain.size()) << "the input must stay untouched";
    }
}

TEST_F(Faults, AFullDiskWhileRestoringLeavesNoPartialOutput) {
    for (const std::uint64_t limit :
         {std::uint64_t{1}, std::uint64_t{4095}, std::uint64_t{4096 + 10}, std::uint64_t{3 * 4096 + 50}}) {
        const RunResult r = decode(limit);
        EXPECT_EQ(r.status, 1) << limit;
        EXPECT_TRUE(ends_with(r.out, io_stopped)) << limit << ": " << r.out;
        EXPECT_FALSE(fs::exists(dir / "f.bin")) << limit;
    }
    EXPECT_EQ(decode().status, 0);
    EXPECT_TRUE(read_file(dir / "f.bin") == plain);
}
#endif

TEST_F(Faults, TruncationAtEveryBoundaryAndInsideEveryChunk) {
    std::vector<std::size_t> lengths = {8192, 8193, 12288, 12289, 16383};
    for (std::size_t k = 0; k <= nblocks; ++k) {
        const std::size_t start = header_end + k * group;
        const std::size_t size = k < nblocks ? 4096 : rest;
        for (const std::size_t offset :
             {std::size_t{0}, std::size_t{1}, std::size_t{39}, std::size_t{40}, std::size_t{79}, std::size_t{80},
              80 + size / 2, 80 + size, 80 + size + size / 2, 80 + 2 * size - 1})
            lengths.push_back(start + offset);
    }
    for (const std::size_t length : lengths) {
        if (length == coded.size()) continue;
        write_file(dir / "f.bin.archi", coded.substr(0, length));
        const RunResult r = decode();
        EXPECT_EQ(r.status, 1) << length;
        EXPECT_TRUE(ends_with(r.out, io_stopped)) << length;
        EXPECT_FALSE(fs::exists(dir / "f.bin")) << length;
    }
    write_file(dir / "f.bin.archi", coded.substr(0, 8191));
    EXPECT_EQ(decode().out, cannot_read);
}

TEST_F(Faults, DamageInEveryDataRegionIsLoggedAgainstItsBlock) {
    // Block 1's record noise, record, block noise and block; then the rest's.
    const std::size_t b1 = header_end + group, r0 = header_end + nblocks * group;
    const std::vector<std::pair<std::size_t, std::string>> regions = {
        {b1 + 5, "1\n"}, {b1 + 45, "1\n"}, {b1 + 80 + 700, "1\n"}, {b1 + 4176 + 3000, "1\n"},
        {r0 + 5, "4\n"}, {r0 + 45, "4\n"}, {r0 + 80 + 50, "4\n"},  {r0 + 80 + rest + 99, "4\n"},
    };
    for (const auto& [offset, logged] : regions) {
        std::string bytes = coded;
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
        write_file(dir / "f.bin.archi", bytes);
        fs::remove(dir / "f.bin.err");
        const RunResult r = decode();
        EXPECT_EQ(r.status, 0) << offset;
        EXPECT_EQ(read_text_file(dir / "f.bin.err"), logged) << offset;
        EXPECT_EQ(fs::file_size(dir / "f.bin"), plain.size());
    }
}

TEST_F(Faults, DamageInTheHeadersFallsBackOrRefuses) {
    // Filler of either copy (and its noise) carries nothing.
    for (const std::size_t offset :
         {std::size_t{3000}, std::size_t{4096 + 3000}, std::size_t{8192 + 10}, std::size_t{12288 + 3000}}) {
        std::string bytes = coded;
        bytes[offset] ^= 0x01;
        write_file(dir / "f.bin.archi", bytes);
        fs::remove(dir / "f.bin");
        EXPECT_EQ(decode().status, 0) << offset;
        EXPECT_TRUE(read_file(dir / "f.bin") == plain) << offset;
    }
    // Both copies' records destroyed: nothing can be read, nothing is created.
    std::string bytes = coded;
    for (std::size_t i = 0; i < 60; ++i) bytes[4096 + i] ^= 0x55, bytes[12288 + i] ^= 0x55;
    write_file(dir / "f.bin.archi", bytes);
    fs::remove(dir / "f.bin");
    EXPECT_EQ(decode().status, 1);
    EXPECT_FALSE(fs::exists(dir / "f.bin"));
}

TEST_F(Faults, UnwritableOutputsAreReportedAndNothingIsLost) {
    // The restored name is taken by a folder.
    fs::create_directory(dir / "f.bin");
    write_file(dir / "f.bin" / "keep.txt", "kept");
    RunResult r = decode();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, cannot_read);
    EXPECT_EQ(read_file(dir / "f.bin" / "keep.txt"), "kept");
    fs::remove_all(dir / "f.bin");

#if !defined(_WIN32)
    // POSIX only: a FIFO is no file to code, and reading it must not hang the run.
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(std::system(("mkfifo '" + fifo.string() + "'").c_str()), 0);
    r = run_cli({"-c", "pipe", "fault key"}, dir.path());
    EXPECT_EQ(r.out, cannot_read);
    EXPECT_EQ(r.status, 1);
    r = run_cli({"-d", "pipe", "fault key"}, dir.path());
    EXPECT_EQ(r.out, cannot_read);
#endif
}

#if !defined(_WIN32)
// POSIX only: permission bits and chattr; signals.

TEST_F(Faults, AReadOnlyFolderIsReported) {
    fs::create_directory(dir / "ro");
    fs::rename(dir / "f.bin.archi", dir / "ro" / "f.bin.archi");
    write_file(dir / "ro" / "g.bin", "some bytes");
    // Root ignores permission bits; the immutable attribute stops it too.
    const std::string ro = (dir / "ro").string();
    const bool immutable = std::system(("chattr +i '" + ro + "' 2>/dev/null").c_str()) == 0;
    if (!immutable) fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    const RunResult d = run_cli({"-d", "ro/f.bin.archi", "fault key"}, dir.path());
    const RunResult c = run_cli({"-c", "ro/g.bin", "fault key"}, dir.path());
    if (immutable) std::system(("chattr -i '" + ro + "'").c_str());
    fs::permissions(dir / "ro", fs::perms::owner_all);
    if (!immutable && geteuid() == 0) GTEST_SKIP() << "no way to make a folder read-only for root here";
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.out, cannot_read);
    EXPECT_EQ(c.status, 1);
    EXPECT_TRUE(ends_with(c.out, cannot_read)) << c.out;
    EXPECT_FALSE(fs::exists(dir / "ro" / "f.bin"));
    EXPECT_FALSE(fs::exists(dir / "ro" / "g.bin.archi"));
}

TEST(Shrinking, AFileThatShrinksWhileItIsCodedStopsTheRun) {
    TempDir dir;
    write_file(dir / "s.bin", pattern_bytes(64 * 1024 * 1024));
    // Cut the file to 2 MiB once the coded file exists, long before the
    // coder has read that far.
    const RunResult r = run_cli_when({"-c", "s.bin", "shrink key"}, dir.path(), dir / "s.bin.archi",
                                     [&](int) { fs::resize_file(dir / "s.bin", 2 * 1024 * 1024 + 100); });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, io_stopped)) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    // What was coded before the short read stays, as for any coder failure.
    EXPECT_LT(fs::file_size(dir / "s.bin.archi"), coded_size(64 * 1024 * 1024));
}

TEST(Interrupted, AnInterruptedRestoreRemovesItsPartialOutput) {
    TempDir dir;
    write_file(dir / "big.bin", pattern_bytes(96 * 1024 * 1024));
    ASSERT_EQ(run_cli({"-c", "big.bin", "signal key"}, dir.path()).status, 0);
    fs::rename(dir / "big.bin", dir / "big.orig");
    // The restore writes a hidden file first; the signal comes once it exists.
    const auto writing = [&] { return hidden_file_of(dir.path(), "big.bin"); };
    for (const int sig : {SIGINT, SIGTERM}) {
        const RunResult r = run_cli_when_ready({"-d", "big.bin.archi", "signal key"}, dir.path(), writing,
                                               [sig](int pid) { kill(pid, sig); });
        EXPECT_EQ(r.status, 128 + sig) << "the run should end by the signal";
        EXPECT_FALSE(fs::exists(dir / "big.bin")) << "signal " << sig;
        EXPECT_FALSE(writing()) << "signal " << sig << " left the hidden file";
    }
    // An interrupted coding leaves its partial output, as any failed coding.
    fs::rename(dir / "big.orig", dir / "big.bin");
    fs::remove(dir / "big.bin.archi");
    const RunResult r = run_cli_signalled({"-c", "big.bin", "signal key"}, dir.path(), dir / "big.bin.archi", SIGINT);
    EXPECT_EQ(r.status, 128 + SIGINT);
    EXPECT_TRUE(fs::exists(dir / "big.bin.archi"));
}
#endif

}  // namespace
}  // namespace kestrav3::testing
