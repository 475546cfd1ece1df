// What a hostile or merely large set can cost the repair: reading set files
// whose packet heads lie every 64 bytes (each claiming to run to the end),
// and choosing and solving the rows for d damaged slices. The reading must
// grow with the set's size, not its square; the solve grows with d cubed,
// which is why a repair takes on at most max_solved_slices.
#include "recovery/par2_packets.h"
#include "recovery/par2_reader.h"
#include "recovery/par2_solver.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace {

namespace recovery = kestrav3::recovery;

// range(0) bytes of packet heads every 64 bytes, every one claiming the
// rest of the file, of the types a set is read for.
std::vector<std::uint8_t> dense_heads(std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0);
    const recovery::PacketType* types[] = {&recovery::main_type, &recovery::slice_checksum_type,
                                           &recovery::recovery_slice_type};
    for (std::size_t at = 0; at + 64 <= size; at += 64) {
        std::copy(recovery::packet_magic.begin(), recovery::packet_magic.end(), bytes.begin() + at);
        const std::uint64_t length = (size - at) / 4 * 4;
        for (int b = 0; b < 8; ++b) bytes[at + 8 + b] = static_cast<std::uint8_t>(length >> (8 * b));
        const auto& type = *types[(at / 64) % 3];
        std::copy(type.begin(), type.end(), bytes.begin() + at + 48);
    }
    return bytes;
}

void BM_scan_dense_heads(benchmark::State& state) {
    const auto bytes = dense_heads(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        recovery::SetReader reader;
        reader.scan_bytes(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(reader.choose("in.archi"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_scan_dense_heads)->Arg(256 << 10)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

// d damaged slices of 4 bytes: the rows chosen, then the solve.
void BM_choose_and_solve(benchmark::State& state) {
    const auto d = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint32_t> damaged(d), exponents(d);
    std::iota(damaged.begin(), damaged.end(), 0u);
    std::iota(exponents.begin(), exponents.end(), 0u);
    for (auto _ : state) {
        const auto rows = recovery::choose_rows(damaged, exponents);
        recovery::Rebuilder rebuilder;
        rebuilder.start(damaged, exponents, 4);
        benchmark::DoNotOptimize(rebuilder.solve());
        benchmark::DoNotOptimize(rows.size());
    }
}
BENCHMARK(BM_choose_and_solve)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);

}  // namespace
