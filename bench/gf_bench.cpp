// The arithmetic of recovery data: GF(2^16) region multiply-adds on each
// pinned path, the multi-factor form the writer uses, and CRC-32. Rates are
// in bytes of source per second (a multiply-add of n bytes counts n).
#include "platform/fast_paths.h"
#include "recovery/crc32.h"
#include "recovery/gf16.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using kestrav3::platform::FastPath;
using kestrav3::platform::FastUnit;
namespace recovery = kestrav3::recovery;

std::vector<std::uint8_t> random_bytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> v(size);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

bool pin(benchmark::State& state, FastPath path) {
    if (kestrav3::platform::choose_path(FastUnit::gf16_region, path)) return true;
    state.SkipWithError("path not supported on this processor");
    return false;
}

// dst ^= factor * src over range(1) bytes on path range(0): 32 KiB stays in
// the first-level cache, 1 MiB in the second, 32 MiB goes to memory.
void BM_gf_mul_add_region(benchmark::State& state) {
    if (!pin(state, static_cast<FastPath>(state.range(0)))) return;
    const auto bytes = static_cast<std::size_t>(state.range(1));
    const std::vector<std::uint8_t> src = random_bytes(bytes, 1);
    std::vector<std::uint8_t> dst = random_bytes(bytes, 2);
    std::uint16_t factor = 0x1234;
    for (auto _ : state) {
        recovery::gf_mul_add_region(dst.data(), src.data(), bytes, factor);
        benchmark::ClobberMemory();
        factor = static_cast<std::uint16_t>(factor * 3 + 1) | 2;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    kestrav3::platform::choose_path(FastUnit::gf16_region, FastPath::automatic);
}

// One input slice of range(2) bytes into range(1) recovery slices, as the
// writer does for each slice it codes; counted as count * bytes.
void BM_gf_mul_add_multi(benchmark::State& state) {
    if (!pin(state, static_cast<FastPath>(state.range(0)))) return;
    const auto count = static_cast<std::size_t>(state.range(1));
    const auto bytes = static_cast<std::size_t>(state.range(2));
    const std::vector<std::uint8_t> src = random_bytes(bytes, 3);
    std::vector<std::vector<std::uint8_t>> recovery_slices;
    std::vector<std::uint8_t*> dst;
    std::vector<std::uint16_t> factors;
    for (std::size_t j = 0; j < count; ++j) {
        recovery_slices.push_back(random_bytes(bytes, 10 + static_cast<unsigned>(j)));
        dst.push_back(recovery_slices.back().data());
        factors.push_back(recovery::gf_pow(recovery::input_constant(7), static_cast<std::uint32_t>(j)));
    }
    for (auto _ : state) {
        recovery::gf_mul_add_multi(dst.data(), factors.data(), count, src.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * bytes));
    kestrav3::platform::choose_path(FastUnit::gf16_region, FastPath::automatic);
}

void region_paths(benchmark::internal::Benchmark* b) {
    for (FastPath p : {FastPath::reference, FastPath::ssse3, FastPath::avx2, FastPath::avx512, FastPath::avx2_gfni,
                       FastPath::avx512_gfni, FastPath::automatic})
        for (std::int64_t bytes : {32 << 10, 1 << 20, 32 << 20}) b->Args({static_cast<std::int64_t>(p), bytes});
}

void multi_paths(benchmark::internal::Benchmark* b) {
    for (FastPath p : {FastPath::reference, FastPath::avx2, FastPath::avx512, FastPath::avx2_gfni,
                       FastPath::avx512_gfni, FastPath::automatic})
        for (std::int64_t count : {5, 20})
            for (std::int64_t bytes : {8272 * 8, 8272 * 64}) b->Args({static_cast<std::int64_t>(p), count, bytes});
}

BENCHMARK(BM_gf_mul_add_region)->Apply(region_paths);
BENCHMARK(BM_gf_mul_add_multi)->Apply(multi_paths);

// The writer's batches: range(1) input slices of a 256-slice set of a
// 256 MiB coded file (2,125,904 bytes each) into its 13 recovery slices
// (27 MiB, more than the caches hold), on the chosen path. 1 source is what
// gf_mul_add_multi does slice by slice.
void BM_gf_mul_add_sources(benchmark::State& state) {
    constexpr std::size_t count = 13, bytes = 2125904;
    const auto sources = static_cast<std::size_t>(state.range(0));
    std::vector<std::vector<std::uint8_t>> inputs, recovery_slices;
    std::vector<const std::uint8_t*> src;
    std::vector<std::uint8_t*> dst;
    std::vector<std::uint16_t> factors;
    for (std::size_t s = 0; s < sources; ++s) {
        inputs.push_back(random_bytes(bytes, 20 + static_cast<unsigned>(s)));
        src.push_back(inputs.back().data());
    }
    for (std::size_t j = 0; j < count; ++j) {
        recovery_slices.push_back(random_bytes(bytes, 40 + static_cast<unsigned>(j)));
        dst.push_back(recovery_slices.back().data());
        for (std::size_t s = 0; s < sources; ++s)
            factors.push_back(recovery::gf_pow(recovery::input_constant(static_cast<std::uint32_t>(s)),
                                               static_cast<std::uint32_t>(j)));
    }
    for (auto _ : state) {
        recovery::gf_mul_add_sources(dst.data(), count, src.data(), sources, factors.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * sources * bytes));
}
BENCHMARK(BM_gf_mul_add_sources)->Arg(1)->Arg(2)->Arg(4)->Arg(8);

// CRC-32 of range(1) bytes on path range(0) (reference or pclmul).
void BM_crc32(benchmark::State& state) {
    const auto path = static_cast<FastPath>(state.range(0));
    if (!kestrav3::platform::choose_path(FastUnit::crc32, path)) {
        state.SkipWithError("path not supported on this processor");
        return;
    }
    const auto bytes = static_cast<std::size_t>(state.range(1));
    const std::vector<std::uint8_t> data = random_bytes(bytes, 4);
    std::uint32_t crc = 0;
    for (auto _ : state) {
        crc = recovery::crc32(crc, data.data(), bytes);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    kestrav3::platform::choose_path(FastUnit::crc32, FastPath::automatic);
}
BENCHMARK(BM_crc32)->ArgsProduct({{static_cast<std::int64_t>(FastPath::reference),
                                   static_cast<std::int64_t>(FastPath::pclmul)},
                                  {8272 * 8, 1 << 20}});

}  // namespace
