#include "navigation.h"

#include <cmath>
#include <initializer_list>

namespace {
constexpr double PI = 3.14159265358979323846;
}  // namespace

void limitAngles(Vector3& angles)
{
    // Snapped to 0, not wrapped: an angle that reaches 361 becomes 0.
    for (float* a : {&angles.x, &angles.y, &angles.z})
        if (*a > ANGLE_LIMIT || *a < -ANGLE_LIMIT)
            *a = 0.0f;
}

void dragCamera(int mode, double dx, double dy, Vector3& offset, Vector3& angles)
{
    // Each step rounded to single precision, as the float arithmetic of
    // whole pixels is (their products are exact in double).
    const auto step = [](double pixels, float rate) { return static_cast<float>(pixels * rate); };
    switch (mode) {
    case DRAG_ROTATE:
        angles.x += step(dy, DEGREES_PER_PIXEL);
        angles.y += step(dx, DEGREES_PER_PIXEL);
        break;
    case DRAG_ZOOM:
        offset.z += step(dy, ZOOM_PER_PIXEL);
        break;
    case DRAG_PAN:
        offset.x -= step(dx, PAN_PER_PIXEL);
        offset.y += step(dy, PAN_PER_PIXEL);
        break;
    default:
        return;
    }
    limitAngles(angles);
}

double viewAspect(int width, int height)
{
    const int w = width > 0 ? width : 1;
    const int h = height > 0 ? height : 1;
    return static_cast<double>(w) / static_cast<double>(h);
}

namespace {

Matrix4 identity() { return {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}}; }

// a x b in single precision, each element summed in k order.
Matrix4 multiply(const Matrix4& a, const Matrix4& b)
{
    Matrix4 p{};
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += a.m[4 * k + row] * b.m[4 * column + k];
            p.m[4 * column + row] = sum;
        }
    return p;
}

// glRotatef's matrix for degrees about axis x (0), y (1) or z (2): the sine
// and cosine in single precision.
Matrix4 rotation(float degrees, int axis)
{
    const float radians = static_cast<float>(degrees * PI / 180.0);
    const float c = std::cos(radians), s = std::sin(radians);
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    Matrix4 r = identity();
    r.m[4 * u + u] = c;
    r.m[4 * u + v] = s;
    r.m[4 * v + u] = -s;
    r.m[4 * v + v] = c;
    return r;
}

}  // namespace

Matrix4 cameraModelView(const Vector3& offset, const Vector3& angles)
{
    Matrix4 m = identity();
    m.m[12] = -offset.x;
    m.m[13] = -offset.y;
    m.m[14] = -offset.z;
    m = multiply(m, rotation(angles.x, 0));
    m = multiply(m, rotation(angles.y, 1));
    return multiply(m, rotation(angles.z, 2));
}

Matrix4 cameraProjection(int width, int height)
{
    // gluPerspective's arithmetic, in double, rounded once.
    const double cotangent = 1.0 / std::tan(FIELD_OF_VIEW / 2.0 * PI / 180.0);
    const double depth = FAR_PLANE - NEAR_PLANE;
    Matrix4 p{};
    p.m[0] = static_cast<float>(cotangent / viewAspect(width, height));
    p.m[5] = static_cast<float>(cotangent);
    p.m[10] = static_cast<float>(-(FAR_PLANE + NEAR_PLANE) / depth);
    p.m[11] = -1.0f;
    p.m[14] = static_cast<float>(-2.0 * NEAR_PLANE * FAR_PLANE / depth);
    return p;
}

void normalMatrix(const Matrix4& m, float normal[9])
{
    // a[3 * column + row] of the upper 3 x 3; its cofactors over the
    // determinant are the inverse's transpose.
    const double a[9] = {m.m[0], m.m[1], m.m[2], m.m[4], m.m[5], m.m[6], m.m[8], m.m[9], m.m[10]};
    const auto at = [&a](int row, int column) { return a[3 * (column % 3) + row % 3]; };
    double cofactor[9];
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            cofactor[3 * column + row] = at(row + 1, column + 1) * at(row + 2, column + 2) -
                                         at(row + 1, column + 2) * at(row + 2, column + 1);
    const double determinant = a[0] * cofactor[0] + a[1] * cofactor[1] + a[2] * cofactor[2];
    for (int k = 0; k < 9; ++k)
        normal[k] = static_cast<float>(cofactor[k] / determinant);
}
