#version 300 es
// One sample of the displaced dome per vertex: sample e * GRID_SAMPLES + i
// is row sample e (along z) and column sample i (along x), evaluated as
// the viewer's strips evaluate it. The Bernstein weights and both nets come
// from the page's script, bit for bit the viewer's; the sums run from
// index 0 up, in single precision, as the viewer's do. Drawn as points
// with the rasterizer off, the results captured by transform feedback.
precision highp float;
precision highp int;
precision highp sampler2D;

// GRID_STEPS, DISPLACE_GRID_MAX and DISPLACE_DIVISOR are the viewer's,
// defined by the page's script.
const int GRID_SAMPLES = GRID_STEPS + 1;

// Row j of basis holds weight j at every sample: rows 0-3 the cubic
// Bernstein weights, rows 4-6 the quadratic ones.
uniform sampler2D basis;
// The displacement image's values 0..1, texel (column, row) as the viewer
// reads its rows and columns 0..DISPLACE_GRID_MAX.
uniform sampler2D heights;
// The control net [row][column] as [4 * row + column]; the normal net as
// [3 * row + column].
uniform vec3 controlNet[16];
uniform vec3 normalNet[9];
// How much the relief is exaggerated: 1 is the viewer's seventh.
uniform float relief;

out vec3 position;
out vec3 normal;

float weight(int table, int k) { return texelFetch(basis, ivec2(k, table), 0).r; }

// Where a texture coordinate falls among the sampled texels: the texel
// below, the one above (the last stays the last) and the fraction between.
struct TexelSpan {
    int low;
    int high;
    float fraction;
};

TexelSpan texelSpan(float coordinate)
{
    // coordinate is a multiple of 1/GRID_STEPS and DISPLACE_GRID_MAX needs
    // few bits (1/1024 and 511 need nine): exact.
    float scaled = coordinate * float(DISPLACE_GRID_MAX);
    int low = int(scaled);
    return TexelSpan(low, low < DISPLACE_GRID_MAX ? low + 1 : low, scaled - float(low));
}

float texel(int row, int column) { return texelFetch(heights, ivec2(column, row), 0).r; }

void main()
{
    int e = gl_VertexID / GRID_SAMPLES;
    int i = gl_VertexID - e * GRID_SAMPLES;

    // The nets reduced to row sample e, then evaluated at column sample i.
    vec3 points[4];
    for (int c = 0; c < 4; ++c) {
        vec3 sum = weight(0, e) * controlNet[c];
        for (int r = 1; r < 4; ++r)
            sum = sum + weight(r, e) * controlNet[4 * r + c];
        points[c] = sum;
    }
    vec3 normals[3];
    for (int c = 0; c < 3; ++c) {
        vec3 sum = weight(4, e) * normalNet[c];
        for (int r = 1; r < 3; ++r)
            sum = sum + weight(4 + r, e) * normalNet[3 * r + c];
        normals[c] = sum;
    }
    vec3 point = weight(0, i) * points[0];
    for (int c = 1; c < 4; ++c)
        point = point + weight(c, i) * points[c];
    vec3 n = weight(4, i) * normals[0];
    for (int c = 1; c < 3; ++c)
        n = n + weight(4 + c, i) * normals[c];

    // The bilinear height at the sample's texture coordinate (s, t), and the
    // point moved along the (not normalised) normal by 1/DISPLACE_DIVISOR of it.
    float s = float(i) / float(GRID_STEPS);
    float t = 1.0 - float(e) / float(GRID_STEPS);
    TexelSpan row = texelSpan(t);
    TexelSpan column = texelSpan(s);
    float fx = column.fraction;
    float fy = row.fraction;
    float d = (1.0 - fy) * (texel(row.low, column.high) * fx + texel(row.low, column.low) * (1.0 - fx)) +
              fy * (texel(row.high, column.high) * fx + texel(row.high, column.low) * (1.0 - fx));
    position = point + (d / DISPLACE_DIVISOR * relief) * n;
    normal = n;
}
