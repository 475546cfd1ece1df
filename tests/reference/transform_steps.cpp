#include "reference/transform_steps.h"

#include "shared/buffers.h"

namespace kestrav3 {

void code_block_with_noise(std::uint8_t* data, int n, const std::uint8_t* noise) {
    for (int i = 0; i < n; ++i) {
        vizard[i] = noise[i];
        data[i] ^= vizard[i];
        vizard[i] ^= kmatrix[i];
    }
}

void decode_block(std::uint8_t* data, int n) {
    for (int i = 0; i < n; ++i) {
        vizard[i] ^= kmatrix[i];
        data[i] ^= vizard[i];
    }
}

}  // namespace kestrav3
