// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "model/PrecursorColumn.h"
#include "settings/DecimalPlaces.h"
#include "support/RegistryTestSupport.h"
#include "system/Registry.h"

using varnex::settings::DecimalPlacesAt;

using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnDecimalsPosition;

using varnex::system::OpenRegistryKeyCount;

namespace {

using settings_test::ReadStoredValue;
using settings_test::StoreText;
using settings_test::StoreValue;
using settings_test::WithNul;

class DecimalPlacesStore : public ::testing::Test {
protected:
    void SetUp() override { keysBefore_ = OpenRegistryKeyCount(); }
    // Every operation closes every key it opened.
    void TearDown() override { EXPECT_EQ(OpenRegistryKeyCount(), keysBefore_); }

    registry_test::TempStore store_;
    int keysBefore_ = 0;
};

TEST_F(DecimalPlacesStore, FirstStartCreatesTheKeyWithTheDefault) {
    EnsureDecimalPlaces();
    const auto value = ReadStoredValue();
    ASSERT_EQ(value.result, ERROR_SUCCESS);
    EXPECT_EQ(value.type, REG_EXPAND_SZ);
    EXPECT_EQ(value.bytes, WithNul("2:2:0"));
    EXPECT_EQ(value.bytes.size(), 6u);
    EXPECT_EQ(ReadDecimalPlaces(), "2:2:0");
}

TEST_F(DecimalPlacesStore, KeyWithoutTheValueIsLeftSo) {
    StoreValue(nullptr);
    EnsureDecimalPlaces();
    EXPECT_EQ(ReadStoredValue().result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadDecimalPlaces(), "");
}

TEST_F(DecimalPlacesStore, EnsureKeepsAStoredValue) {
    StoreText("4:1:3");
    EnsureDecimalPlaces();
    EXPECT_EQ(ReadDecimalPlaces(), "4:1:3");
}

TEST_F(DecimalPlacesStore, ShortTextLeavesTheMissingSettingsEmpty) {
    StoreText("3:1");
    const std::string text = ReadDecimalPlaces();
    EXPECT_EQ(DecimalPlacesAt(text, PrecursorColumnDecimalsPosition(PrecursorColumn::SwitchingTime)), "3");
    EXPECT_EQ(DecimalPlacesAt(text, PrecursorColumnDecimalsPosition(PrecursorColumn::SetMass)), "1");
    EXPECT_EQ(DecimalPlacesAt(text, PrecursorColumnDecimalsPosition(PrecursorColumn::Intensity)), "");
}

TEST_F(DecimalPlacesStore, PlainStringTypeIsReadLikeExpandableString) {
    StoreText("1:3:2", REG_SZ);
    EXPECT_EQ(ReadDecimalPlaces(), "1:3:2");
    ASSERT_TRUE(WriteDecimalPlaces(1, 3, 2));
    EXPECT_EQ(ReadStoredValue().type, REG_EXPAND_SZ);
}

TEST_F(DecimalPlacesStore, WriteStoresTheThreeNumbersJoinedByColons) {
    EnsureDecimalPlaces();
    ASSERT_TRUE(WriteDecimalPlaces(4, 0, 3));
    const auto value = ReadStoredValue();
    EXPECT_EQ(value.bytes, WithNul("4:0:3"));
    EXPECT_EQ(value.bytes.size(), 6u);
    EXPECT_EQ(value.type, REG_EXPAND_SZ);
}

TEST_F(DecimalPlacesStore, OutOfRangeNumbersAreWrittenBackAsTheyAre) {
    StoreText("9:9:9");
    ASSERT_TRUE(WriteDecimalPlaces(9, 9, 9));
    EXPECT_EQ(ReadDecimalPlaces(), "9:9:9");
    ASSERT_TRUE(WriteDecimalPlaces(-1, 12, 0));
    EXPECT_EQ(ReadDecimalPlaces(), "-1:12:0");
}

TEST_F(DecimalPlacesStore, WriteNeedsAnExistingKey) {
    EXPECT_FALSE(WriteDecimalPlaces(1, 1, 1));
    EXPECT_EQ(ReadStoredValue().result, ERROR_FILE_NOT_FOUND);
}

TEST_F(DecimalPlacesStore, ValueLongerThanTheReadBufferReadsAsEmpty) {
    StoreText(std::string(259, '1')); // 260 bytes with the NUL: fits
    EXPECT_EQ(ReadDecimalPlaces().size(), 259u);
    StoreText(std::string(260, '1'));
    EXPECT_EQ(ReadDecimalPlaces(), "");
}

TEST_F(DecimalPlacesStore, ValueWithoutItsNulStillEndsAtItsSize) {
    const std::string bytes = "1:2:3";
    StoreValue(&bytes);
    EXPECT_EQ(ReadDecimalPlaces(), "1:2:3");
    const std::string full(260, '4');
    StoreValue(&full);
    EXPECT_EQ(ReadDecimalPlaces(), full);
}

TEST_F(DecimalPlacesStore, DamagedStoreReadsEmptyAndIsNotOverwritten) {
    store_.Write("garbage that is not a store\n");
    EnsureDecimalPlaces();
    EXPECT_FALSE(WriteDecimalPlaces(1, 1, 1));
    EXPECT_EQ(ReadDecimalPlaces(), "");
    EXPECT_EQ(store_.Contents(), "garbage that is not a store\n");
}

TEST_F(DecimalPlacesStore, ReadOnlyStoreIsReadButNeverWritten) {
    StoreText("4:4:4");
    const std::string before = store_.Contents();
    store_.MakeReadOnly();
    const int status = registry_test::RunUnprivileged([] {
        if (ReadDecimalPlaces() != "4:4:4") {
            return 1;
        }
        EnsureDecimalPlaces(); // cannot open with full access: tries the default, which is refused
        if (WriteDecimalPlaces(1, 2, 3)) {
            return 2;
        }
        return ReadDecimalPlaces() == "4:4:4" ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(store_.Contents(), before);
}

TEST_F(DecimalPlacesStore, ReadOnlyStoreWithoutTheKeyGetsNothingWritten) {
    store_.Write("VarnexRegistry 1\nend\n");
    store_.MakeReadOnly();
    const int status = registry_test::RunUnprivileged([] {
        EnsureDecimalPlaces();
        return ReadDecimalPlaces().empty() ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(store_.Contents(), "VarnexRegistry 1\nend\n");
}

} // namespace
