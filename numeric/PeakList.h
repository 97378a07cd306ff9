// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

// Peaks of one m/z window of a spectrum, from centroid data as it is or from profile data by apex
// picking. Spectra arrive as bare arrays with no centroid/profile flag, so the kind is told from the
// sampling itself.

namespace varnex::numeric {

struct Peak {
    double mz = 0.0;
    double height = 0.0;
    double fwhm = 0.0;    // full width at half maximum in m/z; 0 for centroid data
    double shiftMz = 0.0; // how far a neighbour merging into the peak may have displaced its apex
    // How far the signal may lie left (right) of the apex: a peak laid beside a touching neighbour on its
    // left (right) sits farther from it than it should.
    double pushedRightMz = 0.0;
    double pushedLeftMz = 0.0;
};

// Whether points [begin, end) look like profile sampling: mostly regular spacing, and either zero
// points between peaks, spacing too fine for centroids, or nearly every spacing the same (a sampling
// grid). Sparse centroid data, even when its peaks happen to sit an isotope step apart, is not taken
// for profile data.
bool LooksLikeProfile(const float* masses, const float* intensities, int begin, int end,
                      std::vector<double>& scratch);

// Appends the peaks of points [begin, end), ascending in m/z. Centroid data: every point of positive
// intensity. Profile data: local maxima, apex from a parabola through the logarithms of the three top
// points, width from the half-height crossings; apexes within half a width of a taller one (noise on
// its flanks) are dropped. A peak with another apex within three widths may be two signals pushed or
// merged into each other: its apex may be displaced by up to that distance.
void CollectPeaks(const float* masses, const float* intensities, int begin, int end, bool profile,
                  std::vector<Peak>& peaks);

} // namespace varnex::numeric
