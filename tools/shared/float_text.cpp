#include "float_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The powers of ten a double holds exactly.
constexpr double TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// x * 10^power rounded once, for |power| <= 22 (x exact in a double).
double timesTen(double x, int power) { return power >= 0 ? x * TEN[power] : x / TEN[-power]; }

// Whether digits * 10^power reads back as value, as strtof would say, and
// how far it is from it: in doubles where the power of ten is exact (a
// double rounded once misleads the float's rounding only where it lands
// exactly halfway between two floats), else, and there, read as text.
bool readsBack(long long digits, int power, float value, double& distance)
{
    if (power >= -22 && power <= 22) {
        const double product = timesTen(double(digits), power);
        const float nearest = float(product);
        const float other = std::nextafterf(nearest, double(nearest) < product ? INFINITY : 0.0f);
        distance = std::fabs(product - double(value));
        if (double(nearest) == product || product != (double(nearest) + double(other)) / 2)
            return nearest == value;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%llde%d", digits, power);
    distance = std::fabs(std::strtod(text, nullptr) - double(value));
    return std::strtof(text, nullptr) == value;
}

// Of rounded, value's digits at places places rounded to nearest (ties to
// even) at 10^power, and its neighbours (one of which may read back where
// it does not, where value's interval is lopsided, at a power of two), the
// nearest that reads back as value: its digits, and the decimal exponent of
// its first (a carry to one more place taken as the next exponent's).
// False when none does.
bool nearestReadingBack(float value, long long rounded, int places, int power, char* digits, int& exponent)
{
    const long long low = (long long)TEN[places - 1];
    double nearest = INFINITY, distance = 0;
    for (const long long candidate : {rounded, rounded - 1, rounded + 1}) {
        if (candidate < low || candidate > low * 10 || !readsBack(candidate, power, value, distance) ||
            distance >= nearest)
            continue;
        nearest = distance;
        const bool carried = candidate == low * 10;
        std::snprintf(digits, 16, "%lld", carried ? low : candidate);
        exponent = power + places - 1 + carried;
        if (candidate == rounded)
            break;
    }
    return nearest < INFINITY;
}

// Value's (> 0) significant digits at places places that read back as it,
// and their decimal exponent, rounded as printf rounds: exact, and slow
// (printf's long double is soft-float in the web page's module).
bool placesReadBack(float value, int places, char* digits, int& exponent)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*e", places - 1, double(value));
    const char* mark = std::strchr(text, 'e');
    long long rounded = text[0] - '0';
    for (const char* at = text + 2; at < mark; ++at)
        rounded = rounded * 10 + (*at - '0');
    return nearestReadingBack(value, rounded, places, std::atoi(mark + 1) - places + 1, digits, exponent);
}

// placesReadBack in doubles, for value (> 0) of decimal exponent decimal
// within +-13, so that every power of ten met is exact: the rounded digits
// are the scaled value's nearest integer, unless it lies so near a half
// that one rounding could have moved it; then unsure is set, and
// placesReadBack decides.
bool placesReadBackFast(float value, int places, int decimal, char* digits, int& exponent, bool& unsure)
{
    const int power = decimal - places + 1;
    const double scaled = timesTen(double(value), -power);
    const double whole = std::floor(scaled);
    unsure = std::fabs(scaled - whole - 0.5) < 1e-6;
    return !unsure &&
           nearestReadingBack(value, (long long)whole + (scaled - whole > 0.5), places, power, digits, exponent);
}

// value's decimal exponent, 10^exponent <= value < 10^(exponent + 1), for
// value within [1e-13, 1e13).
int decimalExponent(float value)
{
    int exponent = int(std::floor(std::log10(double(value))));
    if (exponent >= -22 && double(value) < timesTen(1.0, exponent))
        --exponent;
    if (exponent + 1 <= 22 && double(value) >= timesTen(1.0, exponent + 1))
        ++exponent;
    return exponent;
}

}  // namespace

char* shortestFloat(char* first, char* last, float value)
{
    const float size = std::fabs(value);
    const char* sign = std::signbit(value) ? "-" : "";
    if (!std::isfinite(value) || size == 0.0f)
        return first + std::snprintf(first, size_t(last - first), "%s%s", sign,
                                     std::isnan(value) ? "nan" : std::isinf(value) ? "inf" : "0");
    // The fewest places that read back: nine always do, and one more than
    // any that do do too. In doubles where the value's powers of ten are
    // exact and the rounding is sure (nearly always, for a mesh), else
    // through printf and strtof, exactly but many times slower.
    const bool inDoubles = size >= 1e-13f && size < 1e13f;
    const int decimal = inDoubles ? decimalExponent(size) : 0;
    const auto atPlaces = [&](int places, char* out, int& power) {
        bool unsure = true;
        const bool reads = inDoubles && placesReadBackFast(size, places, decimal, out, power, unsure);
        return unsure ? placesReadBack(size, places, out, power) : reads;
    };
    char digits[16] = "", tried[16];
    int exponent = 0, power = 0, low = 1, high = 9;
    atPlaces(high, digits, exponent);
    while (low < high) {
        const int middle = (low + high) / 2;
        if (atPlaces(middle, tried, power)) {
            high = middle;
            std::memcpy(digits, tried, sizeof digits);
            exponent = power;
        } else {
            low = middle + 1;
        }
    }
    size_t count = std::strlen(digits);
    while (count > 1 && digits[count - 1] == '0')
        digits[--count] = '\0';
    // Fixed (a whole number in all its digits, as it is) or with an exponent
    // of two digits or more, whichever is shorter; fixed when both are as
    // long.
    std::string scientific(1, digits[0]), fixed;
    if (count > 1)
        scientific += "." + std::string(digits + 1);
    char ending[16];
    std::snprintf(ending, sizeof ending, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    scientific += ending;
    if (exponent < 0) {
        fixed = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else if (count <= size_t(exponent) + 1) {
        char whole[48];
        if (size < 1e18f)
            std::snprintf(whole, sizeof whole, "%llu", (unsigned long long)size);
        else
            std::snprintf(whole, sizeof whole, "%.0f", double(size));
        fixed = whole;
    } else {
        fixed = std::string(digits, size_t(exponent) + 1) + "." + (digits + exponent + 1);
    }
    const std::string& shorter = fixed.size() <= scientific.size() ? fixed : scientific;
    return first + std::snprintf(first, size_t(last - first), "%s%s", sign, shorter.c_str());
}
