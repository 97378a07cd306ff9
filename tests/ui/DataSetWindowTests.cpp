// SPDX-License-Identifier: GPL-3.0-or-later
// The list window as a day's work uses it: opening data sets (menu, drop, recent list), filtering,
// copying and exporting rows, and finding the window as it was left.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "listio/PrecursorExport.h"
#include "outside/LogonTestSupport.h"
#include "platform/MessageBox.h"
#include "settings/DecimalPlaces.h"
#include "settings/ListWindowSettings.h"
#include "support/RegistryTestSupport.h"
#include "support/TestHost.h"
#include "system/Registry.h"
#include "ui/FilterDlg.h"
#include "ui/Resource.h"

using varnex::settings::AddRecentDataSet;
using varnex::settings::kDecimalPlacesKey;
using varnex::settings::kSortColumnValue;
using varnex::settings::ReadRecentDataSets;
using varnex::settings::WriteWindowPlacement;

using varnex::listio::ExportFormat;

using varnex::ui::kNoHostMessage;
using varnex::ui::kNoPrecursorsMessage;
using varnex::ui::PrecursorFilter;

namespace {

using ui_test::MakePrecursor;
using ui_test::ProcessEvents;
using ui_test::RunWindow;

const std::string kSample = VARNEX_SOURCE_DIR "/data/sample.mzML";
const std::string kOtherDataSet = VARNEX_SHARED_DATA_DIR "/thermo_LTQFT_small.mzML";

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DataSetWindow : public MessageRecordingTest {
protected:
    void SetUp() override {
        MessageRecordingTest::SetUp();
        EnsureDecimalPlaces();
        scratch_ = std::filesystem::temp_directory_path() /
                   ("varnex-window-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(scratch_);
    }
    void TearDown() override {
        MessageRecordingTest::TearDown();
        std::filesystem::remove_all(scratch_);
    }

    std::string RawPath() const {
        std::string path;
        dialog_.m_precursorList.GetRawPath(path);
        return path;
    }

    std::vector<std::string> Row(int row) const {
        std::vector<std::string> texts;
        for (int column = 0; column < 5; ++column) {
            texts.push_back(dialog_.m_listCtrl.GetItemText(row, column));
        }
        return texts;
    }

    QString DataSetLine() const { return dialog_.findChild<QLabel*>(QStringLiteral("dataSetLine"))->text(); }

    // Runs Display > Filter... and lets `fill` act on the open dialog before OK is clicked.
    void RunFilterDialog(const std::function<void(CFilterDlg&)>& fill) {
        QTimer::singleShot(0, &dialog_, [fill] {
            auto* filter = dynamic_cast<CFilterDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(filter, nullptr);
            fill(*filter);
            if (filter->isVisible()) {
                filter->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
            }
        });
        dialog_.SendCommand(ID_DISPLAY_FILTER);
    }

    static void SetField(CFilterDlg& filter, const char* name, const QString& text) {
        filter.findChild<QLineEdit*>(QString::fromLatin1(name) + QStringLiteral("Edit"))->setText(text);
    }

    ui_test::ApplicationFirst applicationFirst_;
    registry_test::TempStore store_;
    ScopedRuntimeDirectory runtime_;
    std::filesystem::path scratch_;
    CVarnexDlg dialog_;
};

TEST_F(DataSetWindow, FileOpenLoadsAnotherDataSetAndRemembersIt) {
    dialog_.LoadRawData(kSample);
    const int sampleCount = dialog_.GetPrecursorCount();
    ASSERT_GT(sampleCount, 0);
    RunWindow(dialog_, [&] {
        EXPECT_TRUE(DataSetLine().startsWith(QStringLiteral("sample.mzML")));
        ASSERT_TRUE(dialog_.OpenDataSet(kOtherDataSet));
        EXPECT_EQ(RawPath(), kOtherDataSet);
        EXPECT_GT(dialog_.GetPrecursorCount(), 0);
        EXPECT_NE(dialog_.GetPrecursorCount(), sampleCount);
        EXPECT_EQ(dialog_.m_listCtrl.GetItemCount(), dialog_.GetPrecursorCount());
        EXPECT_EQ(dialog_.m_listCtrl.GetHeaderItemCount(), 5);
        EXPECT_TRUE(DataSetLine().startsWith(QStringLiteral("thermo_LTQFT_small.mzML")));
        EXPECT_EQ(dialog_.findChild<QLabel*>(QStringLiteral("dataSetLine"))->toolTip().toStdString(),
                  kOtherDataSet);
        ASSERT_TRUE(dialog_.OpenDataSet(kSample));
        EXPECT_EQ(dialog_.GetPrecursorCount(), sampleCount);
    });
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ReadRecentDataSets(), (std::vector<std::string>{kSample, kOtherDataSet}));
}

// A file that is no data set: the user learns which file and why, then the usual message, and the list
// and the path the host commands name stay those of the data set that was open.
TEST_F(DataSetWindow, AnUnreadableFileIsNamedWithItsReasonAndTheListIsKept) {
    const std::filesystem::path notes = scratch_ / "notes.mzML";
    std::ofstream(notes) << "these are notes, not spectra\n";
    dialog_.LoadRawData(kSample);
    const int sampleCount = dialog_.GetPrecursorCount();
    RunWindow(dialog_, [&] {
        const std::vector<std::string> firstRow = Row(0);
        EXPECT_FALSE(dialog_.OpenDataSet(notes.string()));
        EXPECT_FALSE(dialog_.OpenDataSet((scratch_ / "missing.mzML").string()));
        EXPECT_EQ(dialog_.GetPrecursorCount(), sampleCount);
        EXPECT_EQ(RawPath(), kSample);
        EXPECT_EQ(Row(0), firstRow);
        EXPECT_EQ(dialog_.m_listCtrl.GetItemCount(), sampleCount);
    });
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_NE(messages[0].find("\"notes.mzML\": it is not an mzML or mzXML data set"), std::string::npos);
    EXPECT_EQ(messages[1], kNoPrecursorsMessage);
    EXPECT_NE(messages[2].find("\"missing.mzML\": No such file or directory"), std::string::npos);
    EXPECT_EQ(messages[3], kNoPrecursorsMessage);
    EXPECT_EQ(ReadRecentDataSets(), std::vector<std::string>{});
}

TEST_F(DataSetWindow, ADroppedFileIsOpenedAndTheRecentMenuOpensItAgain) {
    dialog_.LoadRawData(kSample);
    RunWindow(dialog_, [&] {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(kOtherDataSet))});
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog_, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&dialog_, &drop);
        EXPECT_EQ(RawPath(), kSample) << "the drop returns before the data set is read";
        QTRY_COMPARE(QString::fromStdString(RawPath()), QString::fromStdString(kOtherDataSet));

        // File > Recent Data Sets: newest first; its first entry is the dropped data set.
        auto* recent = dialog_.findChild<QMenu*>(QStringLiteral("menuRecent"));
        ASSERT_NE(recent, nullptr);
        emit recent->aboutToShow();
        ASSERT_EQ(recent->actions().size(), 1);
        EXPECT_EQ(recent->actions()[0]->text(), QStringLiteral("&1 thermo_LTQFT_small.mzML"));
        AddRecentDataSet(kSample);
        emit recent->aboutToShow();
        ASSERT_EQ(recent->actions().size(), 2);
        recent->actions()[0]->trigger();
        QTRY_COMPARE(QString::fromStdString(RawPath()), QString::fromStdString(kSample));
    });
    EXPECT_TRUE(messages.empty());
}

// The filter narrows the rows to the precursors that pass, in the sorted order, and the row rule holds
// for what is shown: a double-click on row 0 of the filtered list shows that precursor.
TEST_F(DataSetWindow, FilterShowsTheMatchingRowsAndShowAllRestoresThem) {
    auto& precursors = dialog_.m_precursorList.m_Precursors;
    precursors.Add(MakePrecursor(12.5f, 500.25f, "MS/MS function 3", 2, 1500.0f));
    precursors.Add(MakePrecursor(3.25f, 812.5f, "MS/MS function 2", 3, 90.0f));
    precursors.Add(MakePrecursor(7.0f, 400.125f, "MS/MS function 4", -1, 20000.0f));
    precursors.Add(MakePrecursor(9.0f, 450.0f, "MS/MS function 2", -1, 10.0f));
    for (int i = 0; i < precursors.GetSize(); ++i) {
        precursors.ElementAt(i).m_nFunction = 2 + i % 2;
        precursors.ElementAt(i).m_nFirstScan = precursors.ElementAt(i).m_nLastScan = 10 + i;
    }
    dialog_.m_precursorList.SetRawPath("/d");
    ThreadedHost host;
    RunWindow(dialog_, [&] {
        RunFilterDialog([&](CFilterDlg& filter) {
            SetField(filter, "minSetMass", QStringLiteral("400.125")); // a bound equal to a value passes
            SetField(filter, "maxSetMass", QStringLiteral("500.25"));
        });
        ASSERT_EQ(dialog_.m_listCtrl.GetItemCount(), 3);
        EXPECT_EQ(Row(0)[0], "7.00");
        EXPECT_EQ(Row(1)[0], "9.00");
        EXPECT_EQ(Row(2)[0], "12.50");
        EXPECT_TRUE(DataSetLine().endsWith(QStringLiteral("3 of 4 precursors")));

        // Only the undetermined charge states, still within the set-mass range.
        RunFilterDialog([&](CFilterDlg& filter) {
            auto* charges = filter.findChild<QListWidget*>(QStringLiteral("chargeList"));
            ASSERT_EQ(charges->count(), 3);
            EXPECT_EQ(charges->item(0)->text(), QStringLiteral("undetermined"));
            charges->item(1)->setCheckState(Qt::Unchecked); // 2
            charges->item(2)->setCheckState(Qt::Unchecked); // 3
        });
        ASSERT_EQ(dialog_.m_listCtrl.GetItemCount(), 2);
        EXPECT_EQ(Row(0)[3], "-1");
        EXPECT_EQ(Row(1)[3], "-1");

        // A header click sorts what is shown.
        QHeaderView* header = dialog_.m_listCtrl.GetView()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
        EXPECT_EQ(Row(0)[1], "400.12");
        EXPECT_EQ(Row(1)[1], "450.00");

        dialog_.m_listCtrl.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
        LRESULT result = 1;
        dialog_.OnListDoubleClick(nullptr, &result);
        ASSERT_TRUE(host.WaitForCount(8));
        EXPECT_EQ(host.Received()[6], "app.command[specdisplay:combine](12:12:2:/d)");

        dialog_.SendCommand(ID_DISPLAY_SHOW_ALL);
        EXPECT_EQ(dialog_.m_listCtrl.GetItemCount(), 4);
        EXPECT_EQ(Row(0)[1], "400.12");
        EXPECT_TRUE(DataSetLine().endsWith(QStringLiteral("4 precursors")));
        EXPECT_FALSE(DataSetLine().contains(QStringLiteral(" of ")));
    });
    EXPECT_TRUE(messages.empty());
}

TEST_F(DataSetWindow, FilterFieldsThatAreNotNumbersKeepTheDialogOpen) {
    dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(1.0f, 500.0f, "f", 2, 1.0f));
    RunWindow(dialog_, [&] {
        RunFilterDialog([&](CFilterDlg& filter) {
            SetField(filter, "minSwitchingTime", QStringLiteral("ten"));
            filter.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
            EXPECT_TRUE(filter.isVisible());
            SetField(filter, "minSwitchingTime", QStringLiteral("20"));
            SetField(filter, "maxSwitchingTime", QStringLiteral("10"));
            filter.findChild<QPushButton*>(QStringLiteral("okButton"))->click();
            EXPECT_TRUE(filter.isVisible());
            filter.findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        });
        EXPECT_FALSE(dialog_.GetFilter().IsActive());
        EXPECT_EQ(dialog_.m_listCtrl.GetItemCount(), 1);
    });
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "\"ten\" is not a switching time.");
    EXPECT_EQ(messages[1], "The switching time range ends below its start.");
}

// The window's export of the sample, read back, is what varnex-list writes for it, in both formats; a
// filter exports only what is shown.
TEST_F(DataSetWindow, ExportWritesWhatVarnexListWritesAndOnlyTheShownRows) {
    dialog_.LoadRawData(kSample);
    RunWindow(dialog_, [&] {
        for (const auto& [format, name] :
             {std::pair{ExportFormat::Tsv, "tsv"}, std::pair{ExportFormat::Csv, "csv"}}) {
            const std::filesystem::path ours = scratch_ / (std::string("window.") + name);
            const std::filesystem::path theirs = scratch_ / (std::string("list.") + name);
            std::string error;
            ASSERT_TRUE(dialog_.ExportDisplayed(ours.string(), format, error)) << error;
            const int status = QProcess::execute(
                QStringLiteral(VARNEX_LIST_EXECUTABLE),
                {QStringLiteral("-q"), QStringLiteral("-f"), QString::fromLatin1(name), QStringLiteral("-o"),
                 QString::fromStdString(theirs.string()), QString::fromStdString(kSample)});
            ASSERT_EQ(status, 0);
            EXPECT_EQ(ReadFile(ours), ReadFile(theirs)) << name;
        }

        PrecursorFilter charge2;
        charge2.chargeStates = std::set<int>{2};
        dialog_.SetFilter(charge2);
        std::string error;
        ASSERT_TRUE(dialog_.ExportDisplayed((scratch_ / "two.tsv").string(), ExportFormat::Tsv, error));
        const std::string text = ReadFile(scratch_ / "two.tsv");
        const auto lines = std::count(text.begin(), text.end(), '\n');
        EXPECT_EQ(lines, 1 + dialog_.m_listCtrl.GetItemCount());
        EXPECT_LT(dialog_.m_listCtrl.GetItemCount(), dialog_.GetPrecursorCount());
    });
}

TEST_F(DataSetWindow, AFailedExportLeavesTheOldFileAndSaysWhy) {
    dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(1.0f, 500.0f, "f", 2, 1.0f));
    std::string error;
    EXPECT_FALSE(dialog_.ExportDisplayed((scratch_ / "no such folder" / "list.tsv").string(),
                                         ExportFormat::Tsv, error));
    EXPECT_EQ(error, "No such file or directory");

    const std::filesystem::path target = scratch_ / "list.tsv";
    std::ofstream(target) << "old contents\n";
    std::filesystem::permissions(scratch_,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const bool written = dialog_.ExportDisplayed(target.string(), ExportFormat::Tsv, error);
    std::filesystem::permissions(scratch_, std::filesystem::perms::owner_all);
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(error, "Permission denied");
    EXPECT_EQ(ReadFile(target), "old contents\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch_), {}), 1) << "no temporary left";
}

TEST_F(DataSetWindow, CtrlCCopiesTheSelectedRowAsTheShownTexts) {
    dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(12.5f, 500.25f, "MS2 HCD 100-2000 +", 2, 1500.4f));
    dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(3.25f, 812.5f, "MS2 CID 100-2000 +", -1, 90.0f));
    RunWindow(dialog_, [&] {
        QApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(dialog_.m_listCtrl.GetView(), Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before")) << "nothing selected";
        dialog_.m_listCtrl.SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        QTest::keyClick(dialog_.m_listCtrl.GetView(), Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(),
                  QStringLiteral("12.50\t500.25\tMS2 HCD 100-2000 +\t2\t1500"));
    });
}

// Enter on a row does what a double-click does; without a host the user is told once.
TEST_F(DataSetWindow, EnterShowsTheRowAndAMissingHostIsToldOnce) {
    CPrecursor precursor = MakePrecursor(1.0f, 500.0f, "f", 2, 1.0f);
    precursor.m_nFunction = 2;
    dialog_.m_precursorList.m_Precursors.Add(precursor);
    dialog_.m_precursorList.SetRawPath("/d");
    RunWindow(dialog_, [&] {
        dialog_.m_listCtrl.SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        QTest::keyClick(dialog_.m_listCtrl.GetView(), Qt::Key_Return);
        QTest::keyClick(dialog_.m_listCtrl.GetView(), Qt::Key_Return);
        EXPECT_EQ(messages, std::vector<std::string>{kNoHostMessage});
        ThreadedHost host;
        QTest::keyClick(dialog_.m_listCtrl.GetView(), Qt::Key_Enter);
        ASSERT_TRUE(host.WaitForCount(8));
        EXPECT_EQ(host.Received()[1], "app.command[chrodisplay:add](TIC:2)");
        EXPECT_TRUE(dialog_.isVisible());
    });
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(DataSetWindow, TheNextWindowOpensWhereAndSortedAsTheLastWasLeft) {
    for (int i = 0; i < 3; ++i) {
        dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(1.0f + i, 900.0f - 100.0f * i, "f", 2, 1.0f));
    }
    RunWindow(dialog_, [&] {
        dialog_.resize(701, 433);
        dialog_.SendCommand(ID_DISPLAY_SHOW_ALL);
        QHeaderView* header = dialog_.m_listCtrl.GetView()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    });
    CVarnexDlg next;
    for (int i = 0; i < 3; ++i) {
        next.m_precursorList.m_Precursors.Add(MakePrecursor(1.0f + i, 900.0f - 100.0f * i, "f", 2, 1.0f));
    }
    RunWindow(next, [&] {
        EXPECT_EQ(next.size(), QSize(701, 433));
        EXPECT_EQ(next.m_listCtrl.GetItemText(0, 1), "700.00") << "sorted by set mass";
    });
}

TEST_F(DataSetWindow, ADamagedPlacementFallsBackToTheTemplateSize) {
    CVarnexDlg fresh;
    const QSize templateSize = fresh.size();
    WriteWindowPlacement("not a placement");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kDecimalPlacesKey, &key), ERROR_SUCCESS);
    const char column[] = {'9', '\0'};
    RegSetValueExA(key, kSortColumnValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(column), 2);
    RegCloseKey(key);
    dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(2.0f, 100.0f, "f", 2, 1.0f));
    dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(1.0f, 200.0f, "f", 2, 1.0f));
    RunWindow(dialog_, [&] {
        EXPECT_EQ(dialog_.size(), templateSize);
        EXPECT_EQ(dialog_.m_listCtrl.GetItemText(0, 0), "1.00") << "sorted by switching time";
    });
}

} // namespace
