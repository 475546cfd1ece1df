// Every run in one process starts from the same state: the same export
// called twice prints the same summary, progress and message lines, and a
// run after a quiet one or a failed one still shows its progress line.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "cli_support.h"
#include "kestrav3lib.h"

namespace kestrav3::testing {
namespace {

struct Captured {
    int result;
    std::string out;
};

Captured captured(const std::function<int()>& call) {
    ::testing::internal::CaptureStdout();
    const int result = call();
    return {result, ::testing::internal::GetCapturedStdout()};
}

constexpr const char* key = "same key";

// Five full blocks and a rest: every block moves the progress line.
class RunsTest : public ::testing::Test {
protected:
    void SetUp() override { write_file(plain, pattern_bytes(5 * 4096 + 100, 21)); }
    Captured code() {
        return captured([&] { return kestrav3code(plain.string().c_str(), key, 1); });
    }

    TempDir dir;
    fs::path plain = dir / "same.bin";
    fs::path coded = dir / "same.bin.archi";
};

constexpr const char* progress_end = "progress: 100%\n";

TEST_F(RunsTest, CodingTwicePrintsTheSameLines) {
    const Captured first = code();
    const Captured second = code();
    ASSERT_EQ(first.result, 0) << first.out;
    ASSERT_EQ(second.result, 0) << second.out;
    EXPECT_NE(first.out.find("Start coder:"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find(progress_end), std::string::npos) << first.out;
    EXPECT_EQ(second.out, first.out);
}

TEST_F(RunsTest, RestoringAndTestingTwicePrintTheSameLines) {
    ASSERT_EQ(code().result, 0);
    const std::string original = read_file(plain);
    fs::remove(plain);
    const auto restore = [&] { return kestrav3decode(coded.string().c_str(), key, 1); };
    const Captured first = captured(restore);
    ASSERT_EQ(first.result, 0) << first.out;
    EXPECT_EQ(read_file(plain), original);
    fs::remove(plain);
    const Captured second = captured(restore);
    ASSERT_EQ(second.result, 0) << second.out;
    EXPECT_NE(first.out.find(progress_end), std::string::npos) << first.out;
    EXPECT_EQ(second.out, first.out);

    const auto test = [&] { return kestrav3test(coded.string().c_str(), key, 1); };
    const Captured tested = captured(test);
    EXPECT_EQ(tested.result, 0) << tested.out;
    EXPECT_NE(tested.out.find(progress_end), std::string::npos) << tested.out;
    EXPECT_EQ(captured(test).out, tested.out);
}

// Neither a quiet run nor a run that fails keeps the next one from showing
// its progress; the failure's framed message is the same every time.
TEST_F(RunsTest, QuietAndFailedRunsLeaveTheNextRunAsTheFirst) {
    const Captured alone = code();
    ASSERT_EQ(alone.result, 0);
    EXPECT_EQ(captured([&] { return kestrav3code(plain.string().c_str(), key, 0); }).result, 0);
    EXPECT_EQ(code().out, alone.out);

    const auto short_key = [&] { return kestrav3code(plain.string().c_str(), "abc", 1); };
    const Captured failed = captured(short_key);
    EXPECT_EQ(failed.result, -8);
    EXPECT_EQ(failed.out, framed_message(-8));
    EXPECT_EQ(captured(short_key).out, failed.out);
    EXPECT_EQ(code().out, alone.out);
}

}  // namespace
}  // namespace kestrav3::testing
