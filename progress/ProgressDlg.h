// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The progress dialog: builds a precursor list on a worker thread while the user-interface thread shows
// "Creating Precursor List . . ." and polls the worker every 500 ms. RunProgressDialog returns only
// after the worker has ended, so the list is complete and no longer touched by any other thread when
// its caller reads it: the worker's end, seen through GetExitCodeThread, is the hand-over.

#include <memory>

#include "platform/Dialog.h"
#include "system/WinThread.h"

class CPrecursorList;
namespace Ui {
class ProgressDlg;
}

// The worker: builds the list pParam points to. Returns 0, or -1 (all bits set) for a null list.
UINT BuildThreadProc(LPVOID pParam);

class CProgressDlg : public CDialog {
public:
    static constexpr UINT IDD = 134;
    static constexpr UINT_PTR kPollTimerId = 1;
    static constexpr UINT kPollPeriodMs = 500;

    // pfnWorker is what the dialog waits for; the program always builds the list with BuildThreadProc.
    explicit CProgressDlg(QWidget* pParent = nullptr, AFX_THREADPROC pfnWorker = BuildThreadProc);
    ~CProgressDlg() override;

    CPrecursorList* m_pPrecursorList = nullptr; // not owned; the worker's parameter
    CWinThread* m_pThread = nullptr;            // owned from OnInitDialog until the tick that ends

    // Enter and Escape: the dialog ends only when the worker has, or the list would be read while the
    // worker still fills it.
    void OnOK() override;
    void OnCancel() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnTimer(UINT_PTR nIDEvent) override;

private:
    std::unique_ptr<Ui::ProgressDlg> m_ui;
    AFX_THREADPROC m_worker;
};

// Builds the list behind the progress dialog and returns when the build is over.
void RunProgressDialog(CPrecursorList* pPrecursorList);
