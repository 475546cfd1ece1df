// POSIX side of the platform seam.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
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

bool same_file(const char* a, const char* b) {
    struct stat sa {}, sb {};
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

// Filled before the handlers are armed, read only by them.
char interrupted_output[4096];
char interrupted_block[64];
volatile sig_atomic_t output_armed = 0;
constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

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

void remove_on_interrupt(const char* path) {
    output_armed = 0;
    if (std::snprintf(interrupted_output, sizeof interrupted_output, "%s", path) >=
        static_cast<int>(sizeof interrupted_output))
        return;
    output_armed = 1;
    arm_handlers();
}

void keep_on_interrupt() { output_armed = 0; }

bool realtime_clock(std::int64_t* seconds, long* nanoseconds) {
    timespec ts {};
    if (clock_gettime(CLOCK_REALTIME, &ts) < 0) return false;
    *seconds = static_cast<std::int64_t>(ts.tv_sec);
    *nanoseconds = ts.tv_nsec;
    return true;
}

bool shared_block_open(const char* name, std::size_t size, SharedBlock* block) {
    // POSIX names start with a slash; the block is private to this user.
    char posix_name[sizeof block->name];
    if (std::snprintf(posix_name, sizeof posix_name, "/%s", name) >= static_cast<int>(sizeof posix_name))
        return false;
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

const char* const progress_program_file = "Kestrav_progress_bar.exe";
const char* const progress_program_command = "./Kestrav_progress_bar.exe";

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
