// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "platform/SystemMenu.h"
#include "settings/DecimalPlaces.h"
#include "support/RegistryTestSupport.h"
#include "support/TestHost.h"
#include "system/RegisteredMessage.h"
#include "ui/Resource.h"

using varnex::system::SendRegisteredMessage;

using varnex::ui::g_nVarnexCommandMessage;
using varnex::ui::kVarnexCommandClose;

namespace {

using ui_test::MakePrecursor;
using ui_test::RunWindow;

class WindowMessages : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDecimalPlaces();
        dialog_.m_precursorList.m_Precursors.Add(MakePrecursor(1.0f, 400.0f, "f", 2, 10.0f));
    }

    // Closes the next About box as soon as it is up; counts the boxes seen.
    void CloseAboutBoxWhenShown() {
        QTimer::singleShot(50, &dialog_, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal != nullptr && modal->objectName() == "aboutBox") {
                ++aboutBoxes_;
                aboutText_ = modal->findChild<QWidget*>("aboutText") != nullptr;
                static_cast<QDialog*>(modal)->accept();
            }
        });
    }

    ui_test::ApplicationFirst applicationFirst_;
    registry_test::TempStore store_;
    ScopedRuntimeDirectory runtime_;
    CVarnexDlg dialog_;
    int aboutBoxes_ = 0;
    bool aboutText_ = false;
};

// Sends the registered message from a child process, as another program does, and exits with 0 when
// every send was handled with the reply 0.
pid_t SendFromAnotherProcess(const std::vector<WPARAM>& codes) {
    const pid_t windowPid = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::usleep(300 * 1000); // let the window open its endpoint
        int failures = 0;
        for (WPARAM code : codes) {
            std::int64_t reply = -1;
            const int handled = SendRegisteredMessage(RegisterWindowMessageA("s_wm_VARNEX_CMD"), code, 0,
                                                      windowPid, std::chrono::seconds(5), &reply);
            failures += handled == 1 && reply == 0 ? 0 : 1;
        }
        ::_exit(failures);
    }
    return child;
}

TEST(RegisteredMessageId, IsTheSameForTheSameNameInEveryProcessAndCaseInsensitive) {
    const UINT id = RegisterWindowMessageA("s_wm_VARNEX_CMD");
    EXPECT_EQ(id, g_nVarnexCommandMessage);
    EXPECT_GE(id, 0xC000u);
    EXPECT_LE(id, 0xFFFFu);
    EXPECT_EQ(RegisterWindowMessageA("S_WM_VARNEX_CMD"), id);
    EXPECT_NE(RegisterWindowMessageA("s_wm_VARNEX_CMD2"), id);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

TEST_F(WindowMessages, CodeThreeFromAnotherProcessEndsTheWindowAsOk) {
    const pid_t child = SendFromAnotherProcess({5, 0, 3});
    const INT_PTR result = dialog_.DoModal();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "some sends were not answered with 0";
}

// The window once waited up to 200 ms for each sender that connected and said nothing, one at a time:
// five of them kept a real sender waiting past its half second. Now the real one is answered at once.
TEST_F(WindowMessages, SilentSendersDoNotKeepTheWindowFromAnsweringOthers) {
    const pid_t windowPid = ::getpid();
    const std::string endpoint = runtime_.Path().string() + "/window-" + std::to_string(windowPid) + ".sock";
    const pid_t child = ::fork();
    if (child == 0) {
        ::usleep(300 * 1000); // let the window open its endpoint
        std::vector<int> silent;
        for (int i = 0; i < 5; ++i) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            endpoint.copy(address.sun_path, sizeof address.sun_path - 1);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                ::_exit(2);
            }
            silent.push_back(fd);
        }
        std::int64_t reply = -1;
        const int handled = SendRegisteredMessage(g_nVarnexCommandMessage, kVarnexCommandClose, 0, windowPid,
                                                  std::chrono::milliseconds(500), &reply);
        ::_exit(handled == 1 && reply == 0 ? 0 : 1);
    }
    QTimer::singleShot(5000, &dialog_, [this] { dialog_.EndDialog(IDCANCEL); }); // a failing test ends
    const INT_PTR result = dialog_.DoModal();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(WindowMessages, OtherCodesDoNothingAndReplyZero) {
    RunWindow(dialog_, [&] {
        EXPECT_EQ(dialog_.OnVarnexCommand(2, 3), 0);
        EXPECT_TRUE(dialog_.isVisible());
        EXPECT_EQ(dialog_.OnVarnexCommand(kVarnexCommandClose, 0), 0);
        EXPECT_FALSE(dialog_.isVisible());
    });
}

TEST_F(WindowMessages, AWindowThatClosedTakesNoMoreMessages) {
    RunWindow(dialog_, [] {});
    EXPECT_EQ(
        SendRegisteredMessage(g_nVarnexCommandMessage, 3, 0, ::getpid(), std::chrono::milliseconds(500)), 0);
}

TEST_F(WindowMessages, SystemMenuHasTheWindowCommandsThenTheAboutItem) {
    RunWindow(dialog_, [&] {
        CMenu menu = GetSystemMenu(dialog_);
        ASSERT_TRUE(menu.IsMenu());
        std::vector<UINT> ids;
        for (int i = 0; i < menu.GetMenuItemCount(); ++i) {
            ids.push_back(menu.GetMenuItemID(i));
        }
        EXPECT_EQ(ids, (std::vector<UINT>{SC_RESTORE, SC_MOVE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, 0, SC_CLOSE,
                                          0, IDM_ABOUTBOX}));
        EXPECT_EQ(menu.GetMenuString(menu.GetMenuItemCount() - 1), "&About Varnex...");
    });
}

TEST_F(WindowMessages, AboutCommandsFromTheSystemMenuAndTheHelpMenuOpenTheBox) {
    RunWindow(dialog_, [&] {
        for (UINT nID : {0x0010u, 0x001Fu}) {
            CloseAboutBoxWhenShown();
            dialog_.SendSysCommand(nID);
        }
        CloseAboutBoxWhenShown();
        dialog_.SendCommand(ID_APP_ABOUT);
        EXPECT_EQ(aboutBoxes_, 3);
        EXPECT_TRUE(aboutText_);
        EXPECT_TRUE(dialog_.isVisible());
    });
}

TEST_F(WindowMessages, OtherSystemCommandsKeepTheirNormalEffect) {
    const INT_PTR result = RunWindow(dialog_, [&] {
        CloseAboutBoxWhenShown();
        dialog_.SendSysCommand(0x0020);
        dialog_.SendSysCommand(SC_MAXIMIZE);
        EXPECT_TRUE(dialog_.isMaximized());
        dialog_.SendSysCommand(SC_RESTORE);
        dialog_.SendSysCommand(SC_CLOSE);
    });
    EXPECT_EQ(aboutBoxes_, 0);
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(WindowMessages, WithoutString101TheSystemMenuHasNoAboutItemButHelpStillWorks) {
    const StringTable withoutAbout = {{IDS_ABOUTBOX, ""}};
    const StringTable* previous = AfxSetStringTable(&withoutAbout);
    CVarnexDlg plain;
    plain.m_precursorList.m_Precursors.Add(MakePrecursor(1.0f, 400.0f, "f", 2, 10.0f));
    RunWindow(plain, [&] {
        CMenu menu = GetSystemMenu(plain);
        EXPECT_EQ(menu.GetMenuItemID(menu.GetMenuItemCount() - 1), SC_CLOSE);
        QTimer::singleShot(50, &plain, [&] {
            if (QWidget* modal = QApplication::activeModalWidget();
                modal && modal->objectName() == "aboutBox") {
                ++aboutBoxes_;
                static_cast<QDialog*>(modal)->accept();
            }
        });
        plain.SendCommand(ID_APP_ABOUT);
    });
    AfxSetStringTable(previous);
    EXPECT_EQ(aboutBoxes_, 1);
}

} // namespace
