// Compiles where the standard library writes floats with std::to_chars.
#include <charconv>

int main()
{
    char text[32];
    const float value = 0.1f;
    return std::to_chars(text, text + sizeof text, value).ptr == text;
}
