// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Combining several scans into one spectrum. Centroid scans: all peaks pooled and peaks of different
// scans closer than a tolerance merged into one (intensity-weighted m/z, summed intensity). Profile
// scans: every scan resampled by linear interpolation on the common axis made of all scans' m/z values
// and the intensities summed; an interval much wider than the scan's usual point spacing is a gap left
// by the writer dropping zero points, and counts as zero rather than being bridged.

#include <vector>

namespace varnex::host {

struct PeakData {
    std::vector<double> mz; // ascending
    std::vector<double> intensity;
    bool centroid = true;
};

struct CombineTolerance {
    double ppm = 20.0;
    double minimumDa = 0.001; // keeps the window meaningful at low m/z
    double At(double mz) const;
};

PeakData CombineCentroidScans(const std::vector<const PeakData*>& scans, CombineTolerance tolerance = {});
PeakData CombineProfileScans(const std::vector<const PeakData*>& scans);
// Centroid merging when every scan is centroid, resampling otherwise.
PeakData CombineScans(const std::vector<const PeakData*>& scans, CombineTolerance tolerance = {});

// Indexes of the `count` most intense points, for labelling; points within `exclusionDa` of a stronger
// chosen one are skipped so that one profile peak gets one label.
std::vector<std::size_t> StrongestPeaks(const PeakData& peaks, std::size_t count, double exclusionDa);

} // namespace varnex::host
