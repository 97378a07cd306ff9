// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <gtest/gtest.h>

#include "outside/LogonTestSupport.h"

#include "app/VarnexApp.h"
#include "platform/MessageBox.h"
#include "progress/ProgressDlg.h"
#include "settings/DecimalPlaces.h"
#include "settings/SettingsTestSupport.h"
#include "support/MzmlWriter.h"
#include "support/RegistryTestSupport.h"
#include "support/TempDirectory.h"
#include "support/TestApplication.h"
#include "support/TestHost.h"
#include "system/Registry.h"
#include "ui/VarnexDlg.h"

using varnex::outside::kStartUsersValue;
using varnex::outside::kViewUsersValue;

namespace {

const std::string kSample = VARNEX_SOURCE_DIR "/data/sample.mzML";

// Records which kinds of dialog start-up shows, and ends the list window as soon as it is up.
class StartupObserver final : public QObject {
public:
    StartupObserver() { TestApplication().installEventFilter(this); }
    ~StartupObserver() override { qApp->removeEventFilter(this); }

    std::vector<std::string> shown;
    int rowsInWindow = -1;
    bool mainWindowWasSet = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) {
            return false;
        }
        if (auto* window = dynamic_cast<CVarnexDlg*>(watched)) {
            shown.push_back("list window");
            mainWindowWasSet = theApp.m_pMainWnd == window;
            QTimer::singleShot(0, window, [this, window] {
                rowsInWindow = window->m_listCtrl.GetItemCount();
                window->EndDialog(IDOK);
            });
        } else if (dynamic_cast<CProgressDlg*>(watched) != nullptr) {
            shown.push_back("progress dialog");
        } else if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isWindow()) {
            shown.push_back(dialog->metaObject()->className());
        }
        return false;
    }
};

class Startup : public MessageRecordingTest {
protected:
    BOOL Start(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "varnex");
        theApp.SetCommandLine(std::move(arguments));
        return theApp.InitInstance();
    }

    registry_test::TempStore store_;
    ScopedRuntimeDirectory runtime_;
    StartupObserver observer_;
};

TEST_F(Startup, WithoutParametersEnsuresSettingsShowsTheMessageAndNoWindow) {
    EXPECT_EQ(Start({}), FALSE);
    EXPECT_EQ(messages, (std::vector<std::string>{"There are no Precursors to Display"}));
    EXPECT_EQ(settings_test::ReadStoredValue().bytes, settings_test::WithNul("2:2:0"));
    EXPECT_EQ(std::count(observer_.shown.begin(), observer_.shown.end(), "list window"), 0);
    EXPECT_EQ(std::count(observer_.shown.begin(), observer_.shown.end(), "progress dialog"), 1);
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

TEST_F(Startup, TheFirstNonFlagParameterIsThePathAndTheRestIsIgnored) {
    EXPECT_EQ(Start({"-x", "--verbose", kSample, "/another/file.mzML"}), FALSE);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(observer_.shown, (std::vector<std::string>{"progress dialog", "list window"}));
    EXPECT_GT(observer_.rowsInWindow, 0);
    EXPECT_TRUE(observer_.mainWindowWasSet);
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
    EXPECT_EQ(theApp.ExitInstance(), 0);
}

TEST_F(Startup, RefusalInPhaseOneShowsNothingOfTheProgramAndLeavesTheStore) {
    SetPolicy(kStartUsersValue, "somebody-else; another");
    const std::string before = store_.Contents();
    EXPECT_EQ(Start({kSample}), FALSE);
    EXPECT_EQ(store_.Contents(), before);
    EXPECT_TRUE(observer_.shown.empty() || observer_.shown == std::vector<std::string>{"QMessageBox"});
    ASSERT_EQ(messages.size(), 1u); // the logon framework's own explanation
    EXPECT_NE(messages[0].find(kStartUsersValue), std::string::npos);
    EXPECT_EQ(settings_test::ReadStoredValue().result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(theApp.ExitInstance(), 1);
}

TEST_F(Startup, RefusalInPhaseTwoBuildsTheListButShowsNoWindow) {
    SetPolicy(kViewUsersValue, "somebody-else");
    EXPECT_EQ(Start({kSample}), FALSE);
    EXPECT_EQ(std::count(observer_.shown.begin(), observer_.shown.end(), "progress dialog"), 1);
    EXPECT_EQ(std::count(observer_.shown.begin(), observer_.shown.end(), "list window"), 0);
    EXPECT_EQ(settings_test::ReadStoredValue().bytes, settings_test::WithNul("2:2:0"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(kViewUsersValue), std::string::npos);
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

TEST_F(Startup, ListedUsersAreAdmitted) {
    SetPolicy(kStartUsersValue, "someone, " + CSecurityApp::CurrentUserName());
    SetPolicy(kViewUsersValue, CSecurityApp::CurrentUserName());
    EXPECT_EQ(Start({kSample}), FALSE);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(std::count(observer_.shown.begin(), observer_.shown.end(), "list window"), 1);
}

TEST_F(Startup, OnePrecursorIsEnoughToShowTheWindow) {
    support::TempDirectory scratch;
    const std::filesystem::path path = scratch.File("one.mzML");
    WriteMzml(path,
              {SurveyScan(1.0, {400.0, 500.25, 600.0}, {10.0f, 1000.0f, 10.0f}), MsmsScan(2, 1.1, "500.25")});
    EXPECT_EQ(Start({path.string()}), FALSE);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(observer_.rowsInWindow, 1);
}

TEST_F(Startup, HelpCommandIsHandledByTheApplication) {
    EXPECT_TRUE(theApp.OnCmdMsg(ID_HELP));
    EXPECT_FALSE(theApp.OnCmdMsg(12345));
}

// Runs the real program with `arguments` and closes its list window from outside through the registered
// message; false when no list window came up (say, because the program showed its empty-list message).
::testing::AssertionResult ListWindowOfTheRealProgramCameUp(const QStringList& arguments) {
    QProcess varnex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    varnex.setProcessEnvironment(environment);
    varnex.start(VARNEX_BINARY_DIR "/app/varnex", arguments);
    if (!varnex.waitForStarted(10000)) {
        return ::testing::AssertionFailure() << "varnex did not start";
    }

    // The window opens its endpoint once the list is built.
    bool sent = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!sent && std::chrono::steady_clock::now() < deadline && varnex.state() == QProcess::Running) {
        QProcess sender;
        sender.start(VARNEX_BINARY_DIR "/app/varnex-send",
                     {"--pid", QString::number(varnex.processId()), "3"});
        sent = sender.waitForFinished(10000) && sender.exitCode() == 0;
        if (!sent) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    if (!sent) {
        varnex.kill();
        varnex.waitForFinished(10000);
        return ::testing::AssertionFailure() << "no list window for " << arguments.join(' ').toStdString();
    }
    if (!varnex.waitForFinished(10000) || varnex.exitStatus() != QProcess::NormalExit ||
        varnex.exitCode() != 0) {
        return ::testing::AssertionFailure() << "the window did not close cleanly on the registered message";
    }
    return ::testing::AssertionSuccess();
}

// The real program on the bundled sample, closed from outside through the registered message.
TEST(EndToEnd, VarnexShowsTheSampleAndClosesOnTheRegisteredMessage) {
    TestApplication();
    registry_test::TempStore store;
    ScopedRuntimeDirectory runtime;
    EXPECT_TRUE(ListWindowOfTheRealProgramCameUp({QString::fromStdString(kSample)}));
    EXPECT_EQ(settings_test::ReadStoredValue().bytes, settings_test::WithNul("2:2:0"));
}

// Qt's own options take a value and Qt removes both from the arguments it is given; the program's
// command line still has the path as its first parameter that is not a flag.
TEST(EndToEnd, QtOptionsBeforeThePathDoNotSwallowIt) {
    TestApplication();
    registry_test::TempStore store;
    ScopedRuntimeDirectory runtime;
    const QString sample = QString::fromStdString(kSample);
    EXPECT_TRUE(ListWindowOfTheRealProgramCameUp({"-style", sample}));
    EXPECT_TRUE(ListWindowOfTheRealProgramCameUp({"-title", sample}));
}

} // namespace
