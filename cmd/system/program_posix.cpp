#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "system/program.h"

extern char** environ;

namespace kestrav3::cmd::system {

std::vector<std::string> expand_wildcards(const std::string& argument) { return {argument}; }

NodeKind node_kind(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return NodeKind::missing;
    if (S_ISLNK(st.st_mode)) return NodeKind::link;
    if (S_ISDIR(st.st_mode)) return NodeKind::folder;
    if (S_ISREG(st.st_mode)) return NodeKind::file;
    return NodeKind::other;
}

bool leads_to_folder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool node_id(const std::string& path, bool follow, NodeId& id) {
    struct stat st {};
    if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

bool folder_folds_case(const std::string& folder) {
#if defined(__linux__)
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // The casefold flag of ext4 and f2fs folders (FS_CASEFOLD_FL).
    constexpr long casefold_flag = 0x40000000;
    long flags = 0;
    bool folds = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & casefold_flag) != 0;
    struct statfs fs {};
    if (!folds && fstatfs(fd, &fs) == 0) {
        constexpr std::array<long, 6> folding{MSDOS_SUPER_MAGIC,      0x2011BAB0 /* exFAT */, 0x5346544E /* NTFS */,
                                              0x7366746E /* ntfs3 */, 0xFE534D42 /* SMB2 */,  0xFF534D42 /* CIFS */};
        folds = std::find(folding.begin(), folding.end(), static_cast<long>(fs.f_type)) != folding.end();
    }
    close(fd);
    return folds;
#else
    (void)folder;
    return false;
#endif
}

bool list_folder(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    // O_NOFOLLOW: a folder that became a link since it was looked at is not entered.
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

char path_separator() { return '/'; }

std::string own_program() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    return std::string(path, static_cast<std::size_t>(n));
}

namespace {

// The workers running, for the signal handler to pass a stop signal on to.
constexpr std::size_t max_workers = 64;
volatile pid_t running_workers[max_workers] = {};
volatile sig_atomic_t received_stop = 0;

void note_worker(pid_t pid, pid_t now) {
    for (auto& slot : running_workers)
        if (slot == pid) {
            slot = now;
            return;
        }
}

extern "C" void pass_on_stop(int sig) {
    received_stop = sig;
    for (const auto& pid : running_workers)
        if (pid > 0) kill(pid, sig);
}

pid_t program_pid = 0;

void close_end(std::intptr_t& fd) {
    if (fd >= 0) close(static_cast<int>(fd));
    fd = -1;
}

}  // namespace

bool start_worker(const std::string& program, const std::vector<std::string>& args, Worker& worker) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (spawned != 0) {
        close(in[1]);
        close(out[0]);
        return false;
    }
    note_worker(0, pid);
    // A stop signal that came while the worker was being started.
    if (received_stop != 0) kill(pid, received_stop);
    worker.process = pid;
    worker.input = in[1];
    worker.output = out[0];
    return true;
}

// SIGPIPE is ignored by the program, so a worker that has gone makes the
// write fail with EPIPE instead of ending the program.
bool feed_worker(Worker& worker, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && worker.input >= 0) {
        const ssize_t n = write(static_cast<int>(worker.input), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

int wait_for_workers(const std::vector<Worker*>& workers, bool wait) {
    std::vector<pollfd> watched;
    std::vector<int> owners;
    for (std::size_t i = 0; i < workers.size(); ++i) {
        if (workers[i]->output < 0) continue;
        watched.push_back({static_cast<int>(workers[i]->output), POLLIN, 0});
        owners.push_back(static_cast<int>(i));
    }
    if (watched.empty()) return -1;
    for (;;) {
        const int ready = poll(watched.data(), watched.size(), wait ? -1 : 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return -1;
        for (std::size_t i = 0; i < watched.size(); ++i)
            if (watched[i].revents != 0) return owners[i];
    }
}

bool read_worker(Worker& worker, std::string& text) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(static_cast<int>(worker.output), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close_end(worker.output);
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
}

int finish_worker(Worker& worker) {
    close_end(worker.input);
    if (worker.output >= 0) {
        std::string ignored;
        while (read_worker(worker, ignored)) ignored.clear();
    }
    int status = 0;
    pid_t waited = 0;
    while ((waited = waitpid(static_cast<pid_t>(worker.process), &status, 0)) < 0 && errno == EINTR) {
    }
    note_worker(static_cast<pid_t>(worker.process), 0);
    worker.process = 0;
    if (waited < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

void pass_stop_signals_to_workers() {
    struct sigaction action {};
    action.sa_handler = pass_on_stop;
    // Calls under way go on (a write to standard output is not cut short);
    // the wait for the workers' answers returns and looks again.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int stop_signal() { return received_stop; }

void end_by_signal(int sig) {
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    _exit(128 + sig);
}

void end_with_program() {
    program_pid = getppid();
#if defined(__linux__)
    prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
}

// A worker whose program has gone has been given to another parent.
bool program_still_there() { return program_pid == 0 || getppid() == program_pid; }

}  // namespace kestrav3::cmd::system
