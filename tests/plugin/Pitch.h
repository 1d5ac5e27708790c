// The pitch of a recorded take, for the plugin's tests.
#pragma once

#include <vector>

namespace hosts {

// The frequency of the rising zero crossings of `x` at `rate`, between
// samples by linear interpolation; 0 with fewer than two.
inline double crossingHz(const std::vector<float>& x, double rate) {
    std::vector<double> rises;
    for (size_t t = 0; t + 1 < x.size(); t++)
        if (x[t] < 0 && x[t + 1] >= 0) rises.push_back(t + x[t] / (x[t] - x[t + 1]));
    if (rises.size() < 2) return 0;
    return (rises.size() - 1) * rate / (rises.back() - rises.front());
}

}  // namespace hosts
