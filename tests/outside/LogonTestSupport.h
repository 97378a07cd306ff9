// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tests of the logon framework and of start-up: a base that answers every message box (recording its
// text) and a way to set the logon policy in the test's store.

#include <string>
#include <vector>

#include <QMessageBox>

#include <gtest/gtest.h>

#include "outside/SecurityApp.h"
#include "platform/MessageBox.h"
#include "support/TestApplication.h"
#include "system/Registry.h"

class MessageRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApplication();
        varnex::platform::SetMessageBoxObserver([this](QMessageBox& box) {
            messages.push_back(box.text().toStdString());
            box.accept();
        });
    }
    void TearDown() override { varnex::platform::SetMessageBoxObserver({}); }

    // Stores the user list `users` as the policy value `valueName`.
    static void SetPolicy(const char* valueName, const std::string& users) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, varnex::outside::kSecurityPolicyKey, &key),
                  ERROR_SUCCESS);
        RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(users.c_str()),
                       static_cast<DWORD>(users.size() + 1));
        RegCloseKey(key);
    }

    std::vector<std::string> messages;
};
