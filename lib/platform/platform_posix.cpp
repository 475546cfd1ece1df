// POSIX side of the platform seam.
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

#include <cstring>

namespace kestrav3::platform {

PathInfo path_info(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return {PathKind::missing, 0};
    if (!S_ISREG(st.st_mode)) return {PathKind::other, 0};
    return {PathKind::regular, static_cast<std::int64_t>(st.st_size)};
}

FileStamp file_stamp(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return {};
    FileStamp stamp;
    stamp.known = true;
    stamp.size = static_cast<std::int64_t>(st.st_size);
    stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.identity = static_cast<std::uint64_t>(st.st_ino);
    return stamp;
}

std::string last_error_text() { return std::strerror(errno); }

void clear_last_error() { errno = 0; }

bool same_entry_name(std::string_view a, std::string_view b) { return a == b; }

bool is_separator(char c) { return c == '/'; }

bool output_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

bool holdable_name(std::string_view name) { return name.find('/') == std::string_view::npos; }

std::uint32_t cp1250_code_point(unsigned char byte) {
    if (byte < 0x80) return byte;
    const iconv_t cd = iconv_open("UTF-32LE", "CP1250");
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    char in = static_cast<char>(byte);
    unsigned char out[4] = {};
    char* in_p = &in;
    char* out_p = reinterpret_cast<char*>(out);
    std::size_t in_left = 1, out_left = sizeof out;
    const bool converted = iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!converted || out_left != 0) return 0;
    const std::uint32_t point = out[0] | out[1] << 8 | out[2] << 16 | static_cast<std::uint32_t>(out[3]) << 24;
    // Windows-1250 has no C1 control characters.
    return point >= 0x80 && point <= 0x9F ? 0 : point;
}

bool same_file(const char* a, const char* b) {
    struct stat sa {};
    struct stat sb {};
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

EntryKind entry_kind(const char* path) {
    struct stat st {};
    if (lstat(path, &st) != 0) return EntryKind::missing;
    if (S_ISLNK(st.st_mode)) return EntryKind::link;
    if (S_ISDIR(st.st_mode)) return EntryKind::directory;
    return EntryKind::file;
}

bool only_name_of(const char* name, const char* file) {
    struct stat sn {};
    struct stat sf {};
    if (lstat(name, &sn) != 0 || S_ISLNK(sn.st_mode) || stat(file, &sf) != 0) return false;
    return sn.st_dev == sf.st_dev && sn.st_ino == sf.st_ino && sn.st_nlink == 1;
}

bool remove_entry(const char* path) { return unlink(path) == 0; }

namespace {

// Filled before the handlers are armed, read only by them.
char interrupted_output[4096];
char interrupted_block[64];
volatile sig_atomic_t output_armed = 0;
// Every signal whose default action ends the process and that a user, a
// timer or a limit (SIGXCPU from ulimit -t) may send.
constexpr int cleanup_signals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1,
                                   SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

extern "C" void remove_and_end(int sig) {
    if (output_armed) unlink(interrupted_output);
    if (interrupted_block[0] != '\0') shm_unlink(interrupted_block);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Only a signal left to its default action, which would end the process
// with the hidden file in place, is taken over. One that the process using
// the library handles or ignores (a test harness's timer, a profiler's
// SIGPROF, a program's own SIGINT) stays as it is: replacing its handler
// would end that process.
void arm_handlers() {
    for (const int sig : cleanup_signals) {
        struct sigaction current {};
        if (sigaction(sig, nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
        struct sigaction action {};
        action.sa_handler = remove_and_end;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

}  // namespace

// O_EXCL with O_CREAT fails on any existing name, a dangling link included;
// O_NOFOLLOW says the same once more. Only the owner may read the file
// while it is written: it may hold a plain text.
std::FILE* create_new(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(path);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

std::FILE* create_temporary(const char* path) {
    output_armed = 0;
    if (std::snprintf(interrupted_output, sizeof interrupted_output, "%s", path) >=
        static_cast<int>(sizeof interrupted_output))
        return nullptr;
    arm_handlers();
    // A signal that comes while the file is created waits until it is
    // armed, and then removes it.
    sigset_t held{}, previous{};
    sigemptyset(&held);
    for (const int sig : cleanup_signals) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &previous);
    std::FILE* file = create_new(path);
    if (file != nullptr) output_armed = 1;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return file;
}

void keep_on_interrupt() { output_armed = 0; }

namespace {

// Copies the extended attributes of from (the access control list is one)
// onto fd. Each is tried on its own: one the process may not write (a
// trusted or security attribute for a plain user) does not stop the rest.
// File capabilities stay behind, as set-id bits do: they were given to the
// old contents, not to the new.
void copy_attributes(const char* from, int fd) {
#if defined(__linux__)
    const ssize_t list_size = llistxattr(from, nullptr, 0);
    if (list_size <= 0) return;
    std::vector<char> names(static_cast<std::size_t>(list_size));
    const ssize_t got = llistxattr(from, names.data(), names.size());
    if (got <= 0) return;
    std::vector<char> value;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got); at += std::strlen(&names[at]) + 1) {
        const char* name = &names[at];
        if (std::strcmp(name, "security.capability") == 0) continue;
        const ssize_t n = lgetxattr(from, name, nullptr, 0);
        if (n < 0) continue;
        value.resize(static_cast<std::size_t>(n));
        const ssize_t read = lgetxattr(from, name, value.data(), value.size());
        if (read >= 0) fsetxattr(fd, name, value.data(), static_cast<std::size_t>(read), 0);
    }
#else
    (void)from;
    (void)fd;
#endif
}

// The owner and group of st; a plain user may keep neither, or only a
// group it belongs to.
void copy_owner(const struct stat& st, int fd) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) return;
}

}  // namespace

bool take_over_metadata(std::FILE* file, const char* from, Takeover what) {
    struct stat st {};
    if (lstat(from, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = fileno(file);
    // Owner first: changing it may clear mode bits that are set after it.
    if (what.owner) copy_owner(st, fd);
    // Read, write and execute bits only: set-id bits never pass to a new file.
    if (what.mode) fchmod(fd, st.st_mode & 0777);
    // An access control list after the mode: it sets the group bits to its mask.
    if (what.attributes) copy_attributes(from, fd);
    if (what.times) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(fd, times);
    }
    return true;
}

namespace {

// Large enough that each start hands the device requests of the largest
// size and costs the coder little; small enough that the tail left for the
// final flush takes a few milliseconds.
constexpr std::int64_t writeback_window = std::int64_t{16} << 20;

}  // namespace

void pace_writeback(std::FILE* out, WritebackPace& pace) {
#if defined(__linux__)
    static const std::int64_t page = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
    const int fd = fileno(out);
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end < 0) return;
    // Whole pages only: a page the next write still fills would be written twice.
    const std::int64_t whole = static_cast<std::int64_t>(end) / page * page;
    if (whole - pace.started < writeback_window) return;
    sync_file_range(fd, pace.started, whole - pace.started, SYNC_FILE_RANGE_WRITE);
    if (pace.previous > pace.settled) {
        // Long written by now, unless the device is slower than the coder:
        // then this holds the coder back, instead of the dirty pages piling up.
        sync_file_range(fd, pace.settled, pace.previous - pace.settled,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        pace.settled = pace.previous;
    }
    pace.previous = pace.started;
    pace.started = whole;
#else
    (void)out;
    (void)pace;
#endif
}

bool extend_with_zeros(std::FILE* file, std::int64_t size) {
    return std::fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool flush_file(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    int result = 0;
    while ((result = fsync(fileno(file))) != 0 && errno == EINTR) {
    }
    return result == 0;
}

bool flush_folder_of(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const std::string folder = slash == nullptr ? std::string(".")
                               : slash == path  ? std::string("/")
                                                : std::string(path, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int result = 0;
    while ((result = fsync(fd)) != 0 && errno == EINTR) {
    }
    close(fd);
    // Some file systems cannot flush a folder; their names are as durable
    // as they get.
    return result == 0 || errno == EINVAL || errno == ENOTSUP;
}

bool replace_name(const char* from, const char* to) { return std::rename(from, to) == 0; }

NewName rename_to_new(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return NewName::renamed;
    if (errno == EEXIST) return NewName::taken;
    // File systems without the flag: a second name for the file, which
    // fails on a taken name, then the hidden one removed.
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return NewName::failed;
#endif
    if (link(from, to) != 0) return errno == EEXIST ? NewName::taken : NewName::failed;
    unlink(from);
    return NewName::renamed;
}

bool seek_to(std::FILE* file, std::int64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

std::vector<std::string> folder_names(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
}

std::FILE* open_input_as_walked(const char* path, std::uint64_t device, std::uint64_t identity, bool& swapped) {
    swapped = false;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        swapped = errno == ELOOP;
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != device ||
        static_cast<std::uint64_t>(st.st_ino) != identity || fcntl(fd, F_SETFL, 0) != 0) {
        swapped = true;
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) close(fd);
    return file;
}

std::FILE* open_append_no_link(const char* path) {
    // Without blocking, so a FIFO under the name cannot hold the run; only
    // a regular file is written to.
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, O_APPEND) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "a");
    if (file == nullptr) close(fd);
    return file;
}

std::FILE* open_companion(const char* path, CompanionRefusal& refusal) {
    refusal = CompanionRefusal::missing;
    struct stat entry {};
    struct stat target {};
    if (lstat(path, &entry) != 0 || stat(path, &target) != 0) return nullptr;
    if (!S_ISREG(target.st_mode)) {
        refusal = CompanionRefusal::not_regular;
        return nullptr;
    }
    if (S_ISLNK(entry.st_mode) && entry.st_uid != target.st_uid) {
        refusal = CompanionRefusal::foreign_link;
        return nullptr;
    }
    // Without blocking: what is opened may have been swapped for a FIFO
    // since the look above. It must be the very file that was looked at.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != target.st_dev ||
        opened.st_ino != target.st_ino || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        refusal = CompanionRefusal::not_regular;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "r");
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    refusal = CompanionRefusal::none;
    return file;
}

bool realtime_clock(std::int64_t* seconds, long* nanoseconds) {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) < 0) return false;
    *seconds = static_cast<std::int64_t>(ts.tv_sec);
    *nanoseconds = ts.tv_nsec;
    return true;
}

bool c_library_is_glibc() {
#if defined(__GLIBC__)
    return true;
#else
    return false;
#endif
}

namespace {

// A name no other run holds: the prefix, the process id and six random
// letters or digits.
std::string fresh_block_name(const char* prefix, int attempt) {
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    realtime_clock(&seconds, &nanoseconds);
    std::uint64_t x = static_cast<std::uint64_t>(nanoseconds) ^ (static_cast<std::uint64_t>(seconds) << 30) ^
                      (static_cast<std::uint64_t>(attempt) * 0x9E3779B97F4A7C15ULL);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    x ^= x >> 31;
    constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = std::string("/") + prefix + "." + std::to_string(getpid()) + ".";
    for (int i = 0; i < 6; ++i, x /= 36) name += alphabet[x % 36];
    return name;
}

constexpr int block_attempts = 16;

}  // namespace

bool shared_block_open(const char* name, std::size_t size, SharedBlock* block) {
    int fd = -1;
    for (int attempt = 0; attempt < block_attempts && fd < 0; ++attempt) {
        const std::string posix_name = fresh_block_name(name, attempt);
        if (posix_name.size() >= sizeof interrupted_block) return false;
        // Armed before the block exists: a run ended by a signal must not
        // leave it behind, whenever the signal comes. A name another process
        // holds is never armed: O_EXCL fails on it, and the arming is undone.
        std::snprintf(interrupted_block, sizeof interrupted_block, "%s", posix_name.c_str());
        arm_handlers();
        fd = shm_open(posix_name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
        if (fd < 0) interrupted_block[0] = '\0';
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    void* view = ftruncate(fd, static_cast<off_t>(size)) == 0
                     ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                     : MAP_FAILED;
    close(fd);
    if (view == MAP_FAILED) {
        shm_unlink(interrupted_block);
        interrupted_block[0] = '\0';
        return false;
    }
    block->view = static_cast<unsigned char*>(view);
    block->size = size;
    // The window program is given the name without the leading slash.
    std::snprintf(block->name, sizeof block->name, "%s", interrupted_block + 1);
    return true;
}

void shared_block_close(SharedBlock* block) {
    if (block->view != nullptr) munmap(block->view, block->size);
    if (block->name[0] != '\0') shm_unlink((std::string("/") + block->name).c_str());
    interrupted_block[0] = '\0';
    *block = SharedBlock{};
}

namespace {

constexpr char progress_program_name[] = "Kestrav_progress_bar.exe";

// The folder of the file this code was loaded from: the library's, or the
// program's when the code is linked into it. Empty when unknown.
std::string own_folder() {
    static const char marker = 0;
    Dl_info info{};
    if (dladdr(&marker, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] != '/') return {};
    const std::string path = info.dli_fname;
    return path.substr(0, path.rfind('/'));
}

bool runnable(const std::string& path) {
    return path_info(path.c_str()).kind == PathKind::regular && access(path.c_str(), X_OK) == 0;
}

// The pipe's child, while one runs.
pid_t child_pid = -1;

}  // namespace

std::string progress_program_path() {
    // The window program draws on an X display; without one it would only
    // read the channel.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == '\0') return {};
    const std::string folder = own_folder();
    if (folder.empty()) return {};
    // Beside the library in the build tree; where the install puts it,
    // relative to the library's folder, otherwise.
    for (const std::string& candidate :
         {folder + "/" + progress_program_name, folder + "/" KESTRAV3_WINDOW_FROM_LIBRARY "/" + progress_program_name})
        if (runnable(candidate)) return candidate;
    return {};
}
namespace {

// Pieces not yet written: the first one from offset on, then the rest whole.
struct PendingPieces {
    const WritePiece* pieces;
    std::size_t count;
    std::size_t offset;

    // Moves past n written bytes, and past pieces with nothing left in them.
    void advance(std::size_t n) {
        offset += n;
        while (count > 0 && offset >= pieces->size) {
            offset -= pieces->size;
            ++pieces;
            --count;
        }
    }
};

// Pieces handed over per call; well below any system's IOV_MAX.
constexpr std::size_t pieces_per_call = 64;

}  // namespace

bool write_gathered(std::FILE* out, const WritePiece* pieces, std::size_t count) {
    const int fd = fileno(out);
    PendingPieces pending{pieces, count, 0};
    pending.advance(0);
    while (pending.count > 0) {
        iovec vectors[pieces_per_call];
        const std::size_t n = pending.count < pieces_per_call ? pending.count : pieces_per_call;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t skip = i == 0 ? pending.offset : 0;
            const auto* bytes = static_cast<const unsigned char*>(pending.pieces[i].data);
            vectors[i].iov_base = const_cast<unsigned char*>(bytes + skip);
            vectors[i].iov_len = pending.pieces[i].size - skip;
        }
        const ssize_t done = ::writev(fd, vectors, static_cast<int>(n));
        if (done < 0 && errno == EINTR) continue;
        // A file that takes no more bytes (full disk, size limit) fails on
        // the next call, after the part that fitted has been written.
        if (done <= 0) return false;
        pending.advance(static_cast<std::size_t>(done));
    }
    return true;
}

std::FILE* child_open(const std::string& program, const char* argument) {
    std::fflush(stdout);  // the child must not inherit unwritten console text
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument), nullptr};
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    std::FILE* pipe = failed == 0 ? fdopen(ends[0], "r") : nullptr;
    if (pipe == nullptr) {
        close(ends[0]);
        if (failed == 0) waitpid(pid, nullptr, 0);
        return nullptr;
    }
    child_pid = pid;
    return pipe;
}

int child_close(std::FILE* pipe) {
    std::fclose(pipe);
    int status = 0;
    if (child_pid > 0)
        while (waitpid(child_pid, &status, 0) < 0 && errno == EINTR) {
        }
    child_pid = -1;
    return status;
}

}  // namespace kestrav3::platform

namespace kestrav3::platform {

namespace {

bool flush_descriptor(const char* path, int flags) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) return false;
    const bool flushed = fsync(fd) == 0;
    return close(fd) == 0 && flushed;
}

}  // namespace

bool flush_to_device(const char* path) {
    if (!flush_descriptor(path, O_NOFOLLOW)) return false;
    std::string folder(path);
    const std::size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    return flush_descriptor(folder.c_str(), O_DIRECTORY);
}

}  // namespace kestrav3::platform
