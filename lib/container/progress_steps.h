// Percent steps of a block loop, for the console line and the window.
#pragma once

namespace kestrav3 {

// Percent steps of the block loop, reported to the console line and, when
// the window runs, to the progress channel.
class ProgressSteps {
public:
    explicit ProgressSteps(long long nblocks) : nblocks_(nblocks) {}
    // Starts the window program when the graphical form asked for it.
    void open_window(bool wanted);
    // Reports block index i as done, when its percentage is a new step.
    void block_done(long long i);
    void close_window();
    ~ProgressSteps() { close_window(); }

private:
    long long nblocks_;
    int shown_ = 1;
    bool window_ = false;
};

}  // namespace kestrav3
