#include "shared/buffers.h"

namespace kestrav3 {

Block kmatrix{};
Block vizard{};

void clear_buffers() {
    kmatrix.fill(0);
    vizard.fill(0);
}

}  // namespace kestrav3
