// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CWinApp: the framework's application object, which the logon framework's CSecurityApp and through it
// the program's application class derive from. There is one per process; AfxGetApp() returns it.
//
// AfxWinMain() is the entry point: it creates the Qt application, calls InitInstance() and, when that
// returns FALSE (the program's windows are all modal, so it always does), ExitInstance(), whose result
// is the exit code. Commands that no dialog handles reach the application's command map, OnCmdMsg():
// ID_APP_EXIT closes the main window, ID_HELP goes to OnHelp().

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <QPointer>

#include "platform/Dialog.h"
#include "system/WinTypes.h"

class QWidget;
class CDocManager; // the program has no documents; only passed as null

using HWND = QWidget*;
using HINSTANCE = void*;

// The resources of the running module. There is one module, so one state.
struct AFX_MODULE_STATE {
    HINSTANCE m_hCurrentResourceHandle = nullptr;
};
AFX_MODULE_STATE* AfxGetModuleState();

// The module's string resources: the program registers its table once; a translation may replace it.
using StringTable = std::map<UINT, std::string>;
inline constexpr UINT AFX_IDS_APP_TITLE = 0xE000;
// Returns the previous table. The table must outlive its use.
const StringTable* AfxSetStringTable(const StringTable* table);
// Empty when there is no such string.
std::string AfxLoadString(UINT nID);

class CCommandLineInfo {
public:
    CCommandLineInfo() = default;
    virtual ~CCommandLineInfo();

    // Called once per parameter, flags without their leading "-". Only the first parameter that is not
    // a flag is kept, as the file name.
    virtual void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast);

    std::string m_strFileName;
};

class CWinApp {
public:
    explicit CWinApp(const char* lpszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // The application's command map; TRUE when the command was handled.
    virtual BOOL OnCmdMsg(UINT nID);

    // A parameter is a flag when it begins with "-" (not "/": that begins an absolute path here);
    // after "--" every parameter is a file name.
    void ParseCommandLine(CCommandLineInfo& rCmdInfo);
    // The process's arguments, the program name first. Set by AfxWinMain.
    void SetCommandLine(std::vector<std::string> arguments) { m_arguments = std::move(arguments); }

    void OnHelp();
    void OnAppExit();

    std::string m_strAppName;
    // The main window: set by the program, and null again once that window object is gone.
    QPointer<CDialog> m_pMainWnd;

private:
    std::vector<std::string> m_arguments;
};

CWinApp* AfxGetApp();

// Runs the application object: InitInstance, the message loop if InitInstance returned TRUE, then
// ExitInstance. Returns the exit code.
int AfxWinMain(int argc, char* argv[]);
