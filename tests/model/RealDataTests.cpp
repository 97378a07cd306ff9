// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/PrecursorList.h"
#include "support/RawTestFiles.h"
#include "support/SampleTruth.h"

TEST(SampleDataSet, BuildMatchesTheGroundTruthRunForRun) {
    const auto truth = ReadSampleTruth();
    ASSERT_EQ(truth.size(), 210u);
    CPrecursorList list;
    list.SetRawPath(std::string(VARNEX_SOURCE_DIR) + "/data/sample.mzML");
    ASSERT_TRUE(list.CreatePrecursorList());
    ASSERT_EQ(list.m_Precursors.GetSize(), 210);

    int chargeCorrect = 0;
    int chargeWrong = 0;
    int intensityOnSelectedPeak = 0;
    for (int i = 0; i < 210; ++i) {
        const CPrecursor p = list.m_Precursors.GetAt(i);
        const SampleTruthRun& t = truth[static_cast<std::size_t>(i)];
        SCOPED_TRACE("run " + std::to_string(i));
        EXPECT_EQ(p.m_nFunction, t.function);
        EXPECT_EQ(p.m_nFirstScan, t.firstScan);
        EXPECT_EQ(p.m_nLastScan, t.lastScan);
        EXPECT_EQ(p.m_fSetMass, static_cast<float>(t.setMass));
        EXPECT_EQ(p.m_nSurveyScan, t.surveyScan);
        EXPECT_NEAR(p.m_fSwitchingTime, t.surveyRtMinutes, 1e-6);
        EXPECT_NEAR(p.m_fRetentionTime, t.firstRtMinutes, 1e-6);
        EXPECT_FALSE(p.m_strFunctionName.empty());
        chargeCorrect += p.m_nChargeState == t.trueCharge;
        chargeWrong += p.m_nChargeState != -1 && p.m_nChargeState != t.trueCharge;
        intensityOnSelectedPeak += std::abs(p.m_fIntensity - t.selectedHeight) <= 1e-3 * t.selectedHeight;
    }
    // The first three runs follow survey scan 1, acquired at time 0.0.
    EXPECT_EQ(list.m_Precursors.GetAt(0).m_fSwitchingTime, 0.0f);
    // Charge states come from the charge-state routine; the list must carry them, not decide them.
    EXPECT_GE(chargeCorrect, 170);
    EXPECT_LE(chargeWrong, 10);
    EXPECT_GE(intensityOnSelectedPeak, 200);
}

TEST(SharedDataSets, QExactiveRunsAreReadAsInTheFile) {
    SKIP_WITHOUT_SHARED_DATA();
    CPrecursorList list;
    list.SetRawPath(rawtest::SharedFile("thermo_QE_three_test_scans.mzML"));
    ASSERT_TRUE(list.CreatePrecursorList());
    ASSERT_EQ(list.m_Precursors.GetSize(), 2);
    const float setMasses[] = {562.73974609375f, 617.264953613281f};
    const float retentionTimes[] = {22.132753f, 22.134031f};
    for (int i = 0; i < 2; ++i) {
        const CPrecursor p = list.m_Precursors.GetAt(i);
        EXPECT_EQ(p.m_nFunction, 2);
        EXPECT_EQ(p.m_nFirstScan, i + 1);
        EXPECT_EQ(p.m_nLastScan, i + 1);
        EXPECT_EQ(p.m_fSetMass, setMasses[i]);
        EXPECT_FLOAT_EQ(p.m_fRetentionTime, retentionTimes[i]);
        EXPECT_EQ(p.m_nSurveyScan, 1);
        EXPECT_FLOAT_EQ(p.m_fSwitchingTime, 22.12829f);
        EXPECT_GT(p.m_fIntensity, 0.0f);
    }
}

TEST(SharedDataSets, MzXmlRunIsPlacedOnItsSurveyScan) {
    SKIP_WITHOUT_SHARED_DATA();
    CPrecursorList list;
    list.SetRawPath(rawtest::SharedFile("thermo_LCQDeca_pyteomics_test.mzXML"));
    ASSERT_TRUE(list.CreatePrecursorList());
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    const CPrecursor p = list.m_Precursors.GetAt(0);
    EXPECT_EQ(p.m_nFunction, 2);
    EXPECT_EQ(p.m_nFirstScan, 1);
    EXPECT_EQ(p.m_nLastScan, 1);
    EXPECT_FLOAT_EQ(p.m_fSetMass, 445.35f);
    EXPECT_EQ(p.m_nSurveyScan, 1);
    EXPECT_FLOAT_EQ(p.m_fSwitchingTime, 353.43f / 60.0f);
    EXPECT_FLOAT_EQ(p.m_fRetentionTime, 356.68f / 60.0f);
}

// Whatever the instrument and layout: runs are ordered, inside their function, on a positive set mass,
// and placed on a survey scan at or before them.
TEST(SharedDataSets, EveryFileGivesAConsistentList) {
    SKIP_WITHOUT_SHARED_DATA();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(VARNEX_SHARED_DATA_DIR)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".mz") == std::string::npos) {
            continue;
        }
        ++files;
        SCOPED_TRACE(name);
        CPrecursorList list;
        list.SetRawPath(entry.path().string());
        EXPECT_TRUE(list.CreatePrecursorList());
        EXPECT_GT(list.m_Precursors.GetSize(), 0);
        CPrecursor previous;
        for (int i = 0; i < list.m_Precursors.GetSize(); ++i) {
            const CPrecursor p = list.m_Precursors.GetAt(i);
            EXPECT_GE(p.m_nFunction, 2);
            EXPECT_LE(p.m_nFirstScan, p.m_nLastScan);
            EXPECT_GT(p.m_fSetMass, 0.0f);
            EXPECT_TRUE(p.m_nFunction > previous.m_nFunction ||
                        (p.m_nFunction == previous.m_nFunction && p.m_nFirstScan > previous.m_nLastScan));
            EXPECT_TRUE(p.m_nSurveyScan == 0 ? p.m_fSwitchingTime == -1.0f
                                             : p.m_fSwitchingTime <= p.m_fRetentionTime);
            EXPECT_GE(p.m_nChargeState, -1);
            EXPECT_GE(p.m_fIntensity, 0.0f);
            previous = p;
        }
    }
    EXPECT_GE(files, 10);
}
