// The calls the program starts and feeds its -j workers with, tried on the
// program itself as the worker: the key and the paths go in as records
// ended by a NUL byte, and each file's answer comes back as one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_support.h"
#include "system/program.h"

namespace kestrav3::testing {
namespace {

// Reads from the worker until a whole answer has come.
std::string next_answer(cmd::system::Worker& worker) {
    std::vector<cmd::system::Worker*> all{&worker};
    std::string answer;
    while (answer.find('\0') == std::string::npos) {
        if (cmd::system::wait_for_workers(all, true) != 0 || !cmd::system::read_worker(worker, answer)) break;
    }
    return answer;
}

TEST(Workers, AWorkerAnswersEachFileAsItIsFedAndEndsWithItsInput) {
    TempDir dir;
    write_file(dir / "a.bin", pattern_bytes(5000, 1));
    write_file(dir / "key", "abcd-key\n");
    ASSERT_EQ(run_cli({"-c", "-q", "-k", "key", "a.bin"}, dir.path()).status, 0);

    cmd::system::Worker worker;
    ASSERT_TRUE(cmd::system::start_worker(KESTRAV3_CLI, {"kestrav3", "-t", "--worker"}, worker));
    std::vector<cmd::system::Worker*> all{&worker};
    ASSERT_TRUE(cmd::system::feed_worker(worker, std::string("abcd-key\0", 9)));
    // Given only the key, it has nothing to say, and waiting is not forced.
    EXPECT_EQ(cmd::system::wait_for_workers(all, false), -1);

    ASSERT_TRUE(cmd::system::feed_worker(worker, "0 0 " + (dir / "a.bin.archi").string() + '\0'));
    std::string answer = next_answer(worker);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[0], 'd') << answer;
    EXPECT_NE(answer.find("intact"), std::string::npos) << answer;
    EXPECT_EQ(answer.back(), '\0');

    ASSERT_TRUE(cmd::system::feed_worker(worker, "0 0 " + (dir / "missing.archi").string() + '\0'));
    answer = next_answer(worker);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[0], 'F') << answer;
    EXPECT_NE(answer.find("failed"), std::string::npos) << answer;

    // Its input closed, it ends well.
    EXPECT_EQ(cmd::system::finish_worker(worker), 0);
    EXPECT_EQ(worker.process, 0);
}

TEST(Workers, AWorkerThatEndsIsReadyAndReadsAsTheEnd) {
    // A worker given a file on its command line refuses it and ends at once.
    cmd::system::Worker worker;
    ASSERT_TRUE(cmd::system::start_worker(KESTRAV3_CLI, {"kestrav3", "-t", "--worker", "some.archi"}, worker));
    std::vector<cmd::system::Worker*> all{&worker};
    ASSERT_EQ(cmd::system::wait_for_workers(all, true), 0);
    std::string text;
    EXPECT_FALSE(cmd::system::read_worker(worker, text));
    EXPECT_TRUE(text.empty());
    // With its output closed there is nothing left to wait for.
    EXPECT_EQ(cmd::system::wait_for_workers(all, true), -1);
    EXPECT_EQ(cmd::system::finish_worker(worker), 2);
}

}  // namespace
}  // namespace kestrav3::testing
