#include "report/units/NativeUnits.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace rpunits {

long double roundHalfEven(long double v)
{
    if (!std::isfinite(v))
        return v;
    long double f = std::floor(v);
    const long double d = v - f;
    if (d > 0.5L || (d == 0.5L && std::fmod(f, 2.0L) != 0.0L))
        f += 1.0L;
    return f;
}

int roundToInt(long double v)
{
    if (std::isnan(v))
        return 0;
    const long double r = roundHalfEven(v);
    if (r >= static_cast<long double>(INT_MAX))
        return INT_MAX;
    if (r <= static_cast<long double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(r);
}

int mulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const long long p = static_cast<long long>(a) * b;
    long long q = p / c;
    const long long r = p % c;
    // Halves and above go away from zero.
    if (2 * std::llabs(r) >= std::llabs(static_cast<long long>(c)))
        q += ((p < 0) != (c < 0)) ? -1 : 1;
    if (q > INT_MAX || q < INT_MIN)
        return -1;
    return static_cast<int>(q);
}

int clampAdd(int a, int b)
{
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(sum, -1000000000LL, 1000000000LL));
}

} // namespace rpunits
