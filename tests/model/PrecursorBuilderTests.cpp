// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WrittenDataSet.h"

namespace {

struct Run {
    int function;
    int firstScan;
    int lastScan;
    float setMass;
};

std::vector<Run> RunsOf(const CPrecursorList& list) {
    std::vector<Run> runs;
    for (int i = 0; i < list.m_Precursors.GetSize(); ++i) {
        const CPrecursor p = list.m_Precursors.GetAt(i);
        runs.push_back({p.m_nFunction, p.m_nFirstScan, p.m_nLastScan, p.m_fSetMass});
    }
    return runs;
}

void ExpectRuns(const CPrecursorList& list, const std::vector<Run>& expected) {
    const auto runs = RunsOf(list);
    ASSERT_EQ(runs.size(), expected.size());
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].function, expected[i].function) << "run " << i;
        EXPECT_EQ(runs[i].firstScan, expected[i].firstScan) << "run " << i;
        EXPECT_EQ(runs[i].lastScan, expected[i].lastScan) << "run " << i;
        EXPECT_EQ(runs[i].setMass, expected[i].setMass) << "run " << i;
    }
}

class PrecursorBuilder : public WrittenDataSetTest {
protected:
    // Survey scan at 0.0 then MS/MS scans of function 2 with the given set masses, 0.01 min apart.
    void BuildFromSetMasses(const std::vector<std::string>& setMasses) {
        std::vector<TestScan> scans = {SurveyScan(0.0)};
        double rtMinutes = 0.0;
        for (const auto& setMass : setMasses) {
            scans.push_back(MsmsScan(2, rtMinutes += 0.01, setMass));
        }
        build(scans);
    }
};

} // namespace

TEST_F(PrecursorBuilder, OneSetMassOnEveryScanIsOneRun) {
    BuildFromSetMasses({"500.5", "500.5", "500.5", "500.5"});
    EXPECT_TRUE(result);
    ExpectRuns(list, {{2, 1, 4, 500.5f}});
}

TEST_F(PrecursorBuilder, ReturningToAnEarlierSetMassOpensANewRun) {
    BuildFromSetMasses({"500.5", "500.5", "612.25", "612.25", "612.25", "500.5"});
    ExpectRuns(list, {{2, 1, 2, 500.5f}, {2, 3, 5, 612.25f}, {2, 6, 6, 500.5f}});
}

TEST_F(PrecursorBuilder, RunOpenAtAScanWithoutSetMassIsDropped) {
    // A scan without isolation target reads as set mass 0.0.
    BuildFromSetMasses({"500.5", "500.5", ""});
    ExpectRuns(list, {});
}

TEST_F(PrecursorBuilder, RunsClosedBeforeAScanWithoutSetMassStay) {
    BuildFromSetMasses({"500.5", "612.25", "", "700.75"});
    ExpectRuns(list, {{2, 1, 1, 500.5f}});
}

TEST_F(PrecursorBuilder, NotANumberSetMassEndsTheFunctionLikeZero) {
    BuildFromSetMasses({"500.5", "612.25", "NaN", "700.75"});
    ExpectRuns(list, {{2, 1, 1, 500.5f}});
}

TEST_F(PrecursorBuilder, EachFunctionOpensItsOwnRunAtItsFirstScan) {
    // Function 2 ends and function 3 starts on the same set mass; the file interleaves them.
    build({SurveyScan(0.0), MsmsScan(2, 0.01, "500.5"), MsmsScan(3, 0.02, "800.5", "CID"),
           MsmsScan(2, 0.03, "700.75"), MsmsScan(3, 0.04, "800.5", "CID"), MsmsScan(2, 0.05, "800.5"),
           MsmsScan(3, 0.06, "612.25", "CID")});
    ExpectRuns(
        list,
        {{2, 1, 1, 500.5f}, {2, 2, 2, 700.75f}, {2, 3, 3, 800.5f}, {3, 1, 2, 800.5f}, {3, 3, 3, 612.25f}});
    ASSERT_EQ(list.m_Precursors.GetSize(), 5);
    const std::string function2 = list.m_Precursors.GetAt(0).m_strFunctionName;
    const std::string function3 = list.m_Precursors.GetAt(3).m_strFunctionName;
    EXPECT_FALSE(function2.empty());
    EXPECT_NE(function2, function3);
    EXPECT_EQ(list.m_Precursors.GetAt(4).m_strFunctionName, function3);
    std::string read;
    EXPECT_TRUE(list.ReadFunctionDescription(read, 3));
    EXPECT_EQ(read, function3);
}

TEST_F(PrecursorBuilder, RunCarriesTheRetentionTimeOfItsFirstScan) {
    build(
        {SurveyScan(0.0), MsmsScan(2, 0.25, "500.5"), MsmsScan(2, 0.5, "500.5"), MsmsScan(2, 0.75, "600.5")});
    ASSERT_EQ(list.m_Precursors.GetSize(), 2);
    EXPECT_FLOAT_EQ(list.m_Precursors.GetAt(0).m_fRetentionTime, 0.25f);
    EXPECT_FLOAT_EQ(list.m_Precursors.GetAt(1).m_fRetentionTime, 0.75f);
}

TEST_F(PrecursorBuilder, SurveyOnlyDataSetGivesAnEmptyList) {
    build({SurveyScan(0.0), SurveyScan(0.1)});
    EXPECT_TRUE(result);
    EXPECT_EQ(list.m_Precursors.GetSize(), 0);
}

TEST_F(PrecursorBuilder, DataSetThatCannotBeReadGivesAnEmptyList) {
    list.SetRawPath(scratch.File("missing.mzML"));
    EXPECT_TRUE(list.CreatePrecursorList());
    EXPECT_EQ(list.m_Precursors.GetSize(), 0);
    int count = 42;
    EXPECT_FALSE(list.ReadFunctionCount(count));
    EXPECT_EQ(count, 42);
    std::string description = "kept";
    EXPECT_FALSE(list.ReadFunctionDescription(description, 2));
    EXPECT_EQ(description, "kept");
}

TEST_F(PrecursorBuilder, RebuildingStartsFromNothing) {
    BuildFromSetMasses({"500.5", "612.25"});
    ASSERT_EQ(list.m_Precursors.GetSize(), 2);
    EXPECT_TRUE(list.CreatePrecursorList());
    ExpectRuns(list, {{2, 1, 1, 500.5f}, {2, 2, 2, 612.25f}});
}

// Placement against the survey scans.

namespace {

struct Placement {
    float switchingTime;
    int surveyScan;
};

Placement PlacementOf(const CPrecursorList& list, int index) {
    const CPrecursor p = list.m_Precursors.GetAt(index);
    return {p.m_fSwitchingTime, p.m_nSurveyScan};
}

} // namespace

TEST_F(PrecursorBuilder, RunsArePlacedOnTheLastSurveyScanAtOrBeforeThem) {
    build({MsmsScan(2, 0.05, "400.5"),                              // before every survey scan
           SurveyScan(0.1), MsmsScan(2, 0.1, "500.5"),              // at exactly survey scan 1's time
           MsmsScan(2, 0.15, "510.5"), SurveyScan(0.2),             //
           MsmsScan(2, 0.25, "520.5"), SurveyScan(0.3),             //
           MsmsScan(2, 0.35, "530.5"), MsmsScan(2, 0.4, "540.5")}); // after the last survey scan
    ASSERT_EQ(list.m_Precursors.GetSize(), 6);
    const Placement expected[] = {{-1.0f, 0}, {0.1f, 1}, {0.1f, 1}, {0.2f, 2}, {0.3f, 3}, {0.3f, 3}};
    for (int i = 0; i < 6; ++i) {
        const Placement actual = PlacementOf(list, i);
        EXPECT_FLOAT_EQ(actual.switchingTime, expected[i].switchingTime) << "run " << i;
        EXPECT_EQ(actual.surveyScan, expected[i].surveyScan) << "run " << i;
    }
}

// Regression: a survey scan acquired at time 0.0 used to count as "not placed", and its runs showed
// the time of the next survey scan.
TEST_F(PrecursorBuilder, RunAfterASurveyScanAtTimeZeroKeepsTimeZero) {
    build({SurveyScan(0.0), MsmsScan(2, 0.01, "500.5"), SurveyScan(0.02), MsmsScan(2, 0.03, "600.5")});
    ASSERT_EQ(list.m_Precursors.GetSize(), 2);
    EXPECT_EQ(PlacementOf(list, 0).switchingTime, 0.0f);
    EXPECT_EQ(PlacementOf(list, 0).surveyScan, 1);
    EXPECT_FLOAT_EQ(PlacementOf(list, 1).switchingTime, 0.02f);
    EXPECT_EQ(PlacementOf(list, 1).surveyScan, 2);
}

TEST_F(PrecursorBuilder, RunAfterTheOnlySurveyScanAtTimeZeroGetsIt) {
    build({SurveyScan(0.0), MsmsScan(2, 0.01, "500.5")});
    ASSERT_EQ(list.m_Precursors.GetSize(), 1);
    EXPECT_EQ(PlacementOf(list, 0).switchingTime, 0.0f);
    EXPECT_EQ(PlacementOf(list, 0).surveyScan, 1);
}

TEST_F(PrecursorBuilder, WithoutSurveyScansEveryRunLiesBeforeThem) {
    build({MsmsScan(2, 0.01, "500.5"), MsmsScan(2, 0.02, "600.5")});
    ASSERT_EQ(list.m_Precursors.GetSize(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(PlacementOf(list, i).switchingTime, -1.0f);
        EXPECT_EQ(PlacementOf(list, i).surveyScan, 0);
    }
}
