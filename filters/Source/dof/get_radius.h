// Circle of confusion: a depth's blur as a fraction of the largest radius.
#pragma once

struct Parameters;

// 0.0 sharp .. 1.0 blurred by the full radius; not a number for depth 0.
double get_radius(float depth, Parameters* params);
