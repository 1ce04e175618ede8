#pragma once

#include "surface.h"

// One strip built the straightforward way, vertex by vertex from the
// per-sample functions (row curves, column weights, sampleDisplacement): what
// the benchmark measures computeStrip against. (Its bits are checked by the
// surface test against an evaluation of its own, not against this.)
void referenceStrip(int e, StripVertex* out);
