// MD5 of 4096-byte blocks, the per-block check of the coder, measured side by
// side with OpenSSL's MD5 on the same blocks. OpenSSL is only the yardstick
// here; the product does not link it.
#include "md5/md5.h"
#include "md5/md5_lanes.h"
#include "platform/fast_paths.h"

#include <benchmark/benchmark.h>
#include <openssl/md5.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using kestrav3::platform::FastPath;
using kestrav3::platform::FastUnit;

constexpr int kBlock = 4096;
constexpr int kBlocks = 64;  // 256 KiB: stays in L2, like the coder's buffers

const std::vector<std::uint8_t>& blocks() {
    static const std::vector<std::uint8_t> data = [] {
        std::vector<std::uint8_t> v(static_cast<std::size_t>(kBlock) * kBlocks);
        std::mt19937 rng(4096);
        for (auto& b : v) b = static_cast<std::uint8_t>(rng());
        return v;
    }();
    return data;
}

void BM_md5cnt_4096(benchmark::State& state) {
    const auto& data = blocks();
    std::array<char, 33> text{};
    int seed = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        kestrav3::md5cnt(data.data() + i * kBlock, kBlock, text.data(), &seed);
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(seed);
        i = (i + 1) % kBlocks;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

void BM_openssl_md5_4096(benchmark::State& state) {
    const auto& data = blocks();
    std::array<unsigned char, MD5_DIGEST_LENGTH> digest{};
    std::size_t i = 0;
    for (auto _ : state) {
        MD5_CTX ctx;
        MD5_Init(&ctx);
        MD5_Update(&ctx, data.data() + i * kBlock, kBlock);
        MD5_Final(digest.data(), &ctx);
        benchmark::DoNotOptimize(digest);
        i = (i + 1) % kBlocks;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kBlock);
}

// md5_blocks on one pinned path, count blocks per call as the coder batches
// them; range(0) is the path, range(1) the count.
void BM_md5_blocks(benchmark::State& state) {
    const auto path = static_cast<FastPath>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    if (!kestrav3::platform::choose_path(FastUnit::md5_lanes, path)) {
        state.SkipWithError("path not supported on this processor");
        return;
    }
    const auto& data = blocks();
    char texts[kestrav3::max_md5_lanes][33];
    std::size_t i = 0;
    for (auto _ : state) {
        const std::uint8_t* batch[kestrav3::max_md5_lanes];
        for (int l = 0; l < count; ++l) batch[l] = data.data() + ((i + l) % kBlocks) * kBlock;
        kestrav3::md5_blocks(batch, count, texts);
        benchmark::DoNotOptimize(texts);
        i = (i + count) % kBlocks;
    }
    kestrav3::platform::choose_path(FastUnit::md5_lanes, FastPath::automatic);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * count * kBlock);
}

void md5_blocks_args(benchmark::internal::Benchmark* b) {
    using P = FastPath;
    b->ArgNames({"path", "count"});
    for (P path : {P::automatic, P::reference, P::sse2, P::avx2, P::avx512_128, P::avx512_256, P::avx512})
        for (int count : {4, 8, 16}) b->Args({static_cast<int>(path), count});
}

// Repeated, so the medians of both can be compared within one run.
BENCHMARK(BM_openssl_md5_4096)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_md5cnt_4096)->Repetitions(5)->ReportAggregatesOnly(true);
// path: 0 automatic, 1 reference, 2 sse2, 3 avx2, 4 avx512_128, 5 avx512_256, 6 avx512
BENCHMARK(BM_md5_blocks)->Apply(md5_blocks_args)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

namespace {

// The serial MD5 of a long message (the whole file's MD5 of a recovery set),
// alone and side by side with a second message (a slice's MD5): rates in
// bytes of each message per second. OpenSSL's MD5 of the same bytes is the
// yardstick of one serial chain.
void BM_md5_stream(benchmark::State& state) {
    const auto& data = blocks();
    kestrav3::Md5Stream stream;
    for (auto _ : state) {
        stream.update(data.data(), data.size());
        benchmark::DoNotOptimize(stream);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_md5_stream);

void BM_md5_update_two(benchmark::State& state) {
    const auto& data = blocks();
    kestrav3::Md5Stream a, b;
    for (auto _ : state) {
        kestrav3::Md5Stream::update_two(a, data.data(), data.size(), b, data.data(), data.size());
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_md5_update_two);

void BM_openssl_md5_stream(benchmark::State& state) {
    const auto& data = blocks();
    MD5_CTX context;
    MD5_Init(&context);
    for (auto _ : state) {
        MD5_Update(&context, data.data(), data.size());
        benchmark::DoNotOptimize(context);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_openssl_md5_stream);

}  // namespace
