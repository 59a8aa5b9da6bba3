// The group kernels on four doubles, for x86-64 processors with AVX2. Built
// with -mavx2 (never with fused multiply-adds) and called only where the
// processor has it.
#if defined(__x86_64__)
#include "dof/splat_group_kernels.h"

typedef double SplatVectorAVX2 __attribute__((vector_size(32)));

const SplatGroupKernels kSplatKernelsAVX2 = make_kernels<SplatVectorAVX2, 1, 2, 3, 4>();
#endif
