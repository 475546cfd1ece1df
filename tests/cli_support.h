// Helpers for tests that run the built programs as a user would: a private
// temporary folder, file helpers, child processes, and a runner of the
// command-line program that captures both output streams and the exit
// status. The progress window's tests add their own pieces on top
// (window/window_support.h).
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrav3::testing {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;
};

// What the program does with SIGXFSZ under a file-size limit: inherit the
// ignored signal (a write past the limit fails), or start with the default
// action and see to it itself.
enum class SizeSignal { ignored, default_action };

// Runs the program with args from folder cwd. A non-zero file_size_limit
// (bytes) caps the files the program may write, as a full disk would
// (POSIX only: Windows has no such limit, and refuses one).
RunResult run_cli(const std::vector<std::string>& args, const fs::path& cwd, std::uint64_t file_size_limit = 0,
                  SizeSignal size_signal = SizeSignal::ignored);

// True while a restore of name in dir is under way: its hidden file, "." +
// the restored name + "." + six letters or digits, exists.
bool hidden_file_of(const fs::path& dir, const std::string& name);

// Runs the program like run_cli with input on its standard input.
RunResult run_cli_with_input(const std::vector<std::string>& args, const fs::path& cwd, const std::string& input);

#if !defined(_WIN32)
// POSIX only: Windows has no pseudo-terminal to type on and no signals to
// send to a console program from outside.

using std::chrono::milliseconds;

// How a child process is started.
struct Launch {
    std::vector<std::string> args;                 // args[0] is looked up on the search path
    fs::path folder;                               // working folder; empty for the current one
    std::optional<std::string> display;            // DISPLAY for the child; empty optional removes it
    int stdout_fd = -1;                            // -1: stdout_file, or else /dev/null
    std::string stdout_file;                       // when set (and stdout_fd is -1), output goes there
    bool quiet = false;                            // standard error to /dev/null (when stderr_fd is -1)
    int inherited_fd = -1;                         // left open in the child, as a caller's open file is
    int stdin_fd = -1;                             // -1: /dev/null
    int stderr_fd = -1;                            // -1: this process's standard error
    std::uint64_t file_size_limit = 0;             // bytes the child may write to a file; 0 for no limit
    SizeSignal size_signal = SizeSignal::ignored;  // SIGXFSZ in the child, with a file size limit
    bool default_sigpipe = false;                  // SIGPIPE at its default action, as a shell starts a program
    std::vector<std::string> environment{};        // NAME=VALUE settings added for the child, after display
};

// A child process, killed and reaped when the object goes.
class Child {
public:
    explicit Child(const Launch& launch);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    int pid() const { return pid_; }
    // The exit status once the child has ended within the time given; a
    // death by signal is 128 + the signal. Empty when it is still running.
    std::optional<int> wait_for_exit(milliseconds timeout);
    // The exit status, waiting as long as it takes.
    int wait();
    bool running();

private:
    int pid_ = -1;
    std::optional<int> status_;
};

// Runs the program on a pseudo-terminal and types each line after the
// prompt " Key: " appears; returns what the terminal showed.
RunResult run_cli_on_terminal(const std::vector<std::string>& args, const fs::path& cwd,
                              const std::vector<std::string>& lines);

// Runs the program like run_cli, and calls action with its process id as
// soon as the file watched exists (or after 20 s).
RunResult run_cli_when(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& watched,
                       const std::function<void(int pid)>& action);

// Runs the program like run_cli, and calls action with its process id as
// soon as ready() holds (or after 20 s).
RunResult run_cli_when_ready(const std::vector<std::string>& args, const fs::path& cwd,
                             const std::function<bool()>& ready, const std::function<void(int pid)>& action);

// Runs the program like run_cli with the environment settings given
// (NAME=VALUE) added, after DISPLAY has been taken from this process.
RunResult run_cli_with_environment(const std::vector<std::string>& args, const fs::path& cwd,
                                   const std::vector<std::string>& environment);

// run_cli_when_ready with the environment settings given added.
RunResult run_cli_with_environment_when_ready(const std::vector<std::string>& args, const fs::path& cwd,
                                              const std::vector<std::string>& environment,
                                              const std::function<bool()>& ready,
                                              const std::function<void(int pid)>& action);

// What the terminal's echo was at the key prompt of a run on a
// pseudo-terminal that was sent a signal there, and after the run ended.
struct PromptSignalOutcome {
    bool prompted = false;
    bool echo_at_prompt = true;
    bool echo_after = false;
    int status = -1;
};
PromptSignalOutcome signal_at_prompt(const std::vector<std::string>& args, const fs::path& cwd, int sig);

// Runs the program with its standard output on a pipe that nobody reads:
// the read end is closed before the program starts.
RunResult run_cli_into_closed_pipe(const std::vector<std::string>& args, const fs::path& cwd);

// Runs the program like run_cli, and sends it signal sig as soon as the file
// watched exists (or after 20 s).
RunResult run_cli_signalled(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& watched,
                            int sig);
#endif

std::string read_file(const fs::path& path);
// The file read as text: on Windows a carriage return before a line feed
// is dropped, as a text-mode reader does.
std::string read_text_file(const fs::path& path);
// The native text of a UTF-8 literal: itself on POSIX, Windows-1250 on
// Windows; and the path of a file named in native text.
std::string native(const std::string& utf8);
fs::path native_name(const std::string& native_text);
// True when both files hold the same bytes (compared piece by piece).
bool same_contents(const fs::path& a, const fs::path& b);
void write_file(const fs::path& path, const std::string& bytes);
// n bytes of a fixed pseudo-random pattern (not all-zero, not periodic at 4096).
std::string pattern_bytes(std::size_t n, std::uint32_t seed = 1);
fs::path test_data(const std::string& name);

// Layout of a coded file: the two header copies, each after its noise, end
// at header_end; then one group per full block (record noise, record, block
// noise, block), and for a rest of r bytes a last group of 2 * 40 + 2 * r.
constexpr std::size_t header_end = 16384;
constexpr std::size_t record_bytes = 40;
constexpr std::size_t group = 2 * record_bytes + 2 * 4096;  // 8272
static_assert(group == 8272);

// Coded file size for a plain file of size bytes.
std::uintmax_t coded_size(std::uintmax_t size);

// What a fixed text prints, kept in tests/data/cli/<name> ("help.txt",
// "help-long.txt", "version.txt", "version-generator.txt"). In
// "version.txt", @VERSION@ stands for the version the build was given.
std::string expected_output(const std::string& name);
// The framed message print_error shows for a code, from
// tests/data/cli/framed/<-code>.txt.
std::string framed_message(int code);

}  // namespace kestrav3::testing
