// SPDX-License-Identifier: GPL-3.0-or-later
#include "numeric/PeakList.h"

#include <algorithm>
#include <cmath>

namespace varnex::numeric {

namespace {
constexpr int kMinSpacingsForProfile = 16;
constexpr double kRegularFractionForProfile = 0.5;
constexpr double kZeroFractionForProfile = 0.05;
// Finer than any isotope step of charges we report; centroids this dense cannot be regular.
constexpr double kFineSamplingMz = 0.05;
// Spacings this close to the median, this often, are a sampling grid whatever its pitch: centroids of
// real signals never fall on one (ion-trap profile scans sample every 0.08 m/z or so without zeros).
constexpr double kGridTolerance = 0.03;
constexpr double kGridFraction = 0.9;
// Apexes closer than this many peak widths may be signals merged into each other.
constexpr double kMergeWidths = 3.0;

// m/z where the signal falls to `level` between point i (above it) and its neighbour j (at or below it).
double Crossing(const float* masses, const float* intensities, int i, int j, double level) {
    const double yi = intensities[i];
    const double yj = intensities[j];
    const double t = yi > yj ? (yi - level) / (yi - yj) : 0.5;
    return masses[i] + t * (static_cast<double>(masses[j]) - masses[i]);
}

// Distance from the apex at `apex` to the half-height crossing on one side (`step` = -1 or +1); a
// negative result when the signal rises again before falling to half height.
double HalfWidth(const float* masses, const float* intensities, int begin, int end, int apex, int step,
                 double apexMz) {
    const double half = 0.5 * intensities[apex];
    int i = apex;
    for (;;) {
        const int j = i + step;
        if (j < begin || j >= end) {
            return -1.0;
        }
        if (intensities[j] <= half) {
            return std::fabs(Crossing(masses, intensities, i, j, half) - apexMz);
        }
        if (intensities[j] > intensities[i]) {
            return -1.0;
        }
        i = j;
    }
}
} // namespace

bool LooksLikeProfile(const float* masses, const float* intensities, int begin, int end,
                      std::vector<double>& scratch) {
    if (end - begin - 1 < kMinSpacingsForProfile) {
        return false;
    }
    scratch.clear();
    int zeros = 0;
    for (int i = begin; i < end; ++i) {
        if (!(intensities[i] > 0.0f)) {
            ++zeros;
        }
        if (i + 1 < end) {
            const double spacing = static_cast<double>(masses[i + 1]) - masses[i];
            if (spacing > 0.0) {
                scratch.push_back(spacing);
            }
        }
    }
    if (static_cast<int>(scratch.size()) < kMinSpacingsForProfile) {
        return false;
    }
    const auto middle = scratch.begin() + scratch.size() / 2;
    std::nth_element(scratch.begin(), middle, scratch.end());
    const double median = *middle;
    const auto regular = std::count_if(scratch.begin(), scratch.end(), [median](double spacing) {
        return spacing >= 0.8 * median && spacing <= 1.25 * median;
    });
    if (regular < kRegularFractionForProfile * static_cast<double>(scratch.size())) {
        return false;
    }
    const auto onGrid = std::count_if(scratch.begin(), scratch.end(), [median](double spacing) {
        return std::fabs(spacing - median) <= kGridTolerance * median;
    });
    return zeros >= kZeroFractionForProfile * (end - begin) || median <= kFineSamplingMz ||
           onGrid >= kGridFraction * static_cast<double>(scratch.size());
}

void CollectPeaks(const float* masses, const float* intensities, int begin, int end, bool profile,
                  std::vector<Peak>& peaks) {
    if (!profile) {
        for (int i = begin; i < end; ++i) {
            if (intensities[i] > 0.0f && std::isfinite(intensities[i]) && std::isfinite(masses[i])) {
                peaks.push_back({masses[i], intensities[i], 0.0});
            }
        }
        return;
    }
    const std::size_t first = peaks.size();
    for (int i = begin + 1; i + 1 < end; ++i) {
        const double y = intensities[i];
        if (!(y > 0.0) || !std::isfinite(y) || !(y >= intensities[i - 1]) || !(y > intensities[i + 1])) {
            continue;
        }
        const double x0 = masses[i - 1];
        const double x1 = masses[i];
        const double x2 = masses[i + 1];
        double apexMz = x1;
        double height = y;
        if (intensities[i - 1] > 0.0f && intensities[i + 1] > 0.0f && x0 < x1 && x1 < x2) {
            // Vertex of the parabola through (x, log y): exact for a Gaussian peak.
            const double l0 = std::log(static_cast<double>(intensities[i - 1]));
            const double l1 = std::log(y);
            const double l2 = std::log(static_cast<double>(intensities[i + 1]));
            const double d01 = (l1 - l0) / (x1 - x0);
            const double d12 = (l2 - l1) / (x2 - x1);
            const double curvature = (d12 - d01) / (x2 - x0);
            if (curvature < 0.0) {
                const double vertex = 0.5 * (x0 + x1) - d01 / (2.0 * curvature);
                if (vertex > x0 && vertex < x2) {
                    apexMz = vertex;
                    const double logHeight =
                        l1 + d01 * (vertex - x1) + curvature * (vertex - x0) * (vertex - x1);
                    height = std::clamp(std::exp(logHeight), y, 2.0 * y);
                }
            }
        }
        const double left = HalfWidth(masses, intensities, begin, end, i, -1, apexMz);
        const double right = HalfWidth(masses, intensities, begin, end, i, +1, apexMz);
        double fwhm;
        if (left > 0.0 && right > 0.0) {
            fwhm = left + right;
        } else if (left > 0.0 || right > 0.0) {
            fwhm = 2.0 * std::max(left, right);
        } else {
            fwhm = x2 - x0;
        }
        peaks.push_back({apexMz, height, fwhm});
    }
    // Drop shoulder apexes: those within half a width of a taller apex. Marked first (negative
    // width), removed after, so that every comparison sees the full list.
    const auto isShoulder = [&peaks](std::size_t i, std::size_t j) {
        const double width = 0.5 * std::max(std::fabs(peaks[i].fwhm), std::fabs(peaks[j].fwhm));
        return peaks[j].height > peaks[i].height && std::fabs(peaks[i].mz - peaks[j].mz) < width;
    };
    for (std::size_t i = first; i < peaks.size(); ++i) {
        bool shoulder = false;
        for (std::size_t j = i;
             !shoulder && j-- > first && peaks[i].mz - peaks[j].mz < std::fabs(peaks[j].fwhm);) {
            shoulder = isShoulder(i, j);
        }
        for (std::size_t j = i + 1;
             !shoulder && j < peaks.size() && peaks[j].mz - peaks[i].mz < peaks[j].fwhm; ++j) {
            shoulder = isShoulder(i, j);
        }
        if (shoulder) {
            peaks[i].fwhm = -peaks[i].fwhm;
        }
    }
    peaks.erase(std::remove_if(peaks.begin() + static_cast<std::ptrdiff_t>(first), peaks.end(),
                               [](const Peak& peak) { return peak.fwhm < 0.0; }),
                peaks.end());
    for (std::size_t i = first; i < peaks.size(); ++i) {
        double nearest = kMergeWidths * peaks[i].fwhm;
        if (i > first) {
            nearest = std::min(nearest, peaks[i].mz - peaks[i - 1].mz);
        }
        if (i + 1 < peaks.size()) {
            nearest = std::min(nearest, peaks[i + 1].mz - peaks[i].mz);
        }
        peaks[i].shiftMz = nearest < kMergeWidths * peaks[i].fwhm ? nearest : 0.0;
        const double reachMz = kMergeWidths * peaks[i].fwhm;
        if (i > first && peaks[i].mz - peaks[i - 1].mz < reachMz) {
            peaks[i].pushedRightMz = peaks[i].mz - peaks[i - 1].mz;
        }
        if (i + 1 < peaks.size() && peaks[i + 1].mz - peaks[i].mz < reachMz) {
            peaks[i].pushedLeftMz = peaks[i + 1].mz - peaks[i].mz;
        }
    }
}

} // namespace varnex::numeric
