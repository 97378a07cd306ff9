// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Point lookups on a survey spectrum whose masses should ascend.

namespace varnex::model {

bool MassesAscending(const float* masses, int count);

// Intensity of the point nearest to `setMass`: of the two points around it, the upper one only when it
// is strictly nearer. 0.0 when no point lies above the set mass; the first point's intensity when all
// of them do. `ascending` (from MassesAscending) allows a binary search with the same answer.
float NearestPointIntensity(const float* masses, const float* intensities, int count, float setMass,
                            bool ascending);

} // namespace varnex::model
