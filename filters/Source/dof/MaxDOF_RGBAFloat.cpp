// The render engine for floating-point RGBA buffers (format code 5).
#include "dof/MaxDOF_impl.h"
#include "dof/MaxDOF_output.h"

template class MaxDOF<QVBufferRGBAFloat, QVPixelRGBAFloat, float>;
