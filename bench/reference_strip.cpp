#include "reference_strip.h"

void referenceStrip(int e, StripVertex* out)
{
    const bool relief = displacementAvailable();
    for (int side = 0; side < 2; ++side) {  // vertex A on row e, B on row e + 1
        const int row = e + side;
        Vector3 points[4], normals[3];
        patchRowCurve(row, points);
        normalRowCurve(row, normals);
        const float t = 1.0f - static_cast<float>(row) / GRID_STEPS;
        for (int i = 0; i < GRID_SAMPLES; ++i) {
            const float s = static_cast<float>(i) / GRID_STEPS;
            const Vector3 n = rowCurveNormal(normals, i);
            Vector3 p = rowCurvePoint(points, i);
            if (relief) {
                const float k = sampleDisplacement(s, t) / DISPLACE_DIVISOR;
                p = p + k * n;
            }
            out[2 * i + side] = {s, t, n.x, n.y, n.z, p.x, p.y, p.z};
        }
    }
}
