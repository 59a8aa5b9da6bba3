// The group kernels on two doubles: SSE2, which every x86-64 processor and
// the 32-bit build have.
#include "dof/splat_group_kernels.h"

typedef double SplatVectorSSE2 __attribute__((vector_size(16)));

const SplatGroupKernels kSplatKernelsSSE2 = make_kernels<SplatVectorSSE2, 1, 2, 3, 4>();
