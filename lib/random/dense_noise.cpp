#include "random/dense_noise.h"

#include <array>
#include <cstdio>

#include "platform/platform.h"
#include "random/mersenne.h"
#include "shared/sizes.h"

namespace kestrav3 {

std::uint64_t xrnd1 = 0, xrnd2 = 0, m62 = 0;
const char* gen_ver = "0.3 (nonlinear) for WINDOWS 64-bit";

namespace {

// The steps of one noise call, in the order they run.
int random_block(std::uint8_t* buf, int n);
int init_rnd_true();
int seed_creation(std::uint64_t* s1, std::uint64_t* s2);
bool randoms3(std::uint64_t* out);
int nano_timer(std::uint64_t* out);
void nu_m62();

constexpr std::uint64_t generator_modulus = doubled_minus_one(62);  // 4611686018427387903
constexpr std::uint64_t clock_modulus = doubled_minus_one(63);      // 9223372036854775807
constexpr int rdrand_attempts = 10;
constexpr int equal_seed_retries = 7;

static_assert(generator_modulus == 4611686018427387903ULL && clock_modulus == 9223372036854775807ULL);
static_assert(mersenne_mod<62>(static_cast<unsigned __int128>(1) << 80) == 262144);

// 10^d for the number of decimal digits d of v (1 for v = 0).
constexpr std::uint64_t decimal_shift(std::uint32_t v) {
    std::uint64_t shift = 10;
    while (v >= shift) shift *= 10;
    return shift;
}

// a * b mod (2^62 - 1) for any 64-bit a and b: two folds bring the 128-bit
// product below 2^62 + 32, and one subtraction finishes.
constexpr std::uint64_t mul_mod62(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t m = generator_modulus;
    const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
    const unsigned __int128 f = (p & m) + (p >> 62);
    const std::uint64_t g = static_cast<std::uint64_t>(f & m) + static_cast<std::uint64_t>(f >> 62);
    return g >= m ? g - m : g;
}

static_assert(mul_mod62(~0ULL, ~0ULL) == mersenne_mod<62>(static_cast<unsigned __int128>(~0ULL) * ~0ULL));
static_assert(mul_mod62(generator_modulus, 12345) == 0 && mul_mod62(1ULL << 61, 2) == 1);

// One generator step on a chain held outside the globals.
inline std::uint64_t step(std::uint64_t& x1, std::uint64_t& x2) {
    x2 = mul_mod62(x1, x2);
    x1 ^= x2;
    return x2;
}

}  // namespace

int noise_gen_dense(std::uint8_t* block, int n) {
    if (n > BLOCK_SIZE) return -1;
    return random_block(block, n) < 0 ? -1 : 0;
}

namespace {

int random_block(std::uint8_t* buf, int n) {
    nu_m62();
    // Even positions from one pair of seeds, odd positions from another. Both
    // pairs are drawn first; the two chains are independent, so they advance
    // side by side and the processor overlaps their multiplications. Nothing
    // is written when a seeding fails (the caller then codes the chunk with
    // fast noise, which rewrites the whole block anyway).
    if (init_rnd_true() < 0) return -1;
    std::uint64_t even1 = xrnd1, even2 = xrnd2;
    if (init_rnd_true() < 0) return -1;
    std::uint64_t odd1 = xrnd1, odd2 = xrnd2;
    int i = 0;
    for (; i + 1 < n; i += 2) {
        buf[i] = static_cast<std::uint8_t>(step(even1, even2) & 0xFF);
        buf[i + 1] = static_cast<std::uint8_t>(step(odd1, odd2) & 0xFF);
    }
    if (i < n) buf[i] = static_cast<std::uint8_t>(step(even1, even2) & 0xFF);
    // The words end as the second pass leaves them.
    xrnd1 = odd1;
    xrnd2 = odd2;
    return 0;
}

int init_rnd_true() { return seed_creation(&xrnd1, &xrnd2); }

int seed_creation(std::uint64_t* s1, std::uint64_t* s2) {
    *s1 = 0;
    *s2 = 0;
    int status1 = seed_RDRAND(s1);
    const int status2 = nano_timer(s2);
    if (status1 < 0) status1 = nano_timer(s1);
    // Two clock seeds taken within one clock tick are equal; read again.
    for (int retry = 0; *s1 == *s2 && retry < equal_seed_retries; ++retry) status1 = nano_timer(s2);
    return seed_outcome(status1, status2, *s1, *s2);
}

}  // namespace

int seed_outcome(int status1, int status2, std::uint64_t s1, std::uint64_t s2) {
    if (status1 < 0 || status2 < 0) return -1;
    if (s1 == s2) return -1;
    // A zero word keeps the whole pass at zero, which would leave its bytes
    // of the chunk uncovered; the caller then takes the fast noise instead.
    if (s1 == 0 || s2 == 0) return -1;
    return 0;
}

int seed_RDRAND(std::uint64_t* out) {
    if (!check_cpu() || !randoms3(out)) return -1;
    return 0;
}

// The processor's answer cannot change while the process runs, and CPUID can
// cost microseconds under a hypervisor, so it is asked once.
bool check_cpu() {
    static const bool has_rdrand = platform::cpu_has_rdrand();
    return has_rdrand;
}

namespace {

bool randoms3(std::uint64_t* out) {
    for (int attempt = 0; attempt < rdrand_attempts; ++attempt)
        if (platform::rdrand64(out)) return true;
    return false;
}

int nano_timer(std::uint64_t* out) {
    std::int64_t seconds = 0;
    long nanoseconds = 0;
    if (!platform::realtime_clock(&seconds, &nanoseconds)) return -1;
    *out = clock_seed(static_cast<std::uint64_t>(seconds), static_cast<std::uint32_t>(nanoseconds));
    return 0;
}

void nu_m62() { m62 = doubled_minus_one(62); }

}  // namespace

std::uint64_t prand_true() { return step(xrnd1, xrnd2); }

// The seed is ns * J mod (2^63 - 1), where J is the number whose digits are
// those of the seconds followed by those of the nanoseconds.
std::uint64_t clock_seed(std::uint64_t seconds, std::uint32_t nanoseconds) {
    const std::uint64_t joined = mersenne_mod<63>(
        static_cast<unsigned __int128>(mersenne_mod<63>(seconds)) * decimal_shift(nanoseconds) + nanoseconds);
    return mersenne_mod<63>(static_cast<unsigned __int128>(joined) * nanoseconds);
}

void random_genenerator_version() { std::printf(" VERSION: %s\n", gen_ver); }

}  // namespace kestrav3
