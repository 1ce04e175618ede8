#pragma once

// A float as text in the fewest digits that read back as it: std::to_chars
// where the standard library has it for floats (HAVE_FLOAT_TO_CHARS, which
// the build sets by trying it), else shortestFloat, which writes the same.

#include <charconv>  // Required for: to_chars(), shortest round-trip floats

#ifndef HAVE_FLOAT_TO_CHARS
#error "HAVE_FLOAT_TO_CHARS: the build says 1 where std::to_chars writes floats, else 0"
#endif

// value in the fewest digits that read back as it (the nearest such digits
// when there are several), fixed or with an exponent, whichever is
// shorter: what std::to_chars writes. Returns the end; last must leave room
// for 16 characters.
char* shortestFloat(char* first, char* last, float value);

inline char* floatText(char* first, char* last, float value)
{
#if HAVE_FLOAT_TO_CHARS
    return std::to_chars(first, last, value).ptr;
#else
    return shortestFloat(first, last, value);
#endif
}
