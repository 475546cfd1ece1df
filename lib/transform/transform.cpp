#include "transform/transform.h"

#include <cstring>
#include <utility>

#include "md5/md5.h"
#include "platform/fast_paths.h"
#include "random/dense_noise.h"
#include "random/fast_noise.h"
#include "random/keystream.h"

namespace kestrav3 {

namespace {

using Word = std::uint64_t;
constexpr int word_size = sizeof(Word);

// Unaligned loads and stores of a word (or vector) of bytes.
template <class T = Word>
T load(const std::uint8_t* p) {
    T w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

template <class T>
void store(std::uint8_t* p, T w) {
    std::memcpy(p, &w, sizeof w);
}

// Plain ^= noise, then noise ^= key matrix: what both coding calls share.
// Eight bytes at a time; the byte order of a word does not matter to XOR.
void mix_and_mask(std::uint8_t* data, int n) {
    int i = 0;
    for (; i + word_size <= n; i += word_size) {
        const Word noise = load(&vizard[i]);
        store(data + i, load(data + i) ^ noise);
        store(&vizard[i], noise ^ load(&kmatrix[i]));
    }
    for (; i < n; ++i) {
        data[i] ^= vizard[i];
        vizard[i] ^= kmatrix[i];
    }
}

}  // namespace

void gen_kmatrix(const char* key) {
    char digest_text[33];
    int seed = 0;
    // The digest of a short text held on the stack cannot fail.
    md5lib(key, digest_text, &seed);
    RSA_srand(seed);
    for (auto& byte : kmatrix) byte = static_cast<std::uint8_t>(RSA_rand() & 0xFF);
}

int code_block(std::uint8_t* data, int n) {
    if (noise_gen_dense(vizard.data(), n) < 0) return -1;
    mix_and_mask(data, n);
    return 0;
}

void code_block_fast(std::uint8_t* data, int n) {
    noise_gen_unix(true, vizard.data());
    mix_and_mask(data, n);
}

namespace {

constexpr Word even_bytes = 0x00FF00FF00FF00FFull;

// Swaps the bytes of each pair in a word that starts at an even offset: a
// word holds four whole pairs whatever its byte order, so swapping the
// bytes within each 16-bit half swaps them in memory too.
constexpr Word swap_pairs(Word w) { return ((w & even_bytes) << 8) | ((w >> 8) & even_bytes); }

// 16 bytes as eight 16-bit lanes (GCC and Clang vector extension, the width
// every x86-64 and ARM64 processor has); a pair of bytes is one lane
// whatever the byte order, so a lane rotation by 8 swaps the pair in memory.
using Lanes = std::uint16_t __attribute__((vector_size(16)));
constexpr int lanes_size = sizeof(Lanes);

// The same steps 64 bytes at a time with AVX-512, where the processor has
// it. The vectors stay inside these functions (loaded and stored through
// memcpy), so no 64-byte vector crosses a call built without AVX-512.
#if defined(KESTRAV3_X86_VECTORS)
using Wide = std::uint16_t __attribute__((vector_size(64)));
constexpr int wide_size = sizeof(Wide);

// Whole 64-byte steps of code_and_swap_with_noise; returns the bytes done.
__attribute__((target("avx512f,avx512bw"))) int code_and_swap_wide(std::uint8_t* data, int n, const std::uint8_t* noise,
                                                                   std::uint8_t* masked_noise) {
    int i = 0;
    for (; i + wide_size <= n; i += wide_size) {
        Wide fresh, plain, key;
        std::memcpy(&fresh, noise + i, sizeof fresh);
        std::memcpy(&plain, data + i, sizeof plain);
        std::memcpy(&key, &kmatrix[i], sizeof key);
        const Wide mixed = plain ^ fresh;
        const Wide coded = (mixed << 8) | (mixed >> 8);
        const Wide masked = fresh ^ key;
        std::memcpy(data + i, &coded, sizeof coded);
        std::memcpy(masked_noise + i, &masked, sizeof masked);
    }
    return i;
}

// Whole 64-byte steps of swap_and_decode_with; returns the bytes done.
__attribute__((target("avx512f,avx512bw"))) int swap_and_decode_wide(std::uint8_t* data, int n,
                                                                     const std::uint8_t* stored_noise) {
    int i = 0;
    for (; i + wide_size <= n; i += wide_size) {
        Wide stored, noise, key;
        std::memcpy(&stored, data + i, sizeof stored);
        std::memcpy(&noise, stored_noise + i, sizeof noise);
        std::memcpy(&key, &kmatrix[i], sizeof key);
        const Wide plain = ((stored << 8) | (stored >> 8)) ^ noise ^ key;
        std::memcpy(data + i, &plain, sizeof plain);
    }
    return i;
}

#else
int code_and_swap_wide(std::uint8_t*, int, const std::uint8_t*, std::uint8_t*) { return 0; }
int swap_and_decode_wide(std::uint8_t*, int, const std::uint8_t*) { return 0; }
#endif

bool use_wide() {
    using platform::FastPath;
    static const bool possible = platform::path_possible(platform::FastUnit::transforms, FastPath::avx512);
    return possible && platform::chosen_path(platform::FastUnit::transforms) != FastPath::reference;
}

}  // namespace

void code_and_swap_with_noise(std::uint8_t* data, int n, const std::uint8_t* noise, std::uint8_t* masked_noise) {
    // Each step reads its noise before it stores the masked noise, so the
    // two may be the same bytes.
    int i = use_wide() ? code_and_swap_wide(data, n, noise, masked_noise) : 0;
    for (; i + lanes_size <= n; i += lanes_size) {
        const Lanes fresh = load<Lanes>(noise + i);
        const Lanes mixed = load<Lanes>(data + i) ^ fresh;
        store(data + i, (mixed << 8) | (mixed >> 8));
        store(masked_noise + i, fresh ^ load<Lanes>(&kmatrix[i]));
    }
    for (; i + word_size <= n; i += word_size) {
        const Word fresh = load(noise + i);
        store(data + i, swap_pairs(load(data + i) ^ fresh));
        store(masked_noise + i, fresh ^ load(&kmatrix[i]));
    }
    for (int j = i; j < n; ++j) {
        data[j] ^= noise[j];
        masked_noise[j] = noise[j] ^ kmatrix[j];
    }
    for (; i + 1 < n; i += 2) std::swap(data[i], data[i + 1]);
}

void swap_and_decode_with(std::uint8_t* data, int n, const std::uint8_t* stored_noise) {
    int i = use_wide() ? swap_and_decode_wide(data, n, stored_noise) : 0;
    for (; i + lanes_size <= n; i += lanes_size) {
        const Lanes noise = load<Lanes>(stored_noise + i) ^ load<Lanes>(&kmatrix[i]);
        const Lanes stored = load<Lanes>(data + i);
        store(data + i, ((stored << 8) | (stored >> 8)) ^ noise);
    }
    for (int j = i; j + 1 < n; j += 2) std::swap(data[j], data[j + 1]);
    for (; i < n; ++i) data[i] ^= stored_noise[i] ^ kmatrix[i];
}

void swap_and_decode(std::uint8_t* data, int n) {
    swap_and_decode_with(data, n, vizard.data());
    // vizard then holds the unmasked noise, the stored noise unmasked.
    for (int i = 0; i < n; ++i) vizard[i] ^= kmatrix[i];
}

int permut(std::uint8_t* data, int n) {
    // Swapping in place needs no scratch memory, so this cannot fail.
    int j = 0;
    for (; j + word_size <= n; j += word_size) store(data + j, swap_pairs(load(data + j)));
    for (; j + 1 < n; j += 2) std::swap(data[j], data[j + 1]);
    return 0;
}

}  // namespace kestrav3
