// SPDX-License-Identifier: GPL-3.0-or-later
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/Dialog.h"
#include "platform/ListCtrl.h"
#include "support/TestApplication.h"

namespace {

void App() {
    TestApplication();
}

class ListCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        view_ = std::make_unique<QTableView>();
        view_->setProperty("controlId", 1000);
        control_.Attach(view_.get());
        view_->resize(400, 300);
    }

    void AddColumns(int count) {
        for (int i = 0; i < count; ++i) {
            control_.InsertColumn(i, ("Column " + std::to_string(i)).c_str(), LVCFMT_LEFT, 50 + i, i);
        }
    }

    void AddRows(int count) {
        for (int i = 0; i < count; ++i) {
            control_.InsertItem(i, ("r" + std::to_string(i)).c_str());
            control_.SetItemText(i, 1, ("s" + std::to_string(i)).c_str());
        }
    }

    // What the view shows in a cell, after the event loop has passed the rows to it.
    QString Shown(int row, int column) {
        QCoreApplication::processEvents();
        return view_->model()->index(row, column).data().toString();
    }

    std::unique_ptr<QTableView> view_;
    CListCtrl control_;
};

TEST(ListCtrlWithoutWindow, EveryOperationFails) {
    CListCtrl control;
    EXPECT_FALSE(control.HasWindow());
    EXPECT_EQ(control.InsertItem(0, "x"), -1);
    EXPECT_FALSE(control.SetItemText(0, 1, "x"));
    EXPECT_EQ(control.InsertColumn(0, "c"), -1);
    EXPECT_EQ(control.GetNextItem(-1, LVNI_SELECTED), -1);
    EXPECT_EQ(control.GetItemCount(), 0);
}

TEST_F(ListCtrlTest, RowIShowsWhatWasInsertedAtIndexI) {
    AddColumns(2);
    AddRows(3);
    control_.InsertItem(1, "middle");
    ASSERT_EQ(control_.GetItemCount(), 4);
    EXPECT_EQ(control_.GetItemText(0, 0), "r0");
    EXPECT_EQ(control_.GetItemText(1, 0), "middle");
    EXPECT_EQ(control_.GetItemText(1, 1), "");
    EXPECT_EQ(control_.GetItemText(2, 0), "r1");
    EXPECT_EQ(control_.GetItemText(3, 1), "s2");
    EXPECT_EQ(Shown(1, 0), "middle");
    EXPECT_EQ(Shown(3, 1), "s2");
    EXPECT_EQ(view_->model()->rowCount(), 4);
}

TEST_F(ListCtrlTest, InsertingIntoRowsTheViewAlreadyKnowsKeepsViewAndStoreInStep) {
    AddColumns(1);
    AddRows(2);
    QCoreApplication::processEvents();
    control_.InsertItem(0, "first");
    EXPECT_EQ(view_->model()->rowCount(), 3);
    EXPECT_EQ(Shown(0, 0), "first");
    EXPECT_EQ(Shown(2, 0), "r1");
}

TEST_F(ListCtrlTest, SubItemTextsCanBeSetInAnyOrderAndReplaced) {
    AddColumns(5);
    control_.InsertItem(0, "zero");
    control_.SetItemText(0, 4, "four");
    control_.SetItemText(0, 2, "two");
    control_.SetItemText(0, 2, "TWO, longer than before");
    control_.SetItemText(0, 0, "");
    EXPECT_EQ(control_.GetItemText(0, 0), "");
    EXPECT_EQ(control_.GetItemText(0, 1), "");
    EXPECT_EQ(control_.GetItemText(0, 2), "TWO, longer than before");
    EXPECT_EQ(control_.GetItemText(0, 3), "");
    EXPECT_EQ(control_.GetItemText(0, 4), "four");
    EXPECT_EQ(Shown(0, 4), "four");
    EXPECT_FALSE(control_.SetItemText(1, 0, "no such row"));
    EXPECT_FALSE(control_.SetItemText(0, -1, "no such sub-item"));
}

TEST_F(ListCtrlTest, TextsAreUtf8) {
    AddColumns(1);
    control_.InsertItem(0, "Me\xC3\x9F"
                           "daten \xE2\x80\x93 \xCE\xBC");
    EXPECT_EQ(Shown(0, 0), QString::fromUtf8("Me\xC3\x9F"
                                             "daten \xE2\x80\x93 \xCE\xBC"));
}

TEST_F(ListCtrlTest, AColumnShowsItsSubItem) {
    control_.InsertColumn(0, "second", LVCFMT_LEFT, 40, 1);
    control_.InsertColumn(1, "first", LVCFMT_RIGHT, 40, 0);
    control_.InsertItem(0, "a");
    control_.SetItemText(0, 1, "b");
    EXPECT_EQ(Shown(0, 0), "b");
    EXPECT_EQ(Shown(0, 1), "a");
    EXPECT_EQ(view_->model()->headerData(1, Qt::Horizontal).toString(), "first");
    EXPECT_EQ(view_->model()->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
              Qt::AlignRight);
}

TEST_F(ListCtrlTest, ColumnsKeepTheirWidthsAndCanAllBeDeleted) {
    AddColumns(5);
    EXPECT_EQ(control_.GetHeaderItemCount(), 5);
    EXPECT_EQ(control_.GetColumnWidth(3), 53);
    EXPECT_EQ(control_.GetColumnText(3), "Column 3");
    EXPECT_TRUE(control_.SetColumnWidth(3, 7));
    EXPECT_EQ(control_.GetColumnWidth(3), 7);
    EXPECT_TRUE(control_.SetColumnWidth(2, 0));
    EXPECT_EQ(control_.GetColumnWidth(2), 0);
    EXPECT_FALSE(control_.SetColumnWidth(5, 10));
    for (int n = control_.GetHeaderItemCount(); n > 0; --n) {
        control_.DeleteColumn(0);
    }
    EXPECT_EQ(control_.GetHeaderItemCount(), 0);
    EXPECT_EQ(view_->model()->columnCount(), 0);
    EXPECT_FALSE(control_.DeleteColumn(0));
}

TEST_F(ListCtrlTest, DeleteAllItemsClearsRowsSelectionAndScrollsToTop) {
    AddColumns(2);
    AddRows(500);
    view_->show();
    ASSERT_TRUE(control_.SetItemState(400, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED));
    view_->scrollTo(view_->model()->index(400, 0));
    QCoreApplication::processEvents();
    ASSERT_GT(control_.GetTopIndex(), 0);
    ASSERT_EQ(control_.GetNextItem(-1, LVNI_SELECTED), 400);

    control_.DeleteAllItems();
    EXPECT_EQ(control_.GetItemCount(), 0);
    AddRows(500);
    QCoreApplication::processEvents();
    EXPECT_EQ(control_.GetNextItem(-1, LVNI_SELECTED), -1);
    EXPECT_EQ(control_.GetTopIndex(), 0);
    EXPECT_EQ(view_->verticalScrollBar()->value(), 0);
    EXPECT_EQ(Shown(499, 1), "s499");
}

TEST_F(ListCtrlTest, GetNextItemFindsSelectedFocusedAndAnyRows) {
    AddColumns(1);
    AddRows(5);
    EXPECT_EQ(control_.GetNextItem(-1, LVNI_ALL), 0);
    EXPECT_EQ(control_.GetNextItem(3, LVNI_ALL), 4);
    EXPECT_EQ(control_.GetNextItem(4, LVNI_ALL), -1);
    control_.SetItemState(2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(control_.GetNextItem(-1, LVNI_SELECTED), 2);
    EXPECT_EQ(control_.GetNextItem(2, LVNI_SELECTED), -1);
    EXPECT_EQ(control_.GetNextItem(-1, LVNI_FOCUSED), 2);
    EXPECT_EQ(control_.GetItemState(2, LVIS_SELECTED), LVIS_SELECTED);
    // Single selection: selecting another row moves it.
    control_.SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(control_.GetNextItem(-1, LVNI_SELECTED), 3);
    EXPECT_EQ(control_.GetItemState(2, LVIS_SELECTED), 0u);
    control_.SetItemState(3, 0, LVIS_SELECTED);
    EXPECT_EQ(control_.GetNextItem(-1, LVNI_SELECTED), -1);
}

TEST_F(ListCtrlTest, ExtendedStyleGivesGridLinesAndFullRowSelection) {
    EXPECT_FALSE(view_->showGrid());
    EXPECT_EQ(
        control_.SetExtendedStyle(control_.GetExtendedStyle() | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT), 0u);
    EXPECT_TRUE(view_->showGrid());
    EXPECT_EQ(view_->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view_->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(control_.GetExtendedStyle(), LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
}

TEST_F(ListCtrlTest, HeaderClickNotifiesTheColumn) {
    AddColumns(3);
    std::vector<NMLISTVIEW> received;
    control_.SetNotifyHandler(
        [&](NMHDR* header) { received.push_back(*reinterpret_cast<NMLISTVIEW*>(header)); });
    view_->show();
    QHeaderView* header = view_->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(2) + 5, header->height() / 2));
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].hdr.code, LVN_COLUMNCLICK);
    EXPECT_EQ(received[0].hdr.idFrom, 1000u);
    EXPECT_EQ(received[0].iSubItem, 2);
}

TEST_F(ListCtrlTest, DoubleClickNotifiesAfterTheViewSelectedTheRow) {
    AddColumns(2);
    AddRows(3);
    control_.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    view_->show();
    QCoreApplication::processEvents();
    int selectedWhenNotified = -2;
    std::vector<NMLISTVIEW> received;
    control_.SetNotifyHandler([&](NMHDR* header) {
        received.push_back(*reinterpret_cast<NMLISTVIEW*>(header));
        selectedWhenNotified = control_.GetNextItem(-1, LVNI_SELECTED);
    });
    const QRect cell = view_->visualRect(view_->model()->index(1, 1));
    QTest::mouseDClick(view_->viewport(), Qt::LeftButton, {}, cell.center());
    QCoreApplication::processEvents();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].hdr.code, NM_DBLCLK);
    EXPECT_EQ(received[0].iItem, 1);
    EXPECT_EQ(selectedWhenNotified, 1);
}

TEST_F(ListCtrlTest, ClientRectExcludesBorderAndVerticalScrollBar) {
    AddColumns(1);
    view_->setGeometry(0, 0, 300, 120);
    view_->show();
    QCoreApplication::processEvents();
    const int frame = view_->frameWidth();
    EXPECT_EQ(control_.GetClientRect().width(), 300 - 2 * frame);
    AddRows(200);
    // The view lays out its rows from a zero timer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return view_->verticalScrollBar()->isVisible(); }, 2000));
    EXPECT_EQ(control_.GetClientRect().width(), view_->viewport()->width());
}

TEST(ListCtrlBinding, DdxControlBindsTheTemplatesTableViewOnce) {
    App();
    CDialog dialog(1);
    auto* table = new QTableView(&dialog);
    table->setProperty("controlId", 1000);
    CListCtrl control;
    CDataExchange toControls(&dialog, FALSE);
    DDX_Control(&toControls, 1000, control);
    ASSERT_TRUE(control.HasWindow());
    EXPECT_EQ(control.GetView(), table);
    auto* other = new QTableView(&dialog);
    other->setProperty("controlId", 1000);
    DDX_Control(&toControls, 1000, control);
    EXPECT_EQ(control.GetView(), table);
}

} // namespace
