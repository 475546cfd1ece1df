#include "window/window_support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "progress_view.h"

namespace kestrav3::testing {

using Clock = std::chrono::steady_clock;

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Child processes that end by themselves ------------------------------------------

namespace {

int run_to_end(const Launch& launch, milliseconds timeout) {
    Child child(launch);
    const std::optional<int> status = child.wait_for_exit(timeout);
    return status ? *status : -1;
}

std::string run_for_output(Launch launch, milliseconds timeout) {
    char name[] = "/tmp/window_test_out_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return {};
    launch.stdout_fd = fd;
    run_to_end(launch, timeout);
    close(fd);
    std::string text = read_file(name);
    unlink(name);
    return text;
}

}  // namespace

// The virtual X server ------------------------------------------------------------

VirtualDisplay::VirtualDisplay() {
    if (!on_path("Xvfb")) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        // The server picks a free display number and writes it to fd 3.
        if (fds[1] == 3) {
            fcntl(3, F_SETFD, 0);  // keep it across exec
        } else {
            dup2(fds[1], 3);
        }
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() { stop(); }

void VirtualDisplay::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(milliseconds(10));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

// The shared block ----------------------------------------------------------------

TestBlock::TestBlock(const std::string& name) : name_("/" + name) {
    const int fd = shm_open(name_.c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0) return;
    linked_ = true;
    void* view = ftruncate(fd, progress_window::block_size) == 0
                     ? mmap(nullptr, progress_window::block_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                     : MAP_FAILED;
    close(fd);
    if (view != MAP_FAILED) view_ = static_cast<unsigned char*>(view);
}

TestBlock::~TestBlock() {
    if (view_ != nullptr) munmap(view_, progress_window::block_size);
    unlink();
}

void TestBlock::write(const std::string& text) { std::memcpy(view_, text.data(), text.size()); }

std::string TestBlock::bytes() const {
    return std::string(reinterpret_cast<const char*>(view_), progress_window::block_size);
}

void TestBlock::unlink() {
    if (linked_) shm_unlink(name_.c_str());
    linked_ = false;
}

bool block_exists(const std::string& name) {
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// Pipes and files -------------------------------------------------------------------

Pipe::Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    read_fd_ = fds[0];
    write_fd_ = fds[1];
}

Pipe::~Pipe() {
    close_write_end();
    close_read_end();
}

void Pipe::close_write_end() {
    if (write_fd_ >= 0) close(write_fd_);
    write_fd_ = -1;
}

void Pipe::close_read_end() {
    if (read_fd_ >= 0) close(read_fd_);
    read_fd_ = -1;
}

bool Pipe::writers_gone(milliseconds timeout) {
    pollfd p{read_fd_, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0 && (p.revents & POLLHUP) != 0;
}

int processes_running(const std::string& path) {
    std::error_code error;
    const fs::path wanted = fs::canonical(path, error);
    if (error) return 0;
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const fs::path exe = fs::read_symlink(entry.path() / "exe", error);
        if (!error && exe == wanted) ++count;
    }
    return count;
}

// The window from outside -----------------------------------------------------------

bool window_shown(const std::string& display) {
    Launch look{{"xwininfo", "-name", "kestrav3"}, {}, display, -1, {}, true};
    return run_to_end(look, milliseconds(10000)) == 0;
}

bool wait_for_window(const std::string& display, bool shown, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (window_shown(display) == shown) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

std::string window_properties(const std::string& display) {
    Launch look{{"xprop", "-name", "kestrav3"}, {}, display, -1, {}, true};
    return run_for_output(look, milliseconds(10000));
}

namespace {

int note_x_error(Display*, XErrorEvent*) { return 0; }

Window find_window(Display* display, Window top, int depth) {
    char* name = nullptr;
    if (XFetchName(display, top, &name) != 0 && name != nullptr) {
        const bool match = std::strcmp(name, "kestrav3") == 0;
        XFree(name);
        if (match) return top;
    }
    Window root = 0, parent = 0, found = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (depth > 0 && XQueryTree(display, top, &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count && found == 0; ++i) found = find_window(display, children[i], depth - 1);
        if (children != nullptr) XFree(children);
    }
    return found;
}

// Opens the display and finds the window; display is null when either fails.
struct Seen {
    Display* display = nullptr;
    Window window = 0;
    explicit Seen(const std::string& name) {
        XSetErrorHandler(note_x_error);
        display = XOpenDisplay(name.c_str());
        if (display != nullptr) window = find_window(display, DefaultRootWindow(display), 3);
    }
    ~Seen() {
        if (display != nullptr) XCloseDisplay(display);
    }
    bool ok() const { return display != nullptr && window != 0; }
};

unsigned long true_colour(progress_window::Colour c) {
    return (static_cast<unsigned long>(c.red) << 16) | (static_cast<unsigned long>(c.green) << 8) | c.blue;
}

BarPixels count_bar(XImage* image, int width, int height) {
    BarPixels best;
    for (int y = 0; y < height; ++y) {
        BarPixels row;
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y) & 0xffffffUL;
            if (pixel == true_colour(progress_window::fill_colour)) ++row.fill;
            if (pixel == true_colour(progress_window::track_colour)) ++row.track;
        }
        if (row.fill + row.track > best.fill + best.track) best = row;
    }
    return best;
}

}  // namespace

bool request_close(const std::string& display) {
    Seen seen(display);
    if (!seen.ok()) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = seen.window;
    event.xclient.message_type = XInternAtom(seen.display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(seen.display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(seen.display, seen.window, False, NoEventMask, &event);
    XSync(seen.display, False);
    return sent != 0;
}

std::optional<BarPixels> bar_pixels(const std::string& display) {
    Seen seen(display);
    if (!seen.ok()) return std::nullopt;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(seen.display, seen.window, &attributes) == 0) return std::nullopt;
    XImage* image = XGetImage(seen.display, seen.window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return std::nullopt;
    const BarPixels pixels = count_bar(image, attributes.width, attributes.height);
    XDestroyImage(image);
    return pixels;
}

}  // namespace kestrav3::testing
