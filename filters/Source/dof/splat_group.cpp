#include "dof/splat_group.h"

const SplatGroupKernels* splat_group_kernels(SplatVariant variant) {
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2");
    const bool avx512 = __builtin_cpu_supports("avx512f");
    switch (variant) {
        case kSplatBest:
            return avx512 ? &kSplatKernelsAVX512 : (avx2 ? &kSplatKernelsAVX2 : &kSplatKernelsSSE2);
        case kSplatSSE2:
            return &kSplatKernelsSSE2;
        case kSplatAVX2:
            return avx2 ? &kSplatKernelsAVX2 : nullptr;
        case kSplatAVX512:
            return avx512 ? &kSplatKernelsAVX512 : nullptr;
    }
    return nullptr;
#else
    return variant == kSplatBest || variant == kSplatSSE2 ? &kSplatKernelsSSE2 : nullptr;
#endif
}
