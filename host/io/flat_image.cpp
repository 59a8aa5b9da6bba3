#include "io/flat_image.h"

#include "util/error_line.h"

namespace dof {

std::unique_ptr<OIIO::ImageInput> openFlatImage(const std::string& path,
                                                const OIIO::ImageSpec* config,
                                                std::string* error) {
    auto in = OIIO::ImageInput::open(path, config);
    if (!in) {
        *error = path + ": cannot read: " + oneLine(OIIO::geterror());
        return nullptr;
    }
    const OIIO::ImageSpec& header = in->spec();
    if (header.width <= 0 || header.height <= 0 || header.depth > 1 || header.nchannels <= 0) {
        *error = path + ": not a two-dimensional image";
        return nullptr;
    }
    return in;
}

}  // namespace dof
