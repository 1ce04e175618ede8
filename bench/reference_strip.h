#pragma once

#include "surface.h"

// One strip built the straightforward way, vertex by vertex from the
// per-sample functions (row curves, column weights, sampleDisplacement): what
// computeStrip must reproduce bit for bit, and what the benchmark measures it against.
void referenceStrip(int e, StripVertex* out);
