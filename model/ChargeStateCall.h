// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace varnex::model {

// FindChargeState as the list calls it for every precursor: flags 0, the relative m/z tolerance 0.00065
// and the hydrogen atom's mass, 1.00782 Da. The benchmarks call it through here too, so that they measure
// the call the list makes.
int ListChargeState(float setMass, const float* masses, const float* intensities, int pointCount,
                    float& massOut, float& intensityOut);

} // namespace varnex::model
