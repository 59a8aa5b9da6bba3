#include "io/picture.h"

#include <OpenImageIO/imagebuf.h>

#include "io/staged_image.h"

namespace dof {

bool writePicture(const Picture& picture, const std::string& path, int bits, std::string* error) {
    OIIO::ImageSpec imageSpec(picture.width, picture.height, picture.channels,
                              OIIO::TypeDesc::FLOAT);
    if (picture.channels == 4) {
        // The alpha is straight, so that writers of file types that store
        // straight colour do not divide the colour by it once more.
        imageSpec.alpha_channel = 3;
        imageSpec.attribute("oiio:UnassociatedAlpha", 1);
    }
    const OIIO::ImageBuf buf(imageSpec, const_cast<float*>(picture.values.data()));
    return writeImageAtomically(buf, path, error,
                                bits == 8 ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16);
}

}  // namespace dof
