// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include "outside/LogonTestSupport.h"

#include "outside/DisplayAbout.h"
#include "outside/SecurityApp.h"
#include "platform/MessageBox.h"
#include "support/RegistryTestSupport.h"
#include "support/TestApplication.h"
#include "system/Registry.h"

using varnex::outside::kStartUsersValue;
using varnex::outside::kViewUsersValue;

namespace {

class Logon : public MessageRecordingTest {
protected:
    registry_test::TempStore store_;
};

TEST_F(Logon, BothPhasesAdmitEveryoneByDefault) {
    CSecurityApp app;
    EXPECT_NE(app.InitInstancePart1(0, nullptr), 0);
    EXPECT_NE(app.InitInstancePart2({}), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_TRUE(store_.Contents().empty()) << "the framework only reads the store";
}

TEST_F(Logon, AnEmptyListRestrictsNothing) {
    SetPolicy(kStartUsersValue, " ; , ");
    CSecurityApp app;
    EXPECT_NE(app.InitInstancePart1(0, nullptr), 0);
}

TEST_F(Logon, ListedNamesAreAdmittedWhateverTheSeparatorsAndBlanks) {
    SetPolicy(kStartUsersValue, "alice ;  " + CSecurityApp::CurrentUserName() + " , bob");
    CSecurityApp app;
    EXPECT_NE(app.InitInstancePart1(0, nullptr), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Logon, AnUnlistedUserIsRefusedAndToldWhy) {
    SetPolicy(kViewUsersValue, "alice;bob");
    CSecurityApp app;
    app.m_strAppName = "Varnex";
    EXPECT_NE(app.InitInstancePart1(0, nullptr), 0);
    EXPECT_EQ(app.InitInstancePart2({}), 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(CSecurityApp::CurrentUserName()), std::string::npos);
    EXPECT_NE(messages[0].find("Varnex"), std::string::npos);
    EXPECT_NE(messages[0].find(kViewUsersValue), std::string::npos);
    EXPECT_EQ(app.ExitInstance(), 1);
}

// A list too long for a small read buffer once admitted everyone: the restriction must hold however many
// names an administrator lists.
TEST_F(Logon, ALongListStillRestricts) {
    std::string users;
    for (int i = 0; users.size() < 20000; ++i) {
        users += "someone-else-" + std::to_string(i) + ";";
    }
    SetPolicy(kStartUsersValue, users);
    CSecurityApp app;
    EXPECT_EQ(app.InitInstancePart1(0, nullptr), 0);
    EXPECT_EQ(messages.size(), 1u);

    SetPolicy(kStartUsersValue, users + CSecurityApp::CurrentUserName());
    CSecurityApp admitted;
    EXPECT_NE(admitted.InitInstancePart1(0, nullptr), 0);
}

TEST_F(Logon, NamesAreWholeAndCaseSensitive) {
    const std::string user = CSecurityApp::CurrentUserName();
    SetPolicy(kStartUsersValue,
              user + "x;" + std::string(1, static_cast<char>(std::toupper(user[0]))) + user.substr(1) + "Z");
    CSecurityApp app;
    EXPECT_EQ(app.InitInstancePart1(0, nullptr), 0);
}

TEST(AboutBox, ShowsNameVersionAndLicenceAndReturnsWhenClosed) {
    TestApplication();
    char name[] = "Varnex";
    char extra[] = "Pellicore suite";
    CDisplayAbout about(nullptr, name, extra, 0, nullptr);
    QString text;
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        QDialog* box = about.GetBox();
        ASSERT_NE(box, nullptr);
        wasModal = box->isModal();
        text = box->findChild<QLabel*>("aboutText")->text();
        box->accept();
    });
    about.Show();
    EXPECT_EQ(about.GetBox(), nullptr);
    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(text.contains("Varnex"));
    EXPECT_TRUE(text.contains("Version " VARNEX_TEST_VERSION));
    EXPECT_TRUE(text.contains("Pellicore suite"));
    EXPECT_TRUE(text.contains("GNU General Public License"));
}

} // namespace
