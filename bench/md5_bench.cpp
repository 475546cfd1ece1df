// MD5 of 4096-byte blocks, the per-block check of the coder, measured side by
// side with OpenSSL's MD5 on the same blocks. OpenSSL is only the yardstick
// here; the product does not link it.
#include "md5/md5.h"

#include <benchmark/benchmark.h>
#include <openssl/md5.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace {

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

// Repeated, so the medians of both can be compared within one run.
BENCHMARK(BM_openssl_md5_4096)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_md5cnt_4096)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
