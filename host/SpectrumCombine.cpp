// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/SpectrumCombine.h"

#include <algorithm>
#include <cmath>

namespace varnex::host {

namespace {

// How many times the usual spacing an interval may be before it is a gap.
constexpr double kGapFactor = 4.0;

double MedianSpacing(const PeakData& scan) {
    if (scan.mz.size() < 2) {
        return 0.0;
    }
    std::vector<double> spacing(scan.mz.size() - 1);
    for (std::size_t i = 0; i + 1 < scan.mz.size(); ++i) {
        spacing[i] = scan.mz[i + 1] - scan.mz[i];
    }
    std::nth_element(spacing.begin(), spacing.begin() + spacing.size() / 2, spacing.end());
    return spacing[spacing.size() / 2];
}

// Adds the scan's linear interpolation at every point of `axis` (ascending) into `sum`.
void AddResampled(const PeakData& scan, const std::vector<double>& axis, std::vector<double>& sum) {
    if (scan.mz.empty()) {
        return;
    }
    const double widestBridgedInterval = kGapFactor * MedianSpacing(scan);
    std::size_t right = 0; // first scan point with mz >= axis value
    for (std::size_t a = 0; a < axis.size(); ++a) {
        const double x = axis[a];
        while (right < scan.mz.size() && scan.mz[right] < x) {
            ++right;
        }
        if (right == scan.mz.size()) {
            break;
        }
        if (scan.mz[right] == x) {
            sum[a] += scan.intensity[right];
            continue;
        }
        if (right == 0) {
            continue;
        }
        const double x0 = scan.mz[right - 1];
        const double x1 = scan.mz[right];
        if (x1 - x0 > widestBridgedInterval) {
            continue;
        }
        const double t = (x - x0) / (x1 - x0);
        sum[a] += scan.intensity[right - 1] + t * (scan.intensity[right] - scan.intensity[right - 1]);
    }
}

} // namespace

double CombineTolerance::At(double mz) const {
    return std::max(minimumDa, std::abs(mz) * ppm * 1e-6);
}

PeakData CombineCentroidScans(const std::vector<const PeakData*>& scans, CombineTolerance tolerance) {
    struct Peak {
        double mz;
        double intensity;
    };
    std::vector<Peak> pooled;
    for (const PeakData* scan : scans) {
        for (std::size_t i = 0; i < scan->mz.size(); ++i) {
            pooled.push_back({scan->mz[i], scan->intensity[i]});
        }
    }
    std::sort(pooled.begin(), pooled.end(), [](const Peak& a, const Peak& b) { return a.mz < b.mz; });

    PeakData combined;
    combined.centroid = true;
    double weightedMz = 0.0;
    double clusterIntensity = 0.0;
    double clusterFirstMz = 0.0;
    bool open = false;
    const auto closeCluster = [&] {
        // An all-zero cluster keeps the plain mean, not a division by zero.
        combined.mz.push_back(clusterIntensity > 0.0 ? weightedMz / clusterIntensity : clusterFirstMz);
        combined.intensity.push_back(clusterIntensity);
    };
    for (const Peak& peak : pooled) {
        // Measured from the cluster's first peak so that a ladder of close peaks cannot chain into one.
        if (open && peak.mz - clusterFirstMz <= tolerance.At(clusterFirstMz)) {
            weightedMz += peak.mz * peak.intensity;
            clusterIntensity += peak.intensity;
            continue;
        }
        if (open) {
            closeCluster();
        }
        open = true;
        clusterFirstMz = peak.mz;
        weightedMz = peak.mz * peak.intensity;
        clusterIntensity = peak.intensity;
    }
    if (open) {
        closeCluster();
    }
    return combined;
}

PeakData CombineProfileScans(const std::vector<const PeakData*>& scans) {
    PeakData combined;
    combined.centroid = false;
    for (const PeakData* scan : scans) {
        combined.mz.insert(combined.mz.end(), scan->mz.begin(), scan->mz.end());
    }
    std::sort(combined.mz.begin(), combined.mz.end());
    combined.mz.erase(std::unique(combined.mz.begin(), combined.mz.end()), combined.mz.end());
    combined.intensity.assign(combined.mz.size(), 0.0);
    for (const PeakData* scan : scans) {
        AddResampled(*scan, combined.mz, combined.intensity);
    }
    return combined;
}

PeakData CombineScans(const std::vector<const PeakData*>& scans, CombineTolerance tolerance) {
    const bool allCentroid =
        std::all_of(scans.begin(), scans.end(), [](const PeakData* s) { return s->centroid; });
    return allCentroid ? CombineCentroidScans(scans, tolerance) : CombineProfileScans(scans);
}

std::vector<std::size_t> StrongestPeaks(const PeakData& peaks, std::size_t count, double exclusionDa) {
    // Only a point at least as high as its close neighbours can carry a label: in profile data that
    // leaves the apexes, a small share of the points. Sticks of centroid data are all apexes.
    std::vector<std::size_t> order;
    const std::size_t size = peaks.intensity.size();
    for (std::size_t i = 0; i < size; ++i) {
        const double value = peaks.intensity[i];
        const bool belowLeft =
            i > 0 && peaks.mz[i] - peaks.mz[i - 1] < exclusionDa && value < peaks.intensity[i - 1];
        const bool belowRight =
            i + 1 < size && peaks.mz[i + 1] - peaks.mz[i] < exclusionDa && value < peaks.intensity[i + 1];
        if (peaks.centroid || (!belowLeft && !belowRight)) {
            order.push_back(i);
        }
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return peaks.intensity[a] > peaks.intensity[b]; });
    std::vector<std::size_t> chosen;
    for (const std::size_t index : order) {
        if (chosen.size() >= count || peaks.intensity[index] <= 0.0) {
            break;
        }
        const bool nearChosen = std::any_of(chosen.begin(), chosen.end(), [&](std::size_t other) {
            return std::abs(peaks.mz[other] - peaks.mz[index]) < exclusionDa;
        });
        if (!nearChosen) {
            chosen.push_back(index);
        }
    }
    return chosen;
}

} // namespace varnex::host
