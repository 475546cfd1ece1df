#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/fast_paths.h"
#include "reference/transform_steps.h"
#include "transform/transform.h"

using namespace kestrav3;

namespace {

std::vector<std::uint8_t> random_bytes(std::mt19937& rng, int n) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

}  // namespace

// The one-pass coding gives the bytes and the masked noise of the plain
// steps for every length (odd ones leave their last byte unswapped), also
// with the noise masked in place, and decoding with the stored noise,
// stepwise or in one pass (from vizard or from a buffer), gives the plain
// bytes back; with the wide steps and with the narrow ones alone.
TEST(Transform, OnePassCodingEqualsThePlainStepsAndDecodes) {
    std::mt19937 rng(11);
    gen_kmatrix("transform key");
    std::vector<int> lengths;
    for (int n = 1; n <= 40; ++n) lengths.push_back(n);
    for (int n : {63, 64, 65, 127, 128, 129, 4095, BLOCK_SIZE}) lengths.push_back(n);
    for (bool wide : {true, false})
        for (int n : lengths) {
            ASSERT_TRUE(platform::choose_path(platform::FastUnit::transforms,
                                              wide ? platform::FastPath::automatic : platform::FastPath::reference));
            SCOPED_TRACE(::testing::Message() << "length " << n << " wide " << wide);
            const auto plain = random_bytes(rng, n);
            const auto noise = random_bytes(rng, BLOCK_SIZE);

            auto want = plain;
            code_block_with_noise(want.data(), n, noise.data());
            ASSERT_EQ(permut(want.data(), n), 0);
            const std::vector<std::uint8_t> want_noise(vizard.begin(), vizard.begin() + n);

            vizard.fill(0xA5);
            auto got = plain;
            code_and_swap_with_noise(got.data(), n, noise.data());
            ASSERT_EQ(got, want);
            ASSERT_TRUE(std::equal(want_noise.begin(), want_noise.end(), vizard.begin()));
            ASSERT_TRUE(std::all_of(vizard.begin() + n, vizard.end(), [](std::uint8_t b) { return b == 0xA5; }))
                << "only the chunk's own noise is stored";

            // Coded in a batch, the chunk keeps its noise: masked in place in
            // the noise it was given, with vizard and the bytes past n untouched.
            auto kept_noise = noise;
            auto batched = plain;
            vizard.fill(0x5A);
            code_and_swap_with_noise(batched.data(), n, kept_noise.data(), kept_noise.data());
            ASSERT_EQ(batched, want);
            ASSERT_TRUE(std::equal(want_noise.begin(), want_noise.end(), kept_noise.begin()));
            ASSERT_TRUE(std::equal(kept_noise.begin() + n, kept_noise.end(), noise.begin() + n));
            ASSERT_TRUE(std::all_of(vizard.begin(), vizard.end(), [](std::uint8_t b) { return b == 0x5A; }));

            // Both ways of decoding restore the plain bytes and the noise.
            auto stepwise = got;
            std::copy(want_noise.begin(), want_noise.end(), vizard.begin());
            ASSERT_EQ(permut(stepwise.data(), n), 0);
            decode_block(stepwise.data(), n);
            ASSERT_EQ(stepwise, plain);
            ASSERT_TRUE(std::equal(vizard.begin(), vizard.begin() + n, noise.begin()));

            auto from_buffer = got;
            vizard.fill(0x3C);
            swap_and_decode_with(from_buffer.data(), n, want_noise.data());
            ASSERT_EQ(from_buffer, plain);
            ASSERT_TRUE(std::all_of(vizard.begin(), vizard.end(), [](std::uint8_t b) { return b == 0x3C; }));

            std::copy(want_noise.begin(), want_noise.end(), vizard.begin());
            swap_and_decode(got.data(), n);
            ASSERT_EQ(got, plain);
            ASSERT_TRUE(std::equal(vizard.begin(), vizard.begin() + n, noise.begin()));
        }
    platform::choose_path(platform::FastUnit::transforms, platform::FastPath::automatic);
}
