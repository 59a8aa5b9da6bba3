#include "io/picture.h"

#include <OpenImageIO/imagebuf.h>

#include <filesystem>

#include "io/flat_image.h"
#include "io/staged_image.h"
#include "util/error_line.h"

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

bool readGreyPicture(const std::string& path, Picture* picture, std::string* error) {
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored) &&
        std::filesystem::file_size(path, ignored) == 0) {
        *error = path + ": empty file";
        return false;
    }
    auto in = openFlatImage(path, nullptr, error);
    if (!in) return false;
    const OIIO::ImageSpec& imageSpec = in->spec();
    const int channels = std::min(imageSpec.nchannels, 3);
    const std::size_t pixels = std::size_t(imageSpec.width) * std::size_t(imageSpec.height);
    std::vector<float> values(pixels * std::size_t(channels));
    if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, values.data())) {
        *error = path + ": cannot read: " + oneLine(in->geterror());
        return false;
    }
    picture->width = imageSpec.width;
    picture->height = imageSpec.height;
    picture->channels = 1;
    picture->values.resize(pixels);
    for (std::size_t i = 0; i < picture->values.size(); ++i) {
        const float* v = &values[i * std::size_t(channels)];
        picture->values[i] =
            channels < 3 ? v[0] : 0.2126f * v[0] + 0.7152f * v[1] + 0.0722f * v[2];
    }
    return true;
}

}  // namespace dof
