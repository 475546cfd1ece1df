#include "random/fast_noise.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "container/transform.h"
#include "md5/md5.h"
#include "platform/platform.h"
#include "random/mersenne.h"

namespace kestrav3 {

std::int64_t unix_seed = 0, m48 = 0;

namespace {

constexpr std::uint64_t lcg_multiplier = 25214903917ULL;  // 0x5DEECE66D
constexpr std::uint64_t lcg_increment = 11;

// The two's-complement value of a 64-bit pattern.
constexpr std::int64_t as_signed(std::uint64_t bits) {
    return bits <= static_cast<std::uint64_t>(INT64_MAX) ? static_cast<std::int64_t>(bits)
                                                         : -static_cast<std::int64_t>(~bits) - 1;
}

// t rem (2^48 - 1), truncating: the remainder of |t| carries the sign of t.
constexpr std::int64_t truncating_rem48(std::int64_t t) {
    const std::uint64_t magnitude = t < 0 ? 0 - static_cast<std::uint64_t>(t) : static_cast<std::uint64_t>(t);
    const auto r = static_cast<std::int64_t>(mersenne_mod<48>(magnitude));
    return t < 0 ? -r : r;
}

// One step from state s: the product wraps modulo 2^64 as a signed value.
constexpr std::int64_t step48(std::int64_t s) {
    return truncating_rem48(as_signed(static_cast<std::uint64_t>(s) * lcg_multiplier + lcg_increment));
}

static_assert(step48(1) == 25214903928 && step48(step48(1)) == 206026503514243);
static_assert(truncating_rem48(INT64_MIN) == -32768 && truncating_rem48(-281474976710655) == 0);

constexpr std::uint8_t low_byte(std::int64_t v) { return static_cast<std::uint8_t>(static_cast<std::uint64_t>(v)); }

// Every second byte of vizard from start on; with a == 1 draws that end in a
// zero byte are skipped.
void fill_pass(int start, int a) {
    srng48(static_cast<std::int64_t>(non_monotonic_time_function()));
    std::int64_t state = unix_seed;
    for (int i = start; i < BLOCK_SIZE; i += 2) {
        state = step48(state);
        while (a == 1 && low_byte(state) == 0) state = step48(state);
        vizard[i] = low_byte(state);
    }
    unix_seed = state;
}

// The time text of a clock reading and a 32-bit fallback seed taken from the
// same reading, for the case that the digest cannot be formed.
std::uint32_t time_text(std::array<char, 32>& text) {
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    if (!platform::realtime_clock(&seconds, &nanoseconds)) {
        const auto now = static_cast<std::uint32_t>(std::time(nullptr));
        std::snprintf(text.data(), text.size(), "%u", static_cast<unsigned>(now));
        return now;
    }
    // Seconds as an unsigned decimal of the full value, so the text stays a
    // plain number whatever the year; nanoseconds without leading zeros.
    const auto full_seconds = static_cast<std::uint64_t>(seconds);
    std::snprintf(text.data(), text.size(), "%llu%ld", static_cast<unsigned long long>(full_seconds), nanoseconds);
    return static_cast<std::uint32_t>(full_seconds) ^ static_cast<std::uint32_t>(nanoseconds);
}

}  // namespace

void noise_gen_unix(int a) {
    fill_pass(0, a);
    fill_pass(1, a);
}

std::uint32_t non_monotonic_time_function() {
    std::array<char, 32> text{};
    const std::uint32_t fallback = time_text(text);
    std::array<char, 33> digest_text{};
    int seed = 0;
    if (md5lib(text.data(), digest_text.data(), &seed) != 0) seed = static_cast<int>(fallback);
    std::srand(static_cast<unsigned>(seed));
    return static_cast<std::uint32_t>(std::rand());
}

void srng48(std::int64_t seed) {
    unix_seed = seed;
    m48 = nu_m48();
}

std::int64_t rngen48() {
    unix_seed = step48(unix_seed);
    return unix_seed;
}

std::int64_t nu_m48() { return static_cast<std::int64_t>(doubled_minus_one(48)); }

}  // namespace kestrav3
