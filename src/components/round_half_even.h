#pragma once
// Rounding to the nearest integer with halves going to the even neighbour, the rounding the
// meters and the slider use for bar counts, percentages and thumb offsets (so 2.5 gives 2 and
// 3.5 gives 4). Thread rules: pure functions, any thread.

#include <climits>
#include <cmath>

namespace miravox {

// NaN gives 0; results beyond the int range saturate instead of overflowing.
inline int round_half_even(double x) {
    if (std::isnan(x))
        return 0;
    double whole = std::floor(x);
    const double fraction = x - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (whole <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(whole);
}

} // namespace miravox
