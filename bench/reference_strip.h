#pragma once

#include "surface.h"

// One strip built the straightforward way, vertex by vertex from the
// per-sample functions (row curves, column weights, sampleDisplacement): what
// the benchmark measures computeStrip against. Nothing compares the two's
// vertices; surface_test checks computeStrip's against the definitions.
void referenceStrip(int e, StripVertex* out);
