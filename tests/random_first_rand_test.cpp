#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

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
