#include "cli_support.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <thread>
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#endif

#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kestrav3::testing {

#if defined(_WIN32)
// Windows: the program is started with CreateProcess, its output streams
// on pipes read by one thread each, its input from NUL or a pipe.

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::mt19937 gen(static_cast<std::uint32_t>(GetCurrentProcessId() * 7919u + GetTickCount()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("kestrav3-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                                         std::to_string(counter++) + "-" + std::to_string(gen() % 100000));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {

// The command line as the C runtime splits it again: each argument quoted,
// quotes escaped, backslashes doubled where they come before a quote.
std::string quoted(const std::string& arg) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

// The program writes text-mode streams; read them as text.
std::string as_text(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) out.push_back(raw[i]);
    return out;
}

void read_all(HANDLE pipe, std::string* sink) {
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(pipe, buf, sizeof buf, &got, nullptr) && got > 0) sink->append(buf, got);
    CloseHandle(pipe);
}

// An inheritable pipe; the end kept by this process is not inherited.
void make_pipe(HANDLE* read_end, HANDLE* write_end, bool child_reads) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(read_end, write_end, &sa, 0)) throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(child_reads ? *write_end : *read_end, HANDLE_FLAG_INHERIT, 0);
}

RunResult run_program(const std::vector<std::string>& args, const fs::path& cwd, const std::string* input) {
    HANDLE out_r, out_w, err_r, err_w, in_r, in_w = nullptr;
    make_pipe(&out_r, &out_w, false);
    make_pipe(&err_r, &err_w, false);
    if (input != nullptr) {
        make_pipe(&in_r, &in_w, true);
    } else {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        in_r = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_r;
    si.hStdOutput = out_w;
    si.hStdError = err_w;
    std::string command = quoted(KESTRAV3_CLI);
    for (const auto& a : args) command += " " + quoted(a);
    PROCESS_INFORMATION pi{};
    const std::string folder = cwd.string();
    const BOOL started =
        CreateProcessA(KESTRAV3_CLI, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si, &pi);
    CloseHandle(out_w);
    CloseHandle(err_w);
    CloseHandle(in_r);
    RunResult result;
    std::thread out_reader(read_all, out_r, &result.out), err_reader(read_all, err_r, &result.err);
    if (in_w != nullptr) {
        DWORD written = 0;
        if (started && !input->empty())
            WriteFile(in_w, input->data(), static_cast<DWORD>(input->size()), &written, nullptr);
        CloseHandle(in_w);
    }
    out_reader.join();
    err_reader.join();
    if (!started) throw std::runtime_error("CreateProcess failed for " + command);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    result.status = static_cast<int>(code);
    result.out = as_text(result.out);
    result.err = as_text(result.err);
    return result;
}

}  // namespace

RunResult run_cli(const std::vector<std::string>& args, const fs::path& cwd, std::uint64_t file_size_limit,
                  SizeSignal) {
    if (file_size_limit != 0) throw std::runtime_error("file-size limits are POSIX only");
    return run_program(args, cwd, nullptr);
}

RunResult run_cli_with_input(const std::vector<std::string>& args, const fs::path& cwd, const std::string& input) {
    return run_program(args, cwd, &input);
}
#else

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrav3-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

// Child processes -----------------------------------------------------------------

namespace {

void redirect(int fd, int target) {
    if (fd == target) {
        fcntl(fd, F_SETFD, 0);  // keep it across exec
        return;
    }
    dup2(fd, target);
}

void to_dev_null(int target) {
    const int fd = open("/dev/null", O_RDWR);
    if (fd >= 0) redirect(fd, target);
}

[[noreturn]] void exec_launch(const Launch& launch) {
    if (!launch.folder.empty() && chdir(launch.folder.c_str()) != 0) _exit(126);
    if (launch.stdin_fd >= 0) {
        redirect(launch.stdin_fd, STDIN_FILENO);
    } else {
        to_dev_null(STDIN_FILENO);
    }
    if (launch.stdout_fd >= 0) {
        redirect(launch.stdout_fd, STDOUT_FILENO);
    } else if (!launch.stdout_file.empty()) {
        const int fd = open(launch.stdout_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) _exit(126);
        redirect(fd, STDOUT_FILENO);
    } else {
        to_dev_null(STDOUT_FILENO);
    }
    if (launch.stderr_fd >= 0) {
        redirect(launch.stderr_fd, STDERR_FILENO);
    } else if (launch.quiet) {
        to_dev_null(STDERR_FILENO);
    }
    if (launch.inherited_fd >= 0) fcntl(launch.inherited_fd, F_SETFD, 0);
    if (launch.display) {
        setenv("DISPLAY", launch.display->c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    for (const std::string& setting : launch.environment) {
        const std::size_t equals = setting.find('=');
        setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
    // A signal that dumps core (SIGQUIT) must not leave a core file in the folder.
    rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    if (launch.default_sigpipe) signal(SIGPIPE, SIG_DFL);
    if (launch.file_size_limit != 0) {
        // Ignored, a write past the limit fails with EFBIG instead of a signal.
        signal(SIGXFSZ, launch.size_signal == SizeSignal::ignored ? SIG_IGN : SIG_DFL);
        rlimit rl{static_cast<rlim_t>(launch.file_size_limit), static_cast<rlim_t>(launch.file_size_limit)};
        setrlimit(RLIMIT_FSIZE, &rl);
    }
    std::vector<char*> argv;
    std::vector<std::string> copies(launch.args);
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

int decode_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

Child::Child(const Launch& launch) {
    const pid_t pid = fork();
    if (pid == 0) exec_launch(launch);
    pid_ = pid;
}

Child::~Child() {
    if (pid_ <= 0 || status_) return;
    if (!wait_for_exit(milliseconds(0))) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

std::optional<int> Child::wait_for_exit(milliseconds timeout) {
    if (status_ || pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            status_ = decode_status(status);
            return status_;
        }
        if (r < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(milliseconds(5));
    }
}

int Child::wait() {
    if (status_ || pid_ <= 0) return status_.value_or(-1);
    int status = 0;
    pid_t r;
    while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    status_ = r == pid_ ? decode_status(status) : -1;
    return *status_;
}

bool Child::running() { return started() && !wait_for_exit(milliseconds(0)); }

// The command-line program ----------------------------------------------------------

namespace {

// The program with args, run from cwd as the user of this process would
// (the same DISPLAY).
Launch program_launch(const std::vector<std::string>& args, const fs::path& cwd) {
    Launch launch;
    launch.args.push_back(KESTRAV3_CLI);
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    launch.folder = cwd;
    if (const char* display = std::getenv("DISPLAY")) launch.display = display;
    return launch;
}

// Output goes through pipes, not files, so a file-size limit on the child
// applies to what the program writes and not to what it prints.
struct Running {
    std::unique_ptr<Child> process;
    int out_fd;
    int err_fd;
};

// Standard input is /dev/null, or a pipe holding input (small enough for
// the pipe's buffer) when there is any. Every pipe end is closed on exec,
// so the child holds only the ends it is given. With closed_output the
// reading end of standard output is closed at once, and the program starts
// with SIGPIPE at its default action, as a shell would start it.
Running start(const std::vector<std::string>& args, const fs::path& cwd, std::uint64_t limit,
              const std::string* input = nullptr, SizeSignal size_signal = SizeSignal::ignored,
              bool closed_output = false, const std::vector<std::string>& environment = {}) {
    int in[2] = {-1, -1}, out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || (input != nullptr && pipe2(in, O_CLOEXEC) != 0))
        throw std::runtime_error("pipe failed");
    if (input != nullptr) {
        if (write(in[1], input->data(), input->size()) != static_cast<ssize_t>(input->size()))
            throw std::runtime_error("input too long for the pipe");
        close(in[1]);
    }
    Launch launch = program_launch(args, cwd);
    launch.stdin_fd = in[0];
    launch.stdout_fd = out[1];
    launch.stderr_fd = err[1];
    launch.file_size_limit = limit;
    launch.size_signal = size_signal;
    launch.default_sigpipe = closed_output;
    launch.environment = environment;
    auto process = std::make_unique<Child>(launch);
    close(out[1]);
    close(err[1]);
    if (input != nullptr) close(in[0]);
    if (!process->started()) throw std::runtime_error("fork failed");
    if (closed_output) {
        close(out[0]);
        out[0] = -1;
    }
    return {std::move(process), out[0], err[0]};
}

// Reads whatever is ready on the child's pipes; false once both are closed.
bool drain(Running& child, RunResult& result, int timeout_ms) {
    pollfd fds[2] = {{child.out_fd, POLLIN, 0}, {child.err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    if (child.out_fd < 0 && child.err_fd < 0) return false;
    poll(fds, 2, timeout_ms);
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buf[65536];
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
            sinks[i]->append(buf, static_cast<std::size_t>(n));
        } else {
            close(fds[i].fd);
            (i == 0 ? child.out_fd : child.err_fd) = -1;
        }
    }
    return true;
}

RunResult finish(Running& child, RunResult result = {}) {
    while (drain(child, result, -1)) {
    }
    result.status = child.process->wait();
    return result;
}

}  // namespace

RunResult run_cli(const std::vector<std::string>& args, const fs::path& cwd, std::uint64_t file_size_limit,
                  SizeSignal size_signal) {
    Running child = start(args, cwd, file_size_limit, nullptr, size_signal);
    return finish(child);
}

RunResult run_cli_into_closed_pipe(const std::vector<std::string>& args, const fs::path& cwd) {
    Running child = start(args, cwd, 0, nullptr, SizeSignal::ignored, true);
    return finish(child);
}

RunResult run_cli_with_environment(const std::vector<std::string>& args, const fs::path& cwd,
                                   const std::vector<std::string>& environment) {
    Running child = start(args, cwd, 0, nullptr, SizeSignal::ignored, false, environment);
    return finish(child);
}

PromptSignalOutcome signal_at_prompt(const std::vector<std::string>& args, const fs::path& cwd, int sig) {
    // The test keeps the terminal's own end open, so its settings can be
    // read after the program has ended.
    int master = -1, terminal = -1;
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        close(master);
        setsid();
        ioctl(terminal, TIOCSCTTY, 0);
        Launch launch = program_launch(args, cwd);
        launch.stdin_fd = terminal;
        launch.stdout_fd = terminal;
        launch.stderr_fd = terminal;
        exec_launch(launch);
    }
    PromptSignalOutcome outcome;
    std::string shown;
    while (shown.find(" Key: ") == std::string::npos) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 20000) <= 0) break;
        char buf[4096];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        shown.append(buf, static_cast<std::size_t>(n));
    }
    outcome.prompted = shown.find(" Key: ") != std::string::npos;
    termios settings{};
    tcgetattr(terminal, &settings);
    outcome.echo_at_prompt = (settings.c_lflag & ECHO) != 0;
    kill(pid, sig);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    tcgetattr(terminal, &settings);
    outcome.echo_after = (settings.c_lflag & ECHO) != 0;
    close(master);
    close(terminal);
    return outcome;
}

RunResult run_cli_with_input(const std::vector<std::string>& args, const fs::path& cwd, const std::string& input) {
    Running child = start(args, cwd, 0, &input);
    return finish(child);
}

RunResult run_cli_on_terminal(const std::vector<std::string>& args, const fs::path& cwd,
                              const std::vector<std::string>& lines) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        Launch launch = program_launch(args, cwd);
        launch.stdin_fd = STDIN_FILENO;
        launch.stdout_fd = STDOUT_FILENO;
        launch.stderr_fd = STDERR_FILENO;
        exec_launch(launch);
    }
    RunResult result;
    std::size_t typed = 0;
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 10000) <= 0) break;
        char buf[4096];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;  // the program has ended
        result.out.append(buf, static_cast<std::size_t>(n));
        std::size_t prompts = 0;
        for (std::size_t at = result.out.find(" Key: "); at != std::string::npos;
             at = result.out.find(" Key: ", at + 1))
            ++prompts;
        for (; typed < prompts && typed < lines.size(); ++typed) {
            const std::string line = lines[typed] + "\n";
            if (write(master, line.data(), line.size()) < 0) break;
        }
    }
    close(master);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

RunResult run_cli_when_ready(const std::vector<std::string>& args, const fs::path& cwd,
                             const std::function<bool()>& ready, const std::function<void(int pid)>& action) {
    Running child = start(args, cwd, 0);
    RunResult result;
    for (int waited = 0; waited < 20000 && !ready(); ++waited) drain(child, result, 1);
    action(child.process->pid());
    return finish(child, std::move(result));
}

RunResult run_cli_with_environment_when_ready(const std::vector<std::string>& args, const fs::path& cwd,
                                              const std::vector<std::string>& environment,
                                              const std::function<bool()>& ready,
                                              const std::function<void(int pid)>& action) {
    Running child = start(args, cwd, 0, nullptr, SizeSignal::ignored, false, environment);
    RunResult result;
    for (int waited = 0; waited < 20000 && !ready(); ++waited) drain(child, result, 1);
    action(child.process->pid());
    return finish(child, std::move(result));
}

RunResult run_cli_when(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& watched,
                       const std::function<void(int pid)>& action) {
    return run_cli_when_ready(
        args, cwd, [&] { return fs::exists(watched); }, action);
}

RunResult run_cli_signalled(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& watched,
                            int sig) {
    return run_cli_when(args, cwd, watched, [sig](int pid) { kill(pid, sig); });
}

#endif  // POSIX

bool hidden_file_of(const fs::path& dir, const std::string& name) {
    const std::string prefix = "." + name + ".";
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string found = entry.path().filename().string();
        if (found.size() == prefix.size() + 6 && found.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

#if defined(_WIN32)
std::string read_text_file(const fs::path& path) { return as_text(read_file(path)); }

std::string native(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
    std::string out(2 * wide.size() + 1, '\0');
    out.resize(
        static_cast<std::size_t>(WideCharToMultiByte(1250, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                                     static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

fs::path native_name(const std::string& native_text) {
    std::wstring wide(native_text.size() + 1, L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, native_text.data(),
                                                             static_cast<int>(native_text.size()), wide.data(),
                                                             static_cast<int>(wide.size()))));
    return fs::path(wide);
}
#else
std::string read_text_file(const fs::path& path) { return read_file(path); }
std::string native(const std::string& utf8) { return utf8; }
fs::path native_name(const std::string& native_text) { return fs::path(native_text); }
#endif

bool same_contents(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::string ba(1 << 20, '\0'), bb(1 << 20, '\0');
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (fa.gcount() == 0) return true;
        if (ba.compare(0, static_cast<std::size_t>(fa.gcount()), bb, 0, static_cast<std::size_t>(fb.gcount())) != 0)
            return false;
    }
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string pattern_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::string bytes(n, '\0');
    for (auto& b : bytes) b = static_cast<char>(gen() & 0xFF);
    return bytes;
}

fs::path test_data(const std::string& name) { return fs::path(KESTRAV3_TEST_DATA) / name; }

std::string expected_output(const std::string& name) {
    const fs::path path = test_data("cli/" + name);
    EXPECT_TRUE(fs::exists(path)) << path;
    return read_text_file(path);
}

std::string framed_message(int code) { return expected_output("framed/" + std::to_string(-code) + ".txt"); }

std::uintmax_t coded_size(std::uintmax_t size) {
    const std::uintmax_t rest = size % 4096;
    return header_end + group * (size / 4096) + (rest > 0 ? 2 * record_bytes + 2 * rest : 0);
}

}  // namespace kestrav3::testing
