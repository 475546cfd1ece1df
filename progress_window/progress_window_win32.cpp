// The progress window for Windows: watches the shared block, shows the
// common-controls progress bar and the percentage, and ends by itself when
// the run is over.
//
// Usage: Kestrav_progress_bar.exe [block-name]
// The library starts it without arguments; a name lets tests use a block
// of their own.
//
// The program ends when
// - the block reports the last block (100 %, shown for a moment first),
// - the pipe on its standard output loses its reader (the library closes it
//   before waiting for this program, also after a failed run),
// - the block is gone (no mapping object of the name can be opened), or
//   does not exist at start,
// - the window is closed.
// It never writes to standard output (the pipe is only watched), never
// reads input, and maps the block read-only. It holds no handle to the
// block between reads, so the block goes with the library's handle.
#include "progress_view.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

namespace {

using namespace progress_window;

// The shared block ------------------------------------------------------------

// The percentage read from the block, -1 when it held no whole message, or
// -2 when the block is gone.
constexpr int block_gone = -2;

int read_block(const char* name) {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (mapping == nullptr) return block_gone;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, block_size);
    int percent = block_gone;
    if (view != nullptr) {
        // The library writes while this program reads: copy the bytes once.
        const volatile unsigned char* bytes = static_cast<const unsigned char*>(view);
        unsigned char copy[message_max];
        for (std::size_t i = 0; i < message_max; ++i) copy[i] = bytes[i];
        percent = parse_message(copy, message_max);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return percent;
}

// Standard output ---------------------------------------------------------------

// Standard output is a pipe nobody reads; it is watched only for losing its
// reader. A write of no bytes sends nothing but fails once the reading end
// is closed.
bool stdout_is_pipe() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_PIPE;
}

bool stdout_broken(bool watched) {
    if (!watched) return false;
    DWORD written = 0;
    if (WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "", 0, &written, nullptr)) return false;
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}

// The watch ---------------------------------------------------------------------

enum class Step { go_on, finished, over };

struct Watch {
    const char* name = block_name;
    Reading reading;
    bool stdout_watched = false;
    int polls = 0;
};

// One read of the block and the pipe; the value shown may change.
Step poll(Watch& w) {
    ++w.polls;
    if (stdout_broken(w.stdout_watched)) {
        // The library has stopped writing, so this read is whole.
        const int percent = read_block(w.name);
        if (percent != block_gone) take_final_reading(w.reading, percent);
        return finished(w.reading) ? Step::finished : Step::over;
    }
    const int percent = read_block(w.name);
    if (percent == block_gone) return Step::over;
    take_reading(w.reading, percent);
    return finished(w.reading) ? Step::finished : Step::go_on;
}

// The window --------------------------------------------------------------------

constexpr UINT_PTR poll_timer = 1;
constexpr UINT_PTR linger_timer = 2;
constexpr int bar_id = 100;

struct View {
    Watch watch;
    HWND window = nullptr;
    HWND bar = nullptr;
    HFONT font = nullptr;
    HBRUSH background = nullptr;
    int shown = -1;  // value on the bar, -1 before the first
};

View* view_of(HWND window) { return reinterpret_cast<View*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

COLORREF rgb(Colour c) { return RGB(c.red, c.green, c.blue); }

Layout layout_for(const View& v, HDC dc, const PercentText& text) {
    RECT client{};
    GetClientRect(v.window, &client);
    HGDIOBJ old = SelectObject(dc, v.font);
    SIZE size{};
    GetTextExtentPoint32A(dc, text.chars.data(), text.length, &size);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    return layout_window(
        client.right, client.bottom, v.watch.reading.shown,
        {static_cast<int>(size.cx), static_cast<int>(metrics.tmAscent), static_cast<int>(metrics.tmDescent)});
}

// Places the bar where the layout puts the track, and shows the value.
void update_bar(View& v) {
    HDC dc = GetDC(v.window);
    const Layout layout = layout_for(v, dc, percent_text(v.watch.reading.shown));
    ReleaseDC(v.window, dc);
    const Rect& t = layout.track;
    MoveWindow(v.bar, t.x, t.y, t.width, t.height, TRUE);
    if (v.shown != v.watch.reading.shown) {
        v.shown = v.watch.reading.shown;
        SendMessageA(v.bar, PBM_SETPOS, static_cast<WPARAM>(v.shown), 0);
        InvalidateRect(v.window, nullptr, TRUE);
    }
}

void paint(View& v) {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(v.window, &ps);
    const PercentText text = percent_text(v.watch.reading.shown);
    const Layout layout = layout_for(v, dc, text);
    HGDIOBJ old = SelectObject(dc, v.font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, rgb(text_colour));
    SetTextAlign(dc, TA_BASELINE | TA_LEFT);
    TextOutA(dc, layout.text_x, layout.text_baseline, text.chars.data(), text.length);
    SelectObject(dc, old);
    EndPaint(v.window, &ps);
}

void on_poll(View& v) {
    switch (poll(v.watch)) {
    case Step::go_on: update_bar(v); break;
    case Step::finished:
        // Let the full bar be seen before the window goes.
        update_bar(v);
        KillTimer(v.window, poll_timer);
        SetTimer(v.window, linger_timer, final_linger_ms, nullptr);
        break;
    case Step::over: DestroyWindow(v.window); break;
    }
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    View* v = view_of(window);
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams));
        break;
    case WM_TIMER:
        if (v == nullptr) break;
        if (wparam == poll_timer) on_poll(*v);
        if (wparam == linger_timer) DestroyWindow(window);
        return 0;
    case WM_SIZE:
        if (v != nullptr && v->bar != nullptr) {
            update_bar(*v);
            InvalidateRect(window, nullptr, TRUE);
        }
        return 0;
    case WM_GETMINMAXINFO: reinterpret_cast<MINMAXINFO*>(lparam)->ptMinTrackSize = {min_width, min_height}; return 0;
    case WM_PAINT:
        if (v == nullptr) break;
        paint(*v);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

bool open_view(View& v, HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    v.background = CreateSolidBrush(rgb(background_colour));
    WNDCLASSA cls{};
    cls.lpfnWndProc = window_proc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = v.background;
    cls.lpszClassName = "Kestrav3Progress";
    if (RegisterClassA(&cls) == 0) return false;
    // The client area gets the initial size; the frame comes on top.
    constexpr DWORD style = WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX;
    RECT frame{0, 0, initial_width, initial_height};
    AdjustWindowRect(&frame, style, FALSE);
    v.window = CreateWindowExA(0, cls.lpszClassName, "kestrav3", style, CW_USEDEFAULT, CW_USEDEFAULT,
                               frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, &v);
    if (v.window == nullptr) return false;
    v.font = CreateFontA(-14, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
    v.bar = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 10, 10, v.window,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(bar_id)), instance, nullptr);
    SendMessageA(v.bar, PBM_SETRANGE32, 0, 100);
    SendMessageA(v.bar, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(rgb(fill_colour)));
    SendMessageA(v.bar, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(rgb(track_colour)));
    update_bar(v);
    // A progress window should not take the focus from the console.
    ShowWindow(v.window, SW_SHOWNOACTIVATE);
    UpdateWindow(v.window);
    return true;
}

void close_view(View& v) {
    if (v.font != nullptr) DeleteObject(v.font);
    if (v.background != nullptr) DeleteObject(v.background);
}

// Without a window (no desktop to show it on) the run is followed all the
// same, so the program still ends by the same rules.
void follow_without_window(Watch& w) {
    for (;;) {
        const Step step = poll(w);
        if (step == Step::over) return;
        if (step == Step::finished) {
            Sleep(final_linger_ms);
            return;
        }
        Sleep(poll_interval_ms);
    }
}

int run(const char* name) {
    View v;
    v.watch.name = name;
    // No block at start: nothing to show.
    const int first = read_block(name);
    if (first == block_gone) return 0;
    v.watch.stdout_watched = stdout_is_pipe();
    take_reading(v.watch.reading, first);
    if (!open_view(v, GetModuleHandleA(nullptr))) {
        follow_without_window(v.watch);
        close_view(v);
        return 0;
    }
    SetTimer(v.window, poll_timer, poll_interval_ms, nullptr);
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    close_view(v);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(argc > 1 ? argv[1] : block_name); }
