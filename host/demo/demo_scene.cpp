#include "demo/demo_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace dof {

namespace {

struct Vec {
    double x, y, z;
};

struct Rgb {
    double r, g, b;
};

double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec normalised(const Vec& v) {
    const double length = std::sqrt(dot(v, v));
    return Vec{v.x / length, v.y / length, v.z / length};
}

Rgb scaled(const Rgb& c, double k) { return Rgb{c.r * k, c.g * k, c.b * k}; }

Rgb plus(const Rgb& a, const Rgb& b) { return Rgb{a.r + b.r, a.g + b.g, a.b + b.b}; }

// Every object of the scene has a number: its fragments are gathered by it.
enum ObjectId : int {
    kWall,
    kGround,
    kCard,
    kNearSphere,
    kGlassSphere,
    kYellowSphere,
    kPurpleSphere,
    kFirstLamp,
    kLampCount = 5,
    kObjectCount = kFirstLamp + kLampCount,
};

// Where a ray from the camera meets a surface: the ray is origin + t * dir
// with dir.z = -1, so the depth of the point is -t.
struct Surface {
    double t;
    Rgb colour;
    double opacity;
    int object;
};

const double kWallDepth = -40.0;
const Rgb kHorizon{0.8, 0.84, 0.92};
const Rgb kZenith{0.3, 0.45, 0.75};

const double kGroundHeight = -1.0;
const Rgb kGroundLight{0.7, 0.68, 0.62};
const Rgb kGroundDark{0.25, 0.27, 0.3};

const double kCardDepth = -6.0;
const double kCardHalfWidth = 0.6125;
const double kCardTop = 0.55;
const Rgb kCardLight{0.94, 0.93, 0.86};
const Rgb kCardDark{0.12, 0.2, 0.45};

const double kSharpUntil = -7.0;

struct Sphere {
    Vec centre;
    double radius;
    Rgb colour;  // albedo when shaded, else the light it gives off
    bool shaded;
    double glint;  // brightness of the highlight on top (0: none)
    double opacity;
};

const Sphere kSpheres[] = {
    {{-1.1, -0.55, -3.0}, 0.45, {0.85, 0.18, 0.12}, true, 4.0, 1.0},  // near
    {{1.5, -0.3, -4.5}, 0.7, {0.35, 0.8, 0.88}, false, 0.0, 0.6},     // glass
    {{3.5, 0.5, -15.0}, 1.5, {0.95, 0.75, 0.15}, true, 3.0, 1.0},     // yellow
    {{-4.5, 1.0, -22.0}, 2.0, {0.5, 0.3, 0.7}, true, 0.0, 1.0},       // purple
};
static_assert(sizeof kSpheres / sizeof kSpheres[0] == kFirstLamp - kNearSphere,
              "one sphere per id");

const double kLampRadius = 0.1;
const Rgb kLampLight{24.0, 20.0, 14.0};

Sphere lamp(int index) {
    return Sphere{{-6.0 + 3.0 * index, 2.5, -18.0}, kLampRadius, kLampLight, false, 0.0, 1.0};
}

// Light from the upper left, behind the camera.
Vec sunDirection() { return normalised(Vec{-0.5, 0.8, 0.6}); }

// ---- Objects: each tells whether the ray meets it, and where.

// The wall catches every ray: the sky fades from the horizon colour at y = 0
// to the zenith colour at y = 16.
bool hitWall(const Vec& dir, Surface& hit) {
    const double t = -kWallDepth;
    const double s = std::min(std::max(dir.y * t / 16.0, 0.0), 1.0);
    const Rgb rise{kZenith.r - kHorizon.r, kZenith.g - kHorizon.g, kZenith.b - kHorizon.b};
    hit = Surface{t, plus(kHorizon, scaled(rise, s)), 1.0, kWall};
    return true;
}

bool hitGround(const Vec& dir, Surface& hit) {
    if (!(dir.y < 0.0)) return false;
    const double t = kGroundHeight / dir.y;
    if (!(t < -kWallDepth)) return false;
    const double x = dir.x * t;
    const double z = -t;
    const bool light =
        (static_cast<long long>(std::floor(x)) + static_cast<long long>(std::floor(z))) % 2 == 0;
    hit = Surface{t, light ? kGroundLight : kGroundDark, 1.0, kGround};
    return true;
}

bool hitCard(const Vec& dir, Surface& hit) {
    const double t = -kCardDepth;
    const double x = dir.x * t;
    const double y = dir.y * t;
    if (!(std::fabs(x) <= kCardHalfWidth && y >= kGroundHeight && y <= kCardTop)) return false;
    const bool light = static_cast<long long>(std::floor(x * 10.0)) % 2 == 0;
    hit = Surface{t, light ? kCardLight : kCardDark, 1.0, kCard};
    return true;
}

// Diffuse light from the sun over a dim ambient term, plus a highlight whose
// sharpness comes from raising the half-vector cosine to the 64th power.
Rgb shade(const Sphere& sphere, const Vec& dir, const Vec& point) {
    const Vec normal{(point.x - sphere.centre.x) / sphere.radius,
                     (point.y - sphere.centre.y) / sphere.radius,
                     (point.z - sphere.centre.z) / sphere.radius};
    const Vec sun = sunDirection();
    const double diffuse = std::max(dot(normal, sun), 0.0);
    Rgb colour = scaled(sphere.colour, 0.22 + 0.78 * diffuse);
    if (sphere.glint > 0.0) {
        const Vec view = normalised(Vec{-dir.x, -dir.y, -dir.z});
        const Vec half = normalised(Vec{sun.x + view.x, sun.y + view.y, sun.z + view.z});
        double shine = std::max(dot(normal, half), 0.0);
        for (int i = 0; i < 6; ++i) shine *= shine;
        colour = plus(colour, scaled(Rgb{1.0, 1.0, 1.0}, sphere.glint * shine));
    }
    return colour;
}

bool hitSphere(const Sphere& sphere, int object, const Vec& dir, Surface& hit) {
    // |t dir - centre|^2 = radius^2, nearer root.
    const double a = dot(dir, dir);
    const double b = dot(dir, sphere.centre);
    const double c = dot(sphere.centre, sphere.centre) - sphere.radius * sphere.radius;
    const double discriminant = b * b - a * c;
    if (discriminant < 0.0) return false;
    const double t = (b - std::sqrt(discriminant)) / a;
    if (!(t > 0.0)) return false;
    const Vec point{dir.x * t, dir.y * t, dir.z * t};
    const Rgb colour = sphere.shaded ? shade(sphere, dir, point) : sphere.colour;
    hit = Surface{t, colour, sphere.opacity, object};
    return true;
}

struct Camera {
    double width;
    double height;
    Vec ray(double sx, double sy) const {
        return Vec{(sx - width / 2.0) / height, (height / 2.0 - sy) / height, -1.0};
    }
};

// A sphere with the rectangle of pixels it can fall on, so that most rays
// need not test it. The rectangle bounds x / -z and y / -z over the box
// around the sphere (wholly in front of the camera), whose extremes lie at
// its corners, widened by a pixel.
struct PlacedSphere {
    Sphere sphere;
    int object;
    double left, right, top, bottom;

    bool mayCover(int x, int y) const {
        return x + 1 >= left && x <= right && y + 1 >= top && y <= bottom;
    }
};

PlacedSphere place(const Sphere& sphere, int object, const Camera& camera) {
    double uMin = 1e300, uMax = -1e300, vMin = 1e300, vMax = -1e300;
    for (double side : {-sphere.radius, sphere.radius})
        for (double depth : {-sphere.radius, sphere.radius}) {
            const double distance = -(sphere.centre.z + depth);
            const double u = (sphere.centre.x + side) / distance;
            const double v = (sphere.centre.y + side) / distance;
            uMin = std::min(uMin, u);
            uMax = std::max(uMax, u);
            vMin = std::min(vMin, v);
            vMax = std::max(vMax, v);
        }
    const double cx = camera.width / 2.0, cy = camera.height / 2.0, f = camera.height;
    PlacedSphere placed{sphere, object, 0.0, 0.0, 0.0, 0.0};
    placed.left = cx + uMin * f - 1.0;
    placed.right = cx + uMax * f + 1.0;
    placed.top = cy - vMax * f - 1.0;
    placed.bottom = cy - vMin * f + 1.0;
    return placed;
}

std::vector<PlacedSphere> placeSpheres(const Camera& camera) {
    std::vector<PlacedSphere> placed;
    for (int i = 0; i < kFirstLamp - kNearSphere; ++i)
        placed.push_back(place(kSpheres[i], kNearSphere + i, camera));
    for (int i = 0; i < kLampCount; ++i) placed.push_back(place(lamp(i), kFirstLamp + i, camera));
    return placed;
}

// Every surface the ray meets, nearest first; `spheres` are those that may
// lie on the ray's pixel.
int surfacesAlong(const Vec& dir, const PlacedSphere* const* spheres, int sphereCount,
                  Surface (&surfaces)[kObjectCount]) {
    int count = 0;
    Surface hit;
    if (hitWall(dir, hit)) surfaces[count++] = hit;
    if (hitGround(dir, hit)) surfaces[count++] = hit;
    if (hitCard(dir, hit)) surfaces[count++] = hit;
    for (int i = 0; i < sphereCount; ++i)
        if (hitSphere(spheres[i]->sphere, spheres[i]->object, dir, hit)) surfaces[count++] = hit;
    // A handful of surfaces: insertion sort, stable, nothing allocated.
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && surfaces[j].t < surfaces[j - 1].t; --j)
            std::swap(surfaces[j], surfaces[j - 1]);
    return count;
}

// ---- One pixel: the samples' surfaces gathered into fragments per object.

const int kSamplesAcross = 4;
const int kSamples = kSamplesAcross * kSamplesAcross;

struct Fragment {
    double weight = 0.0;    // summed share of the samples
    double depthSum = 0.0;  // depth times share
    Rgb colourSum{0.0, 0.0, 0.0};
    double opacity = 1.0;
};

struct PixelSamples {
    Fragment fragments[kObjectCount];
    Rgb composite{0.0, 0.0, 0.0};  // summed over the samples
};

// A sample walks through the surfaces front to back: each takes its opacity's
// share of what is left and the wall behind everything takes the rest.
void addSample(const Vec& dir, const PlacedSphere* const* spheres, int sphereCount,
               PixelSamples& pixel) {
    Surface surfaces[kObjectCount];
    const int count = surfacesAlong(dir, spheres, sphereCount, surfaces);
    double remaining = 1.0;
    for (int i = 0; i < count && remaining > 0.0; ++i) {
        const Surface& s = surfaces[i];
        const double share = remaining * s.opacity;
        Fragment& f = pixel.fragments[s.object];
        f.weight += share;
        f.depthSum += share * -s.t;
        f.colourSum = plus(f.colourSum, scaled(s.colour, share));
        f.opacity = s.opacity;
        pixel.composite = plus(pixel.composite, scaled(s.colour, share));
        remaining -= share;
    }
}

std::uint8_t fractionByte(double fraction) {
    const double code = std::nearbyint(fraction * 255.0);
    if (!(code > 0.0)) return 0;
    return code > 255.0 ? 255 : std::uint8_t(code);
}

// R, G, B bytes and, with a shared exponent, the byte e that scales them by
// 2^(e - 128): the smallest power of two that brings the largest to 1 or less.
void encodeColour(const Rgb& colour, bool withExponent, std::uint8_t (&bytes)[4]) {
    double scale = 1.0;
    int exponent = 0;
    const double largest = std::max(colour.r, std::max(colour.g, colour.b));
    if (withExponent && largest > 1.0) {
        const double mantissa = std::frexp(largest, &exponent);
        if (mantissa == 0.5) --exponent;  // an exact power of two fits as 1.0
        scale = std::ldexp(1.0, -exponent);
    }
    bytes[0] = fractionByte(colour.r * scale);
    bytes[1] = fractionByte(colour.g * scale);
    bytes[2] = fractionByte(colour.b * scale);
    bytes[3] = withExponent ? std::uint8_t(128 + exponent) : 0;
}

PixelSamples samplePixel(const Camera& camera, const std::vector<PlacedSphere>& placed, int x,
                         int y) {
    const PlacedSphere* spheres[kObjectCount];
    int sphereCount = 0;
    for (const PlacedSphere& p : placed)
        if (p.mayCover(x, y)) spheres[sphereCount++] = &p;
    PixelSamples pixel;
    for (int j = 0; j < kSamplesAcross; ++j)
        for (int i = 0; i < kSamplesAcross; ++i) {
            const double sx = x + (i + 0.5) / kSamplesAcross;
            const double sy = y + (j + 0.5) / kSamplesAcross;
            addSample(camera.ray(sx, sy), spheres, sphereCount, pixel);
        }
    return pixel;
}

// A fragment as the channels store it.
struct StoredFragment {
    float depth;
    std::uint8_t colour[4];
    std::uint8_t transparency[3];
    std::uint8_t share;  // coverage of the front, weight of a layer
};

// The fragments that keep a share after rounding, nearest first.
int storedFragments(const PixelSamples& pixel, bool withExponent,
                    StoredFragment (&stored)[kObjectCount]) {
    const Fragment* order[kObjectCount];
    int count = 0;
    for (const Fragment& f : pixel.fragments)
        if (fractionByte(f.weight / kSamples) > 0) order[count++] = &f;
    // Nearest first: insertion sort, stable, nothing allocated.
    auto nearer = [](const Fragment* a, const Fragment* b) {
        return a->depthSum / a->weight > b->depthSum / b->weight;
    };
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && nearer(order[j], order[j - 1]); --j)
            std::swap(order[j], order[j - 1]);
    for (int i = 0; i < count; ++i) {
        const Fragment& f = *order[i];
        StoredFragment& s = stored[i];
        s.depth = float(f.depthSum / f.weight);
        encodeColour(scaled(f.colourSum, 1.0 / f.weight), withExponent, s.colour);
        const std::uint8_t transparency = fractionByte(1.0 - f.opacity);
        s.transparency[0] = s.transparency[1] = s.transparency[2] = transparency;
        s.share = fractionByte(f.weight / kSamples);
    }
    return count;
}

void storeFront(runtime::GBufferSet& gbuffers, int x, int y, const StoredFragment& front,
                bool withExponent) {
    gbuffers.depth(x, y) = front.depth;
    gbuffers.coverage(x, y) = front.share;
    std::uint8_t* colour = gbuffers.colour(x, y);
    for (int c = 0; c < (withExponent ? 4 : 3); ++c) colour[c] = front.colour[c];
    std::uint8_t* transparency = gbuffers.transparency(x, y);
    for (int c = 0; c < 3; ++c) transparency[c] = front.transparency[c];
}

// A row holds at most 65535 layers; past that the rest of the row's pixels
// keep their front fragment only.
void storeLayer(runtime::GBufferSet& gbuffers, int x, int y, const StoredFragment& behind) {
    runtime::LayerFragment layer;
    layer.depth = behind.depth;
    for (int c = 0; c < 4; ++c) layer.colour[c] = behind.colour[c];
    for (int c = 0; c < 3; ++c) {
        layer.transparency[c] = behind.transparency[c];
        layer.weight[c] = behind.share;
    }
    gbuffers.addLayer(x, y, layer);
}

// The source is opaque everywhere.
void storeSource(runtime::PixelImage& source, int x, int y, const Rgb& colour) {
    source.setFraction(x, y, 0, colour.r);
    source.setFraction(x, y, 1, colour.g);
    source.setFraction(x, y, 2, colour.b);
    source.setFraction(x, y, 3, 1.0);
}

}  // namespace

DemoScene buildDemoScene(const DemoSceneOptions& options) {
    DemoScene scene;
    scene.source = runtime::PixelImage::create(options.format, options.width, options.height);
    scene.gbuffers.reset(new runtime::GBufferSet(options.width, options.height));
    scene.settings.radius = options.height / 45.0;
    scene.settings.method = kMethodBoxAverage;
    scene.settings.focalDepth = kCardDepth;
    scene.settings.focusRangeDepth = kSharpUntil;
    if (!scene.source) return scene;

    runtime::GBufferSet& gbuffers = *scene.gbuffers;
    gbuffers.addDepth();
    gbuffers.addCoverage();
    gbuffers.addColour(options.colourExponent);
    gbuffers.addTransparency();
    gbuffers.enableLayers();

    const Camera camera{double(options.width), double(options.height)};
    const std::vector<PlacedSphere> spheres = placeSpheres(camera);
    for (int y = 0; y < options.height; ++y)
        for (int x = 0; x < options.width; ++x) {
            const PixelSamples pixel = samplePixel(camera, spheres, x, y);
            storeSource(*scene.source, x, y, scaled(pixel.composite, 1.0 / kSamples));
            StoredFragment stored[kObjectCount];
            // The wall is behind every sample, so every pixel has a fragment.
            const int count = storedFragments(pixel, options.colourExponent, stored);
            storeFront(gbuffers, x, y, stored[0], options.colourExponent);
            for (int i = 1; i < count; ++i) storeLayer(gbuffers, x, y, stored[i]);
        }
    return scene;
}

}  // namespace dof
