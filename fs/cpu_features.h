#pragma once

namespace tavrin::fs {

// Whether this CPU, and the system, run AVX2 instructions: asked once.
// False where the compiler has no way to ask; the callers then keep to
// their portable or SSE2 code.
inline bool cpuHasAvx2() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace tavrin::fs
