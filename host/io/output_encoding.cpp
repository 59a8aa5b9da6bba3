#include "io/output_encoding.h"

#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "io/file_record.h"
#include "io/output_images.h"
#include "io/output_types.h"
#include "io/render_settings_metadata.h"
#include "model/channel_layers.h"
#include "util/file_identity.h"

namespace dof {

namespace {

using OIIO::TypeDesc;

// Ranks data types by what they hold, for one type standing for several.
int precisionRank(TypeDesc type) {
    if (type == TypeDesc::UINT8) return 0;
    if (type == TypeDesc::UINT16) return 1;
    if (type == TypeDesc::HALF) return 2;
    return 3;
}

// The data types a writer stores, by its name, least precise first.
const std::vector<TypeDesc>* writerTypes(const std::string& format) {
    const OutputType* type = outputTypeNamed(format);
    return type ? &type->dataTypes : nullptr;
}

// Whether the file type takes the frame's channels by name, beyond R, G, B
// and A.
bool takesAnyChannels(const std::string& format) {
    const OutputType* type = outputTypeNamed(format);
    return type != nullptr && type->channels == ChannelRule::Any;
}

bool stores(const std::string& format, TypeDesc type) {
    const std::vector<TypeDesc>* types = writerTypes(format);
    return types == nullptr || std::find(types->begin(), types->end(), type) != types->end();
}

// The type a writer stores for a wanted one it may not: the first that loses
// nothing, else its most precise.
TypeDesc storable(const std::string& format, TypeDesc wanted) {
    if (stores(format, wanted)) return wanted;
    TypeDesc best = writerTypes(format)->front();
    for (TypeDesc t : *writerTypes(format)) {
        if (precisionRank(t) >= precisionRank(wanted)) return t;
        if (precisionRank(t) > precisionRank(best)) best = t;
    }
    return best;
}

bool isFloat(TypeDesc type) { return type.is_floating_point(); }

TypeDesc dataTypeNamed(const std::string& name) {
    if (name == "uint8") return TypeDesc::UINT8;
    if (name == "uint16") return TypeDesc::UINT16;
    if (name == "half") return TypeDesc::HALF;
    if (name == "float") return TypeDesc::FLOAT;
    return OIIO::TypeUnknown;
}

// What colour in an output is relative to its alpha.
enum class Association {
    Premultiplied,
    Straight,
    OverBlack,  // no alpha written: colour composited over black
    Opaque,     // no alpha to begin with
};

// The scene-linear colour space of the configuration.
std::string linearName(const OIIO::ColorConfig& config) {
    for (const char* role : {"scene_linear", "linear"}) {
        const char* name = config.getColorSpaceNameByRole(role);
        if (name != nullptr && *name) return name;
    }
    return "linear";
}

OIIO::ColorConfig& colourConfig() {
    // Reading the configuration is slow and it never changes during a run.
    static OIIO::ColorConfig config;
    return config;
}

// Converts the colour of every pixel (R, G, B at `colour`, alpha at `alpha`
// or -1) of an interleaved float image with `channels` per pixel. Colour
// goes straight for the conversion and comes back in `to`'s association;
// light under zero alpha is neither divided nor multiplied.
bool convertColour(std::vector<float>& pixels, int width, int height, int channels,
                   const int colour[3], int alpha, Association from, Association to,
                   const std::string& fromSpace, const std::string& toSpace, std::string* error) {
    const std::size_t count = std::size_t(width) * std::size_t(height);
    std::vector<float> rgb(count * 3);
    for (std::size_t p = 0; p < count; ++p) {
        const float* px = &pixels[p * std::size_t(channels)];
        const float a = alpha >= 0 ? px[alpha] : 1.0f;
        for (int c = 0; c < 3; ++c) {
            float v = px[colour[c]];
            if (from == Association::Premultiplied && to != Association::OverBlack && a > 0.0f)
                v /= a;
            else if (from == Association::Straight && to == Association::OverBlack)
                v *= a;
            rgb[p * 3 + std::size_t(c)] = v;
        }
    }
    if (fromSpace != toSpace) {
        OIIO::ImageBuf buf(OIIO::ImageSpec(width, height, 3, TypeDesc::FLOAT), rgb.data());
        if (!OIIO::ImageBufAlgo::colorconvert(buf, buf, fromSpace, toSpace, false, "", "",
                                              &colourConfig())) {
            *error = "cannot convert colour from " + fromSpace + " to " + toSpace + ": " +
                     buf.geterror();
            return false;
        }
    }
    for (std::size_t p = 0; p < count; ++p) {
        float* px = &pixels[p * std::size_t(channels)];
        const float a = alpha >= 0 ? px[alpha] : 1.0f;
        for (int c = 0; c < 3; ++c) {
            float v = rgb[p * 3 + std::size_t(c)];
            if (to == Association::Premultiplied && a > 0.0f) v *= a;
            px[colour[c]] = v;
        }
    }
    return true;
}

// Stands, among a part's channels, for the circle of confusion pass.
constexpr int kCocChannel = -2;

// What a part's output values are made of: the frame, the render's planes,
// the circle of confusion pass.
struct PartSource {
    const Frame& frame;
    const FileRecord::Contents& record;
    const RenderedFrame& rendered;
    const std::vector<float>* coc;  // over the first part's window, or null
};

// The values of `channels` of part `part` over rows `top` to `bottom` - 1 of
// its output window, pixel after pixel: the render's where it wrote the
// channel, else the frame's, else what the part holds beyond its data
// window.
std::vector<float> partValues(const PartSource& source, int part, const std::vector<int>& channels,
                              int top, int bottom) {
    const FramePart& own = source.frame.parts[std::size_t(part)];
    const Rect& window = source.rendered.windows[std::size_t(part)];
    const std::vector<float>& beyond = source.record.beyond[std::size_t(part)];
    const std::size_t n = channels.size(), stride = own.channels.size();
    std::vector<const float*> planes;
    for (int c : channels) {
        const std::vector<float>* plane =
            c == kCocChannel ? source.coc : source.rendered.find(part, c);
        planes.push_back(plane ? plane->data() : nullptr);
    }
    std::vector<float> values(std::size_t(window.width) * std::size_t(bottom - top) * n);
    std::size_t p = 0, at = window.index(window.x, top);
    for (int y = top; y < bottom; ++y)
        for (int x = window.x; x < window.xend(); ++x, ++p, ++at) {
            const bool inside = own.dataWindow.contains(x, y);
            const std::size_t d = inside ? own.dataWindow.index(x, y) * stride : 0;
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t c = std::size_t(channels[i]);
                values[p * n + i] = planes[i] ? planes[i][at]
                                    : inside  ? own.values[d + c]
                                              : beyond[c];
            }
        }
    return values;
}

// Rows encoded at a time: the whole image is held once, in the file's types,
// and only a band of it as float values besides.
constexpr int kBandRows = 64;

// Fills `image` (over part `part`'s window) band by band with the values
// `channels` give, `change` working on each band first (null: none).
template <typename Change>
bool fillByBands(const PartSource& source, int part, const std::vector<int>& channels,
                 Change change, OIIO::ImageBuf* image, std::string* error) {
    const OIIO::ROI all = image->roi();
    for (int top = all.ybegin; top < all.yend; top += kBandRows) {
        const int bottom = std::min(top + kBandRows, all.yend);
        std::vector<float> values = partValues(source, part, channels, top, bottom);
        if (!change(values, bottom - top, error)) return false;
        OIIO::ROI band = all;
        band.ybegin = top;
        band.yend = bottom;
        if (!image->set_pixels(band, TypeDesc::FLOAT, values.data(),
                               OIIO::stride_t(channels.size() * sizeof(float)))) {
            *error = "cannot convert the pixels: " + image->geterror();
            return false;
        }
    }
    return true;
}

// The position of `channel` among `channels`, or -1.
int positionOf(const std::vector<int>& channels, int channel) {
    const auto at = std::find(channels.begin(), channels.end(), channel);
    return at == channels.end() ? -1 : int(at - channels.begin());
}

}  // namespace

std::string outputTypeProblem(const std::string& path, bool greyMap) {
    std::string problem;
    outputTypeFor(path, greyMap, &problem);
    return problem;
}

std::string dataTypeProblem(const std::string& path, const std::string& dataType) {
    if (dataType.empty()) return std::string();
    std::string problem;
    const OutputType* type = outputTypeFor(path, false, &problem);
    if (type == nullptr) return std::string();  // the output's own check names it
    const std::string format = type->format;
    if (stores(format, dataTypeNamed(dataType))) return std::string();
    // Named as -d names them; uint32 is not among those.
    std::vector<std::string> names;
    for (TypeDesc t : *writerTypes(format))
        if (t != TypeDesc::UINT32)
            names.push_back(t == TypeDesc::UINT8    ? "uint8"
                            : t == TypeDesc::UINT16 ? "uint16"
                                                    : t.c_str());
    std::string list = names.front();
    for (std::size_t i = 1; i < names.size(); ++i)
        list += (i + 1 == names.size() ? " or " : ", ") + names[i];
    return "--data-type " + dataType + ": " + format + " files store " + list;
}

std::string colourSpaceProblem(const std::string& name) {
    // A configuration named by $OCIO that cannot be read leaves the
    // library's built-in one in its place, which must not pass unnoticed;
    // one that is not a file (a FIFO, a device) would hold the library's read
    // for good. "ocio://" names a configuration built into the library.
    const char* named = std::getenv("OCIO");
    const bool given = named != nullptr && *named != '\0';
    if (given && std::strncmp(named, "ocio://", 7) != 0) {
        const std::string problem = regularFileProblem(named);
        if (!problem.empty()) return std::string("$OCIO ") + named + ": " + problem;
    }
    OIIO::ColorConfig& config = colourConfig();
    if (given && config.has_error()) {
        std::string why = config.geterror();
        std::replace(why.begin(), why.end(), '\n', ' ');
        return std::string("$OCIO ") + named + ": cannot read this colour configuration (" + why +
               ")";
    }
    if (config.createColorProcessor(linearName(config), name)) return std::string();
    config.geterror();
    std::string known;
    for (int i = 0; i < config.getNumColorSpaces(); ++i)
        known += std::string(i ? ", " : "") + config.getColorSpaceNameByIndex(i);
    return "--colorspace " + name + ": not a colour space here (known: " + known + ")";
}

namespace {

// How the first part goes into the file: its channels (the input's, and the
// circle of confusion as kCocChannel), their types, and how colour changes.
struct FirstPartLayout {
    std::vector<int> order;
    std::vector<TypeDesc> types;
    int alpha = -1;  // in the output
    Association from = Association::Opaque, to = Association::Opaque;
    std::string fromSpace, toSpace;
    bool linearOut = true;
};

// Channels: all of them, or R, G, B and alpha where the file type takes no
// others or only those are asked for; then the circle of confusion.
std::vector<int> outputChannels(const Frame& frame, const OIIO::ImageSpec& in,
                                const OutputEncoding& encoding, const OIIO::ImageOutput& writer) {
    std::vector<int> order;
    const bool moreThanColour = in.nchannels > (frame.alphaChannel >= 0 ? 4 : 3);
    if (moreThanColour && (encoding.rgbaOnly || !takesAnyChannels(writer.format_name()))) {
        for (int c = 0; c < 3; ++c)
            if (order.empty() || order.back() != frame.colourChannel[c])
                order.push_back(frame.colourChannel[c]);
        if (frame.alphaChannel >= 0) order.push_back(frame.alphaChannel);
    } else {
        for (int c = 0; c < in.nchannels; ++c) order.push_back(c);
    }
    if (frame.alphaChannel >= 0 && !writer.supports("alpha"))
        order.erase(std::remove(order.begin(), order.end(), frame.alphaChannel), order.end());
    if (!encoding.cocChannel.empty()) order.push_back(kCocChannel);
    return order;
}

// Data types: the one asked for, else the input's per channel where the file
// type keeps several, else the most precise of them; each one the file type
// stores. The circle of confusion is float.
std::vector<TypeDesc> outputTypes(const std::vector<int>& order, const OIIO::ImageSpec& in,
                                  const OutputEncoding& encoding, const OIIO::ImageOutput& writer) {
    const TypeDesc asked = dataTypeNamed(encoding.dataType);
    std::vector<TypeDesc> types;
    for (int c : order)
        types.push_back(c == kCocChannel                ? TypeDesc(TypeDesc::FLOAT)
                        : asked != OIIO::TypeUnknown ? asked
                                                     : in.channelformat(c));
    if (!writer.supports("channelformats")) {
        TypeDesc widest = types.front();
        for (TypeDesc t : types)
            if (precisionRank(t) > precisionRank(widest)) widest = t;
        types.assign(types.size(), widest);
    }
    for (TypeDesc& t : types) t = storable(writer.format_name(), t);
    return types;
}

// Whether the file holds the frame's other parts.
bool writesOtherParts(const OIIO::ImageOutput& writer, const OutputEncoding& encoding) {
    // DPX also calls itself multi-image, but for frames of one kind only.
    return takesAnyChannels(writer.format_name()) && writer.supports("multiimage") &&
           !encoding.rgbaOnly;
}

FirstPartLayout firstPartLayout(const Frame& frame, const FileRecord::Contents& record,
                                const OutputEncoding& encoding, const OIIO::ImageOutput& writer) {
    const OIIO::ImageSpec& in = record.parts.front();
    FirstPartLayout layout;
    layout.order = outputChannels(frame, in, encoding, writer);
    layout.types = outputTypes(layout.order, in, encoding, writer);
    layout.alpha = positionOf(layout.order, frame.alphaChannel);
    // Colour: linear in floating-point pixels, encoded for display in
    // integer ones; converted when the classes differ or alpha changes its
    // meaning.
    const OIIO::ColorConfig& config = colourConfig();
    const bool linearIn = isFloat(in.channelformat(frame.colourChannel[0]));
    layout.linearOut =
        isFloat(layout.types[std::size_t(positionOf(layout.order, frame.colourChannel[0]))]);
    layout.fromSpace = linearIn ? linearName(config) : encoding.displayColourSpace;
    layout.toSpace = layout.linearOut ? linearName(config) : encoding.displayColourSpace;
    if (frame.alphaChannel >= 0) {
        const std::string format = writer.format_name();
        layout.from = frame.associated ? Association::Premultiplied : Association::Straight;
        if (layout.alpha < 0)
            layout.to = Association::OverBlack;
        else if (format == "png" || format == "targa" ||
                 (format == record.formatName && !frame.associated))
            layout.to = Association::Straight;  // PNG and TGA store straight colour
        else
            layout.to = Association::Premultiplied;
    }
    return layout;
}

// A multi-view part's `multiView` lists only the views that keep a channel
// in `out`, its file's only part. Where one is left, the part is an image of that view alone:
// readers take any `multiView` as a stereo file, so it goes, and the part's
// `view` names the one left, as it does for a part of a multi-part file.
void keepWrittenViews(const FramePart& first, OIIO::ImageSpec* out) {
    if (first.views.empty()) return;
    std::vector<std::string> kept;
    for (const std::string& view : first.views)
        for (const std::string& channel : out->channelnames)
            if (channelView(first, channel) == view) {
                kept.push_back(view);
                break;
            }
    if (kept.size() == first.views.size()) return;
    out->erase_attribute("multiView");
    if (kept.size() == 1) {
        out->attribute("view", kept.front());
    } else if (!kept.empty()) {
        std::vector<const char*> names;
        for (const std::string& view : kept) names.push_back(view.c_str());
        out->attribute("multiView", TypeDesc(TypeDesc::STRING, int(names.size())), names.data());
    }
}

// The file's description of the first part: the input's, with the output's
// window, channels, types and colour.
OIIO::ImageSpec firstPartSpec(const OIIO::ImageSpec& in, const FirstPartLayout& layout,
                              const Rect& window, const OutputEncoding& encoding,
                              const std::string& format) {
    OIIO::ImageSpec out = in;
    out.x = window.x;
    out.y = window.y;
    out.width = window.width;
    out.height = window.height;
    out.nchannels = int(layout.order.size());
    out.channelnames.clear();
    for (int c : layout.order)
        out.channelnames.push_back(c == kCocChannel ? encoding.cocChannel
                                                    : std::string(in.channel_name(c)));
    out.alpha_channel = layout.alpha;
    out.z_channel = in.z_channel >= 0 ? positionOf(layout.order, in.z_channel) : -1;
    bool uniform = true;
    for (TypeDesc t : layout.types) uniform = uniform && t == layout.types.front();
    // Pixels are kept in the file's type, so that what is written is what
    // the buffer holds; mixed types are kept as float and stored per channel.
    out.format = uniform ? layout.types.front() : TypeDesc(TypeDesc::FLOAT);
    out.channelformats = uniform ? std::vector<TypeDesc>() : layout.types;
    if (layout.to == Association::Straight)
        out.attribute("oiio:UnassociatedAlpha", 1);
    else
        out.erase_attribute("oiio:UnassociatedAlpha");
    out.attribute("oiio:ColorSpace", layout.linearOut ? std::string("Linear") : layout.toSpace);
    out.erase_attribute("dof3d:settings");
    const char* recordAttribute = settingsAttributeFor(format);
    if (recordAttribute != nullptr && !encoding.settingsRecord.empty())
        out.attribute(recordAttribute, encoding.settingsRecord);
    return out;
}

}  // namespace

std::vector<std::vector<bool>> writtenChannels(const Frame& frame, const FileRecord& file,
                                               const OutputEncoding& encoding,
                                               const OIIO::ImageOutput& writer) {
    std::vector<std::vector<bool>> written;
    for (const FramePart& part : frame.parts)
        written.emplace_back(std::size_t(part.channelCount()), false);
    for (int c : outputChannels(frame, file.contents().parts.front(), encoding, writer))
        if (c >= 0 && std::size_t(c) < written.front().size())
            written.front()[std::size_t(c)] = true;
    if (writesOtherParts(writer, encoding))
        for (std::size_t part = 1; part < written.size(); ++part)
            written[part].assign(written[part].size(), true);
    return written;
}

bool encodeOutput(const Frame& frame, const FileRecord& file, const RenderedFrame& rendered,
                  const std::vector<float>& coc, const OutputEncoding& encoding,
                  const std::string& path, const OIIO::ImageOutput& writer, OIIO::ImageBuf* image,
                  std::string* error) {
    const FileRecord::Contents& record = file.contents();
    const OIIO::ImageSpec& in = record.parts.front();
    if (!encoding.cocChannel.empty() && in.channelindex(encoding.cocChannel) >= 0) {
        *error = path + ": --coc-channel " + encoding.cocChannel + ": " + frame.path +
                 " has a channel of that name already";
        return false;
    }
    const FirstPartLayout layout = firstPartLayout(frame, record, encoding, writer);
    // The output's channels, and last the alpha a file type without alpha
    // drops, which the colour conversion still reads.
    std::vector<int> assembled = layout.order;
    if (frame.alphaChannel >= 0 && layout.alpha < 0) assembled.push_back(frame.alphaChannel);
    const int colourAt[3] = {positionOf(assembled, frame.colourChannel[0]),
                             positionOf(assembled, frame.colourChannel[1]),
                             positionOf(assembled, frame.colourChannel[2])};
    const bool sameAssociation =
        layout.from == layout.to ||
        (layout.from == Association::Premultiplied && layout.to == Association::OverBlack);
    const bool convert = layout.fromSpace != layout.toSpace || !sameAssociation;
    const Rect& window = rendered.windows.front();
    OIIO::ImageSpec header =
        firstPartSpec(in, layout, window, encoding, std::string(writer.format_name()));
    // A file of this part alone lists the views it holds; other parts written
    // beside it keep the views of the whole.
    if (frame.parts.size() == 1 || !writesOtherParts(writer, encoding))
        keepWrittenViews(frame.parts.front(), &header);
    OIIO::ImageBuf buf(header);
    const auto change = [&](std::vector<float>& values, int rows, std::string* why) {
        return !convert ||
               convertColour(values, window.width, rows, int(assembled.size()), colourAt,
                             positionOf(assembled, frame.alphaChannel), layout.from, layout.to,
                             layout.fromSpace, layout.toSpace, why);
    };
    if (!fillByBands(PartSource{frame, record, rendered, &coc}, 0, assembled, change, &buf,
                     error)) {
        *error = path + ": " + *error;
        return false;
    }
    image->swap(buf);
    return true;
}

bool encodeOtherParts(const Frame& frame, const FileRecord& file, const RenderedFrame& rendered,
                      const OutputEncoding& encoding, const std::string& path,
                      const OIIO::ImageOutput& writer, std::vector<OIIO::ImageBuf>* parts,
                      std::vector<std::string>* leftOut, std::string* error) {
    const std::string format = writer.format_name();
    if (!encoding.rgbaOnly) {
        // What encodeOutput keeps of the first part.
        const OIIO::ImageSpec& in = file.contents().parts.front();
        const bool moreThanColour = in.nchannels > (frame.alphaChannel >= 0 ? 4 : 3);
        for (int c = 0; c < in.nchannels; ++c) {
            const bool colour = c == frame.colourChannel[0] || c == frame.colourChannel[1] ||
                                c == frame.colourChannel[2];
            const bool dropped = (moreThanColour && !takesAnyChannels(format) && !colour &&
                                  c != frame.alphaChannel) ||
                                 (c == frame.alphaChannel && !writer.supports("alpha"));
            if (dropped) leftOut->push_back(std::string(in.channel_name(c)));
        }
    }
    const bool severalParts = writesOtherParts(writer, encoding);
    const TypeDesc asked = dataTypeNamed(encoding.dataType);
    for (int part = 1; part < int(frame.parts.size()); ++part) {
        OIIO::ImageSpec out = file.contents().parts[std::size_t(part)];
        const std::string name = partName(frame.parts[std::size_t(part)], part);
        if (!severalParts) {
            // Under --rgba-only the parts go as asked: not news.
            if (!encoding.rgbaOnly) leftOut->push_back(name);
            continue;
        }
        std::vector<TypeDesc> types;
        for (int c = 0; c < out.nchannels; ++c)
            types.push_back(
                storable(format, asked != OIIO::TypeUnknown ? asked : out.channelformat(c)));
        bool uniform = true;
        for (TypeDesc t : types) uniform = uniform && t == types.front();
        out.format = uniform ? types.front() : TypeDesc(TypeDesc::FLOAT);
        out.channelformats = uniform ? std::vector<TypeDesc>() : types;
        out.erase_attribute("dof3d:settings");
        const Rect& window = rendered.windows[std::size_t(part)];
        out.x = window.x;
        out.y = window.y;
        out.width = window.width;
        out.height = window.height;
        std::vector<int> channels(std::size_t(out.nchannels));
        for (int c = 0; c < out.nchannels; ++c) channels[std::size_t(c)] = c;
        OIIO::ImageBuf buf(out);
        const auto asStored = [](std::vector<float>&, int, std::string*) { return true; };
        if (!fillByBands(PartSource{frame, file.contents(), rendered, nullptr}, part, channels,
                         asStored, &buf, error)) {
            *error = path + ": part " + name + ": " + *error;
            return false;
        }
        parts->push_back(std::move(buf));
    }
    if (!encoding.rgbaOnly)
        for (const std::string& deep : frame.deepPartsLeftOut) leftOut->push_back(deep);
    return true;
}

}  // namespace dof
