#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "system/program.h"

namespace kestrav3::cmd::system {

namespace {

bool has_wildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// Quotes one argument so that the C runtime's parsing gives it back as it is.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

// The names that pattern (a folder's path and a wildcard) matches, sorted,
// without "." and "..": the one folder listing of the program. False when
// the search cannot start.
bool find_names(const std::string& pattern, std::vector<std::string>& names) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return true;
}

}  // namespace

std::vector<std::string> expand_wildcards(const std::string& argument) {
    const std::size_t cut = argument.find_last_of("\\/:");
    const std::string folder = cut == std::string::npos ? "" : argument.substr(0, cut + 1);
    if (!has_wildcard(argument.substr(folder.size()))) return {argument};
    std::vector<std::string> names;
    if (!find_names(argument, names) || names.empty()) return {argument};
    for (auto& name : names) name.insert(0, folder);
    return names;
}

bool leads_to_folder(const std::string& path) {
    NodeId id;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           node_id(path, true, id);
}

bool node_id(const std::string& path, bool follow, NodeId& id) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    id = {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

bool folder_folds_case(const std::string&) { return true; }

NodeKind node_kind(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return NodeKind::missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return NodeKind::link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return NodeKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return NodeKind::other;
    return NodeKind::file;
}

bool list_folder(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    if (node_kind(folder) != NodeKind::folder) return false;
    return find_names(folder + "\\*", names) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

char path_separator() { return '\\'; }

std::string own_program() {
    char path[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return {};
    return std::string(path, n);
}

namespace {

HANDLE handle_of(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

void close_end(std::intptr_t& value) {
    if (value != -1) CloseHandle(handle_of(value));
    value = -1;
}

}  // namespace

namespace {

volatile std::sig_atomic_t received_stop = 0;

extern "C" void note_stop(int sig) {
    received_stop = sig;
    std::signal(sig, note_stop);
}

// Every worker is put into this job, which kills them when the program's
// last handle to it closes, that is when the program ends in any way.
HANDLE worker_job() {
    static HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        if (created == nullptr) return created;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}

}  // namespace

bool start_worker(const std::string& program, const std::vector<std::string>& args, Worker& worker) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in_read = nullptr, in_write = nullptr, out_read = nullptr, out_write = nullptr;
    if (!CreatePipe(&in_read, &in_write, &inherit, 0)) return false;
    if (!CreatePipe(&out_read, &out_write, &inherit, 0)) {
        CloseHandle(in_read);
        CloseHandle(in_write);
        return false;
    }
    // Only the worker's ends are inherited.
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    std::string command;
    for (const auto& arg : args) command += (command.empty() ? "" : " ") + quoted(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &startup, &started);
    CloseHandle(in_read);
    CloseHandle(out_write);
    if (!ok) {
        CloseHandle(in_write);
        CloseHandle(out_read);
        return false;
    }
    if (worker_job() != nullptr) AssignProcessToJobObject(worker_job(), started.hProcess);
    CloseHandle(started.hThread);
    worker.process = reinterpret_cast<std::intptr_t>(started.hProcess);
    worker.input = reinterpret_cast<std::intptr_t>(in_write);
    worker.output = reinterpret_cast<std::intptr_t>(out_read);
    return true;
}

bool feed_worker(Worker& worker, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && worker.input != -1) {
        DWORD written = 0;
        if (!WriteFile(handle_of(worker.input), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                       nullptr) ||
            written == 0)
            return false;
        done += written;
    }
    return done == bytes.size();
}

// Anonymous pipes cannot be waited on: each open output is looked at in
// turn, yielding the processor between rounds, then sleeping a millisecond
// once the workers have been busy a while.
int wait_for_workers(const std::vector<Worker*>& workers, bool wait) {
    for (unsigned round = 0;; ++round) {
        bool any_open = false;
        for (std::size_t i = 0; i < workers.size(); ++i) {
            if (workers[i]->output == -1) continue;
            any_open = true;
            DWORD waiting = 0;
            if (!PeekNamedPipe(handle_of(workers[i]->output), nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0)
                return static_cast<int>(i);
        }
        if (!any_open || !wait) return -1;
        Sleep(round < 64 ? 0 : 1);
    }
}

bool read_worker(Worker& worker, std::string& text) {
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(handle_of(worker.output), buffer, sizeof buffer, &n, nullptr) || n == 0) {
        close_end(worker.output);
        return false;
    }
    text.append(buffer, n);
    return true;
}

int finish_worker(Worker& worker) {
    close_end(worker.input);
    if (worker.output != -1) {
        std::string ignored;
        while (read_worker(worker, ignored)) ignored.clear();
    }
    HANDLE process = handle_of(worker.process);
    DWORD status = 0;
    const bool ended = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &status);
    CloseHandle(process);
    worker.process = 0;
    return ended ? static_cast<int>(status) : -1;
}

// A console's Ctrl-C reaches every process attached to it, the workers
// too: the program only remembers it.
void pass_stop_signals_to_workers() {
    std::signal(SIGINT, note_stop);
    std::signal(SIGTERM, note_stop);
    std::signal(SIGBREAK, note_stop);
}

int stop_signal() { return received_stop; }

void end_by_signal(int sig) { std::_Exit(128 + sig); }

// The job object of the program ends the worker with it.
void end_with_program() {}

bool program_still_there() { return true; }

}  // namespace kestrav3::cmd::system
