#include "reference/slow_generators.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "random/dense_noise.h"
#include "random/keystream.h"
#include "random/mersenne.h"
#include "reference/decimal.h"

namespace kestrav3 {

namespace {

constexpr std::int64_t key_modulus = 239582517375821LL;
constexpr std::uint64_t generator_modulus = doubled_minus_one(62);
constexpr std::uint64_t clock_modulus = doubled_minus_one(63);

}  // namespace

std::int32_t RSA_rand_decimal() {
    // The state as an unsigned decimal of up to 10 digits; its sixth power has
    // exactly six times as many digits, leading zeros included.
    std::array<char, 11> seed_text{};
    std::array<char, 11> scratch{};
    std::array<char, 61> power{};
    std::snprintf(seed_text.data(), seed_text.size(), "%u",
                  static_cast<unsigned>(static_cast<std::uint32_t>(init_seed)));
    std::memcpy(power.data(), seed_text.data(), seed_text.size());
    for (int i = 0; i < 5; ++i) {
        // The product consumes both operands, so the seed goes in as a copy.
        std::memcpy(scratch.data(), seed_text.data(), seed_text.size());
        const char* product = multiply(power.data(), scratch.data());
        std::snprintf(power.data(), power.size(), "%s", product);
    }
    const auto remainder = static_cast<std::uint64_t>(mod(power.data(), key_modulus));
    init_seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(remainder));
    return init_seed;
}

std::uint64_t prand_true_decimal() {
    std::array<char, 21> first{};
    std::array<char, 21> second{};
    std::snprintf(first.data(), first.size(), "%llu", static_cast<unsigned long long>(xrnd1));
    std::snprintf(second.data(), second.size(), "%llu", static_cast<unsigned long long>(xrnd2));
    xrnd2 = mod_rnd(multiply_rnd(first.data(), second.data()), generator_modulus);
    xrnd1 ^= xrnd2;
    return xrnd2;
}

std::uint64_t clock_seed_decimal(std::uint64_t seconds, std::uint32_t nanoseconds) {
    // Seconds as an unsigned decimal of the full value (no sign, whatever the
    // year), nanoseconds without leading zeros.
    std::array<char, 11> ns_text{};
    std::array<char, 32> joined{};
    std::snprintf(ns_text.data(), ns_text.size(), "%u", static_cast<unsigned>(nanoseconds));
    std::snprintf(joined.data(), joined.size(), "%llu%s", static_cast<unsigned long long>(seconds), ns_text.data());
    return mod_rnd(multiply_rnd(ns_text.data(), joined.data()), clock_modulus);
}

}  // namespace kestrav3
