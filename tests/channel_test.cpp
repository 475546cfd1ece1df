// The progress channel as the window program sees it, through a stand-in
// program that records every value it finds in the shared block.
#if !defined(_WIN32)  // POSIX only: the block is read under /dev/shm by a shell script
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

#include "cli_support.h"
#include "progress/progress.h"
#include "progress/progress_block.h"

namespace kestrav3::testing {
namespace {

// Polls the block it is named with shell builtins only, so it sees the
// first value before the run reports its first step; ends on 101 or when
// the block goes. The name goes to block.txt.
constexpr char stand_in[] = R"(#!/bin/sh
echo "$1" > block.txt
last=""
n=0
while [ $n -lt 20000000 ]; do
  n=$((n + 1))
  [ -e "/dev/shm/$1" ] || exit 0
  read -r v < "/dev/shm/$1"
  if [ "$v" != "$last" ]; then echo "$v" >> seen.txt; last=$v; fi
  [ "$v" = "101" ] && exit 0
done
)";

// True while a block of the run with process id pid exists.
bool block_of_run_exists(int pid) {
    const std::string prefix = std::string(progress_block::name) + "." + std::to_string(pid) + ".";
    for (const auto& entry : fs::directory_iterator("/dev/shm"))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
}

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

// The window program is looked for only beside the library: the runs use
// a copy of the built library in a folder of their own, with a display
// named so that the library starts a program at all.
class Channel : public ::testing::Test {
protected:
    TempDir dir;
    TempDir library;
    void SetUp() override { fs::copy_file(KESTRAV3_LIBRARY, library / fs::path(KESTRAV3_LIBRARY).filename()); }
    void install_stand_in() {
        write_file(library / "Kestrav_progress_bar.exe", stand_in);
        fs::permissions(library / "Kestrav_progress_bar.exe", fs::perms::owner_all);
    }
    std::vector<std::string> environment() const {
        return {"LD_LIBRARY_PATH=" + library.path().string(), "DISPLAY=:kestrav3-none"};
    }
    RunResult run(const std::vector<std::string>& args) {
        return run_cli_with_environment(args, dir.path(), environment());
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
        const std::string name = read_file(dir / "block.txt");
        EXPECT_FALSE(fs::exists("/dev/shm/" + name.substr(0, name.size() - 1)))
            << "the library must remove the block when it closes its side";
        fs::remove(dir / "seen.txt");
    }
};

TEST_F(Channel, WindowProgramJoinsEarlyAndSeesOneHundredAndOneLast) {
    install_stand_in();
    // Long enough that the first step (2 %) comes well after the program
    // has started and read the block once.
    write_file(dir / "many.bin", pattern_bytes(128 * 1024 * 1024 + 5));
    const RunResult code = run({"-cg", "many.bin", "channel key"});
    ASSERT_EQ(code.status, 0) << code.out;
    EXPECT_EQ(code.err, "");
    expect_full_run();

    fs::rename(dir / "many.bin", dir / "many.orig");
    const RunResult decode = run({"-dg", "many.bin.archi", "channel key"});
    ASSERT_EQ(decode.status, 0) << decode.out;
    expect_full_run();
    EXPECT_TRUE(read_file(dir / "many.bin") == read_file(dir / "many.orig"));
}

TEST_F(Channel, GraphicalFormsWithoutTheProgramBehaveAsThePlainOnes) {
    write_file(dir / "g.bin", pattern_bytes(40000));
    const RunResult graphical = run({"-cg", "g.bin", "channel key"});
    const RunResult plain = run({"-c", "g.bin", "channel key"});
    EXPECT_EQ(graphical.status, 0);
    EXPECT_EQ(graphical.out, plain.out);
    fs::rename(dir / "g.bin", dir / "g.orig");
    const RunResult restored = run({"-dg", "g.bin.archi", "channel key"});
    EXPECT_EQ(restored.status, 0);
    EXPECT_EQ(restored.out, run_cli({"-d", "g.bin.archi", "channel key"}, dir.path()).out);
    EXPECT_TRUE(read_file(dir / "g.bin") == read_file(dir / "g.orig"));
}

// In-process: nothing writes between opening and closing, so the program
// must find exactly the first message.
TEST_F(Channel, TheBlockHoldsOneWhenTheProgramStarts) {
    const auto stand_in_running = [&](const std::string& script) {
        write_file(dir / "stand-in", "#!/bin/sh\n" + script + "\n");
        fs::permissions(dir / "stand-in", fs::perms::owner_all);
        return open_progress_window((dir / "stand-in").string()) == 1;
    };
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    ASSERT_TRUE(stand_in_running("head -c 4 \"/dev/shm/$1\" > first.txt; stat -c %a \"/dev/shm/$1\" > mode.txt"));
    const std::string name = progress_block_in_use();
    EXPECT_EQ(name.rfind(std::string(progress_block::name) + ".", 0), 0u) << name;
    close_win_progress_bar();  // waits for the program to end
    EXPECT_EQ(read_file(dir / "first.txt").substr(0, 2), "1\n");
    EXPECT_EQ(read_file(dir / "mode.txt"), "600\n") << "the block must be private to its user";
    EXPECT_EQ(pBuf, nullptr);
    EXPECT_EQ(hMapFile, nullptr);
    EXPECT_EQ(fp_windows_progress_bar, nullptr);
    EXPECT_FALSE(fs::exists("/dev/shm/" + name));

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
    fs::copy_file(program, library / "Kestrav_progress_bar.exe");
    write_file(dir / "k.bin", pattern_bytes(64 * 1024 * 1024));
    ASSERT_EQ(run_cli({"-c", "k.bin", "kill key"}, dir.path()).status, 0);
    fs::rename(dir / "k.bin", dir / "k.orig");
    // The signal comes once the restore writes its hidden file.
    int killed = 0;
    bool block_seen = false;
    const RunResult r = run_cli_with_environment_when_ready(
        {"-dg", "k.bin.archi", "kill key"}, dir.path(), environment(),
        [&] { return hidden_file_of(dir.path(), "k.bin"); },
        [&](int pid) {
            killed = pid;
            // The hidden file comes first and the window just after it;
            // a slow (sanitized) run may need a moment for the second.
            for (int i = 0; i < 500 && !block_seen; ++i) {
                block_seen = block_of_run_exists(pid);
                if (!block_seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            kill(pid, SIGTERM);
        });
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_FALSE(fs::exists(dir / "k.bin"));
    EXPECT_FALSE(hidden_file_of(dir.path(), "k.bin"));
    EXPECT_TRUE(block_seen) << "the window was not started";
    EXPECT_FALSE(block_of_run_exists(killed));
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
    EXPECT_EQ(run({"-cg", "s.bin", "channel key"}).status, 0);
    EXPECT_FALSE(fs::exists(dir / "block.txt"));
}

}  // namespace
}  // namespace kestrav3::testing
#endif
