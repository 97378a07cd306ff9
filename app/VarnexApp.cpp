// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/VarnexApp.h"

#include "platform/MessageBox.h"
#include "ui/VarnexDlg.h"

using varnex::ui::kNoPrecursorsMessage;

CVarnexApp theApp;

BOOL CVarnexApp::InitInstance() {
    if (InitInstancePart1(0, nullptr) == 0) {
        return FALSE;
    }

    CCommandLineInfo cmdInfo;
    ParseCommandLine(cmdInfo);

    CVarnexDlg dlg(nullptr);
    dlg.LoadRawData(cmdInfo.m_strFileName);
    if (!(dlg.GetPrecursorCount() > 0)) {
        dlg.ReportUnreadableDataSet(cmdInfo.m_strFileName);
        AfxMessageBox(kNoPrecursorsMessage, 0, 0);
        return FALSE;
    }

    // Phase 2 may look at the main window object, whose window does not exist yet.
    m_pMainWnd = &dlg;
    const tagOVERIDE_LOGIN_CALLBACK_STRUCT noOverride{};
    if (InitInstancePart2(noOverride) == 0) {
        m_pMainWnd = nullptr;
        return FALSE;
    }
    dlg.DoModal();
    return FALSE;
}

BOOL CVarnexApp::OnCmdMsg(UINT nID) {
    if (nID == ID_HELP) {
        CWinApp::OnHelp();
        return TRUE;
    }
    return CWinApp::OnCmdMsg(nID);
}
