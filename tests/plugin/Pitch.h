// The pitch of a recorded take, for the plugin's tests and the tuned notes'.
#pragma once

#include <cmath>
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

// The frequency of the strongest partial between `low` and `high` Hz in
// `x` (at `rate`), through a Hann window: a search in steps of 0.25 Hz,
// then narrowed to a thousandth of a hertz.
inline double peakHz(const std::vector<float>& x, double rate, double low, double high) {
    auto power = [&](double hz) {
        double re = 0, im = 0, n = static_cast<double>(x.size());
        for (size_t t = 0; t < x.size(); t++) {
            double w = 0.5 - 0.5 * std::cos(2 * M_PI * t / (n - 1));
            re += w * x[t] * std::cos(2 * M_PI * hz * t / rate);
            im += w * x[t] * std::sin(2 * M_PI * hz * t / rate);
        }
        return re * re + im * im;
    };
    double best = low, most = -1;
    for (double hz = low; hz <= high; hz += 0.25)
        if (double p = power(hz); p > most) best = hz, most = p;
    double a = best - 0.25, b = best + 0.25;
    while (b - a > 0.001) {
        double m1 = a + (b - a) / 3, m2 = b - (b - a) / 3;
        if (power(m1) < power(m2)) a = m1;
        else b = m2;
    }
    return (a + b) / 2;
}

}  // namespace hosts
