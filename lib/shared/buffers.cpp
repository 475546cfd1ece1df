#include "shared/buffers.h"

namespace kestrav3 {

std::array<std::uint8_t, BLOCK_SIZE> kmatrix{};
std::array<std::uint8_t, BLOCK_SIZE> vizard{};

}  // namespace kestrav3
