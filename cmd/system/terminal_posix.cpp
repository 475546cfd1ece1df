// POSIX terminal: the key prompt without echo, and what output goes to.
#include "system/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace kestrav3::cmd::system {

namespace {

int tty_fd = -1;
termios saved{};
termios quiet{};

// Every signal that ends or stops the process while the prompt waits. The
// terminal gets its echo back first; a stop (SIGTSTP) takes it away again
// when the process continues.
constexpr int prompt_signals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,
                                  SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGTSTP};
struct sigaction previous[sizeof prompt_signals / sizeof prompt_signals[0]];

extern "C" void restore_and_end(int sig) {
    const int saved_errno = errno;
    tcsetattr(tty_fd, TCSAFLUSH, &saved);
    if (sig != SIGTSTP) {
        signal(sig, SIG_DFL);
        raise(sig);
        errno = saved_errno;
        return;
    }
    // Stop as the default action would; on SIGCONT the prompt goes on
    // without echo.
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop{};
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    struct sigaction again {};
    again.sa_handler = restore_and_end;
    sigemptyset(&again.sa_mask);
    sigaction(SIGTSTP, &again, nullptr);
    tcsetattr(tty_fd, TCSANOW, &quiet);
    errno = saved_errno;
}

void arm_prompt_signals() {
    struct sigaction action {};
    action.sa_handler = restore_and_end;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < sizeof prompt_signals / sizeof prompt_signals[0]; ++i)
        sigaction(prompt_signals[i], &action, &previous[i]);
}

void disarm_prompt_signals() {
    for (std::size_t i = 0; i < sizeof prompt_signals / sizeof prompt_signals[0]; ++i)
        sigaction(prompt_signals[i], &previous[i], nullptr);
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
    quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
    arm_prompt_signals();
    // Echo goes off before the prompt shows, so nothing typed after the
    // prompt can appear on the screen.
    tcsetattr(tty_fd, TCSAFLUSH, &quiet);
    say(prompt);

    line.clear();
    char c = 0;
    bool got_line = false;
    for (;;) {
        // A stop and continue at the prompt interrupts the read; it goes on.
        const ssize_t n = read(tty_fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) break;
        if (c == '\n') {
            got_line = true;
            break;
        }
        line.push_back(c);
    }
    tcsetattr(tty_fd, TCSANOW, &saved);
    disarm_prompt_signals();
    say("\n");
    close(tty_fd);
    tty_fd = -1;
    return got_line || !line.empty();
}

}  // namespace kestrav3::cmd::system
