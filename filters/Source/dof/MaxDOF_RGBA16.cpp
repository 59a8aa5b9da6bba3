// The render engine for 16-bit RGBA buffers (format code 4).
#include "dof/MaxDOF_impl.h"
#include "dof/MaxDOF_output.h"

template class MaxDOF<QVBufferRGBA16, QVPixelRGBA16, unsigned short>;
