#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/SurveyIonIndex.h"
#include "rawdata/MsRun.h"

namespace {

using varnex::rawdata::MsRun;

const std::string kSample = VARNEX_SOURCE_DIR "/data/sample.mzML";
const std::string kShared = VARNEX_SHARED_DATA_DIR;

std::shared_ptr<const SurveyIonIndex> indexOf(const std::string& path) {
    const auto run = MsRun::Open(path);
    return run ? SurveyIonIndex::Build(*run, kMaxIndexedSurveyPoints) : nullptr;
}

// Spacing of evenly placed points, the way each kind of scan is judged.
TEST(XicResolution, SpacingIsJudgedPerKindOfScan) {
    std::vector<double> profile;
    for (double mz = 500.0; profile.size() < 200; mz *= 1.000002) // 2 ppm apart
        profile.push_back(mz);
    EXPECT_NEAR(RelativeSpacingPpm(profile, false), 2.0, 0.01);

    // Centroids mostly far apart with a few close pairs: the closest pairs tell what the analyser
    // resolves, not the typical distance between ions.
    std::vector<double> centroids;
    for (int i = 0; i < 300; ++i) {
        centroids.push_back(400.0 + 2.0 * i);
        if (i % 50 == 0)
            centroids.push_back(400.0 + 2.0 * i + 0.01);
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
        const auto index = indexOf(kShared + file);
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

} // namespace
