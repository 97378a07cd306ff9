// SPDX-License-Identifier: GPL-3.0-or-later
#include "outside/SecurityApp.h"

#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "platform/MessageBox.h"
#include "system/Registry.h"

using varnex::outside::kSecurityPolicyKey;
using varnex::outside::kStartUsersValue;
using varnex::outside::kViewUsersValue;

namespace {

// The value's names, or nothing when the value is missing, unreadable or empty.
std::vector<std::string> ReadUserList(const char* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSecurityPolicyKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return {};
    }
    // Sized to the value: a list too long for a fixed buffer must still restrict, not admit everyone.
    DWORD size = 0;
    LONG result = RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size);
    std::vector<BYTE> buffer(size);
    if (result == ERROR_SUCCESS) {
        result = RegQueryValueExA(key, valueName, nullptr, nullptr, buffer.data(), &size);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        return {};
    }
    std::vector<std::string> names;
    std::string current;
    auto finishName = [&] {
        const auto first = current.find_first_not_of(" \t");
        if (first != std::string::npos) {
            names.push_back(current.substr(first, current.find_last_not_of(" \t") - first + 1));
        }
        current.clear();
    };
    for (DWORD i = 0; i < size && i < buffer.size(); ++i) {
        const char c = static_cast<char>(buffer[i]);
        if (c == ';' || c == ',' || c == '\0' || c == '\n') {
            finishName();
        } else {
            current += c;
        }
    }
    finishName();
    return names;
}

} // namespace

CSecurityApp::CSecurityApp() = default;

CSecurityApp::~CSecurityApp() = default;

std::string CSecurityApp::CurrentUserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return "uid " + std::to_string(geteuid());
}

bool CSecurityApp::Admit(const char* valueName, const char* what) {
    const std::vector<std::string> allowed = ReadUserList(valueName);
    if (allowed.empty()) {
        return true;
    }
    const std::string user = CurrentUserName();
    for (const std::string& name : allowed) {
        if (name == user) {
            return true;
        }
    }
    m_refused = true;
    const std::string program = m_strAppName.empty() ? std::string("this program") : m_strAppName;
    const std::string message = "The user \"" + user + "\" may not " + what + " " + program +
                                ".\n\nAn administrator admits users by adding their names to the value " +
                                valueName + " under HKEY_LOCAL_MACHINE\\" + kSecurityPolicyKey + ".";
    AfxMessageBox(message.c_str(), MB_OK | MB_ICONERROR);
    return false;
}

int CSecurityApp::InitInstancePart1(int, CDocManager* pDocManager) {
    m_docManager = pDocManager;
    return Admit(kStartUsersValue, "start") ? 1 : 0;
}

int CSecurityApp::InitInstancePart2(tagOVERIDE_LOGIN_CALLBACK_STRUCT) {
    return Admit(kViewUsersValue, "view data in") ? 1 : 0;
}

int CSecurityApp::ExitInstance() {
    CWinApp::ExitInstance();
    return m_refused ? 1 : 0;
}

void CSecurityApp::SetDocumentManager(CDocManager* pDocManager) {
    m_docManager = pDocManager;
}
