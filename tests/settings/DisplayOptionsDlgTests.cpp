// SPDX-License-Identifier: GPL-3.0-or-later
#include <functional>
#include <string>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "platform/MessageBox.h"
#include "settings/DecimalPlaces.h"
#include "settings/DisplayOptionsDlg.h"
#include "support/RegistryTestSupport.h"
#include "support/TestApplication.h"

using varnex::platform::SetMessageBoxObserver;

using varnex::settings::kDisplaySettingsNotSavedMessage;

namespace {

using settings_test::ReadStoredValue;
using settings_test::StoreText;
using settings_test::WithNul;

QComboBox* ComboOf(CDisplayOptionsDlg& dialog, int id) {
    return qobject_cast<QComboBox*>(dialog.GetDlgItem(id));
}

QPushButton* ButtonOf(CDisplayOptionsDlg& dialog, int id) {
    return qobject_cast<QPushButton*>(dialog.GetDlgItem(id));
}

// Chooses item `index` of a closed drop-down list with the keyboard, as a user would.
void ChooseWithKeys(QComboBox* combo, int index) {
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Home);
    for (int i = 0; i < index; ++i) {
        QTest::keyClick(combo, Qt::Key_Down);
    }
}

// Opens the dialog, runs `interact` once it is up, and returns DoModal's result.
INT_PTR RunDialog(CDisplayOptionsDlg& dialog, const std::function<void()>& interact) {
    QTimer::singleShot(0, &dialog, interact);
    return dialog.DoModal();
}

class DisplayOptionsDialog : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    void TearDown() override { SetMessageBoxObserver({}); }

    registry_test::TempStore store_;
};

TEST_F(DisplayOptionsDialog, ListsShowTheStoredDefault) {
    EnsureDecimalPlaces();
    CDisplayOptionsDlg dialog;
    int shown[3] = {-2, -2, -2};
    const INT_PTR result = RunDialog(dialog, [&] {
        shown[0] = ComboOf(dialog, 1001)->currentIndex();
        shown[1] = ComboOf(dialog, 1002)->currentIndex();
        shown[2] = ComboOf(dialog, 1003)->currentIndex();
        ButtonOf(dialog, IDCANCEL)->click();
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(shown[0], 2);
    EXPECT_EQ(shown[1], 2);
    EXPECT_EQ(shown[2], 0);
}

TEST_F(DisplayOptionsDialog, ChangingOnlyTheIntensityStoresItOnOk) {
    EnsureDecimalPlaces();
    CDisplayOptionsDlg dialog;
    const INT_PTR result = RunDialog(dialog, [&] {
        ChooseWithKeys(ComboOf(dialog, 1003), 3);
        ButtonOf(dialog, IDOK)->click();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.m_nIntensityPlaces, 3);
    const auto value = ReadStoredValue();
    EXPECT_EQ(value.bytes, WithNul("2:2:3"));
    EXPECT_EQ(value.type, REG_EXPAND_SZ);
}

TEST_F(DisplayOptionsDialog, OutOfRangeNumberShowsNoSelectionAndIsWrittenBack) {
    StoreText("7:1:4");
    CDisplayOptionsDlg dialog;
    EXPECT_EQ(dialog.m_nSwitchingTimePlaces, 7);
    int shown = -2;
    const INT_PTR result = RunDialog(dialog, [&] {
        shown = ComboOf(dialog, 1001)->currentIndex();
        QTest::keyClick(&dialog, Qt::Key_Return); // Enter is OK
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(shown, -1);
    EXPECT_EQ(ReadStoredValue().bytes, WithNul("7:1:4"));
}

TEST_F(DisplayOptionsDialog, ChoosingAnItemReplacesAnOutOfRangeNumber) {
    StoreText("7:1:4");
    CDisplayOptionsDlg dialog;
    RunDialog(dialog, [&] {
        ChooseWithKeys(ComboOf(dialog, 1001), 1);
        ButtonOf(dialog, IDOK)->click();
    });
    EXPECT_EQ(ReadStoredValue().bytes, WithNul("1:1:4"));
}

TEST_F(DisplayOptionsDialog, ShortTextGivesZeroForTheMissingSetting) {
    StoreText("3:1");
    CDisplayOptionsDlg dialog;
    EXPECT_EQ(dialog.m_nSwitchingTimePlaces, 3);
    EXPECT_EQ(dialog.m_nSetMassPlaces, 1);
    EXPECT_EQ(dialog.m_nIntensityPlaces, 0);
}

TEST_F(DisplayOptionsDialog, UnreadableSettingsShowZeroInEveryList) {
    for (const char* contents : {"", "not a store\n"}) {
        SCOPED_TRACE(contents);
        if (*contents != '\0') {
            store_.Write(contents);
        }
        CDisplayOptionsDlg dialog;
        int shown[3] = {-2, -2, -2};
        RunDialog(dialog, [&] {
            shown[0] = ComboOf(dialog, 1001)->currentIndex();
            shown[1] = ComboOf(dialog, 1002)->currentIndex();
            shown[2] = ComboOf(dialog, 1003)->currentIndex();
            dialog.SendCommand(IDCANCEL);
        });
        EXPECT_EQ(shown[0], 0);
        EXPECT_EQ(shown[1], 0);
        EXPECT_EQ(shown[2], 0);
    }
}

TEST_F(DisplayOptionsDialog, CancelAndEscapeStoreNothing) {
    StoreText("2:2:0");
    const std::string before = store_.Contents();
    CDisplayOptionsDlg cancelled;
    EXPECT_EQ(RunDialog(cancelled,
                        [&] {
                            ChooseWithKeys(ComboOf(cancelled, 1001), 4);
                            ButtonOf(cancelled, IDCANCEL)->click();
                        }),
              IDCANCEL);
    CDisplayOptionsDlg escaped;
    EXPECT_EQ(RunDialog(escaped,
                        [&] {
                            ChooseWithKeys(ComboOf(escaped, 1002), 0);
                            QTest::keyClick(&escaped, Qt::Key_Escape);
                        }),
              IDCANCEL);
    EXPECT_EQ(store_.Contents(), before);
}

// Regression: an OK that could not store the settings used to look like success.
TEST_F(DisplayOptionsDialog, OkTellsTheUserWhenTheSettingsCannotBeStored) {
    store_.Write("not a store\n");
    QString told;
    int boxes = 0;
    SetMessageBoxObserver([&](QMessageBox& box) {
        ++boxes;
        told = box.text();
        box.button(QMessageBox::Ok)->click();
    });
    CDisplayOptionsDlg dialog;
    const INT_PTR result = RunDialog(dialog, [&] { ButtonOf(dialog, IDOK)->click(); });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(told, kDisplaySettingsNotSavedMessage);
    EXPECT_EQ(store_.Contents(), "not a store\n");
}

TEST_F(DisplayOptionsDialog, OkThatStoresShowsNoMessage) {
    EnsureDecimalPlaces();
    int boxes = 0;
    SetMessageBoxObserver([&](QMessageBox& box) {
        ++boxes;
        box.button(QMessageBox::Ok)->click();
    });
    CDisplayOptionsDlg dialog;
    RunDialog(dialog, [&] { ButtonOf(dialog, IDOK)->click(); });
    EXPECT_EQ(boxes, 0);
}

TEST_F(DisplayOptionsDialog, TemplateHasTheListsLabelsAndButtons) {
    CDisplayOptionsDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Display Options");
    EXPECT_EQ(dialog.size(), QSize(306, 296)); // 204 x 182 dialog units
    for (const int id : {1001, 1002, 1003}) {
        QComboBox* combo = ComboOf(dialog, id);
        ASSERT_NE(combo, nullptr);
        ASSERT_EQ(combo->count(), 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(combo->itemText(i), QString::number(i));
        }
        EXPECT_FALSE(combo->isEditable());
    }
    EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), "Decimal Places");
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        labels << label->text();
    }
    labels.sort();
    EXPECT_EQ(labels, QStringList({"Intensity", "Set Mass", "Switching Time"}));
    EXPECT_EQ(ButtonOf(dialog, IDOK)->text(), "OK");
    EXPECT_TRUE(ButtonOf(dialog, IDOK)->isDefault());
    EXPECT_EQ(ButtonOf(dialog, IDCANCEL)->text(), "Cancel");
    EXPECT_EQ(ButtonOf(dialog, IDOK)->geometry(), QRect(119, 262, 75, 23)); // (79, 161) 50 x 14 units
}

} // namespace
