// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Windows event objects for POSIX. A named event is a small file in the runtime directory, mapped by every
// process that holds a handle on it and holding a process-shared semaphore (its name carries a hash of the
// runtime directory and of the full event name, so test runs with their own VARNEX_RUNTIME_DIR do not
// meet). As on Windows, CreateEventA creates the event or opens the one that exists and then reports
// ERROR_ALREADY_EXISTS, the creator's reset mode holds for every handle, and the event ends with its last
// handle in any process: the last CloseHandle removes the file, and handles still open when a process
// exits are closed then. Who holds a handle is tracked with open-file-description locks on the file,
// which the kernel releases when a process dies, so the file of a killed program counts as no event and
// is replaced by the next create of that name. Nothing outside the runtime directory is used.

#include "system/WinTypes.h"

using LPSECURITY_ATTRIBUTES = void*;

#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0UL
#endif
#ifndef ERROR_PATH_NOT_FOUND
#define ERROR_PATH_NOT_FOUND 3UL
#endif
#ifndef ERROR_ACCESS_DENIED
#define ERROR_ACCESS_DENIED 5UL
#endif
#ifndef ERROR_INVALID_HANDLE
#define ERROR_INVALID_HANDLE 6UL
#endif
#ifndef ERROR_INVALID_NAME
#define ERROR_INVALID_NAME 123UL
#endif
#ifndef ERROR_ALREADY_EXISTS
#define ERROR_ALREADY_EXISTS 183UL
#endif
#ifndef INFINITE
#define INFINITE 0xFFFFFFFFUL
#endif
#ifndef WAIT_OBJECT_0
#define WAIT_OBJECT_0 0UL
#endif
#ifndef WAIT_TIMEOUT
#define WAIT_TIMEOUT 258UL
#endif
#ifndef WAIT_FAILED
#define WAIT_FAILED 0xFFFFFFFFUL
#endif

// Security attributes are not supported and must be null. lpName null gives an unnamed event. Returns
// null on failure (GetLastError says why).
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// WAIT_OBJECT_0 when signalled (an automatic-reset event is reset by the wait), WAIT_TIMEOUT after
// dwMilliseconds, WAIT_FAILED for an invalid handle.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
// Closes an event handle; the event ends with its last handle in any process.
BOOL CloseHandle(HANDLE hObject);
// The error code of this thread's last failing call, or ERROR_ALREADY_EXISTS after CreateEventA opened an
// existing event.
DWORD GetLastError();
