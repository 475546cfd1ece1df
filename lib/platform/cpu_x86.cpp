// The processor, the same on every operating system: CPUID says whether the
// random-number instruction is there, RDRAND draws from it, and the vector
// features are read once for the accelerated paths.
#include "platform/platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace kestrav3::platform {

#if defined(__x86_64__) || defined(__i386__)

bool cpu_has_rdrand() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    if (eax < 1) return false;
    __cpuid(1, eax, ebx, ecx, edx);
    return (ecx & 0x40000000u) != 0;
}

// Compiled for RDRAND only here; callers ask cpu_has_rdrand() first.
__attribute__((target("rdrnd"))) bool rdrand64(std::uint64_t* out) {
    unsigned long long value = 0;
    if (_rdrand64_step(&value) == 0) return false;
    *out = value;
    return true;
}

const CpuFeatures& cpu_features() {
    static const CpuFeatures features = [] {
        __builtin_cpu_init();
        CpuFeatures f;
        f.ssse3 = __builtin_cpu_supports("ssse3");
        f.avx2 = __builtin_cpu_supports("avx2");
        f.avx512f = __builtin_cpu_supports("avx512f");
        f.avx512dq = __builtin_cpu_supports("avx512dq");
        f.avx512vl = __builtin_cpu_supports("avx512vl");
        f.avx512bw = __builtin_cpu_supports("avx512bw");
        f.avx512ifma = __builtin_cpu_supports("avx512ifma");
        f.avx512vbmi2 = __builtin_cpu_supports("avx512vbmi2");
        f.bmi2 = __builtin_cpu_supports("bmi2");
        f.popcnt = __builtin_cpu_supports("popcnt");
        f.gfni = __builtin_cpu_supports("gfni");
        f.pclmul = __builtin_cpu_supports("pclmul");
        return f;
    }();
    return features;
}

#else

bool cpu_has_rdrand() { return false; }
bool rdrand64(std::uint64_t*) { return false; }
const CpuFeatures& cpu_features() {
    static const CpuFeatures none;
    return none;
}

#endif

}  // namespace kestrav3::platform
