// The randomness behind the coder: deriving a key matrix, the two noise
// generators per chunk, and the key-stream step in its integer and its
// decimal-string form.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "container/transform.h"
#include "random/dense_noise.h"
#include "random/fast_noise.h"
#include "random/keystream.h"

using namespace kestrav3;

namespace {

// One key matrix: MD5 of the key and 4096 key-stream steps.
void BM_gen_kmatrix(benchmark::State& state) {
    for (auto _ : state) {
        gen_kmatrix("correct horse battery staple");
        benchmark::DoNotOptimize(kmatrix.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_gen_kmatrix)->Unit(benchmark::kMicrosecond);

// Fast noise for one chunk: two clock seeds and all 4096 bytes, no zeros.
void BM_noise_gen_unix(benchmark::State& state) {
    for (auto _ : state) {
        noise_gen_unix(1);
        benchmark::DoNotOptimize(vizard.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * BLOCK_SIZE);
}
BENCHMARK(BM_noise_gen_unix)->Unit(benchmark::kMicrosecond);

// Dense noise for a full block: two hardware/clock seedings and 4096 steps.
void BM_noise_gen_dense(benchmark::State& state) {
    int failures = 0;
    for (auto _ : state) {
        failures += noise_gen_dense(BLOCK_SIZE) < 0;
        benchmark::DoNotOptimize(vizard.data());
        benchmark::ClobberMemory();
    }
    state.counters["failed_seedings"] = failures;
    state.SetBytesProcessed(state.iterations() * BLOCK_SIZE);
}
BENCHMARK(BM_noise_gen_dense)->Unit(benchmark::kMicrosecond);

// One key-stream step from 10-digit states, the costliest decimal case.
template <std::int32_t (*step)()>
void BM_key_stream_step(benchmark::State& state) {
    RSA_srand(-1);
    for (auto _ : state) {
        if (static_cast<std::uint32_t>(init_seed) < 1000000000u) RSA_srand(-1);  // stay with 10 digits
        benchmark::DoNotOptimize(step());
    }
}
BENCHMARK_TEMPLATE(BM_key_stream_step, RSA_rand)->Name("BM_RSA_rand");
BENCHMARK_TEMPLATE(BM_key_stream_step, RSA_rand_decimal)->Name("BM_RSA_rand_decimal");

}  // namespace
