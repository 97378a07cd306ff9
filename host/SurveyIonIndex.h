#pragma once

// The survey function of one data set held for extracted-ion chromatograms: every survey scan decoded
// once, its points kept in single precision (m/z to better than 0.1 ppm, intensities to 7 digits),
// so that the chromatogram of any m/z is a binary search per scan rather than a pass over the file.
//
// Whether the survey scans are high-resolution is read from the data: profile scans sampled finer than
// 20 ppm, or centroid scans whose closest peaks (the 1st percentile of neighbour gaps) lie within
// 150 ppm, resolve what a 10 ppm window needs; anything coarser gets a window of 0.5 m/z. (Orbitrap
// centroids come to 10-50 ppm there, ion traps to 400 ppm and more.)

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace varnex::rawdata {
class MsRun;
}

struct XicWindow {
    bool highResolution = false;
    double HalfWidthAt(double mz) const; // m/z either side
    std::string Text() const;            // "± 10 ppm" or "± 0.5 m/z"
};

// The most points a survey function may have to be kept (384 MB); a larger one is read again for every
// chromatogram, keeping only the points near its m/z.
inline constexpr std::size_t kMaxIndexedSurveyPoints = 48'000'000;

inline constexpr double kHighResolutionXicPpm = 10.0;
inline constexpr double kLowResolutionXicMz = 0.5;

class SurveyIonIndex final {
public:
    // Decodes every scan of function 1. Null when there are none, or when their points outnumber
    // `maxPoints` (the index would cost more memory than a display may take).
    static std::shared_ptr<const SurveyIonIndex> Build(const varnex::rawdata::MsRun& run,
                                                       std::size_t maxPoints);
    // The same for one m/z: only the points that either window around it could hold are kept.
    static std::shared_ptr<const SurveyIonIndex> BuildAround(const varnex::rawdata::MsRun& run, double mz);

    const XicWindow& Window() const { return window_; }
    const std::vector<double>& RtMinutes() const { return rtMinutes_; }
    std::size_t PointCount() const { return mz_.size(); }
    // Per survey scan, the summed intensity of the points within the window around `mz`.
    std::vector<double> Extract(double mz) const;

private:
    SurveyIonIndex() = default;
    static std::shared_ptr<const SurveyIonIndex>
    BuildInRange(const varnex::rawdata::MsRun& run, std::size_t maxPoints, double lowMz, double highMz);

    XicWindow window_;
    std::vector<double> rtMinutes_;
    std::vector<std::size_t> scanStart_; // into mz_ and intensity_; one more than there are scans
    std::vector<float> mz_;
    std::vector<float> intensity_;
};

// The resolution test above, on one decoded scan: its typical relative point spacing in ppm (profile:
// the median neighbour gap; centroid: the 1st percentile). Negative when the scan has too few points.
double RelativeSpacingPpm(const std::vector<double>& mz, bool centroid);
