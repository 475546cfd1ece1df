// Runs that go wrong: full disks at every stage, truncation and damage in
// every region, interrupted runs, and outputs that cannot be written.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>

#include "cli_support.h"

namespace kestrav3::testing {
namespace {

const std::string io_stopped = framed_message(-4);
const std::string cannot_read = framed_message(-1);

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

// The line after a framed message that names the file and the cause.
std::string detail(const std::string& file, const std::string& cause) { return " " + file + ": " + cause + "\n"; }

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
        EXPECT_TRUE(ends_with(r.out, io_stopped + detail("f.bin.archi", std::strerror(EFBIG))))
            << limit << ": " << r.out;
        EXPECT_EQ(r.err, "");
        // The hidden file is removed; the earlier coded file stays as it was.
        EXPECT_TRUE(read_file(dir / "f.bin.archi") == coded) << limit;
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"f.bin", "f.bin.archi"})) << limit;
        EXPECT_EQ(read_file(dir / "f.bin").size(), plain.size()) << "the input must stay untouched";
    }
}

TEST_F(Faults, AFullDiskWhileRestoringLeavesNoPartialOutput) {
    for (const std::uint64_t limit :
         {std::uint64_t{1}, std::uint64_t{4095}, std::uint64_t{4096 + 10}, std::uint64_t{3 * 4096 + 50}}) {
        const RunResult r = decode(limit);
        EXPECT_EQ(r.status, 1) << limit;
        EXPECT_TRUE(ends_with(r.out, io_stopped + detail("f.bin", std::strerror(EFBIG)))) << limit << ": " << r.out;
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"f.bin.archi", "f.orig"})) << limit;
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
        if (length < header_end) {
            EXPECT_EQ(r.status, 1) << length;
            EXPECT_TRUE(ends_with(r.out, io_stopped + detail("f.bin.archi", "ends inside its header")))
                << length << ": " << r.out;
            // Neither the restored file nor a log.
            EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"f.bin.archi", "f.orig"})) << length;
            continue;
        }
        // What the file holds comes back: its whole groups in place, zeros
        // for the rest, the missing blocks logged.
        const std::size_t whole = (length - header_end) / group;
        EXPECT_EQ(r.status, 3) << length;
        const std::string restored = read_file(dir / "f.bin");
        ASSERT_EQ(restored.size(), plain.size()) << length;
        EXPECT_TRUE(restored.compare(0, whole * 4096, plain, 0, whole * 4096) == 0) << length;
        EXPECT_EQ(restored.substr(whole * 4096), std::string(plain.size() - whole * 4096, '\0')) << length;
        std::string logged;
        for (std::size_t k = whole; k < nblocks; ++k) logged += std::to_string(k) + "\n";
        EXPECT_EQ(read_text_file(dir / "f.bin.err"), logged + "4\n") << length;
        EXPECT_NE(r.out.find(" missing (the coded file ends after " + std::to_string(whole) + " complete block"),
                  std::string::npos)
            << r.out;
        fs::remove(dir / "f.bin");
        fs::remove(dir / "f.bin.err");
    }
    write_file(dir / "f.bin.archi", coded.substr(0, 8191));
    EXPECT_EQ(decode().out, cannot_read + detail("f.bin.archi",
                                                 "is too short to be a coded file (8191 bytes; a coded "
                                                 "file has at least 8192)"));
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
        fs::remove(dir / "f.bin");
        const RunResult r = decode();
        EXPECT_EQ(r.status, 3) << offset;
        EXPECT_EQ(read_text_file(dir / "f.bin.err"), logged) << offset;
        EXPECT_EQ(fs::file_size(dir / "f.bin"), plain.size());
    }
}

TEST_F(Faults, DamageInTheHeadersFallsBackOrRefuses) {
    // Filler of either copy (and its noise) carries nothing to the restore,
    // nor does a copy 2 whose record is broken; the restore notes the difference.
    const std::string filler = " Note:      header copies differ in the filler; copy 1 used\n";
    const std::string record =
        " Note:      header copies differ in the record; copy 1 used (copy 2's record is broken)\n";
    for (const auto& [offset, note] : std::vector<std::pair<std::size_t, std::string>>{
             {3000, filler}, {4096 + 3000, filler}, {8192 + 10, record}, {12288 + 3000, filler}}) {
        std::string bytes = coded;
        bytes[offset] ^= 0x01;
        write_file(dir / "f.bin.archi", bytes);
        fs::remove(dir / "f.bin");
        const RunResult r = decode();
        EXPECT_EQ(r.status, 0) << offset;
        EXPECT_NE(r.out.find(note), std::string::npos) << r.out;
        EXPECT_TRUE(read_file(dir / "f.bin") == plain) << offset;
    }
    // Both copies' records destroyed: the first group's record shows the key
    // is right, and the layout follows from the file's size.
    std::string bytes = coded;
    for (std::size_t i = 0; i < 60; ++i) bytes[4096 + i] ^= 0x55, bytes[12288 + i] ^= 0x55;
    write_file(dir / "f.bin.archi", bytes);
    fs::remove(dir / "f.bin");
    EXPECT_EQ(decode().status, 3);
    EXPECT_TRUE(read_file(dir / "f.bin") == plain);
}

TEST_F(Faults, UnwritableOutputsAreReportedAndNothingIsLost) {
    // The restored name is taken by a folder.
    fs::create_directory(dir / "f.bin");
    write_file(dir / "f.bin" / "keep.txt", "kept");
    RunResult r = decode();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, cannot_read + detail("f.bin", "is a folder"));
    EXPECT_EQ(read_file(dir / "f.bin" / "keep.txt"), "kept");
    fs::remove_all(dir / "f.bin");

#if !defined(_WIN32)
    // POSIX only: a FIFO is no file to code, and reading it must not hang the run.
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(std::system(("mkfifo '" + fifo.string() + "'").c_str()), 0);
    r = run_cli({"-c", "pipe", "fault key"}, dir.path());
    EXPECT_EQ(r.out, cannot_read + detail("pipe", "is not a regular file"));
    EXPECT_EQ(r.status, 1);
    r = run_cli({"-d", "pipe", "fault key"}, dir.path());
    EXPECT_EQ(r.out, cannot_read + detail("pipe", "is not a regular file"));
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
    // A folder that cannot be written to is a write failure, and says why.
    const std::string why = std::strerror(immutable ? EPERM : EACCES);
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(d.out, io_stopped + detail("ro/f.bin", "cannot be created: " + why));
    EXPECT_EQ(c.status, 1);
    EXPECT_TRUE(ends_with(c.out, io_stopped + detail("ro/g.bin.archi", "cannot be created: " + why))) << c.out;
    EXPECT_FALSE(fs::exists(dir / "ro" / "f.bin"));
    EXPECT_FALSE(fs::exists(dir / "ro" / "g.bin.archi"));
}

TEST(Shrinking, AFileThatShrinksWhileItIsCodedStopsTheRun) {
    TempDir dir;
    write_file(dir / "s.bin", pattern_bytes(64 * 1024 * 1024));
    // Cut the file to 2 MiB once the coding is under way, long before the
    // coder has read that far.
    const RunResult r = run_cli_when_ready(
        {"-c", "s.bin", "shrink key"}, dir.path(), [&] { return hidden_file_of(dir.path(), "s.bin.archi"); },
        [&](int) { fs::resize_file(dir / "s.bin", 2 * 1024 * 1024 + 100); });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(ends_with(r.out, " \n File changed while it was coded [15]\n \n" +
                                     detail("s.bin", "ended before the size it had when coding began")))
        << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    // Nothing of the failed coding is left.
    EXPECT_EQ(listing(dir.path()), std::set<std::string>{"s.bin"});
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
    // An interrupted re-coding removes its hidden file and keeps the earlier
    // coded file as it was.
    fs::rename(dir / "big.orig", dir / "big.bin");
    const std::string earlier = read_file(dir / "big.bin.archi");
    const auto coding = [&] { return hidden_file_of(dir.path(), "big.bin.archi"); };
    for (const int sig : {SIGINT, SIGTERM}) {
        const RunResult r =
            run_cli_when_ready({"-c", "big.bin", "signal key"}, dir.path(), coding, [sig](int pid) { kill(pid, sig); });
        EXPECT_EQ(r.status, 128 + sig);
        EXPECT_TRUE(read_file(dir / "big.bin.archi") == earlier) << "signal " << sig;
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"big.bin", "big.bin.archi"})) << "signal " << sig;
    }
}
#endif

}  // namespace
}  // namespace kestrav3::testing
