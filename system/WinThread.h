// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Worker threads in the application framework's manner, over std::thread.
//
// AfxBeginThread creates a CWinThread whose thread runs pfnThreadProc(pParam). With CREATE_SUSPENDED the
// thread does not start the procedure until ResumeThread. While the procedure runs,
// GetExitCodeThread reports STILL_ACTIVE; afterwards the procedure's result. The thread object owns the
// handle m_hThread and releases it in its destructor, once.
//
// m_bAutoDelete (default TRUE) is read when the thread is resumed, so it must be settled before then. When it
// is TRUE the thread deletes its CWinThread when the procedure returns; when FALSE the owner deletes it, at
// any time: deleting it while the thread still runs only gives up the handle, and the thread finishes on its
// own. A thread deleted before it was ever resumed ends without running the procedure.
//
// Thread handles are private to this module: use GetExitCodeThread and ResumeThread on them, and let
// the CWinThread close them. A handle that was closed is refused (FALSE / 0xFFFFFFFF), not reused.

#include "system/WinTypes.h"

using AFX_THREADPROC = UINT (*)(LPVOID pParam);
using LPSECURITY_ATTRIBUTES = void*;

inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr DWORD CREATE_SUSPENDED = 4;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;

class CWinThread {
public:
    CWinThread();
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    DWORD ResumeThread();

    BOOL m_bAutoDelete = TRUE;
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
};

// Returns null when the thread cannot be created (no procedure, security attributes given, or the
// system refuses another thread). nPriority and nStackSize are accepted for the callers' sake; threads run
// at normal priority with the platform's default stack.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

// The previous suspend count (1 for a thread created suspended, 0 once running), or 0xFFFFFFFF for an
// invalid handle.
DWORD ResumeThread(HANDLE hThread);
// FALSE for an invalid handle; otherwise TRUE with STILL_ACTIVE or the procedure's result in *lpExitCode.
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

namespace varnex::system {

// Diagnostics: thread objects alive and thread handles open in this process.
int LiveThreadObjectCount();
int OpenThreadHandleCount();

} // namespace varnex::system
