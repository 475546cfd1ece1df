// Helpers for the progress window tests: child processes, a virtual X
// server, a shared block the test writes, and looks at the window from
// outside. Everything system-specific of the tests is in the matching .cpp.
#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace window_test {

using std::chrono::milliseconds;

// True when an executable of that name is on the search path.
bool on_path(const std::string& program);
bool file_exists(const std::string& path);

// How a child process is started.
struct Launch {
    std::vector<std::string> args;    // args[0] is looked up on the search path
    std::string folder;               // working folder; empty for the current one
    std::optional<std::string> display;  // DISPLAY for the child; empty optional removes it
    int stdout_fd = -1;               // -1: /dev/null
    std::string stdout_file;          // when set (and stdout_fd is -1), output goes there
    bool quiet = false;               // standard error to /dev/null
    int inherited_fd = -1;            // left open in the child, as a caller's open file is
};

// A child process, killed and reaped when the object goes.
class Child {
public:
    explicit Child(const Launch& launch);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    // The exit status once the child has ended within the time given; a
    // death by signal is 128 + the signal. Empty when it is still running.
    std::optional<int> wait_for_exit(milliseconds timeout);
    bool running();

private:
    int pid_ = -1;
    std::optional<int> status_;
};

// A private X server on a free display number, stopped when the object goes.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ready() const { return !name_.empty(); }
    const std::string& name() const { return name_; }  // e.g. ":5"
    void stop();

private:
    int pid_ = -1;
    std::string name_;
};

// A shared block of 256 bytes under a name of the test's own, or under the
// library's name.
class TestBlock {
public:
    explicit TestBlock(const std::string& name);
    ~TestBlock();
    TestBlock(const TestBlock&) = delete;
    TestBlock& operator=(const TestBlock&) = delete;

    bool ready() const { return view_ != nullptr; }
    // Writes text at offset 0, as the library does (no terminating NUL).
    void write(const std::string& text);
    std::string bytes() const;  // all 256 bytes
    void unlink();

private:
    std::string name_;
    unsigned char* view_ = nullptr;
    bool linked_ = false;
};

// True while a shared block of that name exists.
bool block_exists(const std::string& name);

// A pipe whose write end becomes a child's standard output.
class Pipe {
public:
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int write_end() const { return write_fd_; }
    void close_write_end();  // after the child has its copy
    void close_read_end();   // the child loses its reader
    // True when every copy of the write end is closed within the time given.
    bool writers_gone(milliseconds timeout);

private:
    int read_fd_ = -1;
    int write_fd_ = -1;
};

// A temporary folder, removed with its contents when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

bool copy_file(const std::string& from, const std::string& to);
bool write_file_of_size(const std::string& path, long long size);
long long file_size(const std::string& path);  // -1 when missing
std::string read_text(const std::string& path);
bool same_contents(const std::string& a, const std::string& b);

// How many processes run the executable file at path.
int processes_running(const std::string& path);

// The window titled "kestrav3" on the display, seen from outside. --------------

// Runs xwininfo; true when it finds the window.
bool window_shown(const std::string& display);
// Polls until the window is there or gone, or the time is up.
bool wait_for_window(const std::string& display, bool shown, milliseconds timeout);

// The window manager properties, as xprop prints them.
std::string window_properties(const std::string& display);

// Sends the window manager's close request (WM_DELETE_WINDOW).
bool request_close(const std::string& display);

// Counts the pixels of the fill and track colours in the bar: the row with
// the most of them is taken. Empty when the window cannot be read.
struct BarPixels {
    int fill = 0;
    int track = 0;
};
std::optional<BarPixels> bar_pixels(const std::string& display);

}  // namespace window_test
