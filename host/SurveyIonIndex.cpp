#include "host/SurveyIonIndex.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "rawdata/MsRun.h"

namespace {

using varnex::rawdata::MsRun;

constexpr double kProfileHighResolutionPpm = 20.0;
constexpr double kCentroidHighResolutionPpm = 150.0;
constexpr std::size_t kMinPointsForSpacing = 20;
// Scans looked at for the resolution, spread over the run.
constexpr std::size_t kResolutionSampleScans = 25;

double median(std::vector<double> values) {
    if (values.empty())
        return -1.0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

} // namespace

double XicWindow::HalfWidthAt(double mz) const {
    return highResolution ? mz * kHighResolutionXicPpm * 1e-6 : kLowResolutionXicMz;
}

std::string XicWindow::Text() const {
    char text[32];
    if (highResolution)
        std::snprintf(text, sizeof text, "\u00b1 %g ppm", kHighResolutionXicPpm);
    else
        std::snprintf(text, sizeof text, "\u00b1 %g m/z", kLowResolutionXicMz);
    return text;
}

double RelativeSpacingPpm(const std::vector<double>& mz, bool centroid) {
    if (mz.size() < kMinPointsForSpacing)
        return -1.0;
    std::vector<double> gaps;
    gaps.reserve(mz.size() - 1);
    for (std::size_t i = 1; i < mz.size(); ++i)
        if (mz[i] > mz[i - 1] && mz[i - 1] > 0.0)
            gaps.push_back((mz[i] - mz[i - 1]) / mz[i - 1] * 1e6);
    if (gaps.empty())
        return -1.0;
    if (!centroid)
        return median(std::move(gaps));
    const auto percentile = gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 100);
    std::nth_element(gaps.begin(), percentile, gaps.end());
    return *percentile;
}

std::shared_ptr<const SurveyIonIndex> SurveyIonIndex::Build(const MsRun& run, std::size_t maxPoints) {
    return BuildInRange(run, maxPoints, -std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::infinity());
}

std::shared_ptr<const SurveyIonIndex> SurveyIonIndex::BuildAround(const MsRun& run, double mz) {
    const double halfWidth = std::max(kLowResolutionXicMz, mz * kHighResolutionXicPpm * 1e-6);
    return BuildInRange(run, std::numeric_limits<std::size_t>::max(), mz - halfWidth, mz + halfWidth);
}

std::shared_ptr<const SurveyIonIndex> SurveyIonIndex::BuildInRange(const MsRun& run, std::size_t maxPoints,
                                                                   double lowMz, double highMz) {
    const std::vector<std::size_t>& scans = run.ScansOfFunction(1);
    if (scans.empty())
        return nullptr;
    std::shared_ptr<SurveyIonIndex> index(new SurveyIonIndex);
    index->rtMinutes_.reserve(scans.size());
    index->scanStart_.reserve(scans.size() + 1);
    std::vector<double> profileSpacings;
    std::vector<double> centroidSpacings;
    const std::size_t sampleStep = std::max<std::size_t>(1, scans.size() / kResolutionSampleScans);
    for (std::size_t k = 0; k < scans.size(); ++k) {
        const auto& info = run.Scans()[scans[k]];
        index->rtMinutes_.push_back(info.rtMinutes);
        index->scanStart_.push_back(index->mz_.size());
        // A scan that cannot be decoded contributes nothing, as an empty one would.
        const auto spectrum = run.Decode(scans[k]);
        if (!spectrum)
            continue;
        const auto first = std::lower_bound(spectrum->mz.begin(), spectrum->mz.end(), lowMz);
        const auto last = std::upper_bound(first, spectrum->mz.end(), highMz);
        const auto count = static_cast<std::size_t>(last - first);
        if (index->mz_.size() + count > maxPoints)
            return nullptr;
        const auto offset = first - spectrum->mz.begin();
        index->mz_.insert(index->mz_.end(), first, last);
        index->intensity_.insert(index->intensity_.end(), spectrum->intensity.begin() + offset,
                                 spectrum->intensity.begin() + offset + static_cast<std::ptrdiff_t>(count));
        if (k % sampleStep == 0) {
            const double spacing = RelativeSpacingPpm(spectrum->mz, info.centroid);
            if (spacing >= 0.0)
                (info.centroid ? centroidSpacings : profileSpacings).push_back(spacing);
        }
    }
    index->scanStart_.push_back(index->mz_.size());
    index->mz_.shrink_to_fit();
    index->intensity_.shrink_to_fit();
    // The kind most scans are decides; a run without enough points anywhere counts as low-resolution.
    if (profileSpacings.size() > centroidSpacings.size())
        index->window_.highResolution = median(std::move(profileSpacings)) < kProfileHighResolutionPpm;
    else if (!centroidSpacings.empty())
        index->window_.highResolution = median(std::move(centroidSpacings)) < kCentroidHighResolutionPpm;
    return index;
}

std::vector<double> SurveyIonIndex::Extract(double mz) const {
    const double halfWidth = window_.HalfWidthAt(mz);
    // The bounds in the precision the points are held in, so that a point on the edge is inside.
    const float low = static_cast<float>(mz - halfWidth);
    const float high = static_cast<float>(mz + halfWidth);
    std::vector<double> intensity(rtMinutes_.size(), 0.0);
    for (std::size_t scan = 0; scan < rtMinutes_.size(); ++scan) {
        const auto first = mz_.begin() + static_cast<std::ptrdiff_t>(scanStart_[scan]);
        const auto last = mz_.begin() + static_cast<std::ptrdiff_t>(scanStart_[scan + 1]);
        double sum = 0.0;
        for (auto it = std::lower_bound(first, last, low); it != last && *it <= high; ++it)
            sum += static_cast<double>(intensity_[static_cast<std::size_t>(it - mz_.begin())]);
        intensity[scan] = sum;
    }
    return intensity;
}
