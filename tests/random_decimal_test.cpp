#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "reference/decimal.h"

using namespace kestrav3;

namespace {

std::string decimal(unsigned __int128 v, std::size_t width = 1) {
    std::string s;
    for (; v != 0 || s.empty(); v /= 10) s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

// Operands go in as copies, since a product consumes them.
std::string product(char* (*fn)(char*, char*), std::string a, std::string b) { return fn(a.data(), b.data()); }

}  // namespace

TEST(RandomDecimal, ProductsHaveExactlyTheSumOfTheDigitCounts) {
    const char* cases[][3] = {{"123", "45", "05535"}, {"2", "3", "06"}, {"99", "99", "9801"}, {"0", "0", "00"},
                              {"007", "5", "0035"},   {"", "", ""},     {"", "12", "00"}};
    for (auto fn : {multiply, multiply_rnd})
        for (const auto& c : cases) EXPECT_EQ(product(fn, c[0], c[1]), c[2]) << c[0] << " * " << c[1];
    // 50 by 10 digits, the largest key-stream product.
    EXPECT_EQ(product(multiply, "1" + std::string(44, '0') + "12345", "9999999999"),
              "099999999990000000000000000000000000000000000123449999987655");
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t a = i == 0 ? ~0ULL : rng() >> (rng() % 64), b = i == 0 ? ~0ULL : rng() >> (rng() % 64);
        const std::string ta = decimal(a), tb = decimal(b);
        const std::string expected = decimal(static_cast<unsigned __int128>(a) * b, ta.size() + tb.size());
        ASSERT_EQ(product(i % 2 ? multiply : multiply_rnd, ta, tb), expected) << ta << " * " << tb;
    }
}

TEST(RandomDecimal, OperandsAreConsumedAndEachCopyKeepsItsBuffer) {
    char a[] = "123", b[] = "045";
    const char* first = multiply(a, b);
    EXPECT_EQ(0, std::memcmp(a, "\x01\x02\x03", 4));
    EXPECT_EQ(0, std::memcmp(b, "\x00\x04\x05", 4));
    EXPECT_STREQ(first, "005535");
    const std::string other = product(multiply_rnd, "99", "99");
    EXPECT_STREQ(first, "005535");  // untouched by the other copy
    EXPECT_EQ(product(multiply, "5", "5"), "25");
    EXPECT_STREQ(first, "25");  // overwritten by its own next call
    EXPECT_EQ(other, "9801");
}

TEST(RandomDecimal, OperandsBeyondTheWorkingStoresGiveAnEmptyText) {
    std::string a(40, '7'), b(40, '3');  // 40 rows: far beyond the row store
    EXPECT_STREQ(multiply(a.data(), b.data()), "");
    EXPECT_EQ(a, std::string(40, '7'));  // refused operands stay as they were
    EXPECT_EQ(product(multiply_rnd, std::string(1023, '9'), ""), std::string(1023, '0'));
    EXPECT_EQ(product(multiply_rnd, std::string(1023, '9'), "1"), "");  // 1024 digits
    EXPECT_EQ(product(multiply_rnd, std::string(1021, '9'), "1"), "0" + std::string(1021, '9'));
}

TEST(RandomDecimal, RemaindersAreExact) {
    EXPECT_EQ(mod("000003539537889086624823140625", 239582517375821), 170742899700987);
    EXPECT_EQ(mod("3539537889086624823140625", 239582517375821), 170742899700987);
    EXPECT_EQ(mod_rnd("1208925819614629174706176", 4611686018427387903ULL), 262144u);  // 2^80
    EXPECT_EQ(mod("", 239582517375821), 0);
    EXPECT_EQ(mod_rnd("", 4611686018427387903ULL), 0u);
    EXPECT_EQ(mod("12345", 0), 4294967295);
    EXPECT_EQ(mod_rnd("12345", 0), 18446744073709551615ULL);
    std::mt19937_64 rng(11);
    for (int i = 0; i < 20000; ++i) {
        const unsigned __int128 v = (static_cast<unsigned __int128>(rng()) << 64) | rng();
        const std::string text = decimal(v, 40);
        const std::uint64_t n = (rng() >> (rng() % 64)) | 1;
        ASSERT_EQ(mod_rnd(text.c_str(), n), static_cast<std::uint64_t>(v % n)) << text << " % " << n;
        const auto small = static_cast<std::int64_t>(n >> 16) | 1;
        ASSERT_EQ(mod(text.c_str(), small), static_cast<std::int64_t>(v % static_cast<std::uint64_t>(small)));
    }
}
