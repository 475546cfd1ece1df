// The Windows progress window: run alone on a block of its own, it ends a
// moment after showing 100 %, at once when its output pipe breaks or its
// block goes, and never writes to its output; started by the program, it
// lets graphical runs end like the plain ones.
#if defined(_WIN32)  // Windows only: the X11 window has its own tests
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "cli_support.h"
#include "platform/platform.h"
#include "progress/progress.h"

namespace kestrav3::testing {
namespace {

// A paging-file block like the library's, under a name of the test's own.
class TestBlock {
public:
    explicit TestBlock(const std::string& name) {
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 256, name.c_str());
        if (mapping_ != nullptr)
            view_ = static_cast<unsigned char*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 256));
    }
    ~TestBlock() { close(); }
    TestBlock(const TestBlock&) = delete;
    TestBlock& operator=(const TestBlock&) = delete;
    bool ok() const { return view_ != nullptr; }
    void write(int value) {
        char text[8];
        const int n = std::snprintf(text, sizeof text, "%d\n", value);
        std::memcpy(view_, text, static_cast<std::size_t>(n));
    }
    void close() {
        if (view_ != nullptr) UnmapViewOfFile(view_);
        if (mapping_ != nullptr) CloseHandle(mapping_);
        view_ = nullptr;
        mapping_ = nullptr;
    }

private:
    HANDLE mapping_ = nullptr;
    unsigned char* view_ = nullptr;
};

// The window program watching a block, its standard output on a pipe this
// test holds and never reads until the end.
class WindowProgram {
public:
    explicit WindowProgram(const std::string& block) {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE out_write = nullptr;
        CreatePipe(&out_read_, &out_write, &sa, 0);
        SetHandleInformation(out_read_, HANDLE_FLAG_INHERIT, 0);
        HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                 OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = nul;
        si.hStdOutput = out_write;
        si.hStdError = nul;
        std::string command = std::string("\"") + KESTRAV3_PROGRESS_WINDOW + "\" " + block;
        started_ = CreateProcessA(KESTRAV3_PROGRESS_WINDOW, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &si, &pi_) != 0;
        CloseHandle(out_write);
        CloseHandle(nul);
    }
    ~WindowProgram() {
        if (started_ && running()) TerminateProcess(pi_.hProcess, 1);
        if (started_) {
            CloseHandle(pi_.hProcess);
            CloseHandle(pi_.hThread);
        }
        close_pipe();
    }
    WindowProgram(const WindowProgram&) = delete;
    WindowProgram& operator=(const WindowProgram&) = delete;

    bool started() const { return started_; }
    bool running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
    // True when the program ended within limit_ms.
    bool ends_within(DWORD limit_ms) const { return WaitForSingleObject(pi_.hProcess, limit_ms) == WAIT_OBJECT_0; }
    void close_pipe() {
        if (out_read_ != nullptr) CloseHandle(out_read_);
        out_read_ = nullptr;
    }
    // Bytes the program wrote to its standard output.
    DWORD written() const {
        DWORD available = 0;
        if (out_read_ == nullptr || !PeekNamedPipe(out_read_, nullptr, 0, nullptr, &available, nullptr)) return 0;
        return available;
    }

private:
    PROCESS_INFORMATION pi_{};
    HANDLE out_read_ = nullptr;
    bool started_ = false;
};

std::string block_name(const char* test) {
    return std::string("kestrav3_test_") + test + "_" + std::to_string(GetCurrentProcessId());
}

TEST(WindowsProgressWindow, EndsAMomentAfterShowingOneHundredPercent) {
    TestBlock block(block_name("full"));
    ASSERT_TRUE(block.ok());
    block.write(1);
    WindowProgram window(block_name("full"));
    ASSERT_TRUE(window.started());
    Sleep(400);
    EXPECT_TRUE(window.running()) << "it must wait for the run";
    block.write(51);
    Sleep(300);
    EXPECT_TRUE(window.running());
    block.write(101);
    const ULONGLONG at = GetTickCount64();
    ASSERT_TRUE(window.ends_within(5000));
    // 100 % stays on screen for about half a second first.
    EXPECT_GE(GetTickCount64() - at, 400u);
    EXPECT_EQ(window.written(), 0u) << "it must never write to its output";
}

TEST(WindowsProgressWindow, EndsWhenItsOutputPipeBreaks) {
    TestBlock block(block_name("pipe"));
    ASSERT_TRUE(block.ok());
    block.write(31);
    WindowProgram window(block_name("pipe"));
    ASSERT_TRUE(window.started());
    Sleep(400);
    ASSERT_TRUE(window.running());
    window.close_pipe();
    EXPECT_TRUE(window.ends_within(3000));
}

TEST(WindowsProgressWindow, EndsWhenTheBlockGoesOrIsMissing) {
    {
        TestBlock block(block_name("gone"));
        ASSERT_TRUE(block.ok());
        block.write(11);
        WindowProgram window(block_name("gone"));
        ASSERT_TRUE(window.started());
        Sleep(400);
        ASSERT_TRUE(window.running());
        block.close();
        EXPECT_TRUE(window.ends_within(3000));
        EXPECT_EQ(window.written(), 0u);
    }
    WindowProgram window(block_name("never"));
    ASSERT_TRUE(window.started());
    EXPECT_TRUE(window.ends_within(3000));
}

// Runs that use the library's one block name are in the suite Channel,
// whose tests run alone.

// The library's side, in process: the block "MyFileMappingObject" holds 1
// when the program starts, the values written after it, and is gone once
// the channel is closed (which waits for the program to end on 101).
TEST(Channel, OnWindowsTheBlockHoldsEachValueAndGoesWithTheChannel) {
    TempDir dir;
    fs::copy_file(fs::path(KESTRAV3_PROGRESS_WINDOW), dir / "Kestrav_progress_bar.exe");
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    const auto block_text = [](std::size_t n) {
        HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "MyFileMappingObject");
        if (mapping == nullptr) return std::string("(gone)");
        const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 256);
        std::string text = view != nullptr ? std::string(static_cast<const char*>(view), n) : "(no view)";
        if (view != nullptr) UnmapViewOfFile(view);
        CloseHandle(mapping);
        return text;
    };
    ASSERT_EQ(open_win_progress_bar(), 1);
    EXPECT_EQ(block_text(2), "1\n");
    EXPECT_NE(hMapFile, nullptr);
    shmem_sender_gprg(9);
    EXPECT_EQ(block_text(3), "10\n");
    shmem_sender_gprg(100);
    EXPECT_EQ(block_text(4), "101\n");
    EXPECT_EQ(std::string(szMsg), "101\n");
    close_win_progress_bar();
    EXPECT_EQ(pBuf, nullptr);
    EXPECT_EQ(hMapFile, nullptr);
    EXPECT_EQ(fp_windows_progress_bar, nullptr);
    EXPECT_EQ(block_text(1), "(gone)");
    fs::current_path(here);
}

// With no copy in the current folder, the library starts the program from
// the running program's own folder, where the build and the zip put it
// beside kestrav3.exe (and this test program).
TEST(Channel, OnWindowsTheProgramBesideTheRunningProgramIsFound) {
    TempDir dir;
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    const int started = open_win_progress_bar();
    if (started == 1) {
        shmem_sender_gprg(100);
        close_win_progress_bar();  // waits for the program to end on 101
    }
    fs::current_path(here);
    EXPECT_EQ(started, 1);
    EXPECT_FALSE(fs::exists(dir / "Kestrav_progress_bar.exe"));
}

// A copy planted in the current folder is not the one started while the
// running program's folder holds one.
TEST(Channel, OnWindowsTheProgramsOwnFolderComesBeforeTheCurrentFolder) {
    TempDir dir;
    fs::copy_file(fs::path(KESTRAV3_PROGRESS_WINDOW), dir / "Kestrav_progress_bar.exe");
    const fs::path here = fs::current_path();
    fs::current_path(dir.path());
    const std::string found = platform::progress_program_path();
    fs::current_path(here);
    ASSERT_FALSE(found.empty());
    EXPECT_TRUE(fs::equivalent(fs::u8path(found), fs::path(KESTRAV3_PROGRESS_WINDOW))) << found;
}

// Started by the library, the window ends by itself, so graphical runs
// end and print what the plain ones print.
TEST(Channel, OnWindowsGraphicalRunsWithTheWindowEndLikeThePlainOnes) {
    TempDir dir;
    fs::copy_file(fs::path(KESTRAV3_PROGRESS_WINDOW), dir / "Kestrav_progress_bar.exe");
    write_file(dir / "g.bin", pattern_bytes(8 * 1024 * 1024 + 3));
    const RunResult graphical = run_cli({"-cg", "g.bin", "window key"}, dir.path());
    ASSERT_EQ(graphical.status, 0) << graphical.out;
    EXPECT_EQ(graphical.err, "");
    EXPECT_NE(graphical.out.find("progress: 100%"), std::string::npos) << graphical.out;
    fs::rename(dir / "g.bin", dir / "g.orig");
    const RunResult restored = run_cli({"-dg", "g.bin.archi", "window key"}, dir.path());
    ASSERT_EQ(restored.status, 0) << restored.out;
    EXPECT_EQ(restored.out, run_cli({"-d", "g.bin.archi", "window key"}, dir.path()).out);
    EXPECT_TRUE(same_contents(dir / "g.bin", dir / "g.orig"));
}

}  // namespace
}  // namespace kestrav3::testing
#endif
