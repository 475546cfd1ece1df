#include "random/first_rand.h"

#include <array>
#include <cstdlib>

#include "platform/fast_paths.h"
#include "platform/platform.h"

namespace kestrav3 {

namespace {

constexpr int degree = 31;     // words of state
constexpr int separation = 3;  // the front pointer starts this far ahead
constexpr int discarded = 10 * degree;

using Coefficients = std::array<std::uint32_t, degree>;

// Runs the additive generator on coefficient vectors instead of numbers:
// word i of the state starts as "1 times seeded word i", each step adds the
// rear word onto the front word (wrapping modulo 2^32) exactly as the
// library does, and the coefficients of the 311th sum are returned.
constexpr Coefficients first_output_coefficients() {
    std::array<Coefficients, degree> state{};
    for (int i = 0; i < degree; ++i) state[i][i] = 1;
    int front = separation, rear = 0;
    Coefficients sum{};
    for (int step = 0; step <= discarded; ++step) {
        for (int j = 0; j < degree; ++j) state[front][j] += state[rear][j];
        sum = state[front];
        front = (front + 1) % degree;
        rear = (rear + 1) % degree;
    }
    return sum;
}

constexpr Coefficients coefficients = first_output_coefficients();

constexpr std::uint64_t prime = 2147483647;  // 2^31 - 1
constexpr std::uint64_t factor = 16807;

// One step as the library takes it: 16807 times the word modulo 2^31 - 1 by
// Schrage's method in signed arithmetic, which for a negative word (a seed
// above 2^31 - 1) is not the true remainder.
constexpr std::int32_t library_step(std::int32_t word) {
    const std::int64_t hi = word / 127773;
    const std::int64_t lo = word % 127773;
    std::int32_t next = static_cast<std::int32_t>(16807 * lo - 2836 * hi);
    if (next < 0) next += 2147483647;
    return next;
}

// 16807^j modulo 2^31 - 1 for j < 31.
constexpr std::array<std::uint64_t, degree> factor_powers() {
    std::array<std::uint64_t, degree> powers{};
    powers[0] = 1;
    for (int j = 1; j < degree; ++j) powers[j] = powers[j - 1] * factor % prime;
    return powers;
}
constexpr std::array<std::uint64_t, degree> powers = factor_powers();

// x mod 2^31 - 1 for x below 2^62, by folding the high bits onto the low.
constexpr std::uint32_t reduce31(std::uint64_t x) {
    x = (x & prime) + (x >> 31);
    x = (x & prime) + (x >> 31);
    return static_cast<std::uint32_t>(x >= prime ? x - prime : x);
}

// The seeded words: seed (1 for 0), then each 16807 times the one before.
// From the second word on every word lies in [0, 2^31 - 1), where the
// library's step is the true remainder, so word i is the second word times
// 16807^(i - 1): the words no longer wait on each other.
constexpr std::array<std::int32_t, degree> seeded_words(std::uint32_t seed) {
    std::array<std::int32_t, degree> words{};
    if (seed == 0) seed = 1;
    words[0] = static_cast<std::int32_t>(seed);
    const auto second = static_cast<std::uint64_t>(library_step(words[0]));
    for (int i = 1; i < degree; ++i) words[i] = static_cast<std::int32_t>(reduce31(second * powers[i - 1]));
    return words;
}

// The words as the library makes them, one after the other.
constexpr std::array<std::int32_t, degree> seeded_words_in_turn(std::uint32_t seed) {
    std::array<std::int32_t, degree> words{};
    words[0] = static_cast<std::int32_t>(seed == 0 ? 1 : seed);
    for (int i = 1; i < degree; ++i) words[i] = library_step(words[i - 1]);
    return words;
}

constexpr bool same_words(std::uint32_t seed) {
    const auto direct = seeded_words(seed);
    const auto in_turn = seeded_words_in_turn(seed);
    for (int i = 0; i < degree; ++i)
        if (direct[i] != in_turn[i]) return false;
    return true;
}
static_assert(same_words(0) && same_words(1) && same_words(2147483646u) && same_words(2147483647u) &&
              same_words(2147483648u) && same_words(4294967295u) && same_words(3735928559u));

constexpr std::uint32_t first_output(std::uint32_t seed) {
    const auto words = seeded_words(seed);
    std::uint32_t sum = 0;
    for (int j = 0; j < degree; ++j) sum += coefficients[j] * static_cast<std::uint32_t>(words[j]);
    return sum >> 1;  // the library drops the lowest bit
}

// Known glibc values: srand(1) gives 1804289383 first, srand(0) the same.
static_assert(first_output(1) == 1804289383u && first_output(0) == 1804289383u);

// The runtime's own answer, which also reseeds it as srand does.
std::uint32_t runtime_first_rand(std::uint32_t seed) {
    std::srand(seed);
    return static_cast<std::uint32_t>(std::rand());
}

// The direct form stands in for the runtime only where the two agree on
// seeds that cover the sign, the zero seed and the extremes.
bool shortcut_matches_runtime() {
    if (!platform::c_library_is_glibc()) return false;
    for (std::uint32_t seed : {0u, 1u, 2u, 12345u, 2147483647u, 2147483648u, 3000000000u, 4294967295u})
        if (runtime_first_rand(seed) != first_output(seed)) return false;
    return true;
}

bool shortcut_usable() {
    static const bool usable = shortcut_matches_runtime();
    return usable;
}

// first_output for a batch of seeds, word by word across the batch: the
// seeds do not depend on each other, so the compiler runs them in vector
// lanes (here with AVX-512 where the processor has it).
template <int N>
inline void first_outputs_body(const std::uint32_t* seeds, std::uint32_t* out) {
    std::uint64_t second[N];
    std::uint32_t sum[N];
    for (int i = 0; i < N; ++i) {
        const std::uint32_t seed = seeds[i] == 0 ? 1 : seeds[i];
        second[i] = static_cast<std::uint64_t>(library_step(static_cast<std::int32_t>(seed)));
        sum[i] = coefficients[0] * seed;
    }
    for (int j = 1; j < degree; ++j)
        for (int i = 0; i < N; ++i) sum[i] += coefficients[j] * reduce31(second[i] * powers[j - 1]);
    for (int i = 0; i < N; ++i) out[i] = sum[i] >> 1;
}

constexpr int batch = 8;

#if defined(KESTRAV3_X86_VECTORS)
__attribute__((target("avx512f,avx512dq,avx512vl"))) void first_outputs_avx512(const std::uint32_t* seeds,
                                                                               std::uint32_t* out) {
    first_outputs_body<batch>(seeds, out);
}
#else
void first_outputs_avx512(const std::uint32_t* seeds, std::uint32_t* out) { first_outputs_body<batch>(seeds, out); }
#endif

bool batch_in_vectors() {
    static const bool avx512 = platform::path_possible(platform::FastUnit::first_rand, platform::FastPath::avx512);
    return avx512;
}

void first_outputs(const std::uint32_t* seeds, int count, std::uint32_t* out) {
    int i = 0;
    if (batch_in_vectors())
        for (; i + batch <= count; i += batch) first_outputs_avx512(seeds + i, out + i);
    for (; i < count; ++i) out[i] = first_output(seeds[i]);
}

}  // namespace

bool first_rand_direct_form_in_use() {
    return platform::chosen_path(platform::FastUnit::first_rand) != platform::FastPath::reference && shortcut_usable();
}

void first_rands_after(const std::uint32_t* seeds, int count, std::uint32_t* out) {
    if (first_rand_direct_form_in_use()) {
        first_outputs(seeds, count, out);
        return;
    }
    for (int i = 0; i < count; ++i) out[i] = runtime_first_rand(seeds[i]);
}

std::uint32_t first_rand_after(std::uint32_t seed) {
    std::uint32_t out = 0;
    first_rands_after(&seed, 1, &out);
    return out;
}

}  // namespace kestrav3
