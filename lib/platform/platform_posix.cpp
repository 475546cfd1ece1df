// POSIX side of the platform seam.
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

namespace kestrav3::platform {

PathInfo path_info(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return {PathKind::missing, 0};
    if (!S_ISREG(st.st_mode)) return {PathKind::other, 0};
    return {PathKind::regular, static_cast<std::int64_t>(st.st_size)};
}

bool is_separator(char c) { return c == '/'; }

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
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void remove_and_end(int sig) {
    if (output_armed) unlink(interrupted_output);
    if (interrupted_block[0] != '\0') shm_unlink(interrupted_block);
    signal(sig, SIG_DFL);
    raise(sig);
}

void arm_handlers() {
    for (const int sig : cleanup_signals) {
        struct sigaction action {};
        action.sa_handler = remove_and_end;
        sigemptyset(&action.sa_mask);
        sigaction(sig, &action, nullptr);
    }
}

}  // namespace

// O_EXCL with O_CREAT fails on any existing name, a dangling link included;
// O_NOFOLLOW says the same once more. Permissions as a new file of fopen.
std::FILE* create_new(const char* path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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

void take_over_permissions(std::FILE* temporary, const char* name) {
    struct stat st {};
    // Read, write and execute bits only: set-id bits never pass to a new file.
    if (lstat(name, &st) == 0 && S_ISREG(st.st_mode)) fchmod(fileno(temporary), st.st_mode & 0777);
}

bool replace_name(const char* from, const char* to) { return std::rename(from, to) == 0; }

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

bool shared_block_open(const char* name, std::size_t size, SharedBlock* block) {
    // POSIX names start with a slash; the block is private to this user.
    char posix_name[sizeof block->name];
    if (std::snprintf(posix_name, sizeof posix_name, "/%s", name) >= static_cast<int>(sizeof posix_name)) return false;
    // Armed before the block exists: a run ended by a signal must not leave
    // it behind, whenever the signal comes.
    std::snprintf(interrupted_block, sizeof interrupted_block, "%s", posix_name);
    arm_handlers();
    int fd = shm_open(posix_name, O_CREAT | O_RDWR, 0600);
    if (fd < 0) {
        interrupted_block[0] = '\0';
        return false;
    }
    struct stat st {};
    bool sized = fstat(fd, &st) == 0 &&
                 (static_cast<std::size_t>(st.st_size) >= size || ftruncate(fd, static_cast<off_t>(size)) == 0);
    void* view = sized ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (view == MAP_FAILED) {
        shm_unlink(posix_name);
        interrupted_block[0] = '\0';
        return false;
    }
    block->view = static_cast<unsigned char*>(view);
    block->size = size;
    std::snprintf(block->name, sizeof block->name, "%s", posix_name);
    return true;
}

void shared_block_close(SharedBlock* block) {
    if (block->view != nullptr) munmap(block->view, block->size);
    interrupted_block[0] = '\0';
    if (block->name[0] != '\0') shm_unlink(block->name);
    *block = SharedBlock{};
}

namespace {

constexpr char progress_program_name[] = "Kestrav_progress_bar.exe";

// The folder of the file this code was loaded from: the library's, or the
// program's when the code is linked into it. Empty when unknown.
std::string own_folder() {
    static const char marker = 0;
    Dl_info info{};
    if (dladdr(&marker, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0') return {};
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// One word for the shell, whatever the path holds.
std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string progress_program_command() {
    if (path_info(progress_program_name).kind != PathKind::missing) return std::string("./") + progress_program_name;
    const std::string folder = own_folder();
    if (folder.empty()) return {};
    // Where the install puts the program, relative to the library's folder.
    const std::string installed = folder + "/" KESTRAV3_WINDOW_FROM_LIBRARY "/" + progress_program_name;
    if (path_info(installed.c_str()).kind != PathKind::regular || access(installed.c_str(), X_OK) != 0) return {};
    return shell_quoted(installed);
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

std::FILE* child_open(const char* command) {
    std::fflush(stdout);  // the child must not inherit unwritten console text
    return popen(command, "r");
}

int child_close(std::FILE* pipe) { return pclose(pipe); }

}  // namespace kestrav3::platform
