// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/SpectrumCombine.h"

using varnex::host::CombineCentroidScans;
using varnex::host::CombineScans;
using varnex::host::CombineTolerance;
using varnex::host::PeakData;
using varnex::host::StrongestPeaks;

namespace {

PeakData Centroid(std::vector<double> mz, std::vector<double> intensity) {
    return PeakData{std::move(mz), std::move(intensity), true};
}

PeakData Profile(std::vector<double> mz, std::vector<double> intensity) {
    return PeakData{std::move(mz), std::move(intensity), false};
}

void ExpectPeaks(const PeakData& actual, const std::vector<double>& mz,
                 const std::vector<double>& intensity) {
    ASSERT_EQ(actual.mz.size(), mz.size());
    for (std::size_t i = 0; i < mz.size(); ++i) {
        EXPECT_NEAR(actual.mz[i], mz[i], 1e-9) << "point " << i;
        EXPECT_NEAR(actual.intensity[i], intensity[i], 1e-9) << "point " << i;
    }
}

} // namespace

TEST(CombineCentroid, PeaksWithinToleranceMergeAtWeightedMassWithSummedIntensity) {
    const PeakData first = Centroid({100.0, 200.0}, {10.0, 5.0});
    const PeakData second = Centroid({100.001, 150.0, 200.5}, {30.0, 7.0, 1.0});
    const PeakData combined = CombineScans({&first, &second}); // 20 ppm: 0.002 at m/z 100
    EXPECT_TRUE(combined.centroid);
    // (100 * 10 + 100.001 * 30) / 40 = 100.00075; 200.0 and 200.5 are far apart and stay two.
    ExpectPeaks(combined, {100.00075, 150.0, 200.0, 200.5}, {40.0, 7.0, 5.0, 1.0});
}

TEST(CombineCentroid, ALadderOfClosePeaksDoesNotChainIntoOne) {
    const PeakData first = Centroid({100.0, 100.003}, {1.0, 1.0});
    const PeakData second = Centroid({100.0015}, {1.0});
    const PeakData combined = CombineCentroidScans({&first, &second}, CombineTolerance{20.0, 0.001});
    // 100.0015 is within 0.002 of 100.0; 100.003 is not, though it is within 0.002 of 100.0015.
    ExpectPeaks(combined, {100.00075, 100.003}, {2.0, 1.0});
}

TEST(CombineCentroid, TotalIntensityIsKept) {
    const PeakData first = Centroid({101.0, 102.0, 103.0}, {1.0, 2.0, 3.0});
    const PeakData second = Centroid({101.0, 102.5}, {4.0, 5.0});
    const PeakData combined = CombineScans({&first, &second});
    EXPECT_DOUBLE_EQ(std::accumulate(combined.intensity.begin(), combined.intensity.end(), 0.0), 15.0);
}

TEST(CombineProfile, ScansAreResampledOnTheCommonAxisAndSummed) {
    const PeakData first = Profile({100.0, 101.0, 102.0}, {1.0, 2.0, 3.0});
    const PeakData second = Profile({100.5, 101.5}, {4.0, 6.0});
    const PeakData combined = CombineScans({&first, &second});
    EXPECT_FALSE(combined.centroid);
    // At 100.5 the first scan interpolates to 1.5; at 101 the second to 5; outside its range it adds 0.
    ExpectPeaks(combined, {100.0, 100.5, 101.0, 101.5, 102.0}, {1.0, 5.5, 7.0, 8.5, 3.0});
}

TEST(CombineProfile, IdenticalAxesGivePointwiseSums) {
    const PeakData first = Profile({500.0, 500.01, 500.02}, {0.0, 8.0, 0.0});
    const PeakData second = Profile({500.0, 500.01, 500.02}, {1.0, 2.0, 3.0});
    ExpectPeaks(CombineScans({&first, &second}), {500.0, 500.01, 500.02}, {1.0, 10.0, 3.0});
}

TEST(CombineProfile, GapsLeftByDroppedZeroPointsAreNotBridged) {
    // The first scan stores two peaks with nothing in between; the second has a point in the gap.
    const PeakData first =
        Profile({100.0, 100.01, 100.02, 105.0, 105.01, 105.02}, {5.0, 9.0, 5.0, 5.0, 9.0, 5.0});
    const PeakData second = Profile({102.0}, {1.0});
    const PeakData combined = CombineScans({&first, &second});
    const auto at102 = std::find(combined.mz.begin(), combined.mz.end(), 102.0) - combined.mz.begin();
    EXPECT_DOUBLE_EQ(combined.intensity[at102], 1.0);
}

TEST(CombineScans, MixedCentroidAndProfileAreResampled) {
    const PeakData centroid = Centroid({100.0}, {1.0});
    const PeakData profile = Profile({100.0, 100.01}, {2.0, 2.0});
    EXPECT_FALSE(CombineScans({&centroid, &profile}).centroid);
}

TEST(StrongestPeaks, OneLabelPerPeakStrongestFirst) {
    const PeakData peaks = Profile({100.0, 100.01, 100.02, 200.0, 300.0}, {5.0, 9.0, 8.0, 7.0, 0.0});
    EXPECT_EQ(StrongestPeaks(peaks, 10, 0.5), (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(StrongestPeaks(peaks, 1, 0.5), (std::vector<std::size_t>{1}));
}

TEST(StrongestPeaks, CentroidSticksBesideTallerOnesStillGetLabels) {
    const PeakData sticks = Centroid({100.0, 101.0, 102.0}, {3.0, 9.0, 5.0});
    EXPECT_EQ(StrongestPeaks(sticks, 3, 0.5), (std::vector<std::size_t>{1, 2, 0}));
}
