// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "settings/DecimalPlaces.h"
#include "settings/ListWindowSettings.h"
#include "support/RegistryTestSupport.h"
#include "system/Registry.h"

using varnex::settings::AddRecentDataSet;
using varnex::settings::kRecentDataSetsValue;
using varnex::settings::kSortColumnValue;
using varnex::settings::kWindowPlacementValue;
using varnex::settings::ReadRecentDataSets;
using varnex::settings::ReadSortColumn;
using varnex::settings::ReadWindowPlacement;
using varnex::settings::WriteSortColumn;
using varnex::settings::WriteWindowPlacement;

namespace {

void StoreRaw(const char* name, DWORD type, const std::string& bytes) {
    ASSERT_TRUE(settings_test::StoreNamedValue(name, &bytes, type));
}

class ListWindowSettings : public ::testing::Test {
protected:
    registry_test::TempStore store_;
};

TEST_F(ListWindowSettings, RecentDataSetsAreNewestFirstOnceEachAndAtMostEight) {
    EXPECT_TRUE(ReadRecentDataSets().empty());
    for (int i = 1; i <= 10; ++i) {
        AddRecentDataSet("/data/run" + std::to_string(i) + ".mzML");
    }
    AddRecentDataSet("/data/run5.mzML");
    const std::vector<std::string> expected = {"/data/run5.mzML", "/data/run10.mzML", "/data/run9.mzML",
                                               "/data/run8.mzML", "/data/run7.mzML",  "/data/run6.mzML",
                                               "/data/run4.mzML", "/data/run3.mzML"};
    EXPECT_EQ(ReadRecentDataSets(), expected);
    // Paths keep what a file name may hold: spaces, colons, newlines, non-ASCII bytes.
    const std::string odd = "/home/u/Lauf 3: \xC2\xB5LC\nB.mzML";
    AddRecentDataSet(odd);
    EXPECT_EQ(ReadRecentDataSets().front(), odd);
    EXPECT_EQ(ReadRecentDataSets().size(), 8u);
}

TEST_F(ListWindowSettings, ValuesThatAreNotTheWindowsReadAsAbsent) {
    StoreRaw(kRecentDataSetsValue, REG_SZ, std::string("/a.mzML\0", 8)); // wrong type
    EXPECT_TRUE(ReadRecentDataSets().empty());
    StoreRaw(kRecentDataSetsValue, REG_MULTI_SZ, std::string("/a.mzML\0/b.mz", 13)); // last text cut short
    EXPECT_EQ(ReadRecentDataSets(), std::vector<std::string>{"/a.mzML"});

    for (const std::string& bytes : {std::string("7", 1), std::string("3"), std::string("12\0", 3),
                                     std::string("x\0", 2), std::string("\0", 1)}) {
        StoreRaw(kSortColumnValue, REG_SZ, bytes);
        EXPECT_EQ(ReadSortColumn(), std::nullopt) << bytes;
    }
    StoreRaw(kSortColumnValue, REG_DWORD, std::string("\x02\0\0\0", 4));
    EXPECT_EQ(ReadSortColumn(), std::nullopt);
    EXPECT_TRUE(WriteSortColumn(3));
    EXPECT_EQ(ReadSortColumn(), 3);
    EXPECT_FALSE(WriteSortColumn(5));
    EXPECT_EQ(ReadSortColumn(), 3);

    StoreRaw(kWindowPlacementValue, REG_SZ, std::string(70 * 1024, 'A') + '\0'); // far too large
    EXPECT_EQ(ReadWindowPlacement(), std::nullopt);
    EXPECT_TRUE(WriteWindowPlacement("AdnQywAD"));
    EXPECT_EQ(ReadWindowPlacement(), "AdnQywAD");
}

TEST_F(ListWindowSettings, TheDecimalPlacesAreLeftAlone) {
    EnsureDecimalPlaces();
    WriteWindowPlacement("AdnQywAD");
    WriteSortColumn(2);
    AddRecentDataSet("/a.mzML");
    EXPECT_EQ(ReadDecimalPlaces(), "2:2:0");
}

} // namespace
