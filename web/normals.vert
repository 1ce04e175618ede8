#version 300 es
// The displaced surface's own normal at one sample, as dispdome-export
// computes it: the sum of (b - a) x (c - a) over the triangles that use the
// sample, each counting by its area, at unit length. The cells round the
// sample are visited in the export's order, each adding its triangles'
// share, so the sums are the export's sums.
precision highp float;
precision highp int;
precision highp sampler2D;

// GRID_STEPS is the viewer's, defined by the page's script.
const int GRID_SAMPLES = GRID_STEPS + 1;

// The displaced positions, sample (e, i) at texel (i, e).
uniform sampler2D positions;

out vec3 normal;

vec3 at(int e, int i) { return texelFetch(positions, ivec2(i, e), 0).xyz; }

// Cell (e, i) has corners A_i, A_i+1 on row e and B_i, B_i+1 on row e + 1,
// and the strip's triangles (A_i, B_i, A_i+1) and (A_i+1, B_i, B_i+1).
vec3 firstTriangle(int e, int i)
{
    vec3 a0 = at(e, i);
    return cross(at(e + 1, i) - a0, at(e, i + 1) - a0);
}

vec3 secondTriangle(int e, int i)
{
    vec3 a1 = at(e, i + 1);
    return cross(at(e + 1, i) - a1, at(e + 1, i + 1) - a1);
}

void main()
{
    int e = gl_VertexID / GRID_SAMPLES;
    int i = gl_VertexID - e * GRID_SAMPLES;
    vec3 sum = vec3(0.0);
    if (e > 0 && i > 0)  // its B_i+1: the second triangle
        sum = sum + secondTriangle(e - 1, i - 1);
    if (e > 0 && i < GRID_STEPS)  // its B_i: both
        sum = sum + (firstTriangle(e - 1, i) + secondTriangle(e - 1, i));
    if (e < GRID_STEPS && i > 0)  // its A_i+1: both
        sum = sum + (firstTriangle(e, i - 1) + secondTriangle(e, i - 1));
    if (e < GRID_STEPS && i < GRID_STEPS)  // its A_i: the first
        sum = sum + firstTriangle(e, i);
    normal = sum / sqrt(dot(sum, sum));
}
