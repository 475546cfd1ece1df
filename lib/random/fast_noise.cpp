#include "random/fast_noise.h"
#include "random/fast_noise_lanes.h"
#include "random/fast_noise_paths.h"
#include "random/first_rand.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "md5/md5.h"
#include "platform/platform.h"
#include "random/mersenne.h"
#include "shared/sizes.h"

namespace kestrav3 {

using platform::FastPath;
using platform::FastUnit;

std::int64_t unix_seed = 0, m48 = 0;

namespace {

// A pass's seed from a clock reading, and the generator's modulus.
std::uint32_t non_monotonic_time_function();
std::int64_t nu_m48();

constexpr std::uint64_t lcg_multiplier = 25214903917ULL;  // 0x5DEECE66D
constexpr std::uint64_t lcg_increment = 11;

// The two's-complement value of a 64-bit pattern.
constexpr std::int64_t as_signed(std::uint64_t bits) {
    return bits <= static_cast<std::uint64_t>(INT64_MAX) ? static_cast<std::int64_t>(bits)
                                                         : -static_cast<std::int64_t>(~bits) - 1;
}

// t rem (2^48 - 1), truncating: the result has the sign of t. As 2^48
// leaves the remainder 1, t = hi * 2^48 + lo is congruent to v = hi + lo
// (hi the signed high 16 bits, lo the low 48). For t >= 0, v lies in
// [0, 2m) and one subtraction of m finishes; for t < 0, v lies in
// [-2^15, m) and only a positive v needs m taken off to land in (-m, 0].
constexpr std::int64_t truncating_rem48(std::int64_t t) {
    constexpr std::int64_t modulus = (std::int64_t{1} << 48) - 1;
    const std::int64_t negative = -static_cast<std::int64_t>(t < 0);  // all ones or zero
    const std::int64_t hi = t >> 48;                                  // arithmetic shift: the signed high 16 bits
    const std::int64_t v = hi + (t & modulus);
    // Without branches: the threshold is m for t >= 0 and 1 for t < 0.
    const std::int64_t threshold = modulus ^ ((modulus ^ 1) & negative);
    return v - (modulus & -static_cast<std::int64_t>(v >= threshold));
}

// One step from state s: the product wraps modulo 2^64 as a signed value.
constexpr std::int64_t step48(std::int64_t s) {
    return truncating_rem48(as_signed(static_cast<std::uint64_t>(s) * lcg_multiplier + lcg_increment));
}

static_assert(step48(1) == 25214903928 && step48(step48(1)) == 206026503514243);
static_assert(truncating_rem48(INT64_MIN) == -32768 && truncating_rem48(-281474976710655) == 0);
static_assert(truncating_rem48(INT64_MAX) == 32767 && truncating_rem48(-1) == -1 &&
              truncating_rem48(281474976710655) == 0);

constexpr std::uint8_t low_byte(std::int64_t v) { return static_cast<std::uint8_t>(static_cast<std::uint64_t>(v)); }

// The next draw of a pass; draws that end in a zero byte are skipped when asked.
inline std::int64_t next_draw(std::int64_t state, bool skip_zero_bytes) {
    state = step48(state);
    while (skip_zero_bytes && low_byte(state) == 0) state = step48(state);
    return state;
}

}  // namespace

void clock_text(std::uint64_t seconds, long nanoseconds, std::array<char, 32>& text) {
    // What "%llu%ld" prints, cut to the text's size the same way, without
    // the cost of a formatted print on every pass. The seconds change once
    // a second, so their digits are kept from the reading before.
    static std::uint64_t last_seconds = 0;
    static std::array<char, 20> seconds_digits{};
    static std::size_t seconds_length = 0;
    if (seconds_length == 0 || seconds != last_seconds) {
        seconds_length = static_cast<std::size_t>(
            std::to_chars(seconds_digits.data(), seconds_digits.data() + seconds_digits.size(), seconds).ptr -
            seconds_digits.data());
        last_seconds = seconds;
    }
    std::array<char, 48> digits{};
    std::memcpy(digits.data(), seconds_digits.data(), seconds_length);
    char* end = std::to_chars(digits.data() + seconds_length, digits.data() + digits.size(), nanoseconds).ptr;
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(end - digits.data()), text.size() - 1);
    std::memcpy(text.data(), digits.data(), length);
    text[length] = '\0';
}

namespace {

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
    // plain number whatever the year.
    const auto full_seconds = static_cast<std::uint64_t>(seconds);
    clock_text(full_seconds, nanoseconds, text);
    return static_cast<std::uint32_t>(full_seconds) ^ static_cast<std::uint32_t>(nanoseconds);
}

constexpr int pass_length = BLOCK_SIZE / 2;

// Runs K passes side by side from their start states, pass k writing every
// second byte of the first `length` bytes from out[k]. The chains are
// independent, so the processor overlaps their multiplications; unix_seed
// ends as the last pass leaves it.
template <std::size_t K, std::size_t... I>
void run_passes(std::array<std::int64_t, K> state, const std::array<std::uint8_t*, K>& out, bool skip_zero_bytes,
                int length, std::index_sequence<I...>) {
    // Constant indices only, so every state stays in a register.
    for (int i = 0; i < length; i += 2) {
        ((state[I] = next_draw(state[I], skip_zero_bytes)), ...);
        ((out[I][i] = low_byte(state[I])), ...);
    }
    unix_seed = state[K - 1];
}

template <std::size_t K>
void run_passes(const std::array<std::int64_t, K>& state, const std::array<std::uint8_t*, K>& out, bool skip_zero_bytes,
                int length) {
    run_passes(state, out, skip_zero_bytes, length, std::make_index_sequence<K>{});
}

void scalar_from_seeds(bool skip_zero_bytes, const std::int64_t* seeds, std::uint8_t* const blocks[], int count,
                       int length) {
    int i = 0;
    for (; i + 1 < count; i += 2) {
        const std::int64_t* s = seeds + 2 * i;
        run_passes<4>({s[0], s[1], s[2], s[3]}, {blocks[i], blocks[i] + 1, blocks[i + 1], blocks[i + 1] + 1},
                      skip_zero_bytes, length);
    }
    if (i < count) run_passes<2>({seeds[2 * i], seeds[2 * i + 1]}, {blocks[i], blocks[i] + 1}, skip_zero_bytes, length);
}

// The lane paths: all chains advance a fixed number of draws in vector
// lanes, then each pass takes its bytes from them. Skipping a zero byte does
// not change a chain, only whether a draw yields a byte, so the draws can be
// made ahead and the zeros dropped afterwards.
struct LaneBuffers {
    std::array<noise_lanes::Bytes, noise_lanes::chains> bytes;
    std::array<noise_lanes::States, 8 * noise_lanes::max_groups - noise_lanes::kept_from> kept;
    std::array<std::array<std::uint8_t, pass_length>, 2> passes;  // even, odd
};
LaneBuffers lanes;

#if defined(KESTRAV3_X86_VECTORS)
constexpr bool noise_lanes_built = true;
#else
constexpr bool noise_lanes_built = false;
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool little_endian = true;
#else
constexpr bool little_endian = false;
#endif

// Takes the bytes of chain c from its first `available` draws, dropping
// zero bytes when asked (continuing one draw at a time if they run out),
// and returns the state after the last draw used, as the plain pass leaves
// unix_seed.
std::int64_t collect_pass(bool skip_zero_bytes, int c, int available, std::uint8_t* pass, bool compact) {
    // The lane kernels write each row as little-endian words: byte d is draw d.
    static_assert(!noise_lanes_built || little_endian, "lane bytes are read in memory order");
    const auto* draws = reinterpret_cast<const std::uint8_t*>(lanes.bytes[static_cast<std::size_t>(c)]);
    int n = 0, d = 0;
    if (compact && skip_zero_bytes) n = noise_lanes::compact_nonzero(draws, available, pass_length, pass, &d);
    while (n < pass_length && d < available) {
        const int window = std::min(pass_length - n, available - d);
        const void* zero = skip_zero_bytes ? std::memchr(draws + d, 0, static_cast<std::size_t>(window)) : nullptr;
        const int run = zero ? static_cast<int>(static_cast<const std::uint8_t*>(zero) - (draws + d)) : window;
        std::memcpy(pass + n, draws + d, static_cast<std::size_t>(run));
        n += run;
        d += run + (zero ? 1 : 0);
    }
    if (n == pass_length) return lanes.kept[static_cast<std::size_t>(d - 1 - noise_lanes::kept_from)][c];
    std::int64_t state = lanes.kept[static_cast<std::size_t>(available - 1 - noise_lanes::kept_from)][c];
    while (n < pass_length) {
        state = next_draw(state, skip_zero_bytes);
        pass[n++] = low_byte(state);
    }
    return state;
}

void lanes_from_seeds(bool skip_zero_bytes, const std::int64_t* seeds, std::uint8_t* const blocks[], int count,
                      FastPath path, int margin) {
    std::array<std::int64_t, noise_lanes::chains> start{};
    for (int c = 0; c < 2 * count; ++c) start[static_cast<std::size_t>(c)] = seeds[c];
    const int available = pass_length + (skip_zero_bytes ? std::clamp(margin, 0, max_noise_margin) : 0);
    const int groups = (available + 7) / 8;
    if (path == FastPath::avx512_ifma)
        noise_lanes::advance_avx512_ifma(start.data(), 2 * count, groups, lanes.bytes.data(), lanes.kept.data());
    else if (path == FastPath::avx512)
        noise_lanes::advance_avx512(start.data(), 2 * count, groups, lanes.bytes.data(), lanes.kept.data());
    else
        noise_lanes::advance_avx2(start.data(), 2 * count, groups, lanes.bytes.data(), lanes.kept.data());
    // The IFMA path's processors can also drop the zero bytes in vectors.
    const bool compact = path == FastPath::avx512_ifma;
    auto& [even, odd] = lanes.passes;
    for (int k = 0; k < count; ++k) {
        collect_pass(skip_zero_bytes, 2 * k, available, even.data(), compact);
        unix_seed = collect_pass(skip_zero_bytes, 2 * k + 1, available, odd.data(), compact);
        noise_lanes::interleave(even.data(), odd.data(), pass_length, blocks[k]);
    }
}

bool possible(FastPath path) { return platform::path_possible(FastUnit::fast_noise, path); }

FastPath best_path() {
    static const FastPath best = possible(FastPath::avx512_ifma) ? FastPath::avx512_ifma
                                 : possible(FastPath::avx512)    ? FastPath::avx512
                                 : possible(FastPath::avx2)      ? FastPath::avx2
                                                                 : FastPath::reference;
    return best;
}

// Seeds one pass from a fresh clock reading and returns its start state.
std::int64_t seeded_pass() {
    srng48(static_cast<std::int64_t>(non_monotonic_time_function()));
    return unix_seed;
}

// The start states of count passes (at most 2 * max_noise_blocks), each
// seeded as seeded_pass() seeds one, with the clock readings taken first
// and their digests made side by side.
void seeded_passes(std::int64_t* states, int count) {
    static_assert(2 * max_noise_blocks <= max_text_seeds, "one digest batch seeds a noise batch");
    std::array<std::array<char, 32>, 2 * max_noise_blocks> texts{};
    std::array<const char*, 2 * max_noise_blocks> inputs{};
    std::array<int, 2 * max_noise_blocks> seeds{};
    std::array<std::uint32_t, 2 * max_noise_blocks> rand_seeds{}, first_rands{};
    for (int c = 0; c < count; ++c) {
        time_text(texts[static_cast<std::size_t>(c)]);
        inputs[static_cast<std::size_t>(c)] = texts[static_cast<std::size_t>(c)].data();
    }
    md5_text_seeds(inputs.data(), count, seeds.data());
    for (int c = 0; c < count; ++c)
        rand_seeds[static_cast<std::size_t>(c)] = static_cast<std::uint32_t>(seeds[static_cast<std::size_t>(c)]);
    first_rands_after(rand_seeds.data(), count, first_rands.data());
    for (int c = 0; c < count; ++c) {
        srng48(static_cast<std::int64_t>(first_rands[static_cast<std::size_t>(c)]));
        states[c] = unix_seed;
    }
}

}  // namespace

void noise_from_seeds(bool skip_zero_bytes, const std::int64_t* seeds, std::uint8_t* const blocks[], int count,
                      FastPath path, int margin) {
    // Up to two blocks keep too few lanes busy to beat the plain chains.
    if (path == FastPath::automatic) path = count >= 3 ? best_path() : FastPath::reference;
    if (count <= 0 || count > max_noise_blocks) return;
    if (path == FastPath::reference || !possible(path))
        scalar_from_seeds(skip_zero_bytes, seeds, blocks, count, BLOCK_SIZE);
    else
        lanes_from_seeds(skip_zero_bytes, seeds, blocks, count, path, margin);
}

void noise_prefix_from_seeds(bool skip_zero_bytes, const std::int64_t* seeds, std::uint8_t* const blocks[], int count,
                             int length) {
    if (count <= 0 || count > max_noise_blocks || length <= 0 || length > BLOCK_SIZE) return;
    scalar_from_seeds(skip_zero_bytes, seeds, blocks, count, length + length % 2);
}

void noise_gen_unix(bool skip_zero_bytes, std::uint8_t* block) {
    const std::array<std::int64_t, 2> seeds = {seeded_pass(), seeded_pass()};
    noise_from_seeds(skip_zero_bytes, seeds.data(), &block, 1, platform::chosen_path(FastUnit::fast_noise));
}

void noise_gen_unix_many(bool skip_zero_bytes, std::uint8_t* const blocks[], int count, int length) {
    // More blocks than a batch holds are made a batch at a time.
    for (int first = 0; first < count; first += max_noise_blocks) {
        const int n = std::min(count - first, max_noise_blocks);
        std::array<std::int64_t, 2 * max_noise_blocks> seeds{};
        seeded_passes(seeds.data(), 2 * n);
        if (length >= BLOCK_SIZE)
            noise_from_seeds(skip_zero_bytes, seeds.data(), blocks + first, n,
                             platform::chosen_path(FastUnit::fast_noise));
        else
            noise_prefix_from_seeds(skip_zero_bytes, seeds.data(), blocks + first, n, length);
    }
}

namespace {

std::uint32_t non_monotonic_time_function() {
    std::array<char, 32> text{};
    const std::uint32_t fallback = time_text(text);
    std::array<char, 33> digest_text{};
    int seed = 0;
    if (md5lib(text.data(), digest_text.data(), &seed) != 0) seed = static_cast<int>(fallback);
    // The runtime's srand and rand, formed directly where that was checked
    // to give the same value: its seeding is most of a pass's set-up.
    return first_rand_after(static_cast<std::uint32_t>(seed));
}

std::int64_t nu_m48() { return static_cast<std::int64_t>(doubled_minus_one(48)); }

}  // namespace

void srng48(std::int64_t seed) {
    unix_seed = seed;
    m48 = nu_m48();
}

std::int64_t rngen48() {
    unix_seed = step48(unix_seed);
    return unix_seed;
}

}  // namespace kestrav3
