// What the program asks the system for its many-file form: wildcards in
// arguments, folders walked without following links, which file or folder a
// path is and how a folder compares names, the environment, and worker
// processes for -j with the stop signals passed on to them. Part of the
// program's seam for the system (program_posix.cpp, program_win32.cpp).
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace kestrav3::cmd::system {

// The names an argument stands for. On Windows, whose shells leave
// wildcards to the program, an argument with * or ? in its last part gives
// the matching names in that folder, sorted ("." and ".." never), or
// itself when nothing matches. Elsewhere the shell has expanded them: the
// argument itself.
std::vector<std::string> expand_wildcards(const std::string& argument);

// What a name itself is; a link is never followed.
enum class NodeKind { missing, link, folder, file, other };
NodeKind node_kind(const std::string& path);
// True when path is a folder, or a link to one.
bool leads_to_folder(const std::string& path);

// Which file or folder a path is: the device and inode (POSIX), or the
// volume serial and file index (Windows). A link is followed only when
// follow is set. False when the path cannot be looked at.
struct NodeId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const NodeId& o) const { return device == o.device && inode == o.inode; }
    bool operator<(const NodeId& o) const { return device != o.device ? device < o.device : inode < o.inode; }
};
bool node_id(const std::string& path, bool follow, NodeId& id);

// True when the folder compares the names in it blind to case: always on
// Windows; elsewhere a case-folding folder (ext4 and f2fs casefold) or a
// file system that folds case (FAT, exFAT, NTFS, SMB).
bool folder_folds_case(const std::string& folder);

// The names in a folder, sorted, without "." and "..". False when the
// folder cannot be read.
bool list_folder(const std::string& folder, std::vector<std::string>& names);

// The separator the program puts between a folder and a name.
char path_separator();

// The value of the environment variable name; false when it is not set.
// The C library's call is the same on every system.
inline bool environment_value(const char* name, std::string& value) {
    const char* text = std::getenv(name);
    if (text == nullptr) return false;
    value = text;
    return true;
}

// The path this program was started from, to start workers of itself.
std::string own_program();

// A worker process: the program started again with other arguments, fed
// through its standard input and read through its standard output, both
// pipes of ours, for as long as it has work.
struct Worker {
    std::intptr_t process = 0;
    std::intptr_t input = -1;
    std::intptr_t output = -1;
};

// Starts program with args (args[0] is the program's name for itself).
// Standard error is ours.
bool start_worker(const std::string& program, const std::vector<std::string>& args, Worker& worker);

// Writes bytes to the worker's standard input; false when it is gone.
bool feed_worker(Worker& worker, std::string_view bytes);

// The index of one of the workers whose output is open and has output to
// read, or has closed it. With wait, waits for one; -1 when none is ready
// (without wait) or no output is open.
int wait_for_workers(const std::vector<Worker*>& workers, bool wait);

// Appends what the worker's output holds now (waiting for it when there is
// nothing yet); false at the output's end or on an error.
bool read_worker(Worker& worker, std::string& text);

// Closes the worker's input, so that it ends, reads and drops the rest of
// its output and waits for it: its exit status (128 + the signal after a
// signal), or -1 when it could not be had.
int finish_worker(Worker& worker);

// From now on SIGINT and SIGTERM (Windows: Ctrl-C and Ctrl-Break) no longer
// end the program: each is passed on to every worker that is running and
// remembered, so that the program can stop handing out files, wait for its
// workers and say what was done.
void pass_stop_signals_to_workers();
// The stop signal received since, or 0.
int stop_signal();
// Ends the program as the signal would have (status 128 + sig on Windows).
[[noreturn]] void end_by_signal(int sig);

// In a worker: it is ended when the program that started it goes (Linux:
// a parent-death signal; Windows: the program's job object does it).
void end_with_program();
// In a worker: false once the program that started it has gone.
bool program_still_there();

}  // namespace kestrav3::cmd::system
