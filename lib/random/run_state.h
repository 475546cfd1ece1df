// The generators' per-run state, for the start of a run.
#pragma once

namespace kestrav3 {

// Puts the generators' globals (init_seed in keystream.h, xrnd1, xrnd2 and
// m62 in dense_noise.h, unix_seed and m48 in fast_noise.h) back to zero, as
// the library is loaded. Every run seeds them before use, so this only
// makes a run independent of the one before by construction.
// Not per-run, so not reset: whether the processor has RDRAND and whether
// the direct first rand() matches the runtime (facts of the process), the
// digits of the last clock second (a cache of its input), and the fast
// noise's lane buffers (written before they are read on every call).
void reset_generators();

}  // namespace kestrav3
