#include "progress/progress.h"

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "progress/progress_block.h"
#include "shared/options.h"

namespace kestrav3 {

int runlevel3 = 1;

void* hMapFile = nullptr;
unsigned char* pBuf = nullptr;
char szMsg[28] = {};
std::FILE* fp_windows_progress_bar = nullptr;

namespace {
// The open block and, on POSIX, its fresh per-run name; reset by shmem_sender_close.
platform::SharedBlock channel;
// True while the console line shows a value below 100.
bool line_open = false;
}  // namespace

void progress_bar(int percent) {
    if (runlevel == -1 || percent > 100 || runlevel3 == 0) return;
    // Enough backspaces to step over "progress: " plus the digits and '%'.
    const int backspaces = percent <= 9 ? 12 : percent <= 99 ? 13 : 14;
    for (int i = 0; i < backspaces; ++i) std::putchar('\b');
    std::printf("progress: %d%s", percent, "%");
    std::fflush(stdout);
    line_open = percent != 100;
    if (percent == 100) {
        std::putchar('\n');
        runlevel3 = 0;
    }
}

void reset_progress() {
    close_win_progress_bar();
    runlevel3 = 1;
    line_open = false;
    std::memset(szMsg, 0, sizeof szMsg);
}

void progress_line_end() {
    if (!line_open) return;
    std::putchar('\n');
    line_open = false;
}

int shmem_sender_open() {
    if (!platform::shared_block_open(progress_block::name, progress_block::size, &channel)) return -1;
    // POSIX has no separate mapping handle; the block itself stands for it.
    hMapFile = channel.handle != nullptr ? channel.handle : static_cast<void*>(&channel);
    pBuf = channel.view;
    return 0;
}

void shmem_sender_gprg(int percent) {
    std::snprintf(szMsg, sizeof szMsg, "%d\n", percent + 1);
    std::memcpy(pBuf, szMsg, std::strlen(szMsg));
}

void shmem_sender_close() {
    platform::shared_block_close(&channel);
    hMapFile = nullptr;
    pBuf = nullptr;
}

int open_win_progress_bar() {
    const std::string program = platform::progress_program_path();
    return program.empty() ? 0 : open_progress_window(program);
}

const char* progress_block_in_use() { return channel.name; }

int open_progress_window(const std::string& program) {
    if (shmem_sender_open() != 0) return 0;
    shmem_sender_gprg(0);
    fp_windows_progress_bar = platform::child_open(program, channel.name);
    if (fp_windows_progress_bar == nullptr) {
        shmem_sender_close();
        return 0;
    }
    return 1;
}

void close_win_progress_bar() {
    if (fp_windows_progress_bar != nullptr) platform::child_close(fp_windows_progress_bar);
    fp_windows_progress_bar = nullptr;
    shmem_sender_close();
}

}  // namespace kestrav3
