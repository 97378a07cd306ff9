// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CSecurityApp: the logon framework's application base. A program calls InitInstancePart1 before it
// does anything and InitInstancePart2 before it shows its data; a zero result from either means the
// user may not go on, and the framework has already told the user why.
//
// Policy: by default everyone may use the program. An administrator restricts it with two values under
// HKEY_LOCAL_MACHINE\SOFTWARE\Pellicore\Security in the settings store, each a list of user names
// separated by ";" (or ","; blanks around names are ignored):
//   StartUsers - who may start the program (phase 1);
//   ViewUsers  - who may see the data once it is loaded (phase 2).
// A value that is missing or holds no names restricts nothing. The framework only reads the store.

#include <cstdint>
#include <string>

#include "platform/WinApp.h"

// How a caller overrides the framework's logon dialog; all zero means no override.
struct tagOVERIDE_LOGIN_CALLBACK_STRUCT {
    std::uint32_t dwFlags = 0;
    std::uint32_t dwCallback = 0;
};
static_assert(sizeof(tagOVERIDE_LOGIN_CALLBACK_STRUCT) == 8);

namespace varnex::outside {

inline constexpr const char* kSecurityPolicyKey = "SOFTWARE\\Pellicore\\Security";
inline constexpr const char* kStartUsersValue = "StartUsers";
inline constexpr const char* kViewUsersValue = "ViewUsers";

} // namespace varnex::outside

class CSecurityApp : public CWinApp {
public:
    CSecurityApp();
    ~CSecurityApp() override;

    // nReserved and pDocManager are accepted for the callers' sake; the program passes 0 and null.
    int InitInstancePart1(int nReserved, CDocManager* pDocManager);
    int InitInstancePart2(tagOVERIDE_LOGIN_CALLBACK_STRUCT override);
    // 0 when the user was admitted by every phase that ran, 1 after a refusal.
    int ExitInstance() override;
    virtual void SetDocumentManager(CDocManager* pDocManager);

    // The name the policy is checked against: the account of the effective user id.
    static std::string CurrentUserName();

private:
    // Checks one policy value; tells a refused user why.
    bool Admit(const char* valueName, const char* what);

    bool m_refused = false;
    CDocManager* m_docManager = nullptr;
};
