// The render engine for 8-bit RGBA buffers (format code 1).
#include "dof/MaxDOF_impl.h"
#include "dof/MaxDOF_output.h"

template class MaxDOF<QVBufferRGBA8, QVPixelRGBA8, unsigned char>;
