// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/SurveyIonIndex.h"
#include "rawdata/MsRun.h"

using varnex::host::kMaxIndexedSurveyPoints;
using varnex::host::RelativeSpacingPpm;
using varnex::host::SurveyIonIndex;
using varnex::host::SurveyIonIndexBuild;

namespace {

using varnex::rawdata::MsRun;

const std::string kSample = VARNEX_SOURCE_DIR "/data/sample.mzML";
const std::string kShared = VARNEX_SHARED_DATA_DIR;

std::shared_ptr<const SurveyIonIndex> IndexOf(const std::string& path) {
    const auto run = MsRun::Open(path);
    return run ? SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints) : nullptr;
}

// Spacing of evenly placed points, the way each kind of scan is judged.
TEST(XicResolution, SpacingIsJudgedPerKindOfScan) {
    std::vector<double> profile;
    for (double mz = 500.0; profile.size() < 200; mz *= 1.000002) { // 2 ppm apart
        profile.push_back(mz);
    }
    EXPECT_NEAR(RelativeSpacingPpm(profile, false), 2.0, 0.01);

    // Centroids mostly far apart with a few close pairs: the closest pairs tell what the analyser
    // resolves, not the typical distance between ions.
    std::vector<double> centroids;
    for (int i = 0; i < 300; ++i) {
        centroids.push_back(400.0 + 2.0 * i);
        if (i % 50 == 0) {
            centroids.push_back(400.0 + 2.0 * i + 0.01);
        }
    }
    EXPECT_LT(RelativeSpacingPpm(centroids, true), 30.0);
    EXPECT_GT(RelativeSpacingPpm(centroids, false), 1000.0);
    EXPECT_LT(RelativeSpacingPpm(std::vector<double>(10, 500.0), true), 0.0) << "too few points";
}

// Real instruments: an ion trap's survey scans get the 0.5 m/z window, Orbitrap and FT ones 10 ppm.
TEST(XicResolution, RealInstrumentsGetTheirWindow) {
    const std::vector<std::pair<std::string, bool>> instruments = {
        {"/thermo_LCQDeca_pyteomics_test.mzXML", false},
        {"/thermo_LTQVelos_090701-unittest-01.mzML", false},
        {"/thermo_Orbitrap_SmallCalibratibleYeast.mzML", true},
        {"/thermo_QE_GNPS_mzml2.mzML", true},
    };
    for (const auto& [file, highResolution] : instruments) {
        const auto index = IndexOf(kShared + file);
        ASSERT_NE(index, nullptr) << file;
        EXPECT_EQ(index->Window().highResolution, highResolution) << file;
        EXPECT_DOUBLE_EQ(index->Window().HalfWidthAt(1000.0), highResolution ? 0.01 : 0.5) << file;
    }
}

// A survey function too large to keep is read for one m/z at a time; both ways give the same trace.
TEST(SurveyIonIndex, TheIndexOfOneMzAgreesWithTheWholeIndex) {
    const auto run = MsRun::Open(kSample);
    ASSERT_NE(run, nullptr);
    const auto whole = SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(SurveyIonIndex::Build(*run, whole->PointCount() - 1), nullptr) << "over the limit";
    for (const double mz : {445.12, 500.25, 812.4, 1250.0}) {
        const auto around = SurveyIonIndex::BuildAround(*run, mz);
        ASSERT_NE(around, nullptr);
        EXPECT_LT(around->PointCount(), whole->PointCount() / 10);
        EXPECT_EQ(around->Window().highResolution, whole->Window().highResolution);
        EXPECT_EQ(around->RtMinutes(), whole->RtMinutes());
        EXPECT_EQ(around->Extract(mz), whole->Extract(mz)) << mz;
    }
}

// Set masses of MS/MS scans spread over the run, and m/z values beside them where nothing may be.
std::vector<double> MzSpreadOver(const MsRun& run) {
    std::vector<double> mz;
    const auto& msms = run.ScansOfFunction(2);
    for (std::size_t k = 0; k < msms.size(); k += std::max<std::size_t>(1, msms.size() / 8)) {
        if (const double setMass = run.Scans()[msms[k]].SetMass(); setMass > 0.0) {
            mz.push_back(setMass);
        }
    }
    mz.push_back(mz.empty() ? 500.0 : mz.front() + 0.37);
    return mz;
}

// Per survey scan, what the data set holds within the window around `mz`, read straight from it. The
// window's edges are compared in single precision, as the index holds its points.
std::vector<double> XicReadDirectly(const MsRun& run, double mz, double halfWidth) {
    const auto low = static_cast<float>(mz - halfWidth);
    const auto high = static_cast<float>(mz + halfWidth);
    std::vector<double> xic;
    for (const std::size_t index : run.ScansOfFunction(1)) {
        double sum = 0.0;
        if (const auto spectrum = run.Decode(index)) {
            for (std::size_t i = 0; i < spectrum->mz.size(); ++i) {
                if (const auto pointMz = static_cast<float>(spectrum->mz[i]);
                    pointMz >= low && pointMz <= high) {
                    sum += spectrum->intensity[i];
                }
            }
        }
        xic.push_back(sum);
    }
    return xic;
}

std::size_t NonZeroSurveyPoints(const MsRun& run) {
    std::size_t count = 0;
    for (const std::size_t index : run.ScansOfFunction(1)) {
        if (const auto spectrum = run.Decode(index)) {
            count +=
                static_cast<std::size_t>(std::count_if(spectrum->intensity.begin(), spectrum->intensity.end(),
                                                       [](double value) { return value != 0.0; }));
        }
    }
    return count;
}

} // namespace

// Decoded on several threads, a block of scans per task, the index is the one a single thread makes, and
// its chromatograms are those read straight from the data set: centroid and profile survey scans, an
// unindexed file, a run of hundreds of survey scans, a compressed one (read on one thread). Points of
// zero intensity (much of a profile scan) are not kept.
TEST(SurveyIonIndex, DecodingOnThreadsGivesTheChromatogramsOfTheDataSet) {
    for (const std::string& path :
         {kSample, kShared + "/thermo_LTQVelos_090701-unittest-01.mzML", kShared + "/thermo_LTQFT_small.mzML",
          kShared + "/thermo_Fusion_CometAdapter_3.mzML",
          kShared + "/thermo_QE_QualityControl_1_in2.mzML.gz"}) {
        SCOPED_TRACE(path);
        const auto run = MsRun::Open(path);
        ASSERT_NE(run, nullptr);
        const auto oneThread = SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints, 1);
        const auto fourThreads = SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints, 4);
        ASSERT_NE(oneThread, nullptr);
        ASSERT_NE(fourThreads, nullptr);
        EXPECT_EQ(fourThreads->PointCount(), NonZeroSurveyPoints(*run));
        EXPECT_EQ(fourThreads->PointCount(), oneThread->PointCount());
        EXPECT_EQ(fourThreads->Window().highResolution, oneThread->Window().highResolution);
        EXPECT_EQ(fourThreads->RtMinutes(), oneThread->RtMinutes());
        ASSERT_EQ(fourThreads->RtMinutes().size(), run->ScansOfFunction(1).size());
        for (const double mz : MzSpreadOver(*run)) {
            const std::vector<double> xic = fourThreads->Extract(mz);
            EXPECT_EQ(xic, oneThread->Extract(mz)) << mz;
            const std::vector<double> direct =
                XicReadDirectly(*run, mz, fourThreads->Window().HalfWidthAt(mz));
            ASSERT_EQ(xic.size(), direct.size());
            for (std::size_t k = 0; k < xic.size(); ++k) {
                EXPECT_NEAR(xic[k], direct[k], 1e-6 * direct[k] + 1e-9)
                    << "m/z " << mz << ", survey scan " << k + 1;
            }
        }
    }
}

// The limit holds however the work is shared out, and a cancelled build keeps nothing.
TEST(SurveyIonIndex, AnIndexOverTheLimitOrCancelledIsNotKept) {
    const auto run = MsRun::Open(kShared + "/thermo_Fusion_CometAdapter_3.mzML");
    ASSERT_NE(run, nullptr);
    const auto whole = SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints, 2);
    ASSERT_NE(whole, nullptr);
    EXPECT_NE(SurveyIonIndex::Build(*run, whole->PointCount(), 2), nullptr) << "exactly at the limit";
    EXPECT_EQ(SurveyIonIndex::Build(*run, whole->PointCount() - 1, 2), nullptr);
    const std::atomic<bool> cancelled{true};
    EXPECT_EQ(SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints, 2, &cancelled), nullptr);
}

// Built in the background, the index is the one built in the foreground; the run is let go once it is
// built, and a build given up on ends with its owner.
TEST(SurveyIonIndexBuild, GivesTheIndexAndLetsTheRunGo) {
    auto run = MsRun::OpenUncached(kShared + "/thermo_LTQVelos_090701-unittest-01.mzML");
    ASSERT_NE(run, nullptr);
    const auto reference = SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints, 1);
    ASSERT_NE(reference, nullptr);
    const std::weak_ptr<const MsRun> watched = run;
    { SurveyIonIndexBuild givenUp(run, kMaxIndexedSurveyPoints); }
    SurveyIonIndexBuild build(run, kMaxIndexedSurveyPoints);
    run.reset();
    const auto index = build.Index();
    ASSERT_NE(index, nullptr);
    EXPECT_TRUE(watched.expired()) << "the finished build still holds the run";
    EXPECT_EQ(build.Index(), index);
    EXPECT_EQ(index->PointCount(), reference->PointCount());
    for (const double mz : {445.3, 600.0, 1021.6}) {
        EXPECT_EQ(index->Extract(mz), reference->Extract(mz)) << mz;
    }
}
