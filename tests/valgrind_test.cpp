// Failed runs under valgrind: no leak, no stray descriptor, no invalid access.
#if !defined(_WIN32)  // POSIX only: valgrind and ulimit
#include <gtest/gtest.h>

#include <sstream>

#include "cli_support.h"

namespace kestrav3::testing {
namespace {

// Runs the program under valgrind with file writes limited to limit_kib
// KiB; returns valgrind's report.
std::string under_valgrind(const TempDir& dir, const std::string& args, int limit_kib) {
    const std::string command = "cd '" + dir.path().string() + "' && bash -c '(ulimit -f " + std::to_string(limit_kib) +
                                "; trap \"\" XFSZ; valgrind -q --leak-check=full " +
                                "--errors-for-leak-kinds=definite,indirect --track-fds=yes --error-exitcode=99 " +
                                KESTRAV3_CLI + " " + args + " >/dev/null; echo exit=$? >&2) 2>&1 | cat > vg.log'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return read_file(dir / "vg.log");
}

// The run failed as expected, with no valgrind error, and every descriptor
// open at exit is a standard stream or one the test's own shell passed in.
void expect_clean(const std::string& report) {
    EXPECT_NE(report.find("exit=1"), std::string::npos) << "the run should fail cleanly:\n" << report;
    std::istringstream lines(report);
    std::string line, opened;
    for (std::string previous; std::getline(lines, line); previous = line) {
        if (previous.find("Open file descriptor") != std::string::npos &&
            line.find("<inherited from parent>") == std::string::npos)
            opened += previous + "\n";
    }
    EXPECT_EQ(opened, "") << report;
}

TEST(Valgrind, FullDiskRunsLeakNothing) {
    if (KESTRAV3_SANITIZED) GTEST_SKIP() << "valgrind does not run sanitized programs";
    if (std::system("command -v valgrind >/dev/null") != 0) GTEST_SKIP() << "valgrind is not installed";
    TempDir dir;
    write_file(dir / "v.bin", pattern_bytes(64 * 4096 + 7));
    write_file(dir / "v.bin.met", "metadata");
    expect_clean(under_valgrind(dir, "-c v.bin valgrind-key", 100));
    ASSERT_EQ(run_cli({"-c", "v.bin", "valgrind-key"}, dir.path()).status, 0);
    fs::rename(dir / "v.bin", dir / "v.orig");
    expect_clean(under_valgrind(dir, "-d v.bin.archi valgrind-key", 100));
    EXPECT_FALSE(fs::exists(dir / "v.bin"));
}

}  // namespace
}  // namespace kestrav3::testing
#endif
