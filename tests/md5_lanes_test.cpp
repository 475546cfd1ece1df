// Side-by-side MD5 of 4096-byte blocks: every path, every lane, every batch
// size must give exactly the text of the one-block code.
#include "md5/md5_lanes.h"
#include "md5/md5.h"

#include "platform/fast_paths.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using kestrav3::platform::FastPath;
using kestrav3::platform::FastUnit;

constexpr int kBlock = 4096;

const FastPath kPaths[] = {FastPath::automatic,  FastPath::reference,  FastPath::sse2,   FastPath::avx2,
                           FastPath::avx512_128, FastPath::avx512_256, FastPath::avx512, FastPath::avx512_ifma};

const char* path_name(FastPath path) {
    switch (path) {
    case FastPath::automatic: return "automatic";
    case FastPath::reference: return "reference";
    case FastPath::sse2: return "sse2";
    case FastPath::avx2: return "avx2";
    case FastPath::avx512_128: return "avx512_128";
    case FastPath::avx512_256: return "avx512_256";
    case FastPath::avx512: return "avx512";
    case FastPath::avx512_ifma: return "avx512_ifma";
    case FastPath::ssse3: return "ssse3";
    case FastPath::avx2_gfni: return "avx2_gfni";
    case FastPath::avx512_gfni: return "avx512_gfni";
    case FastPath::pclmul: return "pclmul";
    }
    return "?";
}

bool possible(FastPath path) { return kestrav3::platform::path_possible(FastUnit::md5_lanes, path); }
bool choose(FastPath path) { return kestrav3::platform::choose_path(FastUnit::md5_lanes, path); }
FastPath chosen() { return kestrav3::platform::chosen_path(FastUnit::md5_lanes); }

// Restores the automatic choice however a test ends.
struct PathGuard {
    ~PathGuard() { choose(FastPath::automatic); }
};

std::string one_block_text(const std::uint8_t* block) {
    std::array<char, 33> text{};
    int seed = 0;
    EXPECT_EQ(kestrav3::md5cnt(block, kBlock, text.data(), &seed), 0);
    return text.data();
}

// Hashes the blocks with md5_blocks on the current path and compares every
// lane with the one-block text; the byte after each text stays untouched.
void expect_same_texts(const std::vector<const std::uint8_t*>& blocks, const char* what) {
    const int count = static_cast<int>(blocks.size());
    char texts[kestrav3::max_md5_lanes][33];
    for (auto& t : texts) std::fill(std::begin(t), std::end(t), '#');
    kestrav3::md5_blocks(blocks.data(), count, texts);
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(texts[i][32], '\0') << what << " count " << count << " lane " << i;
        EXPECT_EQ(std::string(texts[i]), one_block_text(blocks[i]))
            << path_name(chosen()) << ", " << what << ", count " << count << ", lane " << i;
    }
    for (int i = count; i < kestrav3::max_md5_lanes; ++i) EXPECT_EQ(texts[i][0], '#');
}

std::vector<std::uint8_t> random_bytes(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

TEST(Md5Lanes, ScalarAndSse2AreAlwaysThere) {
    EXPECT_TRUE(possible(FastPath::automatic));
    EXPECT_TRUE(possible(FastPath::reference));
#if defined(__x86_64__)
    EXPECT_TRUE(possible(FastPath::sse2));
#endif
    // No MD5 kernel uses the multiply-add.
    EXPECT_FALSE(possible(FastPath::avx512_ifma));
    PathGuard guard;
    for (FastPath path : kPaths) {
        // A path the processor lacks is refused and leaves the setting alone.
        ASSERT_TRUE(choose(FastPath::reference));
        const bool ok = possible(path);
        EXPECT_EQ(choose(path), ok) << path_name(path);
        EXPECT_EQ(chosen(), ok ? path : FastPath::reference) << path_name(path);
    }
}

TEST(Md5Lanes, EveryPathEveryCountMatchesOneBlockCode) {
    // Blocks at odd offsets, so the vector loads are unaligned as well.
    const auto data = random_bytes(16 * kBlock + 1, 777);
    const auto zeros = std::vector<std::uint8_t>(kBlock, 0x00);
    const auto ones = std::vector<std::uint8_t>(kBlock, 0xff);
    PathGuard guard;
    int tried = 0;
    for (FastPath path : kPaths) {
        if (!choose(path)) continue;
        ++tried;
        for (int count = 1; count <= kestrav3::max_md5_lanes; ++count) {
            std::vector<const std::uint8_t*> distinct, same, mixed;
            for (int i = 0; i < count; ++i) {
                distinct.push_back(data.data() + 1 + static_cast<std::size_t>(i) * kBlock);
                same.push_back(data.data() + 1 + 3 * kBlock);
                mixed.push_back(i % 3 == 0 ? zeros.data() : i % 3 == 1 ? ones.data() : distinct.back());
            }
            expect_same_texts(distinct, "distinct random blocks");
            expect_same_texts(same, "one block in every lane");
            expect_same_texts(mixed, "zero, 0xff and random blocks");
        }
    }
    EXPECT_GE(tried, 2);
}

TEST(Md5Lanes, KnownBlocksAndBitFlipsInEveryLane) {
    // head -c 4096 /dev/zero | md5sum, and the same for 0xff bytes
    const auto zeros = std::vector<std::uint8_t>(kBlock, 0x00);
    const auto ones = std::vector<std::uint8_t>(kBlock, 0xff);
    ASSERT_EQ(one_block_text(zeros.data()), "620f0b67a91f7f74151bc5be745b7110");
    const std::string ones_text = one_block_text(ones.data());
    PathGuard guard;
    std::mt19937 rng(4242);
    for (FastPath path : kPaths) {
        if (!choose(path)) continue;
        // Sixteen copies of random data, each with a different bit flipped at a
        // random place: a lane that mixes in a neighbour's words would show.
        auto copies = random_bytes(16 * kBlock, 99);
        for (int lane = 0; lane < 16; ++lane) {
            std::copy(copies.begin(), copies.begin() + kBlock, copies.begin() + lane * kBlock);
            copies[static_cast<std::size_t>(lane) * kBlock + rng() % kBlock] ^=
                static_cast<std::uint8_t>(1u << (rng() % 8));
        }
        std::vector<const std::uint8_t*> blocks;
        for (int lane = 0; lane < 16; ++lane) blocks.push_back(copies.data() + lane * kBlock);
        expect_same_texts(blocks, "flipped copies");
        const std::vector<const std::uint8_t*> known = {zeros.data(), ones.data(), zeros.data(), ones.data()};
        char texts[kestrav3::max_md5_lanes][33];
        kestrav3::md5_blocks(known.data(), 4, texts);
        EXPECT_EQ(std::string(texts[0]), "620f0b67a91f7f74151bc5be745b7110") << path_name(path);
        EXPECT_EQ(std::string(texts[1]), ones_text) << path_name(path);
        EXPECT_EQ(std::string(texts[2]), "620f0b67a91f7f74151bc5be745b7110") << path_name(path);
        EXPECT_EQ(std::string(texts[3]), ones_text) << path_name(path);
    }
}

TEST(Md5Lanes, ChainingStateEndsAsAfterTheLastBlock) {
    const auto data = random_bytes(5 * kBlock, 5);
    std::vector<const std::uint8_t*> blocks;
    for (int i = 0; i < 5; ++i) blocks.push_back(data.data() + i * kBlock);
    one_block_text(blocks[4]);
    const std::array<std::uint32_t, 4> expected = {kestrav3::h0, kestrav3::h1, kestrav3::h2, kestrav3::h3};
    PathGuard guard;
    for (FastPath path : kPaths) {
        if (!choose(path)) continue;
        one_block_text(blocks[0]);
        char texts[kestrav3::max_md5_lanes][33];
        kestrav3::md5_blocks(blocks.data(), 5, texts);
        const std::array<std::uint32_t, 4> got = {kestrav3::h0, kestrav3::h1, kestrav3::h2, kestrav3::h3};
        EXPECT_EQ(got, expected) << path_name(path);
    }
}

}  // namespace

// Seeds of short texts side by side: every path, every count up to 32 and
// every length that fits one chunk give md5lib's seed, and so does a batch
// with a text too long for one chunk (hashed one by one).
TEST(Md5TextSeeds, EveryPathGivesTheSeedOfEachText) {
    PathGuard guard;
    std::mt19937 rng(99);
    std::vector<std::string> texts;
    for (std::size_t n = 0; n <= kestrav3::max_seed_text; ++n) {
        std::string t(n, ' ');
        for (auto& c : t) c = static_cast<char>('0' + rng() % 10);
        texts.push_back(t);
    }
    const auto reference = [](const std::string& t) {
        char text[33];
        int seed = 0;
        kestrav3::md5lib(t.c_str(), text, &seed);
        return seed;
    };
    for (FastPath path : kPaths) {
        if (!possible(path)) continue;
        ASSERT_TRUE(choose(path));
        for (int count = 1; count <= kestrav3::max_text_seeds; ++count) {
            for (std::size_t start : {std::size_t{0}, std::size_t{24}}) {
                std::vector<const char*> batch;
                for (int i = 0; i < count; ++i)
                    batch.push_back(texts[(start + static_cast<std::size_t>(i)) % texts.size()].c_str());
                std::vector<int> seeds(static_cast<std::size_t>(count), 0x5a5a5a5a);
                kestrav3::md5_text_seeds(batch.data(), count, seeds.data());
                for (int i = 0; i < count; ++i)
                    ASSERT_EQ(seeds[static_cast<std::size_t>(i)], reference(batch[static_cast<std::size_t>(i)]))
                        << path_name(path) << " count " << count << " text " << i;
            }
        }
        const std::string long_text(kestrav3::max_seed_text + 1, '7');
        const char* mixed[] = {texts[3].c_str(), long_text.c_str(), texts[55].c_str()};
        int seeds[3] = {};
        kestrav3::md5_text_seeds(mixed, 3, seeds);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(seeds[i], reference(mixed[i])) << path_name(path) << " mixed " << i;
    }
}
