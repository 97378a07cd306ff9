// SPDX-License-Identifier: GPL-3.0-or-later
#include "numeric/Averagine.h"

#include <algorithm>
#include <cmath>

namespace varnex::numeric {

namespace {
constexpr double kFirstIsotopeStep = 1.00286;
constexpr double kLaterIsotopeStep = 1.00225;
// Expected numbers of one-neutron (13C, 15N, 2H, 17O) and two-neutron (18O, 34S) isotopes per dalton.
constexpr double kOneNeutronPerDalton = 5.4169e-4;
constexpr double kTwoNeutronPerDalton = 4.4137e-5;
constexpr int kMaxIsotopes = 32;
} // namespace

double IsotopeOffset(int index) {
    if (index == 0) {
        return 0.0;
    }
    const int steps = index < 0 ? -index : index;
    const double offset = kFirstIsotopeStep + (steps - 1) * kLaterIsotopeStep;
    return index < 0 ? -offset : offset;
}

int AveraginePattern(double neutralMass, double* abundances, int count) {
    if (count <= 0) {
        return -1;
    }
    count = std::min(count, kMaxIsotopes);
    const double mass = std::max(neutralMass, 0.0);
    const double lambda1 = mass * kOneNeutronPerDalton;
    const double lambda2 = mass * kTwoNeutronPerDalton;
    // Poisson terms by recurrence: p(k) = p(k-1) * lambda / k.
    double poisson1[kMaxIsotopes];
    double poisson2[kMaxIsotopes / 2 + 1];
    poisson1[0] = std::exp(-lambda1);
    for (int k = 1; k < count; ++k) {
        poisson1[k] = poisson1[k - 1] * lambda1 / k;
    }
    poisson2[0] = std::exp(-lambda2);
    for (int j = 1; j <= (count - 1) / 2; ++j) {
        poisson2[j] = poisson2[j - 1] * lambda2 / j;
    }
    int tallest = 0;
    for (int k = 0; k < count; ++k) {
        double p = 0.0;
        for (int j = 0; 2 * j <= k; ++j) {
            p += poisson1[k - 2 * j] * poisson2[j];
        }
        abundances[k] = p;
        if (p > abundances[tallest]) {
            tallest = k;
        }
    }
    const double top = abundances[tallest];
    if (top > 0.0) {
        for (int k = 0; k < count; ++k) {
            abundances[k] /= top;
        }
    }
    return tallest;
}

namespace {
constexpr double kTabulatedMassStep = 10.0;
} // namespace

const float* TabulatedAveragineAt(int index) {
    struct Table {
        float abundances[kTabulatedMasses][kTabulatedIsotopes];
        Table() {
            double pattern[kTabulatedIsotopes];
            for (int entry = 0; entry < kTabulatedMasses; ++entry) {
                AveraginePattern(entry * kTabulatedMassStep, pattern, kTabulatedIsotopes);
                std::copy(pattern, pattern + kTabulatedIsotopes, abundances[entry]);
            }
        }
    };
    static const Table table;
    return table.abundances[index];
}

int TabulatedAveragineIndex(double neutralMass) {
    const double position = neutralMass / kTabulatedMassStep + 0.5;
    return position > 0.0 ? static_cast<int>(std::min(position, kTabulatedMasses - 1.0)) : 0;
}

const float* TabulatedAveragine(double neutralMass) {
    return TabulatedAveragineAt(TabulatedAveragineIndex(neutralMass));
}

} // namespace varnex::numeric
