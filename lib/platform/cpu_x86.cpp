// The processor's random-number instruction, the same on every operating
// system: CPUID says whether it is there, RDRAND draws from it.
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

#else

bool cpu_has_rdrand() { return false; }
bool rdrand64(std::uint64_t*) { return false; }

#endif

}  // namespace kestrav3::platform
