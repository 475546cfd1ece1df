#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/program.h"

extern char** environ;

namespace kestrav3::platform {

std::vector<std::string> expand_wildcards(const std::string& argument) { return {argument}; }

NodeKind node_kind(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return NodeKind::missing;
    if (S_ISLNK(st.st_mode)) return NodeKind::link;
    if (S_ISDIR(st.st_mode)) return NodeKind::folder;
    if (S_ISREG(st.st_mode)) return NodeKind::file;
    return NodeKind::other;
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

bool write_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool start_worker(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                  Worker& worker) {
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
    // The key line is far below a pipe's capacity: the write does not wait
    // for the worker to read it.
    const bool fed = spawned == 0 && write_all(in[1], input);
    close(in[1]);
    if (spawned != 0) {
        close(out[0]);
        return false;
    }
    worker.process = pid;
    worker.output = out[0];
    if (!fed) {
        std::string ignored;
        finish_worker(worker, ignored);
        return false;
    }
    return true;
}

int finish_worker(Worker& worker, std::string& output) {
    output.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(static_cast<int>(worker.output), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(static_cast<int>(worker.output));
    worker.output = -1;
    int status = 0;
    pid_t waited = 0;
    while ((waited = waitpid(static_cast<pid_t>(worker.process), &status, 0)) < 0 && errno == EINTR) {
    }
    worker.process = 0;
    if (waited < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace kestrav3::platform
