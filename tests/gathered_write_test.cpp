// Gathering writes: every piece reaches the file once, in order, however
// the system splits the calls, and a refusal is reported after exactly the
// bytes the system took.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include "cli_support.h"
#include "platform/platform.h"

namespace kestrav3::testing {
namespace {

using platform::WritePiece;

// Pieces of assorted sizes cut from one pattern: empty ones, single bytes,
// the sizes a batch holds, and one larger than any buffer a platform
// gathers them in; more pieces than one call hands over.
struct CutPattern {
    std::string bytes;
    std::vector<WritePiece> pieces;

    CutPattern() {
        std::vector<std::size_t> sizes;
        for (int round = 0; round < 30; ++round)
            for (const std::size_t size : {std::size_t{40}, std::size_t{0}, std::size_t{4096}, std::size_t{1},
                                           std::size_t{7}, std::size_t{1000}, std::size_t{0}})
                sizes.push_back(size);
        sizes.push_back(300 * 1024);
        sizes.push_back(0);
        std::size_t total = 0;
        for (const std::size_t size : sizes) total += size;
        bytes = pattern_bytes(total, 7);
        std::size_t at = 0;
        for (const std::size_t size : sizes) {
            pieces.push_back({bytes.data() + at, size});
            at += size;
        }
    }
};

std::FILE* unbuffered_output(const fs::path& path) {
    std::FILE* out = std::fopen(path.string().c_str(), "wb");
    if (out != nullptr) std::setvbuf(out, nullptr, _IONBF, 0);
    return out;
}

TEST(GatheredWrite, EveryPieceReachesTheFileInOrder) {
    TempDir dir;
    const CutPattern cut;
    std::FILE* out = unbuffered_output(dir / "out.bin");
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(platform::write_gathered(out, cut.pieces.data(), cut.pieces.size()));
    // A second call appends; nothing is held back between calls.
    EXPECT_TRUE(platform::write_gathered(out, cut.pieces.data() + 2, 3));
    std::fclose(out);
    EXPECT_TRUE(read_file(dir / "out.bin") == cut.bytes + cut.bytes.substr(40, 4104));
}

#if !defined(_WIN32)
// POSIX only: pipes of one page, interval timers and file-size limits.

// The pipe's read end, drained into received by every second signal of the
// timer: a call interrupted by the other signals finds the pipe still full,
// writes nothing and fails with EINTR. Once expected bytes have come, the
// read end is closed, so that a writer repeating bytes fails instead of
// writing forever.
int drained_fd = -1;
char received[1 << 20];
volatile std::size_t received_size = 0;
std::size_t expected_size = 0;
volatile int ticks = 0;

void drain_pipe() {
    while (drained_fd >= 0 && received_size < sizeof received) {
        const ssize_t got = read(drained_fd, received + received_size, sizeof received - received_size);
        if (got <= 0) break;
        received_size = received_size + static_cast<std::size_t>(got);
    }
    if (drained_fd >= 0 && received_size >= expected_size) {
        close(drained_fd);
        drained_fd = -1;
    }
}

extern "C" void on_tick(int) {
    ticks = ticks + 1;
    if (ticks % 2 == 0) drain_pipe();
}

// A write into a full pipe blocks until a signal interrupts it; the call
// then returns the part it wrote, or fails with EINTR when it wrote
// nothing, and the rest must follow from exactly the next byte on.
TEST(GatheredWrite, CallsInterruptedPartWayAreContinued) {
    const CutPattern cut;
    ASSERT_LT(cut.bytes.size(), sizeof received);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
#if defined(F_SETPIPE_SZ)
    fcntl(ends[1], F_SETPIPE_SZ, 4096);
#endif
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    drained_fd = ends[0];
    received_size = 0;
    expected_size = cut.bytes.size();
    std::FILE* out = fdopen(ends[1], "wb");
    ASSERT_NE(out, nullptr);
    std::setvbuf(out, nullptr, _IONBF, 0);

    // No SA_RESTART: an interrupted call returns to the writer.
    struct sigaction action {
    }, previous{};
    action.sa_handler = on_tick;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previous);
    const auto old_pipe_handler = signal(SIGPIPE, SIG_IGN);
    itimerval every_millisecond{{0, 1000}, {0, 1000}}, stop{};
    setitimer(ITIMER_REAL, &every_millisecond, nullptr);
    const bool written = platform::write_gathered(out, cut.pieces.data(), cut.pieces.size());
    setitimer(ITIMER_REAL, &stop, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    const std::size_t drained_by_signals = received_size;
    drain_pipe();
    if (drained_fd >= 0) close(drained_fd);  // fewer bytes came than were given
    drained_fd = -1;
    std::fclose(out);
    signal(SIGPIPE, old_pipe_handler);

    EXPECT_TRUE(written);
    // Only the signals drain the pipe, so nearly everything passed through
    // calls they interrupted.
    EXPECT_GT(drained_by_signals, cut.bytes.size() / 2);
    ASSERT_EQ(received_size, cut.bytes.size());
    EXPECT_TRUE(std::string(received, received_size) == cut.bytes);
}

// A file that takes no more bytes holds exactly what fitted, and the
// refusal is reported.
TEST(GatheredWrite, ARefusalIsReportedAfterExactlyTheBytesThatFitted) {
    TempDir dir;
    const CutPattern cut;
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto old_handler = signal(SIGXFSZ, SIG_IGN);
    for (const std::size_t limit : {std::size_t{1}, std::size_t{4136}, std::size_t{50000}, cut.bytes.size() - 1}) {
        std::FILE* out = unbuffered_output(dir / "out.bin");
        ASSERT_NE(out, nullptr);
        rlimit capped = previous;
        capped.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &capped);
        const bool written = platform::write_gathered(out, cut.pieces.data(), cut.pieces.size());
        setrlimit(RLIMIT_FSIZE, &previous);
        std::fclose(out);
        EXPECT_FALSE(written) << limit;
        EXPECT_TRUE(read_file(dir / "out.bin") == cut.bytes.substr(0, limit)) << limit;
    }
    signal(SIGXFSZ, old_handler);
}
#endif

// The paced writeback of a file written in groups that are no whole number
// of pages: it starts only on whole pages, waits only for what it started,
// never runs ahead of the writes, and on Linux gets past the first windows;
// the file is written whole either way.
TEST(GatheredWrite, WritebackFollowsTheWritesOnWholePages) {
    TempDir dir;
    const fs::path path = dir / "paced.bin";
    std::FILE* out = unbuffered_output(path);
    ASSERT_NE(out, nullptr);
    const std::string group = pattern_bytes(2 * (40 + 4096), 3);
    platform::WritebackPace pace;
    std::int64_t written = 0;
    constexpr int groups = 7000;  // about 55 MiB: more than three windows
    for (int k = 0; k < groups; ++k) {
        const WritePiece piece{group.data(), group.size()};
        ASSERT_TRUE(platform::write_gathered(out, &piece, 1));
        written += static_cast<std::int64_t>(group.size());
        platform::pace_writeback(out, pace);
        ASSERT_EQ(pace.started % 4096, 0);
        ASSERT_LE(pace.settled, pace.previous);
        ASSERT_LE(pace.previous, pace.started);
        ASSERT_LE(pace.started, written);
    }
#if defined(__linux__)
    EXPECT_GT(pace.settled, 0);
    EXPECT_GT(pace.started, written - (std::int64_t{17} << 20));
#endif
    ASSERT_TRUE(platform::flush_file(out));
    ASSERT_EQ(std::fclose(out), 0);
    const std::string bytes = read_file(path);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(written));
    for (int k = 0; k < groups; k += 997)
        EXPECT_EQ(bytes.compare(static_cast<std::size_t>(k) * group.size(), group.size(), group), 0) << k;
}

}  // namespace
}  // namespace kestrav3::testing
