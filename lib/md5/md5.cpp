// MD5 message digest (RFC 1321) and the digest text and seed derived from it.
//
// Full 64-byte chunks are compressed straight from the caller's bytes; only
// the final partial chunk and the padding go through a small stack buffer,
// so hashing needs no heap memory and cannot fail.
#include "md5/md5.h"

#include "md5/md5_lanes.h"
#include "md5/md5_rounds.h"
#include "shared/sizes.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace kestrav3 {

std::uint32_t h0 = md5_rounds::kInit[0];
std::uint32_t h1 = md5_rounds::kInit[1];
std::uint32_t h2 = md5_rounds::kInit[2];
std::uint32_t h3 = md5_rounds::kInit[3];

void reset_md5_state() {
    h0 = md5_rounds::kInit[0];
    h1 = md5_rounds::kInit[1];
    h2 = md5_rounds::kInit[2];
    h3 = md5_rounds::kInit[3];
}

namespace {

constexpr std::size_t kChunk = 64;

using md5_rounds::kAdd;
using md5_rounds::kShift;
using md5_rounds::word_index;

constexpr std::uint32_t rotl(std::uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

constexpr std::uint32_t bswap32(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000ff00u) | ((v << 8) & 0x00ff0000u) | (v << 24);
}

inline std::uint32_t load_le32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = bswap32(v);
#endif
    return v;
}

// One step of the compression function. The round function is picked by the
// step number; G's two terms never share a bit, so it is summed term by term,
// which lets the (~d & c) half start before b is known.
template <int I>
inline void step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d, const std::uint32_t* x) {
    a += x[word_index(I)] + kAdd[I];
    if constexpr (I < 16) {
        a += d ^ (b & (c ^ d));
    } else if constexpr (I < 32) {
        a += ~d & c;
        a += d & b;
    } else if constexpr (I < 48) {
        a += b ^ c ^ d;
    } else {
        a += (~d | b) ^ c;
    }
    a = b + rotl(a, kShift[I]);
}

template <int I>
inline void four_steps(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, const std::uint32_t* x) {
    step<I>(a, b, c, d, x);
    step<I + 1>(d, a, b, c, x);
    step<I + 2>(c, d, a, b, x);
    step<I + 3>(b, c, d, a, x);
}

// Compresses count consecutive 64-byte chunks into the chaining state.
void compress_into(std::uint32_t (&state)[4], const std::uint8_t* p, std::size_t count) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; count > 0; --count, p += kChunk) {
        std::array<std::uint32_t, 16> x;
        for (std::size_t i = 0; i < 16; ++i) x[i] = load_le32(p + 4 * i);
        const std::uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        four_steps<0>(a, b, c, d, x.data());
        four_steps<4>(a, b, c, d, x.data());
        four_steps<8>(a, b, c, d, x.data());
        four_steps<12>(a, b, c, d, x.data());
        four_steps<16>(a, b, c, d, x.data());
        four_steps<20>(a, b, c, d, x.data());
        four_steps<24>(a, b, c, d, x.data());
        four_steps<28>(a, b, c, d, x.data());
        four_steps<32>(a, b, c, d, x.data());
        four_steps<36>(a, b, c, d, x.data());
        four_steps<40>(a, b, c, d, x.data());
        four_steps<44>(a, b, c, d, x.data());
        four_steps<48>(a, b, c, d, x.data());
        four_steps<52>(a, b, c, d, x.data());
        four_steps<56>(a, b, c, d, x.data());
        four_steps<60>(a, b, c, d, x.data());
        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

// Two messages at once: their steps interleaved, so that the processor
// works on one chain while the other waits for its last result. MD5 is
// bound by the latency of its one chain, so this costs little more than
// one message alone.
template <int I>
inline void four_steps_each(std::uint32_t (&u)[4], const std::uint32_t* x, std::uint32_t (&v)[4],
                            const std::uint32_t* y) {
    four_steps<I>(u[0], u[1], u[2], u[3], x);
    four_steps<I>(v[0], v[1], v[2], v[3], y);
    if constexpr (I + 4 < 64) four_steps_each<I + 4>(u, x, v, y);
}

void compress_two(std::uint32_t (&s)[4], const std::uint8_t* p, std::uint32_t (&t)[4], const std::uint8_t* q,
                  std::size_t count) {
    for (; count > 0; --count, p += kChunk, q += kChunk) {
        std::array<std::uint32_t, 16> x, y;
        for (std::size_t i = 0; i < 16; ++i) {
            x[i] = load_le32(p + 4 * i);
            y[i] = load_le32(q + 4 * i);
        }
        std::uint32_t u[4] = {s[0], s[1], s[2], s[3]};
        std::uint32_t v[4] = {t[0], t[1], t[2], t[3]};
        four_steps_each<0>(u, x.data(), v, y.data());
        for (int i = 0; i < 4; ++i) {
            s[i] += u[i];
            t[i] += v[i];
        }
    }
}

// Compresses count consecutive 64-byte chunks into h0..h3.
void compress(const std::uint8_t* p, std::size_t count) {
    std::uint32_t state[4] = {h0, h1, h2, h3};
    compress_into(state, p, count);
    h0 = state[0];
    h1 = state[1];
    h2 = state[2];
    h3 = state[3];
}

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

// Writes the word's bytes, least significant first, as 8 hex digits.
char* put_word_hex(char* out, std::uint32_t w) {
    for (int i = 0; i < 4; ++i, w >>= 8) {
        *out++ = kHexDigits[(w >> 4) & 0xfu];
        *out++ = kHexDigits[w & 0xfu];
    }
    return out;
}

// Digest text of h0..h3 and the seed: each 8-digit group read as a
// hexadecimal number is the byte-swapped word, so the XOR of the groups is
// the byte-swapped XOR of the words.
int seed_of(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return static_cast<int>(bswap32(a ^ b ^ c ^ d));
}

void finish_digest(char* digest_text, int* seed) {
    char* out = digest_text;
    for (std::uint32_t w : {h0, h1, h2, h3}) out = put_word_hex(out, w);
    *out = '\0';
    *seed = seed_of(h0, h1, h2, h3);
}

// The last message of a batch hashed side by side leaves the chaining state
// as hashing the messages one after another would.
void keep_chaining_state(const std::uint32_t (&words)[4]) {
    h0 = words[0];
    h1 = words[1];
    h2 = words[2];
    h3 = words[3];
}

// The tail of a message of length bytes: its last rest (< 64) bytes, 0x80,
// zeros and the bit length as a 64-bit little-endian number, written into
// the zeroed tail; returns the chunks it fills, 1 or 2.
std::size_t pad_tail(const std::uint8_t* rest_bytes, std::size_t rest, std::uint64_t length, std::uint8_t* tail) {
    if (rest > 0) std::memcpy(tail, rest_bytes, rest);
    tail[rest] = 0x80;
    const std::size_t chunks = rest < kChunk - 8 ? 1 : 2;
    std::uint64_t bits = length << 3;
    for (std::size_t i = chunks * kChunk - 8; i < chunks * kChunk; ++i, bits >>= 8)
        tail[i] = static_cast<std::uint8_t>(bits);
    return chunks;
}

constexpr char kNoDigest[] = "null";

}  // namespace

void md5(const std::uint8_t* data, std::uint64_t length) {
    h0 = md5_rounds::kInit[0];
    h1 = md5_rounds::kInit[1];
    h2 = md5_rounds::kInit[2];
    h3 = md5_rounds::kInit[3];

    const std::uint64_t full = length / kChunk;
    if (full > 0) compress(data, static_cast<std::size_t>(full));

    std::array<std::uint8_t, 2 * kChunk> tail{};
    const std::size_t rest = static_cast<std::size_t>(length % kChunk);
    compress(tail.data(), pad_tail(data + full * kChunk, rest, length, tail.data()));
}

int md5lib(const char* text, char* digest_text, int* seed) {
    std::memcpy(digest_text, kNoDigest, sizeof kNoDigest);
    if (text == nullptr) return -1;
    md5(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
    finish_digest(digest_text, seed);
    return 0;
}

int md5cnt(const void* block, int size, char* digest_text, int* seed) {
    std::memcpy(digest_text, kNoDigest, sizeof kNoDigest);
    // A negative size or a missing block has no digest.
    if (size < 0 || (block == nullptr && size > 0)) return -1;
    md5(static_cast<const std::uint8_t*>(block), static_cast<std::uint64_t>(size));
    finish_digest(digest_text, seed);
    return 0;
}

Md5Stream::Md5Stream()
    : state_{md5_rounds::kInit[0], md5_rounds::kInit[1], md5_rounds::kInit[2], md5_rounds::kInit[3]} {}

void Md5Stream::update(const void* data, std::size_t size) {
    // An empty piece may come without a buffer: nothing to copy from it.
    if (size == 0) return;
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t held = static_cast<std::size_t>(length_ % kChunk);
    length_ += size;
    if (held > 0) {
        const std::size_t take = size < kChunk - held ? size : kChunk - held;
        std::memcpy(pending_.data() + held, p, take);
        p += take;
        size -= take;
        if (held + take < kChunk) return;
        compress_into(state_, pending_.data(), 1);
    }
    const std::size_t full = size / kChunk;
    if (full > 0) compress_into(state_, p, full);
    std::memcpy(pending_.data(), p + full * kChunk, size % kChunk);
}

Md5Digest Md5Stream::digest() const {
    std::uint32_t state[4] = {state_[0], state_[1], state_[2], state_[3]};
    std::array<std::uint8_t, 2 * kChunk> tail{};
    const std::size_t rest = static_cast<std::size_t>(length_ % kChunk);
    compress_into(state, tail.data(), pad_tail(pending_.data(), rest, length_, tail.data()));
    Md5Digest out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(state[i / 4] >> (8 * (i % 4)));
    return out;
}

void Md5Stream::update_two(Md5Stream& a, const void* a_data, std::size_t a_size, Md5Stream& b, const void* b_data,
                           std::size_t b_size) {
    const auto* p = static_cast<const std::uint8_t*>(a_data);
    const auto* q = static_cast<const std::uint8_t*>(b_data);
    // Each first up to a chunk boundary on its own, then the whole chunks
    // both have side by side, then what is left on its own.
    const auto head = [](const Md5Stream& m, std::size_t size) {
        return std::min(size, (kChunk - static_cast<std::size_t>(m.length_ % kChunk)) % kChunk);
    };
    const std::size_t a_head = head(a, a_size), b_head = head(b, b_size);
    a.update(p, a_head);
    b.update(q, b_head);
    const std::size_t both = std::min((a_size - a_head) / kChunk, (b_size - b_head) / kChunk);
    if (both > 0) {
        compress_two(a.state_, p + a_head, b.state_, q + b_head, both);
        a.length_ += both * kChunk;
        b.length_ += both * kChunk;
    }
    a.update(p + a_head + both * kChunk, a_size - a_head - both * kChunk);
    b.update(q + b_head + both * kChunk, b_size - b_head - both * kChunk);
}

Md5Digest md5_digest(const void* data, std::size_t size) {
    Md5Stream stream;
    stream.update(data, size);
    return stream.digest();
}

void md5_digests(const std::uint8_t* const messages[], std::size_t count, std::size_t size, Md5Digest digests[]) {
    for (std::size_t first = 0; first < count; first += max_md5_lanes) {
        const int n = static_cast<int>(std::min<std::size_t>(count - first, max_md5_lanes));
        std::uint32_t words[max_md5_lanes][4];
        if (md5_lanes_message_words(messages + first, n, size, words) != 0) {
            for (int i = 0; i < n; ++i) digests[first + i] = md5_digest(messages[first + i], size);
            continue;
        }
        for (int i = 0; i < n; ++i)
            for (std::size_t b = 0; b < 16; ++b)
                digests[first + i][b] = static_cast<std::uint8_t>(words[i][b / 4] >> (8 * (b % 4)));
    }
}

namespace {

// Digest texts of 1 to max_md5_lanes blocks.
void hash_batch(const std::uint8_t* const blocks[], int count, char digest_texts[][33]) {
    std::uint32_t words[max_md5_lanes][4];
    if (md5_lanes_words(blocks, count, words) != 0) {
        int seed = 0;
        for (int i = 0; i < count; ++i) md5cnt(blocks[i], BLOCK_SIZE, digest_texts[i], &seed);
        return;
    }
    for (int i = 0; i < count; ++i) {
        char* out = digest_texts[i];
        for (std::uint32_t w : words[i]) out = put_word_hex(out, w);
        *out = '\0';
    }
    keep_chaining_state(words[count - 1]);
}

}  // namespace

void md5_text_seeds(const char* const texts[], int count, int seeds[]) {
    std::array<std::array<std::uint8_t, kChunk>, max_text_seeds> chunks{};
    std::array<const std::uint8_t*, max_text_seeds> inputs{};
    std::uint32_t words[max_text_seeds][4];
    bool short_texts = count >= 1 && count <= max_text_seeds;
    for (int i = 0; short_texts && i < count; ++i) {
        const std::size_t length = std::strlen(texts[i]);
        short_texts = length <= max_seed_text;
        if (!short_texts) break;
        auto& chunk = chunks[static_cast<std::size_t>(i)];
        pad_tail(reinterpret_cast<const std::uint8_t*>(texts[i]), length, length, chunk.data());
        inputs[static_cast<std::size_t>(i)] = chunk.data();
    }
    if (!short_texts || md5_lanes_chunk_words(inputs.data(), count, words) != 0) {
        char digest_text[33];
        for (int i = 0; i < count; ++i) md5lib(texts[i], digest_text, &seeds[i]);
        return;
    }
    for (int i = 0; i < count; ++i) seeds[i] = seed_of(words[i][0], words[i][1], words[i][2], words[i][3]);
    keep_chaining_state(words[count - 1]);
}

void md5_blocks(const std::uint8_t* const blocks[], int count, char digest_texts[][33]) {
    for (int first = 0; first < count; first += max_md5_lanes) {
        const int n = count - first < max_md5_lanes ? count - first : max_md5_lanes;
        hash_batch(blocks + first, n, digest_texts + first);
    }
}

}  // namespace kestrav3
