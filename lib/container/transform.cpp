#include "container/transform.h"

#include <utility>

#include "md5/md5.h"
#include "random/dense_noise.h"
#include "random/fast_noise.h"
#include "random/keystream.h"

namespace kestrav3 {

std::array<std::uint8_t, BLOCK_SIZE> kmatrix{};
std::array<std::uint8_t, BLOCK_SIZE> vizard{};

namespace {

// Plain ^= noise, then noise ^= key matrix: what both coding calls share.
void mix_and_mask(std::uint8_t* data, int n) {
    for (int i = 0; i < n; ++i) {
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
    if (noise_gen_dense(n) < 0) return -1;
    mix_and_mask(data, n);
    return 0;
}

void code_block_fast(std::uint8_t* data, int n) {
    noise_gen_unix(1);
    mix_and_mask(data, n);
}

void decode_block(std::uint8_t* data, int n) {
    for (int i = 0; i < n; ++i) {
        vizard[i] ^= kmatrix[i];
        data[i] ^= vizard[i];
    }
}

int permut(std::uint8_t* data, int n) {
    // Swapping in place needs no scratch memory, so this cannot fail.
    for (int j = 0; j + 1 < n; j += 2) std::swap(data[j], data[j + 1]);
    return 0;
}

}  // namespace kestrav3
