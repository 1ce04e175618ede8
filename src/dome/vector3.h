#pragma once

#include <cmath>

// Three single-precision components: a control point, a normal, the camera
// offset (scene units) or the camera angles (degrees).
struct Vector3 {
    float x;
    float y;
    float z;
};

// Component by component, each one rounding in single precision: the surface,
// the mesh writers, the tests and the benchmark all compute with these, so a
// vertex comes out with the same bits wherever it is computed.
inline Vector3 operator+(Vector3 a, Vector3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vector3 operator-(Vector3 a, Vector3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vector3 operator*(float k, Vector3 a) { return {k * a.x, k * a.y, k * a.z}; }

inline float dot(Vector3 a, Vector3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Vector3 cross(Vector3 a, Vector3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// a at unit length: each component divided by the length.
inline Vector3 normalise(Vector3 a)
{
    const float length = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return {a.x / length, a.y / length, a.z / length};
}
