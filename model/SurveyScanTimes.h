// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <vector>

#include "rawdata/RawData.h"

namespace varnex::model {

// Retention times of the survey scans (function 1), read once per pass instead of once per precursor,
// with the two placements the passes make. Both answer exactly as a scan-by-scan walk from survey scan
// 1 would, NaN times and unsorted times included.
class SurveyScanTimes final {
public:
    explicit SurveyScanTimes(std::vector<float> rtMinutes);

    // Counts function 1's scans with `record` (which must already be filled from the data-set path) and
    // reads every survey scan's statistics through `stats`, which keeps its contents between reads.
    static SurveyScanTimes Read(RawPathRecord& record, ScanStatsRecord& stats);

    std::size_t Count() const { return rtMinutes_.size(); }
    // `scan` from 1.
    float RtMinutes(std::size_t scan) const { return rtMinutes_[scan - 1]; }

    // The first survey scan (from 1) whose time is later than `rtMinutes` or not comparable with it
    // (NaN on either side); Count() + 1 when every survey scan lies at or before it.
    std::size_t FirstNotAtOrBefore(float rtMinutes) const;
    // The first survey scan (from 1) whose time is strictly later than `rtMinutes`; a NaN on either side
    // never is. Count() + 1 when there is none.
    std::size_t FirstStrictlyLater(float rtMinutes) const;

private:
    std::vector<float> rtMinutes_;
    std::vector<float> runningMaximum_; // over the non-NaN times up to each scan; -inf before the first
    std::size_t firstNanScan_;          // from 1; Count() + 1 when no time is NaN
};

} // namespace varnex::model
