// Which path of which unit is possible here, and the path each unit takes.
#include "platform/fast_paths.h"

#include <array>

#include "platform/platform.h"

namespace kestrav3::platform {

namespace {

constexpr std::size_t unit_count = 6;

std::array<FastPath, unit_count> chosen = {FastPath::automatic, FastPath::automatic, FastPath::automatic,
                                           FastPath::automatic, FastPath::automatic, FastPath::automatic};

std::size_t index_of(FastUnit unit) { return static_cast<std::size_t>(unit); }

#if defined(KESTRAV3_X86_VECTORS)
// What the processor must offer for the unit's path; false for a path the
// unit does not have. automatic and reference are handled by the caller.
bool processor_runs(FastUnit unit, FastPath path) {
    const CpuFeatures& cpu = cpu_features();
    const bool avx512_with_vl = cpu.avx512f && cpu.avx512vl;
    switch (unit) {
    case FastUnit::md5_lanes:
        switch (path) {
        case FastPath::sse2: return true;
        case FastPath::avx2: return cpu.avx2;
        case FastPath::avx512_128:
        case FastPath::avx512_256:
        case FastPath::avx512: return cpu.avx2 && avx512_with_vl;
        default: return false;
        }
    case FastUnit::fast_noise: {
        const bool avx512 = avx512_with_vl && cpu.avx512dq && cpu.avx512bw;
        switch (path) {
        case FastPath::avx2: return cpu.avx2;
        case FastPath::avx512: return avx512;
        case FastPath::avx512_ifma: return avx512 && cpu.avx512ifma && cpu.avx512vbmi2 && cpu.bmi2 && cpu.popcnt;
        default: return false;
        }
    }
    case FastUnit::transforms: return path == FastPath::avx512 && cpu.avx512f && cpu.avx512bw;
    case FastUnit::first_rand: return path == FastPath::avx512 && avx512_with_vl && cpu.avx512dq;
    case FastUnit::gf16_region:
        switch (path) {
        case FastPath::ssse3: return cpu.ssse3;
        case FastPath::avx2: return cpu.avx2;
        case FastPath::avx512: return cpu.avx512f && cpu.avx512bw;
        case FastPath::avx2_gfni: return cpu.avx2 && cpu.gfni;
        case FastPath::avx512_gfni: return cpu.avx512f && cpu.avx512bw && cpu.gfni;
        default: return false;
        }
    case FastUnit::crc32: return path == FastPath::pclmul && cpu.pclmul;
    }
    return false;
}
#endif

}  // namespace

bool path_possible(FastUnit unit, FastPath path) {
    if (path == FastPath::automatic || path == FastPath::reference) return true;
#if defined(KESTRAV3_X86_VECTORS)
    return processor_runs(unit, path);
#else
    (void)unit;
    return false;
#endif
}

bool choose_path(FastUnit unit, FastPath path) {
    if (!path_possible(unit, path)) return false;
    chosen[index_of(unit)] = path;
    return true;
}

FastPath chosen_path(FastUnit unit) { return chosen[index_of(unit)]; }

}  // namespace kestrav3::platform
