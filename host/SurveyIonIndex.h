// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The survey function of one data set held for extracted-ion chromatograms: every survey scan decoded
// once, its points kept in single precision (m/z to better than 0.1 ppm, intensities to 7 digits),
// so that the chromatogram of any m/z is a binary search per scan rather than a pass over the file.
// Points of zero intensity are left out: they add nothing to any chromatogram, and profile scans are
// mostly made of them.
//
// The scans are decoded on a pool of threads, a block of consecutive scans per task; only one decoded
// spectrum and one block per thread are held at a time besides the index. The points are kept in large
// pieces that the kernel may back with huge pages: held in ordinary pages, a run's survey function
// (18 million points on run60) costs tens of thousands of page faults, a fifth of decoding it.
//
// Whether the survey scans are high-resolution is read from the data: profile scans sampled finer than
// 20 ppm, or centroid scans whose closest peaks (the 1st percentile of neighbour gaps) lie within
// 150 ppm, resolve what a 10 ppm window needs; anything coarser gets a window of 0.5 m/z. (Orbitrap
// centroids come to 10-50 ppm there, ion traps to 400 ppm and more.)

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace varnex::rawdata {
class MsRun;
}

namespace varnex::host {

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
    ~SurveyIonIndex();
    SurveyIonIndex(const SurveyIonIndex&) = delete;
    SurveyIonIndex& operator=(const SurveyIonIndex&) = delete;

    // Decodes every scan of function 1 on `threadCount` threads (0: one per core; a compressed data set,
    // which is read in file order, on one). Null when there are none, when their points outnumber
    // `maxPoints` (the index would cost more memory than a display may take), or when `cancelled` turns
    // true before the index is complete.
    static std::shared_ptr<const SurveyIonIndex> Build(const varnex::rawdata::MsRun& run,
                                                       std::size_t maxPoints, unsigned threadCount = 0,
                                                       const std::atomic<bool>* cancelled = nullptr);
    // The same for one m/z: only the points that either window around it could hold are kept.
    static std::shared_ptr<const SurveyIonIndex> BuildAround(const varnex::rawdata::MsRun& run, double mz,
                                                             unsigned threadCount = 0);

    const XicWindow& Window() const { return window_; }
    const std::vector<double>& RtMinutes() const { return rtMinutes_; }
    std::size_t PointCount() const { return pointCount_; }
    // Per survey scan, the summed intensity of the points within the window around `mz`.
    std::vector<double> Extract(double mz) const;

private:
    // Consecutive survey scans, as one task decoded them.
    struct Block {
        std::vector<std::uint32_t> scanStart; // into mz and intensity; one more than the block has scans
        const float* mz = nullptr;            // in points_
        const float* intensity = nullptr;
    };
    class PointStore;
    struct Range {
        double lowMz;
        double highMz;
    };

    SurveyIonIndex();
    static std::shared_ptr<const SurveyIonIndex> BuildInRange(const varnex::rawdata::MsRun& run,
                                                              std::size_t maxPoints, Range range,
                                                              unsigned threadCount,
                                                              const std::atomic<bool>* cancelled);

    XicWindow window_;
    std::vector<double> rtMinutes_;
    std::vector<Block> blocks_; // every block but the last holds kScansPerBlock scans
    std::unique_ptr<PointStore> points_;
    std::size_t pointCount_ = 0;
};

// The index of one run built on threads of its own, so that a display can start it as soon as it opens a
// data set and the first chromatogram waits only for what is left. The run is held only while the build
// lasts.
class SurveyIonIndexBuild final {
public:
    SurveyIonIndexBuild(std::shared_ptr<const varnex::rawdata::MsRun> run, std::size_t maxPoints);
    ~SurveyIonIndexBuild(); // stops a build still under way, and waits for its threads
    SurveyIonIndexBuild(const SurveyIonIndexBuild&) = delete;
    SurveyIonIndexBuild& operator=(const SurveyIonIndexBuild&) = delete;

    // Waits for the build to end; then as SurveyIonIndex::Build. Called from one thread.
    std::shared_ptr<const SurveyIonIndex> Index();

private:
    std::atomic<bool> cancelled_{false};
    std::shared_ptr<const SurveyIonIndex> index_; // written by thread_, read after joining it
    std::thread thread_;
};

// The resolution test above, on one decoded scan: its typical relative point spacing in ppm (profile:
// the median neighbour gap; centroid: the 1st percentile). Negative when the scan has too few points.
double RelativeSpacingPpm(const std::vector<double>& mz, bool centroid);

} // namespace varnex::host
