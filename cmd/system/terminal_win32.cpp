// Windows console: the key prompt without echo, and what output goes to.
#include "system/terminal.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

#include <cstring>

namespace kestrav3::cmd::system {

namespace {

HANDLE console_in = INVALID_HANDLE_VALUE;
DWORD saved_mode = 0;

// An interrupt at the prompt must not leave the console without echo.
BOOL WINAPI restore_and_end(DWORD) {
    SetConsoleMode(console_in, saved_mode);
    return FALSE;
}

void say(const char* text) {
    HANDLE out = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteConsoleA(out, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(out);
}

// Reads up to the end of the line; a carriage return before it is dropped.
bool read_console_line(std::string& line) {
    line.clear();
    char c = 0;
    DWORD got = 0;
    while (ReadFile(console_in, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\n') return true;
        if (c != '\r') line.push_back(c);
    }
    return !line.empty();
}

}  // namespace

bool input_is_terminal() { return _isatty(0) != 0; }

bool output_is_terminal() { return _isatty(1) != 0; }

void ignore_output_signals() {}

bool read_hidden_line(const char* prompt, std::string& line) {
    console_in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (console_in == INVALID_HANDLE_VALUE) return false;
    if (!GetConsoleMode(console_in, &saved_mode)) {
        CloseHandle(console_in);
        return false;
    }
    SetConsoleCtrlHandler(restore_and_end, TRUE);
    // Echo goes off before the prompt shows, so nothing typed after the
    // prompt can appear on the screen.
    SetConsoleMode(console_in, (saved_mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
    say(prompt);
    const bool got_line = read_console_line(line);
    SetConsoleMode(console_in, saved_mode);
    SetConsoleCtrlHandler(restore_and_end, FALSE);
    say("\r\n");
    CloseHandle(console_in);
    console_in = INVALID_HANDLE_VALUE;
    return got_line;
}

}  // namespace kestrav3::cmd::system
