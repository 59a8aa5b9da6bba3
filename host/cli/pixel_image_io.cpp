#include "cli/pixel_image_io.h"

#include <OpenImageIO/filesystem.h>
#include <unistd.h>

#include <cstdio>

#include "cli/error_line.h"

namespace dof3d {

OIIO::ImageBuf toImageBuf(const dofrt::PixelImage& image) {
    OIIO::ImageSpec imageSpec(image.width(), image.height(), 4, OIIO::TypeDesc::FLOAT);
    imageSpec.alpha_channel = 3;
    imageSpec.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageBuf buf(imageSpec);
    float pixel[4];
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            for (int c = 0; c < 4; ++c) pixel[c] = float(image.fraction(x, y, c));
            buf.setpixel(x, y, pixel, 4);
        }
    return buf;
}

bool writeImageAtomically(const OIIO::ImageBuf& buf, const std::string& path, std::string* error,
                          OIIO::TypeDesc dataFormat) {
    // The temporary keeps the output's extension so that the same writer is
    // chosen for it.
    const std::string extension = OIIO::Filesystem::extension(path);
    const std::string temporary = path + ".tmp" + std::to_string(getpid()) + extension;
    auto out = OIIO::ImageOutput::create(path);
    if (!out) {
        if (error) *error = path + ": no writer for this file type";
        return false;
    }
    OIIO::ImageSpec imageSpec = buf.spec();
    if (dataFormat != OIIO::TypeUnknown) imageSpec.set_format(dataFormat);
    if (!out->open(temporary, imageSpec)) {
        if (error) *error = path + ": cannot write: " + oneLine(out->geterror());
        std::remove(temporary.c_str());
        return false;
    }
    const bool written = buf.write(out.get());
    const bool closed = out->close();
    if (!written || !closed) {
        if (error)
            *error =
                path + ": cannot write: " + oneLine(written ? out->geterror() : buf.geterror());
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (error) *error = path + ": cannot move the finished file into place";
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace dof3d
