// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/SurveyScanTimes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace varnex::model {

SurveyScanTimes::SurveyScanTimes(std::vector<float> rtMinutes)
    : rtMinutes_(std::move(rtMinutes)), firstNanScan_(rtMinutes_.size() + 1) {
    runningMaximum_.reserve(rtMinutes_.size());
    float maximum = -std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < rtMinutes_.size(); ++i) {
        const float t = rtMinutes_[i];
        if (std::isnan(t)) {
            firstNanScan_ = std::min(firstNanScan_, i + 1);
        } else {
            maximum = std::max(maximum, t);
        }
        runningMaximum_.push_back(maximum);
    }
}

SurveyScanTimes SurveyScanTimes::Read(RawPathRecord& record, ScanStatsRecord& stats) {
    record.SetInt16(RawPathRecord::kOffsetFunction, 1);
    record.SetInt32(RawPathRecord::kOffsetProcess, 1);
    const std::uint32_t scanCount = DmRawScansInFunction(record);
    record.SetInt32(RawPathRecord::kOffsetScanCount, static_cast<std::int32_t>(scanCount));
    std::vector<float> times;
    times.reserve(scanCount);
    for (std::uint32_t scan = 1; scan <= scanCount; ++scan) {
        DmRawReadScanStatsVB(record, scan, 0, stats);
        times.push_back(stats.GetFloat(ScanStatsRecord::kOffsetRetentionTime));
    }
    return SurveyScanTimes(std::move(times));
}

std::size_t SurveyScanTimes::FirstStrictlyLater(float rtMinutes) const {
    if (std::isnan(rtMinutes)) {
        return rtMinutes_.size() + 1;
    }
    // The first scan whose own time exceeds rtMinutes is where the running maximum first does.
    const auto later = std::upper_bound(runningMaximum_.begin(), runningMaximum_.end(), rtMinutes);
    return static_cast<std::size_t>(later - runningMaximum_.begin()) + 1;
}

std::size_t SurveyScanTimes::FirstNotAtOrBefore(float rtMinutes) const {
    if (rtMinutes_.empty()) {
        return 1;
    }
    if (std::isnan(rtMinutes)) {
        return 1;
    }
    return std::min(FirstStrictlyLater(rtMinutes), firstNanScan_);
}

} // namespace varnex::model
