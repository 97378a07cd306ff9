// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/PrecursorColumn.h"
#include "model/PrecursorList.h"

using varnex::model::PrecursorColumn;

namespace {

// The sort as the list defines it, written out literally: O(n^2) exchanges of record copies.
bool CountsAsSmaller(const CPrecursor& j, const CPrecursor& i, int column) {
    switch (column) {
    case 0:
        return j.m_fSwitchingTime < i.m_fSwitchingTime;
    case 1:
        return j.m_fSetMass < i.m_fSetMass;
    case 2:
        return std::strcmp(j.GetFunctionName().c_str(), i.GetFunctionName().c_str()) < 0;
    case 3:
        return j.m_nChargeState < i.m_nChargeState;
    case 4:
        return j.m_fIntensity < i.m_fIntensity;
    default:
        return false;
    }
}

void LiteralExchangeSort(std::vector<CPrecursor>& records, int column) {
    const int n = static_cast<int>(records.size());
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            if (CountsAsSmaller(records[j], records[i], column)) {
                const CPrecursor kept = records[i];
                records[i] = records[j];
                records[j] = kept;
            }
        }
    }
}

// Identity of a record: its first scan is unique in every list built here.
std::vector<int> Identities(const CPrecursorList& list) {
    std::vector<int> ids;
    for (int i = 0; i < list.m_Precursors.GetSize(); ++i) {
        ids.push_back(list.m_Precursors.GetAt(i).m_nFirstScan);
    }
    return ids;
}

std::vector<int> Identities(const std::vector<CPrecursor>& records) {
    std::vector<int> ids;
    for (const auto& record : records) {
        ids.push_back(record.m_nFirstScan);
    }
    return ids;
}

void Fill(CPrecursorList& list, const std::vector<CPrecursor>& records) {
    list.m_Precursors.RemoveAll();
    for (const auto& record : records) {
        list.m_Precursors.Add(record);
    }
}

std::vector<CPrecursor> RandomRecords(std::mt19937& random, int count, int distinctKeys, bool withNan) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::string> names = {"",           "MS2 HCD",   "MS2 CID",      "ms2 hcd",
                                            "MS2 HCD 10", "MS2 HCD 2", "MS2 \xC3\xA9", "MS2 HCD\xFF",
                                            "Z",          "a"};
    std::uniform_int_distribution<int> pick(0, distinctKeys - 1);
    std::uniform_int_distribution<int> rare(0, 19);
    std::vector<CPrecursor> records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        CPrecursor& r = records[static_cast<std::size_t>(i)];
        r.m_nFirstScan = i;
        r.m_fSwitchingTime = pick(random) * 0.5f - 0.5f;
        r.m_fSetMass = 400.0f + static_cast<float>(pick(random));
        r.m_fIntensity = static_cast<float>(pick(random)) * 1000.0f;
        if (withNan && rare(random) == 0) {
            r.m_fSwitchingTime = nan;
        }
        if (withNan && rare(random) == 0) {
            r.m_fIntensity = nan;
        }
        if (rare(random) == 1) {
            r.m_fIntensity = -0.0f; // equal to 0.0
        }
        r.m_nChargeState = pick(random) - 1;
        r.m_strFunctionName = names[static_cast<std::size_t>(pick(random)) % names.size()];
    }
    return records;
}

void ExpectSameAsLiteral(const std::vector<CPrecursor>& input, int column) {
    std::vector<CPrecursor> expected = input;
    LiteralExchangeSort(expected, column);
    CPrecursorList list;
    Fill(list, input);
    EXPECT_TRUE(list.SortByColumn(column));
    ASSERT_EQ(Identities(list), Identities(expected))
        << "column " << column << ", " << input.size() << " records";
}

} // namespace

TEST(PrecursorSort, MatchesTheExchangeSortOnRandomListsFullOfTies) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        const int count = std::uniform_int_distribution<int>(0, 40)(random);
        const int distinct = std::uniform_int_distribution<int>(1, 6)(random);
        const auto input = RandomRecords(random, count, distinct, round % 3 == 0);
        for (int column = 0; column < 5; ++column) {
            ExpectSameAsLiteral(input, column);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(PrecursorSort, MatchesTheExchangeSortOnLargerListsAndReverseOrder) {
    std::mt19937 random(7);
    for (const int distinct : {2, 10, 300}) {
        auto input = RandomRecords(random, 1500, distinct, distinct == 10);
        for (int column = 0; column < 5; ++column) {
            ExpectSameAsLiteral(input, column);
        }
    }
    std::vector<CPrecursor> reversed(1200);
    for (int i = 0; i < 1200; ++i) {
        reversed[static_cast<std::size_t>(i)].m_nFirstScan = i;
        reversed[static_cast<std::size_t>(i)].m_fSetMass = static_cast<float>(1200 - i / 3);
    }
    ExpectSameAsLiteral(reversed, 1);
}

TEST(PrecursorSort, EqualKeysAreNotKeptInOrder) {
    CPrecursorList list;
    std::vector<CPrecursor> records(3);
    records[0].m_strFunctionName = "B";
    records[0].m_nFirstScan = 1;
    records[1].m_strFunctionName = "B";
    records[1].m_nFirstScan = 2;
    records[2].m_strFunctionName = "A";
    records[2].m_nFirstScan = 3;
    Fill(list, records);
    list.SortByColumn(2);
    EXPECT_EQ(Identities(list), (std::vector<int>{3, 2, 1}));
}

TEST(PrecursorSort, ChargeStatesCompareSigned) {
    CPrecursorList list;
    std::vector<CPrecursor> records(3);
    const int charges[] = {-1, 2, 0};
    for (int i = 0; i < 3; ++i) {
        records[static_cast<std::size_t>(i)].m_nChargeState = charges[i];
        records[static_cast<std::size_t>(i)].m_nFirstScan = i;
    }
    Fill(list, records);
    list.SortByColumn(3);
    EXPECT_EQ(Identities(list), (std::vector<int>{0, 2, 1}));
}

TEST(PrecursorSort, NamesCompareAsUnsignedBytesCaseSensitive) {
    CPrecursorList list;
    const std::vector<std::string> names = {"ms2", "MS2 \xC3\xA9", "MS2 2", "MS2 10", "MS2"};
    std::vector<CPrecursor> records(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        records[i].m_strFunctionName = names[i];
        records[i].m_nFirstScan = static_cast<int>(i);
    }
    Fill(list, records);
    list.SortByColumn(static_cast<int>(PrecursorColumn::FunctionName));
    // "MS2" < "MS2 10" < "MS2 2" < "MS2 é" (0xC3 above every ASCII byte) < "ms2"
    EXPECT_EQ(Identities(list), (std::vector<int>{4, 3, 2, 1, 0}));
}

TEST(PrecursorSort, UnknownKeysEmptyAndSingleListsAreLeftAlone) {
    std::mt19937 random(3);
    const auto input = RandomRecords(random, 20, 4, false);
    CPrecursorList list;
    Fill(list, input);
    EXPECT_TRUE(list.SortByColumn(5));
    EXPECT_TRUE(list.SortByColumn(-1));
    EXPECT_EQ(Identities(list), Identities(input));

    CPrecursorList empty;
    EXPECT_TRUE(empty.SortByColumn(0));
    EXPECT_EQ(empty.m_Precursors.GetSize(), 0);
}

TEST(PrecursorSort, SortingTwiceByOneKeyChangesNothingTheSecondTime) {
    std::mt19937 random(11);
    const auto input = RandomRecords(random, 200, 5, false);
    for (int column = 0; column < 5; ++column) {
        CPrecursorList list;
        Fill(list, input);
        list.SortByColumn(column);
        const auto once = Identities(list);
        list.SortByColumn(column);
        EXPECT_EQ(Identities(list), once) << "column " << column;
    }
}

TEST(PrecursorSort, RecordsTravelWhole) {
    std::mt19937 random(5);
    const auto input = RandomRecords(random, 50, 3, false);
    CPrecursorList list;
    Fill(list, input);
    list.SortByColumn(4);
    for (int i = 0; i < list.m_Precursors.GetSize(); ++i) {
        const CPrecursor moved = list.m_Precursors.GetAt(i);
        const CPrecursor& original = input[static_cast<std::size_t>(moved.m_nFirstScan)];
        EXPECT_EQ(moved.m_strFunctionName, original.m_strFunctionName);
        EXPECT_EQ(moved.m_nChargeState, original.m_nChargeState);
        EXPECT_EQ(std::memcmp(&moved.m_fSetMass, &original.m_fSetMass, sizeof(float)), 0);
    }
}
