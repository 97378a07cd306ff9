// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/MessageBox.h"
#include "platform/WinApp.h"
#include "settings/DecimalPlaces.h"
#include "settings/DisplayOptionsDlg.h"
#include "settings/SettingsTestSupport.h"
#include "support/RegistryTestSupport.h"
#include "support/TestApplication.h"
#include "ui/Resource.h"

using varnex::platform::SetMessageBoxObserver;

using varnex::ui::kNoHostMessage;

namespace {

using ui_test::MakePrecursor;
using ui_test::RunWindow;

std::array<int, 5> ColumnWidths(CVarnexDlg& dialog) {
    std::array<int, 5> widths{};
    for (int i = 0; i < 5; ++i) {
        widths[static_cast<std::size_t>(i)] = dialog.m_listCtrl.GetColumnWidth(i);
    }
    return widths;
}

class ListWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        EnsureDecimalPlaces();
        auto& precursors = dialog_.m_precursorList.m_Precursors;
        precursors.Add(MakePrecursor(12.5f, 500.25f, "MS/MS function 3", 2, 1500.0f));
        precursors.Add(MakePrecursor(3.25f, 812.5f, "MS/MS function 2", 3, 90.0f));
        precursors.Add(MakePrecursor(7.0f, 400.125f, "MS/MS function 4", -1, 20000.0f));
    }

    // Resizes the window so that the list's client area is `listWidth` pixels wide.
    void SetListClientWidth(int listWidth) {
        const int border = 2 * dialog_.m_listCtrl.GetView()->frameWidth();
        dialog_.resize(listWidth + 40 + border, 400);
        ASSERT_EQ(dialog_.m_listCtrl.GetClientRect().width(), listWidth);
    }

    void ClickHeader(int column) {
        QHeaderView* header = dialog_.m_listCtrl.GetView()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                                 header->height() / 2));
    }

    std::vector<std::string> ColumnTexts(int column) {
        std::vector<std::string> texts;
        for (int row = 0; row < dialog_.m_listCtrl.GetItemCount(); ++row) {
            texts.push_back(dialog_.m_listCtrl.GetItemText(row, column));
        }
        return texts;
    }

    ui_test::ApplicationFirst applicationFirst_;
    registry_test::TempStore store_;
    CVarnexDlg dialog_;
};

TEST_F(ListWindow, FreshColumnsIn800PixelsSpreadTheFreeWidthEvenly) {
    RunWindow(dialog_, [&] {
        SetListClientWidth(800);
        ClickHeader(0);
        EXPECT_EQ(ColumnWidths(dialog_), (std::array<int, 5>{148, 148, 208, 148, 148}));
        // Filling the list exactly keeps the proportions on the next layout.
        dialog_.LayoutList();
        EXPECT_EQ(ColumnWidths(dialog_), (std::array<int, 5>{148, 148, 208, 148, 148}));
    });
}

TEST_F(ListWindow, NarrowingTo700KeepsProportionsAndLosesAPixelToTruncation) {
    RunWindow(dialog_, [&] {
        SetListClientWidth(800);
        ClickHeader(0);
        SetListClientWidth(700);
        EXPECT_EQ(ColumnWidths(dialog_), (std::array<int, 5>{147, 147, 207, 147, 147}));
    });
}

TEST_F(ListWindow, ColumnsWiderThanThe600PixelListKeepTheirInsertionWidths) {
    RunWindow(dialog_, [&] {
        SetListClientWidth(600);
        ClickHeader(1);
        EXPECT_EQ(ColumnWidths(dialog_), (std::array<int, 5>{120, 120, 180, 120, 120}));
    });
}

TEST_F(ListWindow, HeaderClickResetsWidthsTheUserDragged) {
    RunWindow(dialog_, [&] {
        SetListClientWidth(800);
        dialog_.m_listCtrl.GetView()->horizontalHeader()->resizeSection(2, 400);
        ClickHeader(2);
        EXPECT_EQ(ColumnWidths(dialog_), (std::array<int, 5>{148, 148, 208, 148, 148}));
    });
}

TEST_F(ListWindow, ShownWindowLaysOutTheColumnsAtItsStartingSize) {
    const int border = 2; // the list's one-pixel frame on either side
    dialog_.resize(800 + 40 + border, 300);
    RunWindow(dialog_, [&] {
        ASSERT_EQ(dialog_.m_listCtrl.GetClientRect().width(), 800);
        EXPECT_EQ(ColumnWidths(dialog_), (std::array<int, 5>{148, 148, 208, 148, 148}));
        EXPECT_EQ(dialog_.m_listCtrl.GetItemCount(), 3);
    });
}

// 700 -> 1200 -> 700 px: the columns grown to fill 1200 px overflow the narrowed list and keep their
// widths, as the proportional layout has it (their share is measured against the new width and kept
// once it passes 99.9%); the horizontal scroll bar then reaches the last columns.
TEST_F(ListWindow, GrowingThenNarrowingKeepsTheGrownColumnsWithinScrollReach) {
    RunWindow(dialog_, [&] {
        dialog_.resize(700, 400);
        dialog_.resize(1200, 400);
        const std::array<int, 5> grown = ColumnWidths(dialog_);
        EXPECT_EQ(grown, (std::array<int, 5>{219, 219, 280, 219, 219}));
        dialog_.resize(700, 400);
        ui_test::ProcessEvents();
        EXPECT_EQ(ColumnWidths(dialog_), grown);
        const QScrollBar* scroll = dialog_.m_listCtrl.GetView()->horizontalScrollBar();
        EXPECT_TRUE(scroll->isVisible());
        EXPECT_EQ(scroll->maximum(), 1156 - dialog_.m_listCtrl.GetView()->viewport()->width());
    });
}

TEST_F(ListWindow, ListWithoutWidthKeepsItsPercentagesAndRows) {
    RunWindow(dialog_, [&] {
        SetListClientWidth(800);
        ClickHeader(0);
        const std::vector<float> before = dialog_.m_columnPercents;
        dialog_.resize(30, 300); // narrower than the margins
        EXPECT_EQ(dialog_.m_listCtrl.GetClientRect().width(), 0);
        EXPECT_EQ(dialog_.m_columnPercents, before);
        EXPECT_EQ(dialog_.m_listCtrl.GetItemCount(), 3);
        SetListClientWidth(800);
        EXPECT_EQ(ColumnWidths(dialog_), (std::array<int, 5>{148, 148, 208, 148, 148}));
    });
}

TEST_F(ListWindow, ListSitsInsideTheMarginsBelowTheMenu) {
    RunWindow(dialog_, [&] {
        dialog_.resize(700, 300);
        const QRect client = dialog_.GetClientRect();
        const QRect list = dialog_.m_listCtrl.GetView()->geometry();
        const int menuHeight = dialog_.height() - client.height();
        EXPECT_EQ(list.left(), 20);
        EXPECT_EQ(list.top(), menuHeight);
        EXPECT_EQ(list.width(), 700 - 40);
        EXPECT_EQ(list.height(), client.height() - 40);
    });
}

TEST_F(ListWindow, OpensSortedBySwitchingTimeWithTheFiveColumns) {
    RunWindow(dialog_, [&] {
        ASSERT_EQ(dialog_.m_listCtrl.GetHeaderItemCount(), 5);
        const std::array<const char*, 5> titles = {"Switching Time", "Set Mass", "Function Name",
                                                   "Charge State", "Intensity"};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(dialog_.m_listCtrl.GetColumnText(i), titles[static_cast<std::size_t>(i)]);
        }
        EXPECT_EQ(ColumnTexts(0), (std::vector<std::string>{"3.25", "7.00", "12.50"}));
        EXPECT_EQ(dialog_.m_listCtrl.GetExtendedStyle() & (LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT),
                  LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
        EXPECT_EQ(dialog_.m_listCtrl.GetView()->selectionMode(), QAbstractItemView::SingleSelection);
    });
}

TEST_F(ListWindow, HeaderClickSortsByThatColumnAndRowsFollowTheArray) {
    RunWindow(dialog_, [&] {
        ClickHeader(1);
        EXPECT_EQ(ColumnTexts(1), (std::vector<std::string>{"400.12", "500.25", "812.50"}));
        ClickHeader(2);
        EXPECT_EQ(ColumnTexts(2),
                  (std::vector<std::string>{"MS/MS function 2", "MS/MS function 3", "MS/MS function 4"}));
        ClickHeader(3);
        EXPECT_EQ(ColumnTexts(3), (std::vector<std::string>{"-1", "2", "3"}));
        ClickHeader(4);
        EXPECT_EQ(ColumnTexts(4), (std::vector<std::string>{"90", "1500", "20000"}));
        ClickHeader(0);
        EXPECT_EQ(ColumnTexts(0), (std::vector<std::string>{"3.25", "7.00", "12.50"}));
        // Row i is element i of the array.
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(dialog_.m_listCtrl.GetItemText(row, 2),
                      dialog_.m_precursorList.m_Precursors.GetAt(row).m_strFunctionName);
        }
    });
}

TEST_F(ListWindow, ResizeAndHeaderClickClearTheSelectionAndScrollToTheTop) {
    for (int i = 0; i < 300; ++i) {
        dialog_.m_precursorList.m_Precursors.Add(
            MakePrecursor(20.0f + i, 300.0f + i, "MS/MS function 2", 2, 1.0f));
    }
    RunWindow(dialog_, [&] {
        dialog_.m_listCtrl.SetItemState(250, LVIS_SELECTED, LVIS_SELECTED);
        dialog_.m_listCtrl.GetView()->scrollTo(dialog_.m_listCtrl.GetView()->model()->index(250, 0));
        ASSERT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), 250);
        ui_test::ProcessEvents();
        ASSERT_GT(dialog_.m_listCtrl.GetTopIndex(), 200);
        dialog_.resize(dialog_.width() + 10, dialog_.height());
        EXPECT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), -1);
        EXPECT_EQ(dialog_.m_listCtrl.GetTopIndex(), 0);
        dialog_.m_listCtrl.SetItemState(5, LVIS_SELECTED, LVIS_SELECTED);
        ClickHeader(3);
        EXPECT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), -1);
    });
}

// The list is where the user works: Enter and Escape, which end a dialog, must not lose it.
TEST_F(ListWindow, EnterAndEscapeLeaveTheWindowOpen) {
    std::vector<std::string> messages;
    SetMessageBoxObserver([&messages](QMessageBox& box) {
        messages.push_back(box.text().toStdString());
        box.accept();
    });
    const INT_PTR result = RunWindow(dialog_, [&] {
        dialog_.m_listCtrl.SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(dialog_.m_listCtrl.GetView(), key);
            QTest::keyClick(&dialog_, key); // with the focus off the list too
        }
        ui_test::ProcessEvents();
        EXPECT_TRUE(dialog_.isVisible());
    });
    SetMessageBoxObserver({});
    EXPECT_EQ(result, IDABORT); // still open when the script ended
    // Enter on the row asked for the host display, which does not run here.
    EXPECT_EQ(messages, std::vector<std::string>{kNoHostMessage});
}

TEST_F(ListWindow, HomeEndAndPageKeysMoveThroughTheRows) {
    for (int i = 0; i < 200; ++i) {
        dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(20.0f + i, 300.0f + i, "f", 2, 1.0f));
    }
    RunWindow(dialog_, [&] {
        QTableView* view = dialog_.m_listCtrl.GetView();
        view->setFocus();
        dialog_.m_listCtrl.SetItemState(10, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        QTest::keyClick(view, Qt::Key_End);
        EXPECT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), 202);
        EXPECT_GT(dialog_.m_listCtrl.GetTopIndex(), 150);
        QTest::keyClick(view, Qt::Key_PageUp);
        const int afterPageUp = dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED);
        EXPECT_LT(afterPageUp, 202);
        QTest::keyClick(view, Qt::Key_Home);
        EXPECT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), 0);
        EXPECT_EQ(dialog_.m_listCtrl.GetTopIndex(), 0);
        QTest::keyClick(view, Qt::Key_PageDown);
        EXPECT_GT(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), 0);
    });
}

TEST_F(ListWindow, CloseBoxEndsAsCancel) {
    EXPECT_EQ(RunWindow(dialog_, [&] { dialog_.close(); }), IDCANCEL);
}

TEST_F(ListWindow, FileExitClosesTheMainWindowThroughTheApplication) {
    CWinApp application;
    application.m_pMainWnd = &dialog_;
    const INT_PTR result = RunWindow(dialog_, [&] {
        QAction* exitAction = nullptr;
        for (QAction* action : dialog_.findChildren<QAction*>()) {
            if (action->property("commandId").toUInt() == ID_APP_EXIT) {
                exitAction = action;
            }
        }
        ASSERT_NE(exitAction, nullptr);
        EXPECT_EQ(exitAction->text(), "E&xit");
        exitAction->trigger();
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(ListWindow, MenuBarHoldsFileEditDisplayAndHelp) {
    RunWindow(dialog_, [&] {
        QMenuBar* menuBar = dialog_.GetMenuBar();
        ASSERT_NE(menuBar, nullptr);
        std::vector<std::string> titles;
        for (QAction* action : menuBar->actions()) {
            titles.push_back(action->text().toStdString());
        }
        EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Edit", "&Display", "&Help"}));
        EXPECT_EQ(dialog_.windowTitle(), "Varnex");
        EXPECT_FALSE(dialog_.windowIcon().isNull());
    });
}

// The list window offers every size of the icon; the other windows (the progress dialog among them, whose
// icon goes to the X server while the build starts) only the small ones their title bars show.
TEST_F(ListWindow, OnlyTheListWindowCarriesTheLargeIcons) {
    const auto largest = [](const QIcon& icon) {
        int size = 0;
        for (const QSize& available : icon.availableSizes()) {
            size = std::max(size, available.width());
        }
        return size;
    };
    RunWindow(dialog_, [&] {
        EXPECT_EQ(largest(dialog_.windowIcon()), 256);
        EXPECT_EQ(largest(QApplication::windowIcon()), 64);
        EXPECT_TRUE(QApplication::windowIcon().availableSizes().contains(QSize(16, 16)));
    });
}

// Display > Options...: the dialog runs over the list window; OK stores the choice and rebuilds the rows
// in their order with the new places, Cancel stores nothing and leaves the rows (and the selection) be.
TEST_F(ListWindow, DisplayOptionsOkRebuildsTheRowsAndCancelLeavesThem) {
    const auto runOptions = [&](int intensityIndex, int button) {
        QTimer::singleShot(0, &dialog_, [&, intensityIndex, button] {
            auto* options = dynamic_cast<CDisplayOptionsDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(options, nullptr);
            EXPECT_EQ(options->parentWidget(), &dialog_) << "the list window owns the dialog";
            auto* combo = qobject_cast<QComboBox*>(options->GetDlgItem(CDisplayOptionsDlg::IDC_INTENSITY));
            ASSERT_NE(combo, nullptr);
            combo->setFocus();
            QTest::keyClick(combo, Qt::Key_Home);
            for (int i = 0; i < intensityIndex; ++i) {
                QTest::keyClick(combo, Qt::Key_Down);
            }
            qobject_cast<QPushButton*>(options->GetDlgItem(button))->click();
        });
        dialog_.SendCommand(ID_DISPLAY_OPTIONS);
    };
    RunWindow(dialog_, [&] {
        dialog_.m_listCtrl.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        runOptions(3, IDOK);
        EXPECT_EQ(settings_test::ReadStoredValue().bytes, settings_test::WithNul("2:2:3"));
        EXPECT_EQ(ColumnTexts(4), (std::vector<std::string>{"90.000", "20000.000", "1500.000"}));
        EXPECT_EQ(ColumnTexts(0), (std::vector<std::string>{"3.25", "7.00", "12.50"}));
        EXPECT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), -1);

        dialog_.m_listCtrl.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        runOptions(1, IDCANCEL);
        EXPECT_EQ(settings_test::ReadStoredValue().bytes, settings_test::WithNul("2:2:3"));
        EXPECT_EQ(ColumnTexts(4), (std::vector<std::string>{"90.000", "20000.000", "1500.000"}));
        EXPECT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), 1);
    });
}

// Row formatting with the stored decimal places.
class RowFormatting : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }

    std::array<std::string, 5> RowFor(const CPrecursor& precursor) {
        CVarnexDlg dialog;
        dialog.m_precursorList.m_Precursors.Add(precursor);
        std::array<std::string, 5> texts;
        RunWindow(dialog, [&] {
            for (int i = 0; i < 5; ++i) {
                texts[static_cast<std::size_t>(i)] = dialog.m_listCtrl.GetItemText(0, i);
            }
        });
        return texts;
    }

    registry_test::TempStore store_;
};

TEST_F(RowFormatting, DefaultSettingGivesTwoTwoAndNoPlaces) {
    EnsureDecimalPlaces();
    EXPECT_EQ(RowFor(MakePrecursor(12.3456f, 500.2f, "TOF MSMS 50:2000 ES+", -1, 12345.6f)),
              (std::array<std::string, 5>{"12.35", "500.20", "TOF MSMS 50:2000 ES+", "-1", "12346"}));
}

TEST_F(RowFormatting, FloatsAreWidenedBeforePrinting) {
    settings_test::StoreText("4:4:4");
    EXPECT_EQ(RowFor(MakePrecursor(1.0f, 1234.5678f, "f", 2, 0.1f))[1], "1234.5677");
    EXPECT_EQ(RowFor(MakePrecursor(1.0f, 1234.5678f, "f", 2, 0.1f))[4], "0.1000");
}

TEST_F(RowFormatting, MissingValuePrintsWithoutDecimalPoint) {
    settings_test::StoreValue(nullptr); // the key without the value
    const auto row = RowFor(MakePrecursor(12.3456f, 500.7f, "f", 4, 99.5f));
    EXPECT_EQ(row[0], "12");
    EXPECT_EQ(row[1], "501");
    EXPECT_EQ(row[4], "100"); // half to even, as printf rounds the exact binary value 99.5
}

TEST_F(RowFormatting, ShortSettingLeavesTheMissingColumnsWithoutPlaces) {
    settings_test::StoreText("3:1");
    const auto row = RowFor(MakePrecursor(12.3456f, 500.25f, "f", 1, 7.75f));
    EXPECT_EQ(row[0], "12.346");
    EXPECT_EQ(row[1], "500.2");
    EXPECT_EQ(row[4], "8");
}

TEST_F(RowFormatting, NonDigitPlacesPrintWithoutPlaces) {
    settings_test::StoreText("12:x:-"); // ':' at positions 2 and 4
    const auto row = RowFor(MakePrecursor(2.5f, 300.75f, "f", 1, 7.25f));
    EXPECT_EQ(row[0], "2.5"); // '1' at position 0
    EXPECT_EQ(row[1], "301");
    EXPECT_EQ(row[4], "7");
}

TEST_F(RowFormatting, MatchesPrintfForEveryPlaceCount) {
    const std::array<float, 6> values = {0.0f, -1.0f, 0.125f, 1234.5678f, 3.4e38f, -2.5e-7f};
    for (int places = 0; places <= 9; ++places) {
        const std::string digit(1, static_cast<char>('0' + places));
        settings_test::StoreText(digit + ":" + digit + ":" + digit);
        for (float value : values) {
            char expected[128];
            std::snprintf(expected, sizeof expected, ("%." + digit + "f").c_str(),
                          static_cast<double>(value));
            EXPECT_EQ(RowFor(MakePrecursor(value, 1.0f, "f", 1, 1.0f))[0], expected)
                << places << " " << value;
        }
    }
}

TEST_F(RowFormatting, EmptyListReadsTheSettingAndInsertsNoRows) {
    EnsureDecimalPlaces();
    CVarnexDlg dialog;
    RunWindow(dialog, [&] { EXPECT_EQ(dialog.m_listCtrl.GetItemCount(), 0); });
}

} // namespace
