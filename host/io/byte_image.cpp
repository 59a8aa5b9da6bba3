#include "io/byte_image.h"

#include <OpenImageIO/imagebuf.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "io/file_record.h"
#include "io/flat_image.h"
#include "io/staged_image.h"
#include "util/error_line.h"

namespace dof {

bool readByteImage(const std::string& path, ByteImage* image, std::string* error) {
    // The colour is read as stored: blurring premultiplies it itself.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = openFlatImage(path, &config, error);
    if (!in) return false;
    const OIIO::ImageSpec& imageSpec = in->spec();
    const std::int64_t rowBytes = std::int64_t(imageSpec.width) * std::max(imageSpec.nchannels, 4);
    if (rowBytes > INT_MAX || rowBytes * imageSpec.height > std::int64_t(INT_MAX)) {
        *error = path + ": image too large (" + std::to_string(imageSpec.width) + "x" +
                 std::to_string(imageSpec.height) + ")";
        return false;
    }
    image->width = imageSpec.width;
    image->height = imageSpec.height;
    image->channels = imageSpec.nchannels;
    image->record.contents().parts = {imageSpec};
    image->bytes.resize(std::size_t(imageSpec.width) * imageSpec.height * imageSpec.nchannels);
    if (!in->read_image(0, 0, 0, imageSpec.nchannels, OIIO::TypeDesc::UINT8, image->bytes.data())) {
        *error = path + ": cannot read: " + oneLine(in->geterror());
        return false;
    }
    return true;
}

bool writeByteImage(const ByteImage& image, const std::string& path, std::string* error) {
    OIIO::ImageSpec imageSpec = image.record.contents().parts.front();
    imageSpec.set_format(OIIO::TypeDesc::UINT8);
    if (imageSpec.nchannels != image.channels) {
        imageSpec.nchannels = image.channels;
        imageSpec.channelnames.resize(std::size_t(image.channels));
        if (imageSpec.alpha_channel >= image.channels) imageSpec.alpha_channel = -1;
    }
    // The colour is written as it is, never divided by alpha on the way out.
    imageSpec.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageBuf buf(imageSpec, const_cast<unsigned char*>(image.bytes.data()));
    return writeImageAtomically(buf, path, error, OIIO::TypeDesc::UINT8);
}

}  // namespace dof
