#include "search/winrate.h"

#include <cmath>

#include "search/static_value.h"

namespace {

// tools/fit_winrate.py: p = 1 / (1 + exp(-(bias + scale * value))).
constexpr double WinrateBias = 0.0;
constexpr double WinrateScale = 0.002;

}  // namespace

double winrate(int32_t value) {
    if (value >= WinValue) return 1.0;
    if (value <= -WinValue) return 0.0;
    return 1.0 / (1.0 + std::exp(-(WinrateBias + WinrateScale * value)));
}
