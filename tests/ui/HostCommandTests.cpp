// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <QMessageBox>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include "UiTestSupport.h"
#include "platform/MessageBox.h"
#include "settings/DecimalPlaces.h"
#include "support/RegistryTestSupport.h"
#include "support/TestHost.h"
#include "system/NamedEvent.h"

using varnex::platform::SetMessageBoxObserver;

using varnex::ui::kHostCommandTimeoutMs;

namespace {

using ui_test::MakePrecursor;
using ui_test::ProcessEvents;
using ui_test::RunWindow;

CPrecursor HostPrecursor(int function, int surveyScan, int firstScan, int lastScan) {
    CPrecursor precursor = MakePrecursor(1.0f, 500.0f, "MS/MS function", 2, 100.0f);
    precursor.m_nFunction = function;
    precursor.m_nSurveyScan = surveyScan;
    precursor.m_nFirstScan = firstScan;
    precursor.m_nLastScan = lastScan;
    return precursor;
}

std::vector<std::string> ExpectedCommands(const std::string& f, const std::string& s, const std::string& a,
                                          const std::string& b, const std::string& path) {
    return {
        "app.command[chrodisplay:clear]()",
        "app.command[chrodisplay:add](TIC:" + f + ")",
        "app.command[chrodisplay:add](TIC:1)",
        "app.command[chrodisplay:setpointer](SCAN:" + s + ")",
        "app.command[specdisplay:DDALaunch](" + path + ")",
        "app.command[specdisplay:clear]()",
        "app.command[specdisplay:combine](" + a + ":" + b + ":" + f + ":" + path + ")",
        "app.command[specdisplay:add](1:" + s + ")",
    };
}

// True when the event the host may wait on exists (opening it then reports that it already existed).
bool CombineEventExists() {
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, "WaitForCombine");
    const bool existed = probe != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    if (probe != nullptr) {
        CloseHandle(probe);
    }
    return existed;
}

class HostCommands : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDecimalPlaces();
        SetMessageBoxObserver([this](QMessageBox& box) {
            ++messageBoxes_;
            box.accept();
        });
    }
    void TearDown() override { SetMessageBoxObserver({}); }

    // Double-clicks the row with the mouse, as a user does.
    void DoubleClickRow(int row) {
        QTableView* view = dialog_.m_listCtrl.GetView();
        const QRect cell = view->visualRect(view->model()->index(row, 2));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        ProcessEvents();
    }

    ui_test::ApplicationFirst applicationFirst_;
    registry_test::TempStore store_;
    ScopedRuntimeDirectory runtime_;
    int messageBoxes_ = 0;
    CVarnexDlg dialog_;
};

TEST_F(HostCommands, DoubleClickSendsTheEightCommandsInOrder) {
    dialog_.m_precursorList.SetRawPath("D:\\data\\sample01");
    dialog_.m_precursorList.m_Precursors.Add(HostPrecursor(3, 152, 12, 15));
    ThreadedHost host;
    RunWindow(dialog_, [&] { DoubleClickRow(0); });
    ASSERT_TRUE(host.WaitForCount(8));
    EXPECT_EQ(host.Received(), ExpectedCommands("3", "152", "12", "15", "D:\\data\\sample01"));
    EXPECT_EQ(host.Received()[6], "app.command[specdisplay:combine](12:15:3:D:\\data\\sample01)");
}

TEST_F(HostCommands, SurveyScanZeroIsSentAsZero) {
    dialog_.m_precursorList.SetRawPath("/data/sample01.mzML");
    dialog_.m_precursorList.m_Precursors.Add(HostPrecursor(2, 0, 1, 4));
    ThreadedHost host;
    RunWindow(dialog_, [&] { DoubleClickRow(0); });
    ASSERT_TRUE(host.WaitForCount(8));
    EXPECT_EQ(host.Received()[3], "app.command[chrodisplay:setpointer](SCAN:0)");
    EXPECT_EQ(host.Received()[7], "app.command[specdisplay:add](1:0)");
}

TEST_F(HostCommands, PathWithSpacesColonsAndNonAsciiGoesLastUnchanged) {
    const std::string path = "/home/user/Messungen 2024/Lauf:3 \xC2\xB5LC \xE2\x80\x93 Probe\xC3\xA4.mzML";
    dialog_.m_precursorList.SetRawPath(path);
    dialog_.m_precursorList.m_Precursors.Add(HostPrecursor(4, 7, 20, 21));
    ThreadedHost host;
    RunWindow(dialog_, [&] { DoubleClickRow(0); });
    ASSERT_TRUE(host.WaitForCount(8));
    EXPECT_EQ(host.Received(), ExpectedCommands("4", "7", "20", "21", path));
}

TEST_F(HostCommands, TheSelectedRowIsSentAfterSorting) {
    dialog_.m_precursorList.SetRawPath("/d");
    CPrecursor late = HostPrecursor(2, 30, 31, 33);
    late.m_fSwitchingTime = 9.0f;
    CPrecursor early = HostPrecursor(3, 10, 11, 12);
    early.m_fSwitchingTime = 1.0f;
    dialog_.m_precursorList.m_Precursors.Add(late);
    dialog_.m_precursorList.m_Precursors.Add(early);
    ThreadedHost host;
    RunWindow(dialog_, [&] { DoubleClickRow(1); }); // sorted by time: row 1 is `late`
    ASSERT_TRUE(host.WaitForCount(8));
    EXPECT_EQ(host.Received(), ExpectedCommands("2", "30", "31", "33", "/d"));
}

TEST_F(HostCommands, EveryDoubleClickSendsAllEightAgain) {
    dialog_.m_precursorList.SetRawPath("/d");
    dialog_.m_precursorList.m_Precursors.Add(HostPrecursor(2, 5, 6, 6));
    ThreadedHost host;
    RunWindow(dialog_, [&] {
        DoubleClickRow(0);
        DoubleClickRow(0);
    });
    ASSERT_TRUE(host.WaitForCount(16));
    const std::vector<std::string> received = host.Received();
    const std::vector<std::string> once = ExpectedCommands("2", "5", "6", "6", "/d");
    EXPECT_EQ(std::vector<std::string>(received.begin(), received.begin() + 8), once);
    EXPECT_EQ(std::vector<std::string>(received.begin() + 8, received.end()), once);
}

TEST_F(HostCommands, NothingIsSentWithoutAHostButTheEventIsCreated) {
    dialog_.m_precursorList.SetRawPath("/d");
    dialog_.m_precursorList.m_Precursors.Add(HostPrecursor(2, 5, 6, 6));
    ASSERT_FALSE(CombineEventExists());
    RunWindow(dialog_, [&] {
        DoubleClickRow(0);
        ASSERT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), 0);
        EXPECT_TRUE(CombineEventExists());
    });
    EXPECT_EQ(messageBoxes_, 1) << "the user is told that no host display runs";
    // A host that starts afterwards has been sent nothing.
    ThreadedHost host;
    EXPECT_FALSE(host.WaitForCount(1, std::chrono::milliseconds(200)));
}

TEST_F(HostCommands, NothingIsSentWhenNoRowIsSelected) {
    dialog_.m_precursorList.SetRawPath("/d");
    dialog_.m_precursorList.m_Precursors.Add(HostPrecursor(2, 5, 6, 6));
    ThreadedHost host;
    RunWindow(dialog_, [&] {
        ASSERT_EQ(dialog_.m_listCtrl.GetNextItem(-1, LVNI_SELECTED), -1);
        LRESULT result = 1;
        NMLISTVIEW notification;
        notification.hdr.code = NM_DBLCLK;
        dialog_.OnListDoubleClick(&notification.hdr, &result);
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(CombineEventExists());
    });
    EXPECT_FALSE(host.WaitForCount(1, std::chrono::milliseconds(200)));
}

// The host's side of the contract: every command may take it up to ten seconds.
TEST(HostContract, EveryCommandAllowsTheHostTenSeconds) {
    EXPECT_EQ(kHostCommandTimeoutMs, 10000);
}

TEST_F(HostCommands, AHostThatStopsAnsweringCostsOnlyTheTimeout) {
    dialog_.m_precursorList.SetRawPath("/d");
    dialog_.m_precursorList.m_Precursors.Add(HostPrecursor(2, 5, 6, 6));
    // The host accepts the first command, then dies: the rest find nobody and are dropped at once.
    auto host = std::make_unique<ThreadedHost>();
    RunWindow(dialog_, [&] {
        host->Stop();
        const auto start = std::chrono::steady_clock::now();
        dialog_.m_listCtrl.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
        LRESULT result = 1;
        dialog_.OnListDoubleClick(nullptr, &result);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(dialog_.isVisible());
    });
}

} // namespace
