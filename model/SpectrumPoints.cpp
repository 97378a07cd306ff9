// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/SpectrumPoints.h"

#include <algorithm>
#include <cmath>

namespace varnex::model {

bool MassesAscending(const float* masses, int count) {
    for (int i = 0; i < count; ++i) {
        if (std::isnan(masses[i]) || (i > 0 && masses[i] < masses[i - 1])) {
            return false;
        }
    }
    return true;
}

float NearestPointIntensity(const float* masses, const float* intensities, int count, float setMass,
                            bool ascending) {
    if (count <= 0 || masses == nullptr || intensities == nullptr) {
        return 0.0f;
    }
    const float* end = masses + count;
    // The first point strictly above the set mass, as a walk from the first point finds it.
    const float* above = ascending
                             ? std::upper_bound(masses, end, setMass)
                             : std::find_if(masses, end, [setMass](float mass) { return mass > setMass; });
    if (above == end) {
        return 0.0f;
    }
    const auto k = above - masses;
    if (k == 0) {
        return intensities[0];
    }
    const double below = static_cast<double>(setMass) - static_cast<double>(masses[k - 1]);
    const double aboveDistance = static_cast<double>(masses[k]) - static_cast<double>(setMass);
    return below > aboveDistance ? intensities[k] : intensities[k - 1];
}

} // namespace varnex::model
