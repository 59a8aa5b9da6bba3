// The render engine for 10-bit packed RGBA buffers (format code 2).
#include "dof/MaxDOF_impl.h"
#include "dof/MaxDOF_output.h"

template class MaxDOF<QVBufferRGBA10, QVPixelRGBA10, unsigned short>;
