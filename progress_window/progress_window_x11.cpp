// The progress window for POSIX systems with X11: watches the shared block,
// draws the bar with Xlib, and ends by itself when the run is over.
//
// Usage: Kestrav_progress_bar.exe [block-name]
// The library starts it without arguments; a name lets tests use a block
// of their own.
//
// The program ends when
// - the block reports the last block (100 %, shown for a moment first),
// - the pipe on its standard output loses its reader (the library closes it
//   before waiting for this program, also after a failed run),
// - the block is removed, or does not exist at start,
// - the window is closed with the window manager's close button.
// Without a display it draws nothing but ends by the same rules. It never
// writes to standard output, never reads input, and maps the block
// read-only.
#include "progress_view.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

using namespace progress_window;
using Clock = std::chrono::steady_clock;

// The shared block ------------------------------------------------------------

struct Block {
    char name[128] = {};
    const unsigned char* view = nullptr;
    dev_t device = 0;
    ino_t inode = 0;
};

bool open_block(const char* name, Block& block) {
    if (std::snprintf(block.name, sizeof block.name, "/%s", name) >= static_cast<int>(sizeof block.name)) return false;
    const int fd = shm_open(block.name, O_RDONLY, 0);
    if (fd < 0) return false;
    struct stat st {};
    void* view = MAP_FAILED;
    // A block shorter than expected would fault on reading; treat it as absent.
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(block_size))
        view = mmap(nullptr, block_size, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (view == MAP_FAILED) return false;
    block.view = static_cast<const unsigned char*>(view);
    block.device = st.st_dev;
    block.inode = st.st_ino;
    return true;
}

void close_block(Block& block) {
    if (block.view != nullptr) munmap(const_cast<unsigned char*>(block.view), block_size);
    block.view = nullptr;
}

// True while the name still leads to the block this program has mapped. A
// removed name, or one that now names a new block, means the run is over.
bool block_still_named(const Block& block) {
    const int fd = shm_open(block.name, O_RDONLY, 0);
    if (fd < 0) return errno != ENOENT;
    struct stat st {};
    const bool same = fstat(fd, &st) != 0 || (st.st_dev == block.device && st.st_ino == block.inode);
    close(fd);
    return same;
}

int read_block(const Block& block) {
    // The library writes while this program reads: copy the bytes once.
    const volatile unsigned char* view = block.view;
    unsigned char bytes[message_max];
    for (std::size_t i = 0; i < message_max; ++i) bytes[i] = view[i];
    return parse_message(bytes, message_max);
}

// Standard output ---------------------------------------------------------------

// Standard output is a pipe nobody reads; it is watched only for losing its
// reader. A closed descriptor cannot be watched.
bool stdout_open() { return fcntl(STDOUT_FILENO, F_GETFD) != -1; }

bool hung_up(short revents) { return (revents & (POLLERR | POLLHUP)) != 0; }

bool stdout_hung_up(bool watched) {
    if (!watched) return false;
    pollfd fd{STDOUT_FILENO, 0, 0};
    return poll(&fd, 1, 0) > 0 && hung_up(fd.revents);
}

// The window --------------------------------------------------------------------

enum Ink { ink_background, ink_track, ink_outline, ink_fill, ink_text, ink_count };

struct View {
    Display* display = nullptr;
    Window window = 0;
    Atom delete_atom = 0;
    GC gc = nullptr;
    XFontStruct* font = nullptr;
    bool font_loaded = false;  // loaded by name, rather than the GC's own
    Pixmap buffer = 0;
    int width = initial_width;
    int height = initial_height;
    unsigned long inks[ink_count] = {};
    bool closed = false;  // the user closed the window
};

int ignore_x_error(Display*, XErrorEvent*) { return 0; }

// A lost X server connection ends the program quietly: Xlib cannot go on
// after it, and the library only waits for this program to end.
int end_on_lost_server(Display*) { _exit(0); }

unsigned long ink(Display* display, Colour colour, unsigned long fallback) {
    XColor xc{};
    xc.red = static_cast<unsigned short>(colour.red * 257);
    xc.green = static_cast<unsigned short>(colour.green * 257);
    xc.blue = static_cast<unsigned short>(colour.blue * 257);
    xc.flags = DoRed | DoGreen | DoBlue;
    const Colormap map = DefaultColormap(display, DefaultScreen(display));
    return XAllocColor(display, map, &xc) != 0 ? xc.pixel : fallback;
}

void set_inks(View& view) {
    const int screen = DefaultScreen(view.display);
    const unsigned long black = BlackPixel(view.display, screen);
    const unsigned long white = WhitePixel(view.display, screen);
    view.inks[ink_background] = ink(view.display, background_colour, white);
    view.inks[ink_track] = ink(view.display, track_colour, white);
    view.inks[ink_outline] = ink(view.display, outline_colour, black);
    view.inks[ink_fill] = ink(view.display, fill_colour, black);
    view.inks[ink_text] = ink(view.display, text_colour, black);
}

void load_font(View& view) {
    // Core fonts, best first; "fixed" is built into every X server.
    static constexpr const char* names[] = {
        "-*-helvetica-bold-r-normal-*-14-*-*-*-*-*-iso8859-1",
        "-*-dejavu sans-bold-r-normal-*-14-*-*-*-*-*-*-*",
        "9x15bold",
        "fixed",
    };
    for (const char* name : names) {
        view.font = XLoadQueryFont(view.display, name);
        if (view.font != nullptr) {
            view.font_loaded = true;
            XSetFont(view.display, view.gc, view.font->fid);
            return;
        }
    }
    view.font = XQueryFont(view.display, XGContextFromGC(view.gc));
}

void set_window_properties(View& view) {
    char title[] = "kestrav3";
    char* titles[] = {title};
    XTextProperty name{};
    XStringListToTextProperty(titles, 1, &name);

    XSizeHints* size = XAllocSizeHints();
    size->flags = PSize | PMinSize;
    size->width = initial_width;
    size->height = initial_height;
    size->min_width = min_width;
    size->min_height = min_height;

    // A progress window takes no keyboard input and should not steal focus.
    XWMHints* wm = XAllocWMHints();
    wm->flags = InputHint | StateHint;
    wm->input = False;
    wm->initial_state = NormalState;

    char res_name[] = "kestrav3-progress";
    char res_class[] = "Kestrav3";
    XClassHint* cls = XAllocClassHint();
    cls->res_name = res_name;
    cls->res_class = res_class;

    XSetWMProperties(view.display, view.window, &name, &name, nullptr, 0, size, wm, cls);
    XFree(cls);
    XFree(wm);
    XFree(size);
    XFree(name.value);

    const Atom utf8 = XInternAtom(view.display, "UTF8_STRING", False);
    const Atom net_name = XInternAtom(view.display, "_NET_WM_NAME", False);
    XChangeProperty(view.display, view.window, net_name, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), static_cast<int>(std::strlen(title)));
    view.delete_atom = XInternAtom(view.display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(view.display, view.window, &view.delete_atom, 1);
}

void make_buffer(View& view) {
    if (view.buffer != 0) XFreePixmap(view.display, view.buffer);
    const int depth = DefaultDepth(view.display, DefaultScreen(view.display));
    view.buffer = XCreatePixmap(view.display, view.window, static_cast<unsigned>(view.width),
                                static_cast<unsigned>(view.height), static_cast<unsigned>(depth));
}

bool open_view(View& view) {
    view.display = XOpenDisplay(nullptr);
    if (view.display == nullptr) return false;
    XSetErrorHandler(ignore_x_error);
    XSetIOErrorHandler(end_on_lost_server);
    set_inks(view);
    const Window root = DefaultRootWindow(view.display);
    view.window = XCreateSimpleWindow(view.display, root, 0, 0, initial_width, initial_height, 0,
                                      view.inks[ink_outline], view.inks[ink_background]);
    view.gc = XCreateGC(view.display, view.window, 0, nullptr);
    load_font(view);
    set_window_properties(view);
    make_buffer(view);
    XSelectInput(view.display, view.window, ExposureMask | StructureNotifyMask);
    XMapWindow(view.display, view.window);
    XFlush(view.display);
    return true;
}

void close_view(View& view) {
    if (view.display == nullptr) return;
    if (view.font != nullptr && view.font_loaded) XFreeFont(view.display, view.font);
    if (view.font != nullptr && !view.font_loaded) XFreeFontInfo(nullptr, view.font, 1);
    if (view.buffer != 0) XFreePixmap(view.display, view.buffer);
    XFreeGC(view.display, view.gc);
    XDestroyWindow(view.display, view.window);
    XCloseDisplay(view.display);
    view.display = nullptr;
}

TextExtent measure(const View& view, const PercentText& text) {
    if (view.font == nullptr) return {text.length * 8, 11, 3};
    return {XTextWidth(view.font, text.chars.data(), text.length), view.font->ascent, view.font->descent};
}

void fill_rect(const View& view, Ink which, const Rect& r) {
    if (r.width <= 0 || r.height <= 0) return;
    XSetForeground(view.display, view.gc, view.inks[which]);
    XFillRectangle(view.display, view.buffer, view.gc, r.x, r.y, static_cast<unsigned>(r.width),
                   static_cast<unsigned>(r.height));
}

void draw(const View& view, int percent) {
    if (view.display == nullptr || view.closed) return;
    const PercentText text = percent_text(percent);
    const Layout layout = layout_window(view.width, view.height, percent, measure(view, text));
    fill_rect(view, ink_background, {0, 0, view.width, view.height});
    fill_rect(view, ink_outline, layout.track);
    const Rect& t = layout.track;
    fill_rect(view, ink_track, {t.x + 1, t.y + 1, t.width - 2, t.height - 2});
    fill_rect(view, ink_fill, layout.fill);
    XSetForeground(view.display, view.gc, view.inks[ink_text]);
    XDrawString(view.display, view.buffer, view.gc, layout.text_x, layout.text_baseline, text.chars.data(),
                text.length);
    XCopyArea(view.display, view.buffer, view.window, view.gc, 0, 0, static_cast<unsigned>(view.width),
              static_cast<unsigned>(view.height), 0, 0);
    XFlush(view.display);
}

void handle_event(View& view, const XEvent& event, int percent) {
    if (event.type == Expose && event.xexpose.count == 0) {
        draw(view, percent);
    } else if (event.type == ConfigureNotify) {
        const XConfigureEvent& c = event.xconfigure;
        if (c.width == view.width && c.height == view.height) return;
        view.width = c.width;
        view.height = c.height;
        make_buffer(view);
        draw(view, percent);
    } else if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == view.delete_atom) {
        view.closed = true;
    }
}

void handle_events(View& view, int percent) {
    while (view.display != nullptr && !view.closed && XPending(view.display) > 0) {
        XEvent event;
        XNextEvent(view.display, &event);
        handle_event(view, event, percent);
    }
}

// Waiting -------------------------------------------------------------------------

int ms_until(Clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Serves the window until the given time, or until the window is closed or
// standard output loses its reader.
void wait_until(View& view, Clock::time_point when, bool stdout_watched, int percent) {
    for (;;) {
        handle_events(view, percent);
        const int timeout = ms_until(when);
        if (timeout == 0 || view.closed) return;
        pollfd fds[2] = {{-1, POLLIN, 0}, {-1, 0, 0}};
        if (view.display != nullptr) fds[0].fd = ConnectionNumber(view.display);
        if (stdout_watched) fds[1].fd = STDOUT_FILENO;
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) return;
        if (hung_up(fds[1].revents)) return;
    }
}

// Descriptors the library's process had open (its input and output files,
// among others) are passed on to this program; it needs none of them.
void close_inherited_descriptors() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    closefrom(STDERR_FILENO + 1);
#else
    for (int fd = STDERR_FILENO + 1; fd < 1024; ++fd) close(fd);
#endif
}

// The watch -----------------------------------------------------------------------

struct Watch {
    Block block;
    View view;
    Reading reading;
    bool stdout_watched = false;
};

// Follows the block until the run is over; true when it reported its end.
bool follow_run(Watch& w) {
    auto next = Clock::now();
    for (int polls = 1;; ++polls) {
        if (stdout_hung_up(w.stdout_watched)) {
            // The library has stopped writing, so this read is whole.
            if (take_final_reading(w.reading, read_block(w.block))) draw(w.view, w.reading.shown);
            return finished(w.reading);
        }
        if (polls % polls_per_block_check == 0 && !block_still_named(w.block)) return false;
        if (take_reading(w.reading, read_block(w.block))) draw(w.view, w.reading.shown);
        if (finished(w.reading)) return true;
        // Keep a steady beat, but do not race to catch up after a pause.
        next = std::max(next + std::chrono::milliseconds(poll_interval_ms), Clock::now());
        wait_until(w.view, next, w.stdout_watched, w.reading.shown);
        if (w.view.closed) return false;
    }
}

int run(const char* name) {
    close_inherited_descriptors();
    Watch w;
    if (!open_block(name, w.block)) return 0;
    w.stdout_watched = stdout_open();
    open_view(w.view);
    if (follow_run(w)) {
        // Let the full bar be seen before the window goes.
        const auto until = Clock::now() + std::chrono::milliseconds(final_linger_ms);
        wait_until(w.view, until, false, w.reading.shown);
    }
    close_view(w.view);
    close_block(w.block);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc > 1 ? argv[1] : block_name); }
