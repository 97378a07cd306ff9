// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStatusBar>

#include <gtest/gtest.h>

#include "host/DisplayViews.h"
#include "host/HostDisplayService.h"
#include "hostlink/HostLink.h"
#include "support/TestHost.h"

using varnex::host::HostDisplayService;
using varnex::host::HostWindow;

namespace {

const std::string kSample = VARNEX_SOURCE_DIR "/data/sample.mzML";

class HostDisplayServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "host_tests";
        static char* argv[] = {name, nullptr};
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        if (!QApplication::instance()) {
            new QApplication(argc, argv);
        }
    }

    // Lets the window catch up with the commands carried out so far.
    static bool WaitUntilShown(HostDisplayService& service, unsigned long long revision) {
        if (!service.WaitForRevision(revision, std::chrono::seconds(10))) {
            return false;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 10000) {
            QApplication::processEvents();
            const auto shown = service.Window()->ShownState();
            if (shown && shown->revision >= revision) {
                return true;
            }
        }
        return false;
    }

    ScopedRuntimeDirectory runtime_;
};

} // namespace

TEST_F(HostDisplayServiceTest, CommandsThroughTheEndpointReachTheDisplays) {
    HostDisplayService service;
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    ASSERT_TRUE(IsQuorixRunning());
    const std::vector<std::string> commands = {"app.command[chrodisplay:clear]()",
                                               "app.command[chrodisplay:add](TIC:2)",
                                               "app.command[chrodisplay:add](TIC:1)",
                                               "app.command[chrodisplay:setpointer](SCAN:2)",
                                               "app.command[specdisplay:DDALaunch](" + kSample + ")",
                                               "app.command[specdisplay:clear]()",
                                               "app.command[specdisplay:combine](4:5:2:" + kSample + ")",
                                               "app.command[specdisplay:add](1:2)"};
    for (const std::string& command : commands) {
        EXPECT_EQ(SendHostCommand(command.c_str(), 10000), 1) << command;
    }
    ASSERT_TRUE(WaitUntilShown(service, 8));

    HostWindow* window = service.Window();
    EXPECT_EQ(window->Chromatogram()->graphCount(), 4) << "two TIC traces, the XIC and its scan marks";
    EXPECT_EQ(window->Chromatogram()->itemCount(), 2) << "the pointer line and its label";
    EXPECT_TRUE(window->SpectrumDisplayTitle().contains(QStringLiteral("sample.mzML")));
    EXPECT_TRUE(window->CombinedSpectrum()->Title().contains(QStringLiteral("function 2")));
    EXPECT_GT(window->CombinedSpectrum()->graph(0)->dataCount(), 0);
    ASSERT_EQ(window->AddedSpectra().size(), 1);
    EXPECT_TRUE(window->AddedSpectra()[0]->Title().startsWith(QStringLiteral("Survey scan 2")));
    EXPECT_FALSE(window->statusBar()->currentMessage().startsWith(QStringLiteral("Error")));

    const QString png = QString::fromStdString((runtime_.Path() / "combined.png").string());
    const QString svg = QString::fromStdString((runtime_.Path() / "combined.svg").string());
    window->resize(900, 700);
    EXPECT_TRUE(window->CombinedSpectrum()->SavePng(png));
    EXPECT_TRUE(window->CombinedSpectrum()->SaveSvg(svg));
    EXPECT_GT(QFile(png).size(), 0);
    QFile svgFile(svg);
    ASSERT_TRUE(svgFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svgFile.readAll().contains("<svg"));
}

TEST_F(HostDisplayServiceTest, MalformedCommandIsRefusedAndShownInTheStatusLine) {
    HostDisplayService service;
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    const auto result = varnex::hostlink::SendCommand("app.command[specdisplay:fly]()", 5000);
    EXPECT_EQ(result.status, varnex::hostlink::SendStatus::Rejected);
    ASSERT_TRUE(WaitUntilShown(service, 1));
    EXPECT_TRUE(service.Window()->statusBar()->currentMessage().contains(QStringLiteral("unknown command")));

    EXPECT_EQ(SendHostCommand("app.command[specdisplay:DDALaunch](/missing/run.mzML)", 5000), 1);
    ASSERT_TRUE(WaitUntilShown(service, 2));
    EXPECT_TRUE(service.Window()->statusBar()->currentMessage().contains(QStringLiteral("Cannot open")));
}

TEST_F(HostDisplayServiceTest, SecondHostDoesNotStartBesideARunningOne) {
    HostDisplayService first;
    HostDisplayService second;
    std::string error;
    ASSERT_TRUE(first.Start(error)) << error;
    EXPECT_FALSE(second.Start(error));
}
