// What the progress window tests add to the shared harness (cli_support.h:
// temporary folders, files, child processes): a virtual X server, a shared
// block the test writes, a pipe for the window's output, and looks at the
// window from outside. Everything system-specific is in the matching .cpp.
#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cli_support.h"

namespace kestrav3::testing {

// True when an executable of that name is on the search path.
bool on_path(const std::string& program);

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

}  // namespace kestrav3::testing
