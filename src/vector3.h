#pragma once

// Three single-precision components: a control point, a normal, the camera
// offset (scene units) or the camera angles (degrees).
struct Vector3 {
    float x;
    float y;
    float z;
};
