// The render engine for 12-bit packed RGBA buffers (format code 3).
#include "dof/MaxDOF_impl.h"
#include "dof/MaxDOF_output.h"

template class MaxDOF<QVBufferRGBA12, QVPixelRGBA12, unsigned short>;
