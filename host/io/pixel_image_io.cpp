#include "io/pixel_image_io.h"

namespace dof {

OIIO::ImageBuf toImageBuf(const runtime::PixelImage& image) {
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

}  // namespace dof
