// The group kernels on eight doubles, for x86-64 processors with AVX-512F.
// Built with -mavx512f (never with fused multiply-adds) and called only
// where the processor has it.
#if defined(__x86_64__)
#include "dof/splat_group_kernels.h"

typedef double SplatVectorAVX512 __attribute__((vector_size(64)));

const SplatGroupKernels kSplatKernelsAVX512 =
    make_kernels<SplatVectorAVX512, 1, 2, 3, 4, 5, 6, 7, 8>();
#endif
