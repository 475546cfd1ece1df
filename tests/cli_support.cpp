#include "cli_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kestrav3::testing {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrav3-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

namespace {

[[noreturn]] void exec_child(const std::vector<std::string>& args, const fs::path& cwd, const fs::path& out,
                             const fs::path& err, std::uint64_t limit) {
    if (chdir(cwd.c_str()) != 0) _exit(126);
    const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in_fd = open("/dev/null", O_RDONLY);
    if (out_fd < 0 || err_fd < 0 || in_fd < 0) _exit(126);
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (limit != 0) {
        // A write past the limit then fails with EFBIG instead of a signal.
        signal(SIGXFSZ, SIG_IGN);
        rlimit rl{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        setrlimit(RLIMIT_FSIZE, &rl);
    }
    std::vector<char*> argv;
    std::string program = KESTRAV3_CLI;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

}  // namespace

RunResult run_cli(const std::vector<std::string>& args, const fs::path& cwd, std::uint64_t file_size_limit) {
    TempDir capture;
    const fs::path out = capture / "stdout", err = capture / "stderr";
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) exec_child(args, cwd, out, err, file_size_limit);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult result;
    result.out = read_file(out);
    result.err = read_file(err);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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

std::uintmax_t coded_size(std::uintmax_t size) {
    const std::uintmax_t rest = size % 4096;
    return 16384 + 8272 * (size / 4096) + (rest > 0 ? 80 + 2 * rest : 0);
}

}  // namespace kestrav3::testing
