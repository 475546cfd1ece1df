#include "container/progress_steps.h"

#include "progress/progress.h"

namespace kestrav3 {

void ProgressSteps::open_window(bool wanted) { window_ = wanted && open_win_progress_bar() == 1; }

void ProgressSteps::block_done(long long i) {
    const auto percent = static_cast<int>((i + 1) * 100 / nblocks_);
    if (percent <= shown_) return;
    progress_bar(percent);
    ++shown_;
    if (window_) shmem_sender_gprg(percent);
}

void ProgressSteps::close_window() {
    if (window_) close_win_progress_bar();
    window_ = false;
}

}  // namespace kestrav3
