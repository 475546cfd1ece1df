// The randomness behind the coder: deriving a key matrix, the two noise
// generators per chunk, and the key-stream step in its integer and its
// decimal-string form.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "random/dense_noise.h"
#include "random/fast_noise.h"
#include "random/fast_noise_paths.h"
#include "random/first_rand.h"
#include "random/keystream.h"
#include "reference/slow_generators.h"
#include "transform/transform.h"

using namespace kestrav3;
using platform::FastPath;
using platform::FastUnit;

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
        noise_gen_unix(true, vizard.data());
        benchmark::DoNotOptimize(vizard.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * BLOCK_SIZE);
}
BENCHMARK(BM_noise_gen_unix)->Unit(benchmark::kMicrosecond);

// Fast noise for a batch as the encoder asks for it: sixteen blocks, 32
// clock-seeded passes, no zeros; on each way of computing it.
void BM_noise_gen_unix_many(benchmark::State& state) {
    const auto path = static_cast<FastPath>(state.range(0));
    if (!platform::choose_path(FastUnit::fast_noise, path)) {
        state.SkipWithError("path not supported here");
        return;
    }
    static std::array<std::array<std::uint8_t, BLOCK_SIZE>, max_noise_blocks> blocks{};
    std::array<std::uint8_t*, max_noise_blocks> ptrs{};
    for (int k = 0; k < max_noise_blocks; ++k) ptrs[k] = blocks[k].data();
    for (auto _ : state) {
        noise_gen_unix_many(true, ptrs.data(), max_noise_blocks);
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
    }
    platform::choose_path(FastUnit::fast_noise, FastPath::automatic);
    state.SetBytesProcessed(state.iterations() * BLOCK_SIZE * max_noise_blocks);
}

// The same without the clock seeding: only the chains of draws, with the
// time per byte of noise made (a little more than one draw each).
void BM_noise_from_seeds(benchmark::State& state) {
    const auto path = static_cast<FastPath>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    if (!platform::path_possible(FastUnit::fast_noise, path)) {
        state.SkipWithError("path not supported here");
        return;
    }
    static std::array<std::array<std::uint8_t, BLOCK_SIZE>, max_noise_blocks> blocks{};
    std::array<std::uint8_t*, max_noise_blocks> ptrs{};
    for (int k = 0; k < max_noise_blocks; ++k) ptrs[k] = blocks[k].data();
    std::array<std::int64_t, 2 * max_noise_blocks> seeds{};
    for (auto _ : state) {
        for (std::size_t c = 0; c < seeds.size(); ++c) seeds[c] = static_cast<std::int64_t>(unix_seed + 977 * c);
        noise_from_seeds(true, seeds.data(), ptrs.data(), count, path);
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_byte"] = benchmark::Counter(static_cast<double>(state.iterations()) * BLOCK_SIZE * count,
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void noise_paths(benchmark::internal::Benchmark* b) {
    for (FastPath p : {FastPath::reference, FastPath::avx2, FastPath::avx512, FastPath::avx512_ifma})
        b->Arg(static_cast<int>(p));
}
void noise_paths_counts(benchmark::internal::Benchmark* b) {
    for (FastPath p : {FastPath::reference, FastPath::avx2, FastPath::avx512, FastPath::avx512_ifma})
        for (int count : {1, 2, 4, 8, 16}) b->Args({static_cast<int>(p), count});
}
BENCHMARK(BM_noise_gen_unix_many)->Apply(noise_paths)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_noise_from_seeds)->Apply(noise_paths_counts)->Unit(benchmark::kMicrosecond);

// The first rand() after srand, one seed at a time and 32 at once (as a
// noise batch asks for its seeds).
void BM_first_rand_after(benchmark::State& state) {
    std::uint32_t seed = 12345, sink = 0;
    for (auto _ : state) sink += first_rand_after(seed++);
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_first_rand_after);

void BM_first_rands_after_32(benchmark::State& state) {
    std::array<std::uint32_t, 32> seeds{}, out{};
    std::uint32_t next = 12345;
    for (auto _ : state) {
        for (auto& s : seeds) s = next++;
        first_rands_after(seeds.data(), 32, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_first_rands_after_32);

// Dense noise for a full block: two hardware/clock seedings and 4096 steps.
void BM_noise_gen_dense(benchmark::State& state) {
    int failures = 0;
    for (auto _ : state) {
        failures += noise_gen_dense(vizard.data(), BLOCK_SIZE) < 0;
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
