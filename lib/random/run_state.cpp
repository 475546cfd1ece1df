#include "random/run_state.h"

#include "random/dense_noise.h"
#include "random/fast_noise.h"
#include "random/keystream.h"

namespace kestrav3 {

void reset_generators() {
    init_seed = 0;
    xrnd1 = 0;
    xrnd2 = 0;
    m62 = 0;
    unix_seed = 0;
    m48 = 0;
}

}  // namespace kestrav3
