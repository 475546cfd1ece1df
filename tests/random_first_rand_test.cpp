#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "random/first_rand.h"

using namespace kestrav3;

namespace {

std::uint32_t runtime_answer(std::uint32_t seed) {
    std::srand(seed);
    return static_cast<std::uint32_t>(std::rand());
}

}  // namespace

// Whichever way is in use, the answer is the runtime's, on seeds of every
// sign and size; with the direct form off, the runtime is what answers.
TEST(RandomFirstRand, AnswersAsTheRuntimeDoesEitherWay) {
    std::mt19937 rng(2024);
    for (bool shortcut : {true, false}) {
        set_first_rand_shortcut(shortcut);
        for (std::uint32_t seed : {0u, 1u, 127773u, 2147483646u, 2147483647u, 2147483648u, 4294967295u})
            ASSERT_EQ(first_rand_after(seed), runtime_answer(seed)) << "seed " << seed;
        for (int i = 0; i < 20000; ++i) {
            const std::uint32_t seed = rng();
            ASSERT_EQ(first_rand_after(seed), runtime_answer(seed)) << "seed " << seed << " shortcut " << shortcut;
        }
    }
    set_first_rand_shortcut(true);
}

// The batch form gives each seed's answer, whatever the count, either way.
TEST(RandomFirstRand, BatchesAnswerSeedBySeed) {
    std::mt19937 rng(31);
    std::vector<std::uint32_t> seeds = {0u, 1u, 2147483647u, 2147483648u, 4294967295u};
    while (seeds.size() < 40) seeds.push_back(rng());
    for (bool shortcut : {true, false}) {
        set_first_rand_shortcut(shortcut);
        for (int count : {1, 7, 8, 9, 32, 40}) {
            std::vector<std::uint32_t> got(static_cast<std::size_t>(count), 0xDEADBEEF);
            first_rands_after(seeds.data(), count, got.data());
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(got[static_cast<std::size_t>(i)], runtime_answer(seeds[static_cast<std::size_t>(i)]))
                    << "count " << count << " seed " << i << " shortcut " << shortcut;
        }
    }
    set_first_rand_shortcut(true);
    // The direct batch form on its own, over many seeds.
    std::vector<std::uint32_t> many(4096), direct(4096);
    for (auto& s : many) s = rng();
    glibc_first_rands(many.data(), static_cast<int>(many.size()), direct.data());
    for (std::size_t i = 0; i < many.size(); ++i) ASSERT_EQ(direct[i], glibc_first_rand(many[i])) << i;
}

#if defined(__GLIBC__)
// On glibc the direct form is in use and equals the library over many seeds.
TEST(RandomFirstRand, DirectFormEqualsGlibc) {
    EXPECT_TRUE(set_first_rand_shortcut(true));
    EXPECT_FALSE(set_first_rand_shortcut(false));
    set_first_rand_shortcut(true);
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t seed = rng();
        ASSERT_EQ(glibc_first_rand(seed), runtime_answer(seed)) << "seed " << seed;
    }
}
#else
// Elsewhere the runtime keeps answering itself.
TEST(RandomFirstRand, OtherRuntimesAreCalled) { EXPECT_FALSE(set_first_rand_shortcut(true)); }
#endif
