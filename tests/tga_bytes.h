#pragma once

// Hand-made TGA files for the reader's tests.

#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An 18-byte header with the fields the reader looks at; the rest 0.
inline Bytes header(int type, int width, int height, int depth)
{
    Bytes h(18, 0);
    h[2] = static_cast<unsigned char>(type);
    h[12] = static_cast<unsigned char>(width & 255);
    h[13] = static_cast<unsigned char>(width >> 8);
    h[14] = static_cast<unsigned char>(height & 255);
    h[15] = static_cast<unsigned char>(height >> 8);
    h[16] = static_cast<unsigned char>(depth);
    return h;
}
