// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include <gtest/gtest.h>

#include "model/PrecursorArray.h"
#include "model/PrecursorList.h"

namespace {

CPrecursor Numbered(int firstScan) {
    CPrecursor record;
    record.m_nFirstScan = firstScan;
    record.m_strFunctionName =
        "MS2 HCD 100-2000 + function of a long enough name " + std::to_string(firstScan);
    return record;
}

void AddRecords(CPrecursorArray& array, int count) {
    for (int i = 0; i < count; ++i) {
        array.Add(Numbered(array.GetSize()));
    }
}

} // namespace

TEST(PrecursorRecord, DefaultHasUndeterminedChargeEmptyNameAndZeros) {
    const CPrecursor record;
    EXPECT_EQ(record.m_nChargeState, -1);
    EXPECT_TRUE(record.m_strFunctionName.empty());
    EXPECT_EQ(record.m_fSwitchingTime, 0.0f);
    EXPECT_EQ(record.m_nSurveyScan, 0);
    EXPECT_EQ(record.m_fSetMass, 0.0f);
    EXPECT_EQ(record.m_nFunction, 0);
    EXPECT_EQ(record.m_nFirstScan, 0);
    EXPECT_EQ(record.m_nLastScan, 0);
    EXPECT_EQ(record.m_fRetentionTime, 0.0f);
    EXPECT_EQ(record.m_fIntensity, 0.0f);
}

TEST(PrecursorRecord, CopiesAreIndependentOfTheirSource) {
    CPrecursor source = Numbered(7);
    source.m_fSetMass = 512.25f;
    CPrecursor copy(source);
    copy.m_strFunctionName = "changed";
    copy.m_fSetMass = 1.0f;
    EXPECT_EQ(source.m_strFunctionName, Numbered(7).m_strFunctionName);
    EXPECT_EQ(source.m_fSetMass, 512.25f);

    CPrecursor assigned;
    assigned = source;
    assigned.m_strFunctionName += " too";
    EXPECT_EQ(source.GetFunctionName(), Numbered(7).m_strFunctionName);
    EXPECT_EQ(assigned.m_nFirstScan, 7);
}

TEST(PrecursorArray, ReadingGivesACopyThatMustBeWrittenBack) {
    CPrecursorArray array;
    array.Add(Numbered(0));
    CPrecursor copy = array.GetAt(0);
    copy.m_nChargeState = 3;
    EXPECT_EQ(array.GetAt(0).m_nChargeState, -1);
    array.SetAt(0, copy);
    EXPECT_EQ(array.GetAt(0).m_nChargeState, 3);
}

TEST(PrecursorArray, FirstAddsGiveCapacitiesOneFiveNine) {
    CPrecursorArray array;
    EXPECT_EQ(array.GetCapacity(), 0);
    const int expected[] = {1, 5, 5, 5, 5, 9, 9, 9, 9, 13};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(array.Add(Numbered(i)), i);
        EXPECT_EQ(array.GetCapacity(), expected[i]) << "after add " << i + 1;
    }
}

TEST(PrecursorArray, AutomaticStepIsFourBelowFortyThenAnEighthCappedAt1024) {
    struct Case {
        int fullSize;
        int step;
    };
    for (const Case c :
         {Case{39, 4}, Case{40, 5}, Case{100, 12}, Case{8191, 1023}, Case{8192, 1024}, Case{20000, 1024}}) {
        CPrecursorArray array;
        array.SetSize(c.fullSize); // first allocation is an exact fit
        ASSERT_EQ(array.GetCapacity(), c.fullSize);
        array.Add(Numbered(c.fullSize));
        EXPECT_EQ(array.GetCapacity(), c.fullSize + c.step) << "from size " << c.fullSize;
    }
}

TEST(PrecursorArray, GrowthKeepsEveryRecordInOrder) {
    CPrecursorArray array;
    AddRecords(array, 3000);
    ASSERT_EQ(array.GetSize(), 3000);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(array.GetAt(i).m_nFirstScan, i);
        ASSERT_EQ(array.GetAt(i).m_strFunctionName, Numbered(i).m_strFunctionName);
    }
}

TEST(PrecursorArray, ShrinkingKeepsTheStorageAndZeroFreesIt) {
    CPrecursorArray array;
    AddRecords(array, 6);
    ASSERT_EQ(array.GetCapacity(), 9);
    array.SetSize(2);
    EXPECT_EQ(array.GetSize(), 2);
    EXPECT_EQ(array.GetCapacity(), 9);
    array.SetSize(4); // regrown slots are fresh records, not the ones cut off
    EXPECT_EQ(array.GetAt(3).m_nFirstScan, 0);
    EXPECT_EQ(array.GetAt(3).m_nChargeState, -1);
    array.SetSize(0);
    EXPECT_EQ(array.GetCapacity(), 0);
    array.Add(Numbered(0));
    EXPECT_EQ(array.GetCapacity(), 1);
}

TEST(PrecursorArray, SetAtGrowDefaultConstructsTheGap) {
    CPrecursorArray array;
    array.Add(Numbered(5));
    array.SetAtGrow(4, Numbered(9));
    ASSERT_EQ(array.GetSize(), 5);
    EXPECT_EQ(array.GetCapacity(), 5); // 1 + 4
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(array.GetAt(i).m_nChargeState, -1);
        EXPECT_TRUE(array.GetAt(i).m_strFunctionName.empty());
    }
    EXPECT_EQ(array.GetAt(4).m_nFirstScan, 9);
}

TEST(PrecursorArray, GrowByIncrementIsKeptAcrossRemoveAll) {
    CPrecursorArray array;
    array.SetSize(0, 10);
    array.Add(Numbered(0));
    array.Add(Numbered(1));
    EXPECT_EQ(array.GetCapacity(), 11);
    array.RemoveAll();
    EXPECT_EQ(array.GetGrowBy(), 10);
    array.Add(Numbered(0));
    array.Add(Numbered(1));
    EXPECT_EQ(array.GetCapacity(), 11);
}

TEST(PrecursorList, GetRawPathSucceedsAlsoWhenEmpty) {
    CPrecursorList list;
    std::string path = "previous";
    EXPECT_TRUE(list.GetRawPath(path));
    EXPECT_TRUE(path.empty());
    list.SetRawPath("/data/run.mzML");
    EXPECT_TRUE(list.GetRawPath(path));
    EXPECT_EQ(path, "/data/run.mzML");
}
