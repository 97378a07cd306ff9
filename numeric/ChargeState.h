// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The charge-state routine of the numeric library. Given a survey spectrum (masses ascending) and the
// m/z an MS/MS scan was acquired on, it returns the charge state of the isotope envelope that holds that
// m/z, or -1 when the spectrum does not tell. `intensityOut` always receives the height of the peak
// taken as the precursor's; `massOut` its m/z.
int FindChargeState(float setMass, int flags, const float* masses, const float* intensities, int pointCount,
                    float relativeTolerance, float hydrogenMass, float& massOut, float& intensityOut);
