// POSIX terminal: the key prompt without echo, and what output goes to.
#include "platform/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace kestrav3::platform {

namespace {

int tty_fd = -1;
termios saved{};

// An interrupt at the prompt must not leave the terminal without echo.
extern "C" void restore_and_end(int sig) {
    tcsetattr(tty_fd, TCSAFLUSH, &saved);
    signal(sig, SIG_DFL);
    raise(sig);
}

void say(const char* text) {
    if (write(tty_fd, text, std::strlen(text)) < 0) return;
}

}  // namespace

bool input_is_terminal() { return isatty(STDIN_FILENO) == 1; }

bool output_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

void ignore_output_signals() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

bool read_hidden_line(const char* prompt, std::string& line) {
    tty_fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty_fd < 0) return false;
    if (tcgetattr(tty_fd, &saved) != 0) {
        close(tty_fd);
        return false;
    }
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
    struct sigaction action {
    }, old_int{}, old_term{};
    action.sa_handler = restore_and_end;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int);
    sigaction(SIGTERM, &action, &old_term);
    // Echo goes off before the prompt shows, so nothing typed after the
    // prompt can appear on the screen.
    tcsetattr(tty_fd, TCSAFLUSH, &quiet);
    say(prompt);

    line.clear();
    char c = 0;
    bool got_line = false;
    while (read(tty_fd, &c, 1) == 1) {
        if (c == '\n') {
            got_line = true;
            break;
        }
        line.push_back(c);
    }
    tcsetattr(tty_fd, TCSANOW, &saved);
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    say("\n");
    close(tty_fd);
    tty_fd = -1;
    return got_line || !line.empty();
}

}  // namespace kestrav3::platform
