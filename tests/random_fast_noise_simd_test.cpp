#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "random/fast_noise.h"
#include "random/fast_noise_paths.h"
#include "transform/transform.h"

using namespace kestrav3;
using platform::FastPath;
using platform::FastUnit;

namespace {

using Block = std::array<std::uint8_t, BLOCK_SIZE>;

struct Noise {
    std::vector<Block> blocks;
    std::int64_t last_state = 0;
};

// Noise made the plain way, one public generator step at a time.
Noise reference_noise(bool skip_zero_bytes, const std::vector<std::int64_t>& seeds, int count) {
    Noise out{std::vector<Block>(static_cast<std::size_t>(count)), 0};
    for (int c = 0; c < 2 * count; ++c) {
        srng48(seeds[static_cast<std::size_t>(c)]);
        Block& block = out.blocks[static_cast<std::size_t>(c / 2)];
        for (int i = c % 2; i < BLOCK_SIZE; i += 2) {
            std::int64_t s = rngen48();
            while (skip_zero_bytes && (s & 0xFF) == 0) s = rngen48();
            block[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(s & 0xFF);
        }
    }
    out.last_state = unix_seed;
    return out;
}

Noise path_noise(bool skip_zero_bytes, const std::vector<std::int64_t>& seeds, int count, FastPath path, int margin) {
    Noise out{std::vector<Block>(static_cast<std::size_t>(count)), 0};
    std::vector<std::uint8_t*> ptrs;
    for (auto& b : out.blocks) ptrs.push_back(b.data());
    unix_seed = 12345;
    noise_from_seeds(skip_zero_bytes, seeds.data(), ptrs.data(), count, path, margin);
    out.last_state = unix_seed;
    return out;
}

std::vector<FastPath> supported_paths() {
    std::vector<FastPath> paths;
    for (FastPath p :
         {FastPath::reference, FastPath::avx2, FastPath::avx512, FastPath::avx512_ifma, FastPath::automatic})
        if (platform::path_possible(FastUnit::fast_noise, p)) paths.push_back(p);
    return paths;
}

// Start states with awkward chains: 169 begins with a zero byte; the next two
// skip 24 and 21 zero bytes in a pass; after the 2048th byte of the two
// after them comes a zero draw, which must not move the final state; the
// last one has four zero bytes among its first 64 draws.
const std::vector<std::int64_t> awkward = {
    169, -44265260560608, 21362561245200533, -61237100783118158, -13256688488861, -2915121323514953377};

std::vector<std::int64_t> seed_set(std::uint64_t salt) {
    std::vector<std::int64_t> seeds = awkward;
    std::mt19937_64 rng(salt);
    seeds.push_back(0);
    seeds.push_back(-1);
    seeds.push_back(INT64_MIN);
    seeds.push_back(INT64_MAX);
    while (seeds.size() < 2 * max_noise_blocks) {
        const std::uint64_t bits = rng();
        seeds.push_back(salt % 2 ? static_cast<std::int64_t>(bits >> 32) : static_cast<std::int64_t>(bits >> 8));
    }
    std::shuffle(seeds.begin(), seeds.end(), rng);
    return seeds;
}

void expect_same(const Noise& got, const Noise& want, const char* what) {
    for (std::size_t k = 0; k < want.blocks.size(); ++k)
        ASSERT_EQ(got.blocks[k], want.blocks[k]) << what << " block " << k;
    EXPECT_EQ(got.last_state, want.last_state) << what;
}

}  // namespace

// Every path gives the plain noise and final state, whatever the number of
// blocks, the kind of noise and how far the lanes draw ahead (0 and 1 force
// nearly every skipping pass to be finished one draw at a time).
TEST(RandomFastNoisePaths, EveryPathMatchesPlainNoise) {
    for (std::uint64_t salt = 0; salt < 6; ++salt) {
        const auto seeds = seed_set(salt);
        for (bool skip : {true, false}) {
            for (int count = 1; count <= max_noise_blocks; ++count) {
                const Noise want = reference_noise(skip, seeds, count);
                for (FastPath path : supported_paths())
                    for (int margin : {default_noise_margin, 0, 1, 7, 8, max_noise_margin}) {
                        SCOPED_TRACE(testing::Message() << "salt " << salt << " skip " << skip << " count " << count
                                                        << " path " << static_cast<int>(path) << " margin " << margin);
                        expect_same(path_noise(skip, seeds, count, path, margin), want, "noise");
                    }
            }
        }
    }
}

// A prefix is the start of the full noise from the same seeds, nothing past
// it is touched, and the state is where the last pass's last draw leaves it.
TEST(RandomFastNoisePaths, PrefixIsTheStartOfTheFullNoise) {
    const auto seeds = seed_set(7);
    for (bool skip : {true, false}) {
        for (int count : {1, 3, max_noise_blocks}) {
            const Noise full = reference_noise(skip, seeds, count);
            for (int length : {1, 2, 40, 41, 4094, BLOCK_SIZE}) {
                SCOPED_TRACE(testing::Message() << "skip " << skip << " count " << count << " length " << length);
                const int made = length + length % 2;
                std::vector<Block> blocks(static_cast<std::size_t>(count));
                std::vector<std::uint8_t*> ptrs;
                for (auto& block : blocks) {
                    block.fill(0xEE);
                    ptrs.push_back(block.data());
                }
                noise_prefix_from_seeds(skip, seeds.data(), ptrs.data(), count, length);
                const std::int64_t left = unix_seed;
                for (int k = 0; k < count; ++k) {
                    const Block& want = full.blocks[static_cast<std::size_t>(k)];
                    const Block& got = blocks[static_cast<std::size_t>(k)];
                    ASSERT_TRUE(std::equal(got.begin(), got.begin() + made, want.begin())) << "block " << k;
                    ASSERT_TRUE(std::all_of(got.begin() + made, got.end(), [](std::uint8_t b) { return b == 0xEE; }));
                }
                srng48(seeds[static_cast<std::size_t>(2 * count - 1)]);
                for (int i = 0; i < made / 2; ++i) {
                    std::int64_t state = rngen48();
                    while (skip && (state & 0xFF) == 0) state = rngen48();
                }
                EXPECT_EQ(left, unix_seed);
            }
        }
    }
}

// The chains chosen above really are awkward, so the comparison covers them.
TEST(RandomFastNoisePaths, AwkwardChainsSkipWhatTheySay) {
    std::vector<int> zeros;
    std::vector<bool> zero_after;
    for (std::int64_t seed : awkward) {
        srng48(seed);
        int n = 0, skipped = 0;
        while (n < BLOCK_SIZE / 2) ((rngen48() & 0xFF) == 0 ? skipped : n) += 1;
        zeros.push_back(skipped);
        zero_after.push_back((rngen48() & 0xFF) == 0);
    }
    EXPECT_GE(zeros[1], 24);
    EXPECT_GE(zeros[2], 21);
    EXPECT_TRUE(zero_after[3]);
    EXPECT_TRUE(zero_after[4]);
    EXPECT_GE(zeros[5], 4);
}

// The public functions on each path: fresh blocks without zero bytes, and
// the final state lies on the chain of the last block's odd positions.
TEST(RandomFastNoisePaths, PublicFunctionsOnEachPath) {
    for (FastPath path : supported_paths()) {
        ASSERT_TRUE(platform::choose_path(FastUnit::fast_noise, path));
        std::vector<Block> blocks(max_noise_blocks);
        std::vector<std::uint8_t*> ptrs;
        for (auto& b : blocks) ptrs.push_back(b.data());
        noise_gen_unix_many(true, ptrs.data(), max_noise_blocks);
        for (const Block& b : blocks) ASSERT_EQ(std::count(b.begin(), b.end(), 0), 0);
        EXPECT_NE(blocks[0], blocks[1]);
        const std::int64_t last = unix_seed;
        srng48(last);  // the state after the last byte continues that pass
        EXPECT_NE(rngen48(), last);
        noise_gen_unix(true, vizard.data());
        EXPECT_EQ(std::count(vizard.begin(), vizard.end(), 0), 0);
    }
    EXPECT_TRUE(platform::choose_path(FastUnit::fast_noise, FastPath::automatic));
    if (!platform::path_possible(FastUnit::fast_noise, FastPath::avx512)) {
        EXPECT_FALSE(platform::choose_path(FastUnit::fast_noise, FastPath::avx512));
    }
}
