#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "platform/fast_paths.h"
#include "platform/platform.h"
#include "random/first_rand.h"
#include "reference/glibc_rand.h"

using namespace kestrav3;
using platform::FastPath;
using platform::FastUnit;

namespace {

std::uint32_t runtime_answer(std::uint32_t seed) {
    std::srand(seed);
    return static_cast<std::uint32_t>(std::rand());
}

// The paths this machine can take: the automatic choice, the runtime's own
// calls, and the direct form in vectors where the processor has them.
std::vector<FastPath> possible_paths() {
    std::vector<FastPath> paths;
    for (FastPath p : {FastPath::automatic, FastPath::reference, FastPath::avx512})
        if (platform::path_possible(FastUnit::first_rand, p)) paths.push_back(p);
    return paths;
}

void choose(FastPath path) { ASSERT_TRUE(platform::choose_path(FastUnit::first_rand, path)); }

}  // namespace

// Whichever way is in use, the answer is the runtime's, on seeds of every
// sign and size; on the reference path, the runtime is what answers.
TEST(RandomFirstRand, AnswersAsTheRuntimeDoesEitherWay) {
    std::mt19937 rng(2024);
    for (FastPath path : possible_paths()) {
        choose(path);
        for (std::uint32_t seed : {0u, 1u, 127773u, 2147483646u, 2147483647u, 2147483648u, 4294967295u})
            ASSERT_EQ(first_rand_after(seed), runtime_answer(seed)) << "seed " << seed;
        for (int i = 0; i < 20000; ++i) {
            const std::uint32_t seed = rng();
            ASSERT_EQ(first_rand_after(seed), runtime_answer(seed))
                << "seed " << seed << " path " << static_cast<int>(path);
        }
    }
    choose(FastPath::automatic);
}

// The batch form gives each seed's answer, whatever the count, either way.
TEST(RandomFirstRand, BatchesAnswerSeedBySeed) {
    std::mt19937 rng(31);
    std::vector<std::uint32_t> seeds = {0u, 1u, 2147483647u, 2147483648u, 4294967295u};
    while (seeds.size() < 40) seeds.push_back(rng());
    for (FastPath path : possible_paths()) {
        choose(path);
        for (int count : {1, 7, 8, 9, 32, 40}) {
            std::vector<std::uint32_t> got(static_cast<std::size_t>(count), 0xDEADBEEF);
            first_rands_after(seeds.data(), count, got.data());
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(got[static_cast<std::size_t>(i)], runtime_answer(seeds[static_cast<std::size_t>(i)]))
                    << "count " << count << " seed " << i << " path " << static_cast<int>(path);
        }
    }
    choose(FastPath::automatic);
    // The batch form over many seeds, against glibc's generator run step by
    // step where the direct form stands in for the runtime.
    std::vector<std::uint32_t> many(4096), batch(4096);
    for (auto& s : many) s = rng();
    first_rands_after(many.data(), static_cast<int>(many.size()), batch.data());
    for (std::size_t i = 0; i < many.size(); ++i) {
        ASSERT_EQ(batch[i], first_rand_after(many[i])) << i;
        if (first_rand_direct_form_in_use()) {
            ASSERT_EQ(batch[i], reference_first_rand(many[i])) << i;
        }
    }
}

// On glibc the direct form is in use and equals the library over many seeds.
TEST(RandomFirstRand, DirectFormEqualsGlibc) {
    if (!platform::c_library_is_glibc()) GTEST_SKIP() << "the C library is not glibc";
    EXPECT_TRUE(first_rand_direct_form_in_use());
    choose(FastPath::reference);
    EXPECT_FALSE(first_rand_direct_form_in_use());
    choose(FastPath::automatic);
    EXPECT_TRUE(first_rand_direct_form_in_use());
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t seed = rng();
        ASSERT_EQ(first_rand_after(seed), runtime_answer(seed)) << "seed " << seed;
        if (i % 16 == 0) {
            ASSERT_EQ(reference_first_rand(seed), runtime_answer(seed)) << "seed " << seed;
        }
    }
}
// Elsewhere the runtime keeps answering itself.
TEST(RandomFirstRand, OtherRuntimesAreCalled) {
    if (platform::c_library_is_glibc()) GTEST_SKIP() << "the C library is glibc";
    EXPECT_FALSE(first_rand_direct_form_in_use());
}
