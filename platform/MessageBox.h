// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// AfxMessageBox: the framework's modal message box, titled with the application's display name.
//
// A process may install an observer that is called with each box once its modal loop runs (before the
// user can act on it). Tests use it to read the box and press one of its buttons; the box itself runs
// exactly as for a user.

#include <functional>

#include "system/WinTypes.h"

class QMessageBox;

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONEXCLAMATION = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;

// Returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO). A box without an icon in nType gets the
// exclamation icon. nIDHelp is accepted for the callers' sake; there is no help file.
int AfxMessageBox(const char* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

namespace varnex::platform {

using MessageBoxObserver = std::function<void(QMessageBox& box)>;
// Installs `observer` (empty: none) and returns the previous one.
MessageBoxObserver SetMessageBoxObserver(MessageBoxObserver observer);

} // namespace varnex::platform
