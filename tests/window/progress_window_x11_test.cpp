// The progress window program driven for real under a virtual X server:
// first alone, fed by a block the test writes, then started by the
// command-line program for coding and decoding a large file.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "progress_view.h"
#include "window/window_support.h"

namespace {

using namespace kestrav3::testing;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const std::string program = PROGRESS_WINDOW_PROGRAM;
const std::string kestrav3 = KESTRAV3_CLI;
constexpr milliseconds settle{5000};  // the longest a step may take

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Polls the bar until the test holds for it, or the time is up.
bool wait_for_bar(const std::string& display, const std::function<bool(BarPixels)>& test,
                  milliseconds timeout = settle) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const std::optional<BarPixels> pixels = bar_pixels(display);
        if (pixels && test(*pixels)) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

bool copy_over(const fs::path& from, const fs::path& to) {
    std::error_code error;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
}

// The window program on a block, with its standard output on a pipe.
Launch window_program(const std::string& block, std::optional<std::string> where, int out) {
    Launch launch;
    launch.args = {program, block};
    launch.display = std::move(where);
    launch.stdout_fd = out;
    return launch;
}

// True when the bar shows the percentage, to the pixel.
std::function<bool(BarPixels)> bar_at(int percent) {
    return [percent](BarPixels p) {
        const int inner = p.fill + p.track;
        return inner > 100 && p.fill == inner * percent / 100;
    };
}

class VirtualDisplayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new VirtualDisplay; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!fs::exists(program)) GTEST_SKIP() << "the progress window program was not built";
        if (!on_path("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
        if (!on_path("xwininfo") || !on_path("xprop")) GTEST_SKIP() << "x11-utils is not installed";
        ASSERT_TRUE(server_->ready()) << "Xvfb did not start";
    }
    static const std::string& display() { return server_->name(); }

private:
    static VirtualDisplay* server_;
};

VirtualDisplay* VirtualDisplayTest::server_ = nullptr;

// The program alone, fed through a block of the test's own ----------------------------

class Standalone : public VirtualDisplayTest {
protected:
    // A block name no other test or run uses.
    static std::string own_block_name() {
        static std::atomic<int> counter{0};
        return "kestrav3_window_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    }
    const std::string name_ = own_block_name();
};

TEST_F(Standalone, ShowsTheBarAndEndsAfterTheLastBlock) {
    TestBlock block(name_);
    ASSERT_TRUE(block.ready());
    block.write("1\n");
    Pipe out;  // held open all along: the end comes from the block alone
    Child window(window_program(name_, display(), out.write_end()));
    out.close_write_end();

    ASSERT_TRUE(wait_for_window(display(), true, settle));
    const std::string properties = window_properties(display());
    EXPECT_NE(properties.find("WM_NAME(STRING) = \"kestrav3\""), std::string::npos) << properties;
    EXPECT_NE(properties.find("WM_DELETE_WINDOW"), std::string::npos) << properties;
    EXPECT_NE(properties.find("program specified minimum size: 220 by 80"), std::string::npos) << properties;
    EXPECT_TRUE(wait_for_bar(display(), bar_at(0)));

    block.write("50\n");
    EXPECT_TRUE(wait_for_bar(display(), bar_at(49)));
    EXPECT_TRUE(window.running());

    block.write("101\n");
    const std::string final_bytes = block.bytes();
    const auto end_sent = Clock::now();
    EXPECT_TRUE(wait_for_bar(display(), bar_at(100)));
    const std::optional<int> status = window.wait_for_exit(settle);
    ASSERT_TRUE(status) << "the window did not end after 100 %";
    EXPECT_EQ(*status, 0);
    // 100 % stays on screen for a moment before the window goes.
    EXPECT_GE(ms_since(end_sent), progress_window::final_linger_ms - 100);
    EXPECT_FALSE(window_shown(display()));
    EXPECT_EQ(block.bytes(), final_bytes) << "the window program changed the block";
}

TEST_F(Standalone, KeepsUpWithARunThatMovesOnBetweenReads) {
    TestBlock block(name_);
    ASSERT_TRUE(block.ready());
    block.write("1\n");
    Pipe out;
    Child window(window_program(name_, display(), out.write_end()));
    out.close_write_end();
    ASSERT_TRUE(wait_for_window(display(), true, settle));

    // A new value every 10 ms, faster than the window reads the block.
    int most_filled = 0;
    for (int value = 2; value <= 81; ++value) {
        block.write(std::to_string(value) + "\n");
        std::this_thread::sleep_for(milliseconds(10));
        const std::optional<BarPixels> pixels = value % 8 == 0 ? bar_pixels(display()) : std::nullopt;
        if (pixels) most_filled = std::max(most_filled, pixels->fill);
    }
    EXPECT_GT(most_filled, 0) << "the bar stood still while the values rose";
    EXPECT_TRUE(wait_for_bar(display(), bar_at(80)));
    EXPECT_TRUE(window.running());
}

TEST_F(Standalone, ShowsTheEndEvenWhenThePipeClosesRightAfterIt) {
    // A complete run writes 101 and closes the pipe straight away.
    TestBlock block(name_);
    ASSERT_TRUE(block.ready());
    block.write("1\n");
    Pipe out;
    Child window(window_program(name_, display(), out.write_end()));
    out.close_write_end();
    ASSERT_TRUE(wait_for_window(display(), true, settle));

    block.write("101\n");
    out.close_read_end();
    const auto end_sent = Clock::now();
    EXPECT_TRUE(wait_for_bar(display(), bar_at(100)));
    const std::optional<int> status = window.wait_for_exit(settle);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_GE(ms_since(end_sent), progress_window::final_linger_ms - 100);
}

TEST_F(Standalone, LetsGoOfInheritedFilesAndEndsWhenItsOutputLosesItsReader) {
    // A failed run closes the pipe with the bar part way.
    TestBlock block(name_);
    ASSERT_TRUE(block.ready());
    block.write("37\n");
    Pipe out, held;
    Launch launch = window_program(name_, display(), out.write_end());
    launch.inherited_fd = held.write_end();  // as the library's open files are
    Child window(launch);
    out.close_write_end();
    held.close_write_end();
    ASSERT_TRUE(wait_for_window(display(), true, settle));
    EXPECT_TRUE(wait_for_bar(display(), bar_at(36)));
    EXPECT_TRUE(held.writers_gone(settle)) << "the window holds a file of its caller";
    EXPECT_TRUE(window.running());

    out.close_read_end();
    const std::optional<int> status = window.wait_for_exit(settle);
    ASSERT_TRUE(status) << "the window did not end when the pipe closed";
    EXPECT_EQ(*status, 0);
    EXPECT_FALSE(window_shown(display()));
}

TEST_F(Standalone, EndsWhenTheBlockIsRemovedOrReplaced) {
    for (bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced" : "removed");
        auto block = std::make_unique<TestBlock>(name_);
        ASSERT_TRUE(block->ready());
        block->write("20\n");
        Pipe out;
        Child window(window_program(name_, display(), out.write_end()));
        out.close_write_end();
        ASSERT_TRUE(wait_for_window(display(), true, settle));
        EXPECT_TRUE(window.running());

        block->unlink();
        // A new block under the name belongs to another run.
        std::unique_ptr<TestBlock> successor;
        if (replace) successor = std::make_unique<TestBlock>(name_);
        const std::optional<int> status = window.wait_for_exit(settle);
        ASSERT_TRUE(status) << "the window did not notice its block was gone";
        EXPECT_EQ(*status, 0);
    }
}

TEST_F(Standalone, EndsAtOnceWithoutABlockAndCreatesNone) {
    Pipe out;
    Child window(window_program(name_, display(), out.write_end()));
    out.close_write_end();
    const std::optional<int> status = window.wait_for_exit(settle);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_FALSE(block_exists(name_));
}

TEST_F(Standalone, IgnoresMessagesItCannotRead) {
    TestBlock block(name_);
    ASSERT_TRUE(block.ready());
    block.write("25\n");
    Pipe out;
    Child window(window_program(name_, display(), out.write_end()));
    out.close_write_end();
    ASSERT_TRUE(wait_for_window(display(), true, settle));
    ASSERT_TRUE(wait_for_bar(display(), bar_at(24)));

    for (const char* junk : {"9x\n", "\n\n\n\n", "1011", "5\0\0\0", "250\n"}) {
        block.write(std::string(junk, 4));
        std::this_thread::sleep_for(milliseconds(4 * progress_window::poll_interval_ms));
        EXPECT_TRUE(window.running()) << junk;
        EXPECT_TRUE(wait_for_bar(display(), bar_at(24), milliseconds(0))) << junk;
    }
    block.write("101\n");
    const std::optional<int> status = window.wait_for_exit(settle);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
}

TEST_F(Standalone, TheCloseButtonEndsTheWindowAndLeavesTheBlockAlone) {
    TestBlock block(name_);
    ASSERT_TRUE(block.ready());
    block.write("30\n");
    const std::string bytes = block.bytes();
    Pipe out;
    Child window(window_program(name_, display(), out.write_end()));
    out.close_write_end();
    ASSERT_TRUE(wait_for_window(display(), true, settle));

    ASSERT_TRUE(request_close(display()));
    EXPECT_TRUE(wait_for_window(display(), false, settle));
    const std::optional<int> status = window.wait_for_exit(settle);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(block.bytes(), bytes);
    EXPECT_TRUE(block_exists(name_));
}

TEST_F(Standalone, WithoutADisplayItStillEndsByItsRules) {
    // No DISPLAY at all, and a display that refuses the connection.
    const std::string refused = "unix:4093";
    ASSERT_FALSE(fs::exists("/tmp/.X11-unix/X4093"));
    for (const std::optional<std::string>& where : {std::optional<std::string>(), std::optional(refused)}) {
        SCOPED_TRACE(where ? *where : "no DISPLAY");
        TestBlock block(name_);
        ASSERT_TRUE(block.ready());
        block.write("1\n");
        Pipe out;
        Child window(window_program(name_, where, out.write_end()));
        out.close_write_end();
        std::this_thread::sleep_for(milliseconds(300));
        block.write("50\n");
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_TRUE(window.running()) << "ended before the run did";
        block.write("101\n");
        std::optional<int> status = window.wait_for_exit(settle);
        ASSERT_TRUE(status) << "did not end at 100 %";
        EXPECT_EQ(*status, 0);

        // A failed run: the pipe closes part way.
        block.write("40\n");
        Pipe out2;
        Child failed(window_program(name_, where, out2.write_end()));
        out2.close_write_end();
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_TRUE(failed.running());
        out2.close_read_end();
        status = failed.wait_for_exit(settle);
        ASSERT_TRUE(status) << "did not end when the pipe closed";
        EXPECT_EQ(*status, 0);
    }
}

TEST_F(Standalone, EndsQuietlyWhenItsDisplayGoes) {
    VirtualDisplay own;
    ASSERT_TRUE(own.ready());
    TestBlock block(name_);
    ASSERT_TRUE(block.ready());
    block.write("60\n");
    Pipe out;
    Child window(window_program(name_, own.name(), out.write_end()));
    out.close_write_end();
    ASSERT_TRUE(wait_for_window(own.name(), true, settle));

    own.stop();
    const std::optional<int> status = window.wait_for_exit(settle);
    ASSERT_TRUE(status) << "the window outlived its display";
    EXPECT_EQ(*status, 0);
}

// Started by the command-line program --------------------------------------------------

class WithKestrav3 : public VirtualDisplayTest {
protected:
    void SetUp() override {
        VirtualDisplayTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!fs::exists(kestrav3)) GTEST_SKIP() << "kestrav3 was not built";
        if (!codes_files()) GTEST_SKIP() << "kestrav3 cannot code files yet";
    }

    // Whether the library behind kestrav3 codes at all: a small plain run.
    static bool codes_files() {
        TempDir probe;
        const fs::path plain = probe / "probe.txt";
        write_file(plain, pattern_bytes(10000));
        Launch plain_run;
        plain_run.args = {kestrav3, "-c", "probe.txt", "probekey"};
        plain_run.folder = probe.path();
        Child run(plain_run);
        return run.wait_for_exit(milliseconds(60000)) && fs::exists(probe / "probe.txt.archi");
    }

    // The build tree's program, beside its library, is the one started; a
    // copy in the current folder never is.
    static bool prepare(const TempDir& folder) { return copy_over(program, folder / "Kestrav_progress_bar.exe"); }

    struct Outcome {
        bool window_seen = false;
        std::optional<int> status;
        int windows_left = -1;  // window programs still running after the run
    };

    Outcome run_graphical(const TempDir& folder, std::vector<std::string> args) {
        Outcome outcome;
        Launch launch;
        launch.args = std::move(args);
        launch.folder = folder.path();
        launch.display = display();
        launch.stdout_file = (folder / "console.txt").string();
        Child run(launch);
        while (!outcome.window_seen && run.running()) outcome.window_seen = window_shown(display());
        outcome.status = run.wait_for_exit(milliseconds(600000));
        outcome.windows_left =
            processes_running(program) + processes_running((folder / "Kestrav_progress_bar.exe").string());
        return outcome;
    }

    static constexpr std::uintmax_t big_size = (64ULL << 20) + 1234;  // full blocks and a rest
};

TEST_F(WithKestrav3, CodingAndDecodingShowTheWindowUntilTheRunEnds) {
    TempDir coding, decoding;
    ASSERT_TRUE(prepare(coding));
    ASSERT_TRUE(prepare(decoding));
    const fs::path plain = coding / "big.bin";
    write_file(plain, pattern_bytes(big_size));
    ASSERT_EQ(fs::file_size(plain), big_size);

    Outcome coded = run_graphical(coding, {kestrav3, "-cg", "big.bin", "window-test-key"});
    ASSERT_TRUE(coded.status) << "kestrav3 -cg did not end";
    EXPECT_EQ(*coded.status, 0);
    EXPECT_TRUE(coded.window_seen) << "no window while coding";
    EXPECT_EQ(coded.windows_left, 0) << "the window outlived the run";
    EXPECT_FALSE(window_shown(display()));
    ASSERT_TRUE(fs::exists(coding / "big.bin.archi")) << read_file(coding / "console.txt");

    ASSERT_TRUE(copy_over(coding / "big.bin.archi", decoding / "big.bin.archi"));
    Outcome decoded = run_graphical(decoding, {kestrav3, "-dg", "big.bin.archi", "window-test-key"});
    ASSERT_TRUE(decoded.status) << "kestrav3 -dg did not end";
    EXPECT_EQ(*decoded.status, 0);
    EXPECT_TRUE(decoded.window_seen) << "no window while decoding";
    EXPECT_EQ(decoded.windows_left, 0) << "the window outlived the run";
    EXPECT_FALSE(window_shown(display()));
    EXPECT_TRUE(same_contents(plain, decoding / "big.bin")) << read_file(decoding / "console.txt");
}

TEST_F(WithKestrav3, AFailedWriteEndsTheWindowToo) {
    TempDir coding;
    ASSERT_TRUE(prepare(coding));
    write_file(coding / "big.bin", pattern_bytes(big_size));
    ASSERT_EQ(fs::file_size(coding / "big.bin"), big_size);

    // Files may not grow past 120000 KiB: the coded copy's write fails near
    // its end (late enough for the window to be up, now that whole batches
    // are written in one call), with SIGXFSZ ignored so that the write
    // reports the error.
    constexpr long long limit_kib = 120000;
    const std::string script =
        "trap '' XFSZ; ulimit -f " + std::to_string(limit_kib) + "; exec \"$0\" -cg big.bin window-test-key";
    Outcome failed = run_graphical(coding, {"bash", "-c", script, kestrav3});
    ASSERT_TRUE(failed.status) << "kestrav3 -cg did not end";
    EXPECT_EQ(failed.windows_left, 0) << "the window outlived the failed run";
    EXPECT_FALSE(window_shown(display()));
    EXPECT_TRUE(failed.window_seen) << "no window before the write failed";
    std::error_code missing;
    const std::uintmax_t coded = fs::file_size(coding / "big.bin.archi", missing);
    EXPECT_LE(missing ? 0 : coded, static_cast<std::uintmax_t>(limit_kib * 1024));
}

// Installed ------------------------------------------------------------------------------

// Installed with cmake --install, kestrav3 finds the window program where the
// install put it, so a graphical run shows the window from a folder that
// holds no copy of it.
TEST_F(WithKestrav3, AnInstalledKestrav3ShowsTheWindowFromAnyFolder) {
    TempDir prefix, work;
    Launch install;
    install.args = {CMAKE_PROGRAM, "--install", BUILD_FOLDER, "--prefix", prefix.path().string()};
    install.quiet = true;
    Child installing(install);
    const std::optional<int> installed = installing.wait_for_exit(milliseconds(120000));
    ASSERT_TRUE(installed && *installed == 0) << "cmake --install failed";
    const std::string installed_program = (prefix / "bin" / "kestrav3").string();
    ASSERT_TRUE(fs::exists(installed_program));
    ASSERT_FALSE(fs::exists(work / "Kestrav_progress_bar.exe"));

    write_file(work / "big.bin", pattern_bytes(big_size));
    Launch launch;
    launch.args = {installed_program, "-cg", "big.bin", "window-test-key"};
    launch.folder = work.path();
    launch.display = display();
    launch.stdout_file = (work / "console.txt").string();
    Child run(launch);
    bool window_seen = false;
    while (!window_seen && run.running()) window_seen = window_shown(display());
    const std::optional<int> status = run.wait_for_exit(milliseconds(600000));
    ASSERT_TRUE(status) << "the installed kestrav3 -cg did not end";
    EXPECT_EQ(*status, 0) << read_file(work / "console.txt");
    EXPECT_TRUE(window_seen) << "no window from a folder without the window program";
    EXPECT_EQ(processes_running((prefix / "libexec" / "kestrav3" / "Kestrav_progress_bar.exe").string()), 0)
        << "the window outlived the run";
    EXPECT_TRUE(fs::exists(work / "big.bin.archi"));
}

}  // namespace
