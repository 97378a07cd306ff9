// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "WrittenDataSet.h"
#include "model/PrecursorList.h"
#include "model/SpectrumPoints.h"
#include "numeric/ChargeState.h"
#include "rawdata/RawData.h"
#include "support/RawTestFiles.h"

using varnex::model::MassesAscending;
using varnex::model::NearestPointIntensity;

// The nearest-point rule on its own.

TEST(NearestPointIntensity, HalfwayBetweenTwoPointsTakesTheLowerOne) {
    const float masses[] = {100.0f, 101.0f, 102.0f};
    const float intensities[] = {1.0f, 2.0f, 3.0f};
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 3, 101.5f, true), 2.0f);
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 3, 101.4f, true), 2.0f);
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 3, 101.6f, true), 3.0f);
}

TEST(NearestPointIntensity, SetMassOnAPointTakesThatPoint) {
    const float masses[] = {100.0f, 101.0f, 102.0f};
    const float intensities[] = {1.0f, 2.0f, 3.0f};
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 3, 101.0f, true), 2.0f);
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 3, 100.0f, true), 1.0f);
}

TEST(NearestPointIntensity, AtOrAboveTheHighestPointGivesZero) {
    const float masses[] = {100.0f, 101.0f, 102.0f};
    const float intensities[] = {1.0f, 2.0f, 3.0f};
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 3, 102.0f, true), 0.0f);
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 3, 150.0f, true), 0.0f);
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 0, 101.0f, true), 0.0f);
    EXPECT_EQ(NearestPointIntensity(nullptr, nullptr, 3, 101.0f, true), 0.0f);
}

TEST(NearestPointIntensity, BelowTheFirstPointTakesTheFirstPoint) {
    const float masses[] = {100.0f, 101.0f};
    const float intensities[] = {7.0f, 2.0f};
    EXPECT_EQ(NearestPointIntensity(masses, intensities, 2, 20.0f, true), 7.0f);
}

TEST(NearestPointIntensity, BinarySearchAnswersAsTheWalkFromTheFirstPoint) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float sorted[] = {100.0f, 100.0f, 101.0f, 103.0f};
    const float unsorted[] = {100.0f, 105.0f, 101.0f, nan, 103.0f};
    const float intensities[] = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
    EXPECT_TRUE(MassesAscending(sorted, 4));
    EXPECT_FALSE(MassesAscending(unsorted, 5));
    for (float setMass = 99.0f; setMass < 106.0f; setMass += 0.25f) {
        EXPECT_EQ(NearestPointIntensity(sorted, intensities, 4, setMass, true),
                  NearestPointIntensity(sorted, intensities, 4, setMass, false));
    }
    // The walk stops at 105 although 101 lies nearer.
    EXPECT_EQ(NearestPointIntensity(unsorted, intensities, 5, 101.0f, false), 1.0f);
}

// The pass over the list, through the real reader and the real charge-state routine.

namespace {

constexpr double kMonoMz = 500.2700;
constexpr float kMonoHeight = 1.0e6f;

// A clean charge-2 isotope envelope (averagine near 1,000 Da) with far-away companions below and above.
TestScan SurveyWithEnvelope(double rtMinutes) {
    const double step = 1.00286 / 2.0;
    return SurveyScan(
        rtMinutes, {300.0, kMonoMz, kMonoMz + step, kMonoMz + 2 * step, kMonoMz + 3 * step, 900.0},
        {5000.0f, kMonoHeight, 0.536f * kMonoHeight, 0.167f * kMonoHeight, 0.039f * kMonoHeight, 4000.0f});
}

// One peak at the set mass and nothing that could be an isotope of it.
TestScan SurveyWithLonePeak(double rtMinutes, float height) {
    return SurveyScan(rtMinutes, {300.0, kMonoMz, 900.0}, {5000.0f, height, 4000.0f});
}

const std::string kSetMass = "500.27";

using ChargeStatePass = WrittenDataSetTest;

} // namespace

TEST_F(ChargeStatePass, EnvelopeInTheSurveyScanGivesChargeAndPeakIntensity) {
    build({SurveyWithEnvelope(0.0), MsmsScan(2, 0.01, kSetMass)});
    ASSERT_TRUE(result);
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    EXPECT_EQ(at(0).m_nChargeState, 2);
    EXPECT_EQ(at(0).m_fIntensity, kMonoHeight);
}

TEST_F(ChargeStatePass, UndeterminedChargeIsRetriedOnTheSurveyScanBefore) {
    // The run's own survey scan shows a lone peak; the one before shows the envelope.
    build({SurveyWithEnvelope(0.0), SurveyWithLonePeak(0.02, 3.0e5f), MsmsScan(2, 0.03, kSetMass)});
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    EXPECT_EQ(at(0).m_nSurveyScan, 2);
    EXPECT_EQ(at(0).m_nChargeState, 2);
    EXPECT_EQ(at(0).m_fIntensity, kMonoHeight); // the routine's peak height from the earlier scan
}

TEST_F(ChargeStatePass, ChargeStaysUndeterminedWhenNeitherScanTells) {
    build({SurveyWithLonePeak(0.0, 2.0e5f), SurveyWithLonePeak(0.02, 3.0e5f), MsmsScan(2, 0.03, kSetMass)});
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    EXPECT_EQ(at(0).m_nChargeState, -1);
    EXPECT_EQ(at(0).m_fIntensity, 2.0e5f); // the second attempt's height replaces the first
}

// Regression: a run after the last survey scan used to skip its own survey scan and take charge and
// intensity from the one before.
TEST_F(ChargeStatePass, RunAfterTheLastSurveyScanUsesThatScan) {
    build({SurveyWithLonePeak(0.0, 2.0e5f), SurveyWithEnvelope(0.02), MsmsScan(2, 0.03, kSetMass),
           MsmsScan(2, 0.04, kSetMass)});
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    EXPECT_EQ(at(0).m_nSurveyScan, 2);
    EXPECT_EQ(at(0).m_nChargeState, 2);
    EXPECT_EQ(at(0).m_fIntensity, kMonoHeight);
}

TEST_F(ChargeStatePass, RunBeforeEverySurveyScanHasNoCharge) {
    build({MsmsScan(2, 0.01, kSetMass), SurveyWithEnvelope(0.02), MsmsScan(2, 0.03, "612.5")});
    ASSERT_EQ(list.m_Precursors.GetSize(), 2);
    EXPECT_EQ(at(0).m_nSurveyScan, 0);
    EXPECT_EQ(at(0).m_nChargeState, -1);
    EXPECT_EQ(at(0).m_fIntensity, 0.0f);
}

// Regression: a survey spectrum that could not be decoded used to end the pass and drop every later
// precursor.
TEST_F(ChargeStatePass, UndecodableSurveySpectrumKeepsEveryPrecursor) {
    TestScan broken = SurveyWithEnvelope(0.0);
    broken.undecodable = true;
    build({broken, MsmsScan(2, 0.01, kSetMass), SurveyWithEnvelope(0.02), MsmsScan(2, 0.03, "500.2701"),
           SurveyScan(0.04), MsmsScan(2, 0.05, "612.5")});
    ASSERT_TRUE(result);
    ASSERT_EQ(list.m_Precursors.GetSize(), 3);
    EXPECT_EQ(at(0).m_nChargeState, -1);
    EXPECT_EQ(at(0).m_fIntensity, 0.0f);
    EXPECT_EQ(at(1).m_nChargeState, 2);
    EXPECT_EQ(at(1).m_fIntensity, kMonoHeight);
    // An empty survey scan is a spectrum with no points, not a failure.
    EXPECT_EQ(at(2).m_nSurveyScan, 3);
    EXPECT_EQ(at(2).m_fIntensity, 0.0f);
}

TEST_F(ChargeStatePass, SetMassNotAboveZeroGetsChargeZeroAndTheNearestPoint) {
    build({SurveyWithLonePeak(0.0, 2.0e5f), SurveyWithLonePeak(0.02, 3.0e5f)});
    CPrecursor manual;
    manual.m_fSetMass = 0.0f;
    manual.m_fRetentionTime = 0.03f;
    list.m_Precursors.Add(manual);
    ASSERT_TRUE(list.ReadTicChromatogram(1));
    EXPECT_TRUE(list.AssignChargeStates());
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    EXPECT_EQ(at(0).m_nChargeState, 0);
    EXPECT_EQ(at(0).m_fIntensity, 5000.0f); // the first point: nothing lies below the set mass
}

TEST_F(ChargeStatePass, DataSetThatNoLongerOpensLeavesTheListUnchanged) {
    build({SurveyWithEnvelope(0.0), MsmsScan(2, 0.01, kSetMass)});
    CPrecursor manual = at(0);
    manual.m_nChargeState = -1;
    manual.m_fIntensity = 0.0f;
    list.m_Precursors.RemoveAll();
    list.m_Precursors.Add(manual);
    std::filesystem::remove(path());
    EXPECT_FALSE(list.AssignChargeStates());
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    EXPECT_EQ(at(0).m_nChargeState, -1);
    EXPECT_EQ(at(0).m_fIntensity, 0.0f);
    EXPECT_EQ(at(0).m_nFirstScan, 1);
}

TEST_F(ChargeStatePass, EmptyListReadsNothingAndSucceeds) {
    list.SetRawPath(scratch.File("missing.mzML"));
    EXPECT_TRUE(list.AssignChargeStates());
    EXPECT_EQ(list.m_Precursors.GetSize(), 0);
}

// The pass written out plainly: a linear survey search per precursor, every spectrum read afresh through
// a reader of its own. The list's pass, with its cached survey times and spectra decoded ahead on a
// second thread, must give exactly the same charges and intensities.
namespace {

struct Reference {
    int chargeState = -1;
    float intensity = 0.0f;
};

Reference ReferenceAssignment(const std::string& path, const CPrecursor& precursor) {
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, path.c_str());
    record.SetInt16(RawPathRecord::kOffsetFunction, 1);
    record.SetInt32(RawPathRecord::kOffsetProcess, 1);
    const std::uint32_t surveyCount = DmRawScansInFunction(record);
    ScanStatsRecord stats{};
    long long later = surveyCount + 1;
    for (std::uint32_t j = 1; j <= surveyCount; ++j) {
        DmRawReadScanStatsVB(record, j, 0, stats);
        if (stats.GetFloat(ScanStatsRecord::kOffsetRetentionTime) > precursor.m_fRetentionTime) {
            later = j;
            break;
        }
    }
    const long long first = later <= surveyCount ? later - 2 : static_cast<long long>(surveyCount) - 1;
    CRawDatafile reader;
    EXPECT_TRUE(reader.Open(path.c_str(), 0));
    reader.SelectFunction(0);
    const auto attempt = [&](long long scanIndex, bool first) {
        float* masses = nullptr;
        float* intensities = nullptr;
        int count = 0;
        reader.GetScan(scanIndex, masses, intensities, count);
        QXSpectrum spectrum;
        spectrum.SetData(masses, intensities, count);
        Reference result;
        if (spectrum.m_pMasses == nullptr) {
            return result;
        }
        float massOut = 0.0f;
        float heightOut = 0.0f;
        result.chargeState =
            FindChargeState(precursor.m_fSetMass, 0, spectrum.m_pMasses, spectrum.m_pIntensities,
                            spectrum.m_nPoints, 0.00065f, 1.00782f, massOut, heightOut);
        result.intensity = first ? NearestPointIntensity(spectrum.m_pMasses, spectrum.m_pIntensities,
                                                         spectrum.m_nPoints, precursor.m_fSetMass, false)
                                 : heightOut;
        return result;
    };
    Reference result = attempt(first, true);
    if (result.chargeState == -1) {
        result = attempt(first - 1, false);
    }
    return result;
}

void ExpectSameAsReference(const std::string& path) {
    CPrecursorList list;
    list.SetRawPath(path);
    ASSERT_TRUE(list.CreatePrecursorList());
    ASSERT_GT(list.m_Precursors.GetSize(), 0);
    for (int i = 0; i < list.m_Precursors.GetSize(); ++i) {
        const CPrecursor p = list.m_Precursors.GetAt(i);
        const Reference expected = ReferenceAssignment(path, p);
        ASSERT_EQ(p.m_nChargeState, expected.chargeState) << path << " precursor " << i;
        ASSERT_EQ(p.m_fIntensity, expected.intensity) << path << " precursor " << i;
    }
}

} // namespace

TEST(ChargeStatePassReference, SameResultsAsTheStraightforwardPass) {
    ExpectSameAsReference(std::string(VARNEX_SOURCE_DIR) + "/data/sample.mzML");
    SKIP_WITHOUT_SHARED_DATA();
    for (const char* name : {"thermo_Velos_sliced-mzml.mzML", "thermo_Fusion_sliced_ethcd.mzML",
                             "sciex_TripleTOF6600_PestMix1_DDA.mzML", "thermo_test2.mzXML"}) {
        ExpectSameAsReference(rawtest::SharedFile(name));
    }
}
