#include "md5/md5.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using kestrav3::md5cnt;
using kestrav3::md5lib;

// A deliberately plain MD5, fed one byte at a time, written directly from the
// RFC 1321 description: the additive constants are computed from sin() and
// the round functions are the RFC's own formulas.
class ReferenceMd5 {
public:
    ReferenceMd5() {
        for (int i = 0; i < 64; ++i)
            k_[i] = static_cast<std::uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
    }
    std::string digest(const std::vector<std::uint8_t>& msg) {
        state_ = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};
        fill_ = 0;
        for (std::uint8_t byte : msg) put(byte);
        const std::uint64_t bits = static_cast<std::uint64_t>(msg.size()) * 8;
        put(0x80);
        while (fill_ != 56) put(0);
        for (int i = 0; i < 8; ++i) put(static_cast<std::uint8_t>(bits >> (8 * i)));
        std::string hex;
        char two[3];
        for (std::uint32_t w : state_)
            for (int i = 0; i < 4; ++i) {
                std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>((w >> (8 * i)) & 0xff));
                hex += two;
            }
        return hex;
    }

private:
    void put(std::uint8_t byte) {
        block_[fill_++] = byte;
        if (fill_ == 64) {
            transform();
            fill_ = 0;
        }
    }
    static std::uint32_t rotl(std::uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }
    void transform() {
        static const int shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = block_[4 * i] | (block_[4 * i + 1] << 8) | (block_[4 * i + 2] << 16) |
                   (static_cast<std::uint32_t>(block_[4 * i + 3]) << 24);
        std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t f;
            int g;
            const int round = i / 16;
            if (round == 0) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (round == 1) {
                f = (b & d) | (c & ~d);
                g = (5 * i + 1) % 16;
            } else if (round == 2) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const std::uint32_t next = b + rotl(a + f + k_[i] + x[g], shifts[round][i % 4]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        state_[0] += a;
        state_[1] += b;
        state_[2] += c;
        state_[3] += d;
    }

    std::array<std::uint32_t, 64> k_{};
    std::array<std::uint32_t, 4> state_{};
    std::array<std::uint8_t, 64> block_{};
    int fill_ = 0;
};

// The seed as the callers define it: each 8-digit group read as a number.
std::uint32_t seed_of_text(const std::string& hex) {
    std::uint32_t seed = 0;
    for (int g = 0; g < 4; ++g)
        seed ^= static_cast<std::uint32_t>(std::strtoul(hex.substr(8 * g, 8).c_str(), nullptr, 16));
    return seed;
}

// Digest text buffer with a guard area after the 33 bytes that must stay put.
struct DigestBuffer {
    std::array<char, 40> bytes;
    DigestBuffer() { bytes.fill('#'); }
    char* data() { return bytes.data(); }
    std::string text() const { return std::string(bytes.data()); }
    bool guard_intact() const {
        for (std::size_t i = 33; i < bytes.size(); ++i)
            if (bytes[i] != '#') return false;
        return true;
    }
};

std::string hash_text(const char* text) {
    DigestBuffer out;
    int seed = 0;
    EXPECT_EQ(md5lib(text, out.data(), &seed), 0);
    return out.text();
}

std::string hash_block(const void* data, int size, int* seed_out = nullptr) {
    DigestBuffer out;
    int seed = 0;
    EXPECT_EQ(md5cnt(data, size, out.data(), &seed), 0);
    EXPECT_TRUE(out.guard_intact());
    if (seed_out) *seed_out = seed;
    return out.text();
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(hash_text(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(hash_text("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(hash_text("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(hash_text("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(hash_text("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(hash_text("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(hash_text("1234567890123456789012345678901234567890"
                        "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, AbcTextAndBlockAgreeOnDigestSeedAndState) {
    DigestBuffer text_out, block_out;
    int text_seed = 0, block_seed = 0;
    ASSERT_EQ(md5lib("abc", text_out.data(), &text_seed), 0);
    ASSERT_EQ(md5cnt("abc", 3, block_out.data(), &block_seed), 0);
    EXPECT_EQ(text_out.text(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(block_out.text(), text_out.text());
    EXPECT_EQ(static_cast<std::uint32_t>(text_seed), 0x52a45f27u);
    EXPECT_EQ(text_seed, 1386503975);
    EXPECT_EQ(block_seed, text_seed);
    EXPECT_TRUE(text_out.guard_intact());
    // The digest words stay in the globals after the call.
    EXPECT_EQ(kestrav3::h0, 0x98500190u);
    EXPECT_EQ(kestrav3::h1, 0xb04fd23cu);
    EXPECT_EQ(kestrav3::h2, 0x7d3f96d6u);
    EXPECT_EQ(kestrav3::h3, 0x727fe128u);
}

TEST(Md5, PaddingBoundaries) {
    // Prefixes of this sentence; expected digests computed once on the
    // development machine with: printf '%s' "${S:0:N}" | md5sum
    const std::string s = "The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs.";
    const struct {
        int n;
        const char* hex;
    } cases[] = {
        {55, "9f460d6d285bf5199aebf3e8dc66bba5"},  // one padded chunk
        {56, "517a7a617cb544be26fb320b70d7a323"},  // length spills into a second chunk
        {63, "ad26a487273ed7dac82011f65cd38adb"},
        {64, "1a378f60c6d302ef8e47e2d0a031a0d7"},  // one full chunk, padding alone
        {65, "4a93a3b9b4b2b99e05602f537aacaf41"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hash_block(s.data(), c.n), c.hex) << "length " << c.n;
        EXPECT_EQ(hash_text(s.substr(0, c.n).c_str()), c.hex) << "length " << c.n;
    }
}

TEST(Md5, ZeroBytesCountInBlocksButEndTexts) {
    // printf 'ab\0cd' | md5sum, and head -c 4096 /dev/zero | md5sum
    EXPECT_EQ(hash_block("ab\0cd", 5), "5d622b3d4d8cc07754fd386e7f29326e");
    EXPECT_EQ(hash_text("ab\0cd"), hash_text("ab"));
    EXPECT_NE(hash_block("ab\0cd", 5), hash_text("ab"));
    const std::vector<std::uint8_t> zeros(4096, 0);
    EXPECT_EQ(hash_block(zeros.data(), 4096), "620f0b67a91f7f74151bc5be745b7110");
    EXPECT_EQ(hash_block(zeros.data(), 0), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Md5, EveryBlockLengthMatchesReference) {
    std::mt19937 rng(20240611);
    std::vector<std::uint8_t> storage(4096 + 1);
    for (auto& byte : storage) byte = static_cast<std::uint8_t>(rng());
    ReferenceMd5 reference;
    for (int len = 1; len <= 4096; ++len) {
        // Odd lengths start one byte in, so chunks are also read unaligned.
        const std::uint8_t* start = storage.data() + (len & 1);
        const std::vector<std::uint8_t> msg(start, start + len);
        const std::string expected = reference.digest(msg);
        int seed = 0;
        const std::string got = hash_block(start, len, &seed);
        ASSERT_EQ(got, expected) << "length " << len;
        ASSERT_EQ(static_cast<std::uint32_t>(seed), seed_of_text(expected)) << "length " << len;
        ASSERT_EQ(got.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
}

TEST(Md5, InvalidArgumentsLeaveNullTextAndSeed) {
    DigestBuffer out;
    int seed = 12345;
    EXPECT_EQ(md5cnt("abc", -1, out.data(), &seed), -1);
    EXPECT_EQ(out.text(), "null");
    EXPECT_EQ(seed, 12345);
    EXPECT_EQ(md5cnt(nullptr, 16, out.data(), &seed), -1);
    EXPECT_EQ(out.text(), "null");
    EXPECT_EQ(md5lib(nullptr, out.data(), &seed), -1);
    EXPECT_EQ(out.text(), "null");
    EXPECT_EQ(seed, 12345);
    EXPECT_TRUE(out.guard_intact());
}

}  // namespace
