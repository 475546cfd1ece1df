#include "shared/buffers.h"

namespace kestrav3 {

Block kmatrix{};
Block vizard{};

}  // namespace kestrav3
