// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window menu of a dialog with a system menu: Restore, Move, Size, Minimize, Maximize and Close,
// opened with Alt+Space. Each item sends its system command to the dialog (OnSysCommand), as do the items
// the program appends.

#include <string>

#include "platform/Dialog.h"
#include "system/WinTypes.h"

class QMenu;

inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_SEPARATOR = 0x0800;

// A handle on a menu; does not own it.
class CMenu final {
public:
    CMenu() = default;
    explicit CMenu(QMenu* menu) : m_pMenu(menu) {}

    bool IsMenu() const { return m_pMenu != nullptr; }
    // MF_SEPARATOR appends a separator; MF_STRING an item sending nIDNewItem.
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const char* lpszNewItem = nullptr);
    int GetMenuItemCount() const;
    // 0 for a separator.
    UINT GetMenuItemID(int nPos) const;
    std::string GetMenuString(int nPos) const;

private:
    QMenu* m_pMenu = nullptr;
};

// The dialog's window menu, created on first use; an empty handle when the dialog has no system menu.
CMenu GetSystemMenu(CDialog& dialog);
