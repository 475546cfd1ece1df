// The progress channel as the window program sees it, through a stand-in
// program that records every value it finds in the shared block.
#if !defined(_WIN32)  // POSIX only: the block is read under /dev/shm by a shell script
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "cli_support.h"
#include "progress/progress.h"

namespace kestrav3::testing {
namespace {

constexpr char block_path[] = "/dev/shm/MyFileMappingObject";

// Polls the block with shell builtins only, so it sees the first value
// before the run reports its first step; ends on 101 or when the block goes.
constexpr char stand_in[] = R"(#!/bin/sh
last=""
n=0
while [ $n -lt 20000000 ]; do
  n=$((n + 1))
  [ -e /dev/shm/MyFileMappingObject ] || exit 0
  read -r v < /dev/shm/MyFileMappingObject
  if [ "$v" != "$last" ]; then echo "$v" >> seen.txt; last=$v; fi
  [ "$v" = "101" ] && exit 0
done
)";

std::vector<int> seen_values(const fs::path& file) {
    std::istringstream in(read_file(file));
    std::vector<int> values;
    for (std::string line; std::getline(in, line);) values.push_back(std::atoi(line.c_str()));
    return values;
}

// True while a process started from folder runs the window program.
bool window_program_running_in(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::error_code ec;
        const fs::path cwd = fs::read_symlink(entry.path() / "cwd", ec);
        if (ec || cwd != folder) continue;
        if (read_file(entry.path() / "cmdline").find("Kestrav_progress_bar.exe") != std::string::npos) return true;
    }
    return false;
}

class Channel : public ::testing::Test {
protected:
    TempDir dir;
    void install_stand_in() {
        write_file(dir / "Kestrav_progress_bar.exe", stand_in);
        fs::permissions(dir / "Kestrav_progress_bar.exe", fs::perms::owner_all);
    }
    void expect_full_run() {
        const std::vector<int> values = seen_values(dir / "seen.txt");
        ASSERT_GE(values.size(), 2u);
        // The program starts while the run goes on, so on a loaded machine
        // its first look may come after a step or two; that the block holds
        // 1 at its start is proven without that race by the in-process test
        // below. Here it must at least join before the run ends.
        EXPECT_GE(values.front(), 1);
        EXPECT_LE(values.front(), 100);
        EXPECT_EQ(values.back(), 101);
        // Values in between may be caught half written ("49" being
        // overwritten by "50" reads as "40"), so only the ends are certain.
        EXPECT_FALSE(fs::exists(block_path)) << "the library must remove the block when it closes its side";
        fs::remove(dir / "seen.txt");
    }
};

TEST_F(Channel, WindowProgramJoinsEarlyAndSeesOneHundredAndOneLast) {
    install_stand_in();
    // Long enough that the first step (2 %) comes well after the program
    // has started and read the block once.
    write_file(dir / "many.bin", pattern_bytes(128 * 1024 * 1024 + 5));
    const RunResult code = run_cli({"-cg", "many.bin", "channel key"}, dir.path());
    ASSERT_EQ(code.status, 0) << code.out;
    EXPECT_EQ(code.err, "");
    expect_full_run();

    fs::rename(dir / "many.bin", dir / "many.orig");
    const RunResult decode = run_cli({"-dg", "many.bin.archi", "channel key"}, dir.path());
    ASSERT_EQ(decode.status, 0) << decode.out;
    expect_full_run();
    EXPECT_TRUE(read_file(dir / "many.bin") == read_file(dir / "many.orig"));
}

TEST_F(Channel, GraphicalFormsWithoutTheProgramBehaveAsThePlainOnes) {
    write_file(dir / "g.bin", pattern_bytes(40000));
    const RunResult graphical = run_cli({"-cg", "g.bin", "channel key"}, dir.path());
    const RunResult plain = run_cli({"-c", "g.bin", "channel key"}, dir.path());
    EXPECT_EQ(graphical.status, 0);
    EXPECT_EQ(graphical.out, plain.out);
    EXPECT_FALSE(fs::exists(block_path));
    fs::rename(dir / "g.bin", dir / "g.orig");
    const RunResult restored = run_cli({"-dg", "g.bin.archi", "channel key"}, dir.path());
    EXPECT_EQ(restored.status, 0);
    EXPECT_EQ(restored.out, run_cli({"-d", "g.bin.archi", "channel key"}, dir.path()).out);
    EXPECT_TRUE(read_file(dir / "g.bin") == read_file(dir / "g.orig"));
}

// In-process: nothing writes between opening and closing, so the program
// must find exactly the first message.
TEST_F(Channel, TheBlockHoldsOneWhenTheProgramStarts) {
    const auto stand_in_running = [&](const std::string& script) {
        write_file(dir / "Kestrav_progress_bar.exe", "#!/bin/sh\n" + script + "\n");
        fs::permissions(dir / "Kestrav_progress_bar.exe", fs::perms::owner_all);
        return open_win_progress_bar() == 1;
    };
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    ASSERT_TRUE(stand_in_running("head -c 4 /dev/shm/MyFileMappingObject > first.txt"));
    close_win_progress_bar();  // waits for the program to end
    EXPECT_EQ(read_file(dir / "first.txt").substr(0, 2), "1\n");
    EXPECT_EQ(pBuf, nullptr);
    EXPECT_EQ(hMapFile, nullptr);
    EXPECT_EQ(fp_windows_progress_bar, nullptr);
    EXPECT_FALSE(fs::exists(block_path));

    ASSERT_TRUE(stand_in_running("exit 0"));
    shmem_sender_gprg(9);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pBuf), 3), "10\n");
    shmem_sender_gprg(100);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pBuf), 4), "101\n");
    EXPECT_EQ(std::string(szMsg), "101\n");
    close_win_progress_bar();
    fs::current_path(here);
}

// Killed mid-run, the library takes its block with it and the real window
// program (here without a display) sees its pipe break and ends too.
TEST_F(Channel, AKilledRunEndsTheWindowProgram) {
    const fs::path program = fs::path(KESTRAV3_CLI).parent_path() / "Kestrav_progress_bar.exe";
    if (!fs::exists(program)) GTEST_SKIP() << "the window program is not built here";
    fs::copy_file(program, dir / "Kestrav_progress_bar.exe");
    write_file(dir / "k.bin", pattern_bytes(64 * 1024 * 1024));
    ASSERT_EQ(run_cli({"-c", "k.bin", "kill key"}, dir.path()).status, 0);
    fs::rename(dir / "k.bin", dir / "k.orig");
    // The restore writes a hidden file first; the signal comes once it exists.
    const auto writing = [&] {
        for (const auto& entry : fs::directory_iterator(dir.path()))
            if (entry.path().filename().string().rfind(".k.bin.", 0) == 0) return true;
        return false;
    };
    const RunResult r = run_cli_when_ready({"-dg", "k.bin.archi", "kill key"}, dir.path(), writing,
                                           [](int pid) { kill(pid, SIGTERM); });
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_FALSE(fs::exists(dir / "k.bin"));
    EXPECT_FALSE(writing()) << "the hidden file was left";
    EXPECT_FALSE(fs::exists(block_path));
    bool ended = false;
    for (int i = 0; i < 50 && !ended; ++i) {
        ended = !window_program_running_in(dir.path());
        if (!ended) std::system("sleep 0.1");
    }
    EXPECT_TRUE(ended) << "the window program is still running";
}

TEST_F(Channel, SmallFilesNeverStartTheProgram) {
    install_stand_in();
    write_file(dir / "s.bin", "only a rest block");
    EXPECT_EQ(run_cli({"-cg", "s.bin", "channel key"}, dir.path()).status, 0);
    EXPECT_FALSE(fs::exists(dir / "seen.txt"));
}

}  // namespace
}  // namespace kestrav3::testing
#endif
