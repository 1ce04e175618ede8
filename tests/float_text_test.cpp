// Floats as text: our writer against the standard library's.
#include "float_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

// Where the standard library has no to_chars of floats (the web page's
// module's), floatText writes with shortestFloat: the same text as
// libstdc++'s to_chars, for floats with random bits, a run of neighbours
// across a power of two (where a float's interval is lopsided), and those
// nearest each power of ten.
TEST(FloatText, ShortestFloatWritesWhatToCharsWrites)
{
#if !HAVE_FLOAT_TO_CHARS
    GTEST_SKIP() << "this standard library has no to_chars of floats to compare with";
#else
    std::mt19937 bits(7);
    size_t differ = 0;
    for (int k = 0; k < 400000; ++k) {
        const std::uint32_t word = k < 200000 ? bits() : 0x3f800000u - 100000u + std::uint32_t(k - 200000);
        float value;
        std::memcpy(&value, &word, sizeof value);
        char theirs[64], ours[64];
        const std::string expected(theirs, std::to_chars(theirs, theirs + 64, value).ptr);
        differ += expected != std::string(ours, shortestFloat(ours, ours + 64, value));
    }
    // And the floats nearest each power of ten, where a rounding carries.
    for (int k = -38; k <= 38; ++k) {
        float value = std::pow(10.0f, float(k));
        for (int j = 0; j < 40; ++j)
            value = std::nextafter(value, 0.0f);
        for (int j = 0; j < 80; ++j, value = std::nextafter(value, INFINITY)) {
            char theirs[64], ours[64];
            differ += std::string(theirs, std::to_chars(theirs, theirs + 64, value).ptr) !=
                      std::string(ours, shortestFloat(ours, ours + 64, value));
        }
    }
    EXPECT_EQ(differ, 0u);
#endif
}
