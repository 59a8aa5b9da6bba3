// Keyed values between, on and beyond their keys, in both interpolations.
#include "model/keyframes.h"

#include <gtest/gtest.h>

namespace {

using dof::Interpolation;

struct At {
    Interpolation interpolation;
    int frame;
    double value;
};

// A pull from 4 at frame 1 to 40 at frame 24, keys given out of order.
TEST(Keyframes, PullBetweenAndBeyondItsKeys) {
    const dof::Keyframes pull({{24, {40.0}}, {1, {4.0}}});
    // Smooth: (3 - 2t) t^2 of the way, t = 11/23 at frame 12 and 1/23 at 2.
    const At table[] = {
        {Interpolation::Linear, -5, 4.0},
        {Interpolation::Linear, 1, 4.0},
        {Interpolation::Linear, 2, 4.0 + 36.0 / 23.0},
        {Interpolation::Linear, 12, 4.0 + 36.0 * 11.0 / 23.0},
        {Interpolation::Linear, 24, 40.0},
        {Interpolation::Linear, 1000, 40.0},
        {Interpolation::Smooth, 2, 4.0 + 36.0 * 67.0 / 12167.0},
        {Interpolation::Smooth, 12, 4.0 + 36.0 * 5687.0 / 12167.0},
        {Interpolation::Smooth, 23, 40.0 - 36.0 * 67.0 / 12167.0},
        {Interpolation::Smooth, 30, 40.0},
    };
    for (const At& at : table)
        EXPECT_DOUBLE_EQ(pull.at(at.frame, at.interpolation), at.value)
            << interpolationName(at.interpolation) << " at frame " << at.frame;
    EXPECT_TRUE(pull.keyed() && pull.animated());
}

// A pixel's two coordinates over three keys: each frame between the two
// keys around it, every key's value exact.
TEST(Keyframes, TrackOfAPixel) {
    const dof::Keyframes track({{1, {0.0, 10.0}}, {5, {8.0, 10.0}}, {9, {8.0, 2.0}}});
    const int frames[] = {3, 5, 7, 9};
    const double x[] = {4.0, 8.0, 8.0, 8.0}, y[] = {10.0, 10.0, 6.0, 2.0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(track.at(frames[i], Interpolation::Linear, 0), x[i]) << frames[i];
        EXPECT_EQ(track.at(frames[i], Interpolation::Linear, 1), y[i]) << frames[i];
    }
    const dof::Keyframes plain = dof::Keyframes::constant({2.8});
    EXPECT_EQ(plain.at(-7, Interpolation::Smooth), 2.8);
    EXPECT_FALSE(plain.keyed() || plain.animated());
    EXPECT_EQ(dof::Keyframes().at(3, Interpolation::Linear), 0.0);
}

}  // namespace
