// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/ProgressDlg.h"

#include "ui_progress.h"

#include "model/PrecursorList.h"

UINT BuildThreadProc(LPVOID pParam) {
    auto* precursorList = static_cast<CPrecursorList*>(pParam);
    if (precursorList == nullptr) {
        return static_cast<UINT>(-1);
    }
    precursorList->CreatePrecursorList();
    return 0;
}

CProgressDlg::CProgressDlg(QWidget* pParent, AFX_THREADPROC pfnWorker)
    : CDialog(IDD, pParent), m_ui(std::make_unique<Ui::ProgressDlg>()), m_worker(pfnWorker) {
    LoadTemplate(*m_ui);
}

// The thread object is released by the tick that ends the dialog, never here.
CProgressDlg::~CProgressDlg() = default;

void CProgressDlg::OnOK() {}

void CProgressDlg::OnCancel() {}

void CProgressDlg::DoDataExchange(CDataExchange*) {}

BOOL CProgressDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_pThread =
        AfxBeginThread(m_worker, m_pPrecursorList, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
    if (m_pThread != nullptr) {
        // While it is suspended: the object and its handle must outlive the thread until a tick has seen
        // it end, however quickly the worker finishes.
        m_pThread->m_bAutoDelete = FALSE;
        ::ResumeThread(m_pThread->m_hThread);
    }
    SetTimer(kPollTimerId, kPollPeriodMs, nullptr);
    return TRUE;
}

void CProgressDlg::OnTimer(UINT_PTR nIDEvent) {
    DWORD exitCode = STILL_ACTIVE;
    BOOL queried = FALSE;
    if (m_pThread != nullptr) {
        queried = GetExitCodeThread(m_pThread->m_hThread, &exitCode);
    }
    Default();
    if (exitCode == STILL_ACTIVE && queried) {
        return;
    }
    KillTimer(nIDEvent);
    delete m_pThread;
    m_pThread = nullptr;
    EndDialog(0);
}

void RunProgressDialog(CPrecursorList* pPrecursorList) {
    CProgressDlg dialog;
    dialog.m_pPrecursorList = pPrecursorList;
    dialog.DoModal();
}
