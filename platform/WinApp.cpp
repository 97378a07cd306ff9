// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/WinApp.h"

#include <string>
#include <utility>
#include <vector>

#include <QApplication>

namespace {

CWinApp*& CurrentApp() {
    static CWinApp* app = nullptr;
    return app;
}

const StringTable*& CurrentStrings() {
    static const StringTable* table = nullptr;
    return table;
}

} // namespace

AFX_MODULE_STATE* AfxGetModuleState() {
    static AFX_MODULE_STATE state;
    state.m_hCurrentResourceHandle = const_cast<StringTable*>(CurrentStrings());
    return &state;
}

const StringTable* AfxSetStringTable(const StringTable* table) {
    return std::exchange(CurrentStrings(), table);
}

std::string AfxLoadString(UINT nID) {
    const StringTable* table = CurrentStrings();
    if (table == nullptr) {
        return {};
    }
    const auto it = table->find(nID);
    return it != table->end() ? it->second : std::string();
}

CCommandLineInfo::~CCommandLineInfo() = default;

void CCommandLineInfo::ParseParam(const char* pszParam, BOOL bFlag, BOOL) {
    if (!bFlag && m_strFileName.empty() && pszParam != nullptr) {
        m_strFileName = pszParam;
    }
}

CWinApp::CWinApp(const char* lpszAppName) : m_strAppName(lpszAppName != nullptr ? lpszAppName : "") {
    CurrentApp() = this;
    CDialog::SetCommandFallback([](CDialog&, UINT nID) -> BOOL {
        CWinApp* app = AfxGetApp();
        return app != nullptr ? app->OnCmdMsg(nID) : FALSE;
    });
}

CWinApp::~CWinApp() {
    if (CurrentApp() == this) {
        CurrentApp() = nullptr;
        CDialog::SetCommandFallback({});
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return 0;
}

BOOL CWinApp::OnCmdMsg(UINT nID) {
    switch (nID) {
    case ID_APP_EXIT:
        OnAppExit();
        return TRUE;
    default:
        return FALSE;
    }
}

void CWinApp::ParseCommandLine(CCommandLineInfo& rCmdInfo) {
    bool flagsEnded = false;
    for (std::size_t i = 1; i < m_arguments.size(); ++i) {
        const std::string& parameter = m_arguments[i];
        const BOOL bLast = i + 1 == m_arguments.size();
        if (!flagsEnded && parameter == "--") {
            flagsEnded = true;
            continue;
        }
        const bool isFlag = !flagsEnded && parameter.size() > 1 && parameter[0] == '-';
        rCmdInfo.ParseParam(isFlag ? parameter.c_str() + 1 : parameter.c_str(), isFlag, bLast);
    }
}

// There is no help file: the command is accepted and nothing opens.
void CWinApp::OnHelp() {}

// The framework's exit closes the main window, which ends it as its close box does.
void CWinApp::OnAppExit() {
    if (m_pMainWnd) {
        m_pMainWnd->close();
    }
}

CWinApp* AfxGetApp() {
    return CurrentApp();
}

int AfxWinMain(int argc, char* argv[]) {
    // The program's command line is the one it was given: Qt removes the options it knows together with
    // their values (-style NAME, -title TEXT), so it parses a copy of its own.
    std::vector<std::string> arguments(argv, argv + argc);
    std::vector<std::string> qtArguments = arguments;
    std::vector<char*> qtArgv;
    for (std::string& argument : qtArguments) {
        qtArgv.push_back(argument.data());
    }
    qtArgv.push_back(nullptr);
    int qtArgc = argc;
    QApplication application(qtArgc, qtArgv.data());
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    if (app->m_strAppName.empty()) {
        app->m_strAppName = AfxLoadString(AFX_IDS_APP_TITLE);
    }
    QApplication::setApplicationDisplayName(QString::fromStdString(app->m_strAppName));
    app->SetCommandLine(std::move(arguments));
    if (app->InitInstance()) {
        QApplication::exec();
    }
    return app->ExitInstance();
}
