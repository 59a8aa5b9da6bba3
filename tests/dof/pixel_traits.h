// The plug-in's pixel traits chosen by a format code at run time, so that one
// table of rows can run over every format.
#pragma once

#include "dof/QVPixel.h"

namespace doftest {

// Calls f with a value of the traits of format code 1 to 5.
template <class F>
decltype(auto) withPixelTraits(int code, F&& f) {
    switch (code) {
        case 1:
            return f(QVPixelRGBA8());
        case 2:
            return f(QVPixelRGBA10());
        case 3:
            return f(QVPixelRGBA12());
        case 4:
            return f(QVPixelRGBA16());
        default:
            return f(QVPixelRGBAFloat());
    }
}

}  // namespace doftest
