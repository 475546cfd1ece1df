#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "random/keystream.h"
#include "reference/slow_generators.h"
#include "transform/transform.h"

using namespace kestrav3;

namespace {

std::vector<std::int32_t> sequence(std::int32_t (*step)(), std::int32_t seed, int count) {
    RSA_srand(seed);
    std::vector<std::int32_t> out;
    for (int i = 0; i < count; ++i) out.push_back(step());
    return out;
}

}  // namespace

TEST(RandomKeystream, SequencesFromKnownSeeds) {
    using V = std::vector<std::int32_t>;
    for (auto step : {RSA_rand, RSA_rand_decimal}) {
        EXPECT_EQ(sequence(step, 12345, 8),
                  (V{769815803, 1123834010, -1540342682, 1528647961, 868461879, -422086796, 1367672069, 1448709390}));
        EXPECT_EQ(init_seed, 1448709390);
        EXPECT_EQ(sequence(step, -1, 3), (V{-694441434, -1563683937, 274596527}));
        EXPECT_EQ(sequence(step, INT32_MIN, 3), (V{229030744, -235899816, 2032959698}));  // read as 2147483648
        EXPECT_EQ(sequence(step, 0, 3), (V{0, 0, 0}));
        EXPECT_EQ(sequence(step, 1, 3), (V{1, 1, 1}));
        EXPECT_EQ(sequence(step, 2, 3), (V{64, 0, 0}));
    }
}

TEST(RandomKeystream, FastStepEqualsDecimalStepOverRandomStates) {
    std::mt19937 rng(2024);
    for (int i = 0; i < 100000; ++i) {
        const auto state = static_cast<std::int32_t>(rng());
        RSA_srand(state);
        const std::int32_t fast = RSA_rand();
        RSA_srand(state);
        ASSERT_EQ(RSA_rand_decimal(), fast) << "state " << state;
    }
}

TEST(RandomKeystream, KeyMatrixFollowsTheStreamOfTheKeySeed) {
    gen_kmatrix("abc");  // its digest folds to the seed 0x52a45f27
    const auto first = kmatrix;
    EXPECT_EQ(std::vector<int>(first.begin(), first.begin() + 8),
              (std::vector<int>{0x0c, 0xa3, 0x9e, 0x58, 0xa6, 0x3d, 0x0a, 0x10}));
    RSA_srand(0x52a45f27);
    for (std::size_t i = 0; i < first.size(); ++i)
        ASSERT_EQ(first[i], static_cast<std::uint8_t>(RSA_rand_decimal() & 0xFF)) << "byte " << i;
    gen_kmatrix("abcd");
    EXPECT_NE(kmatrix, first);
    gen_kmatrix("abc");
    EXPECT_EQ(kmatrix, first);
}
