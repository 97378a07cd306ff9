// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Resource and command numbers of the precursor list window, and the program's string table.

#include "platform/WinApp.h"
#include "system/WinTypes.h"

inline constexpr UINT IDD_VARNEX_DIALOG = 102;     // the list window's template
inline constexpr UINT IDR_MAINFRAME = 128;         // the program icon
inline constexpr UINT IDR_MENU = 129;              // the list window's menu bar
inline constexpr UINT IDS_ABOUTBOX = 101;          // "&About Varnex..."
inline constexpr int IDC_PRECURSOR_LIST = 1000;    // the list view
inline constexpr UINT ID_DISPLAY_OPTIONS = 32771;  // Display > Options...
inline constexpr UINT ID_FILE_EXPORT = 32772;      // File > Export...
inline constexpr UINT ID_DISPLAY_FILTER = 32773;   // Display > Filter...
inline constexpr UINT ID_DISPLAY_SHOW_ALL = 32774; // Display > Show All
inline constexpr UINT ID_FILE_OPEN = 57601;        // File > Open...
inline constexpr UINT ID_EDIT_COPY = 57634;        // Edit > Copy
inline constexpr UINT IDM_ABOUTBOX = 0x0010;       // the About item of the system menu

namespace varnex::ui {

// Shown when a data set yields no precursors, at start-up and when one is opened from the window.
inline constexpr const char* kNoPrecursorsMessage = "There are no Precursors to Display";

// The program's strings, keyed by id.
const StringTable& VarnexStringTable();
// Makes them the module's strings unless another table (a translation) was installed first.
void RegisterVarnexStrings();

} // namespace varnex::ui
