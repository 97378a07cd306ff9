// SPDX-License-Identifier: GPL-3.0-or-later
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/Dialog.h"
#include "platform/DialogUnits.h"
#include "platform/MessageBox.h"
#include "support/TestApplication.h"

namespace DialogUnits = varnex::platform::DialogUnits;

using varnex::platform::SetMessageBoxObserver;

namespace {

// A dialog that records what reached its handlers.
class RecordingDialog : public CDialog {
public:
    RecordingDialog() : CDialog(1) { resize(200, 100); }

    int oks = 0;
    int cancels = 0;
    int ticks = 0;
    bool endOnOk = true;
    int endInInit = -1;
    QSize lastClientSize;

    void OnOK() override {
        ++oks;
        if (endOnOk) {
            CDialog::OnOK();
        }
    }
    void OnCancel() override {
        ++cancels;
        if (endOnOk) {
            CDialog::OnCancel();
        }
    }
    using CDialog::MapCommand;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (endInInit >= 0) {
            EndDialog(endInInit);
        }
        return TRUE;
    }
    void OnTimer(UINT_PTR nIDEvent) override {
        Default();
        if (nIDEvent == 7 && ++ticks == 3) {
            KillTimer(7);
            QTimer::singleShot(100, this, [this] { EndDialog(100 + ticks); });
        }
    }
    void OnSize(UINT nType, int cx, int cy) override {
        CDialog::OnSize(nType, cx, cy);
        lastClientSize = QSize(cx, cy);
    }
};

class DialogBase : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
};

TEST_F(DialogBase, EndDialogDuringInitialisationReturnsWithoutShowing) {
    RecordingDialog dialog;
    dialog.endInInit = 42;
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(DialogBase, TimerTicksReachOnTimerUntilKilled) {
    RecordingDialog dialog;
    QTimer::singleShot(0, &dialog, [&] { dialog.SetTimer(7, 20); });
    // Three ticks, then none during the 100 ms before the dialog ends.
    EXPECT_EQ(dialog.DoModal(), 103);
}

TEST_F(DialogBase, EnterEscapeAndCloseBoxGoToOkAndCancel) {
    RecordingDialog dialog;
    dialog.endOnOk = false;
    QTimer::singleShot(0, &dialog, [&] {
        QTest::keyClick(&dialog, Qt::Key_Return);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        dialog.EndDialog(5);
    });
    EXPECT_EQ(dialog.DoModal(), 5);
    EXPECT_EQ(dialog.oks, 1);
    EXPECT_EQ(dialog.cancels, 2);
}

TEST_F(DialogBase, DefaultHandlersEndWithOkAndCancel) {
    RecordingDialog ok;
    QTimer::singleShot(0, &ok, [&] { QTest::keyClick(&ok, Qt::Key_Enter, Qt::KeypadModifier); });
    EXPECT_EQ(ok.DoModal(), IDOK);
    RecordingDialog cancel;
    QTimer::singleShot(0, &cancel, [&] { cancel.close(); });
    EXPECT_EQ(cancel.DoModal(), IDCANCEL);
}

TEST_F(DialogBase, CommandsGoToTheMapThenTheFallback) {
    RecordingDialog dialog;
    int mapped = 0;
    dialog.MapCommand(32771, [&] { ++mapped; });
    UINT fellBack = 0;
    const auto previous = CDialog::SetCommandFallback([&](CDialog&, UINT nID) {
        fellBack = nID;
        return TRUE;
    });
    EXPECT_TRUE(dialog.SendCommand(32771));
    EXPECT_TRUE(dialog.SendCommand(ID_APP_EXIT));
    CDialog::SetCommandFallback(previous);
    EXPECT_EQ(mapped, 1);
    EXPECT_EQ(fellBack, ID_APP_EXIT);
    EXPECT_FALSE(dialog.SendCommand(12345));
}

TEST_F(DialogBase, MenuBarSitsAboveTheClientArea) {
    RecordingDialog dialog;
    auto* child = new QPushButton(&dialog);
    child->setGeometry(10, 10, 50, 20);
    auto* menu = new QMenuBar;
    menu->addMenu("&File");
    dialog.SetMenuBar(menu);
    const int menuHeight = menu->height();
    ASSERT_GT(menuHeight, 0);
    EXPECT_EQ(child->y(), 10 + menuHeight);
    EXPECT_EQ(dialog.GetClientRect(), QRect(0, 0, 200, 100));
    dialog.show(); // a hidden widget hears of its size only when shown
    dialog.resize(300, 200 + menuHeight);
    EXPECT_EQ(dialog.lastClientSize, QSize(300, 200));
    dialog.MoveWindow(child, QRect(0, 0, 30, 30));
    EXPECT_EQ(child->geometry(), QRect(0, menuHeight, 30, 30));
}

TEST(DialogUnitsConversion, UsesTheFixedBaseUnitsRoundedHalfUp) {
    EXPECT_EQ(DialogUnits::ToPixelsX(4), 6);
    EXPECT_EQ(DialogUnits::ToPixelsX(27), 41); // 40.5
    EXPECT_EQ(DialogUnits::ToPixelsY(8), 13);
    EXPECT_EQ(DialogUnits::ToPixelsY(70), 114); // 113.75
    EXPECT_EQ(DialogUnits::ToPixels(QRect(20, 7, 429, 115)), QRect(30, 11, 644, 187));
}

TEST_F(DialogBase, MessageBoxShowsTheTextAndReturnsTheButtonPressed) {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    SetMessageBoxObserver([&](QMessageBox& box) {
        text = box.text();
        icon = box.icon();
        box.button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(AfxMessageBox("There are no Precursors to Display", 0, 0), IDOK);
    SetMessageBoxObserver([](QMessageBox& box) { box.button(QMessageBox::No)->click(); });
    EXPECT_EQ(AfxMessageBox("Question?", MB_YESNO | MB_ICONQUESTION), IDNO);
    SetMessageBoxObserver({});
    EXPECT_EQ(text, "There are no Precursors to Display");
    EXPECT_EQ(icon, QMessageBox::Warning);
}

} // namespace
