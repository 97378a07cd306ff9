// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/WinThread.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace {

// What the thread and its handle share; the handle may go before the thread ends, and the reverse.
struct ThreadState {
    std::mutex mutex;
    std::condition_variable resumed;
    DWORD suspendCount = 0;
    bool abandoned = false; // the handle was closed before the thread ever ran
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    CWinThread* object = nullptr; // null once the object is gone
    bool autoDelete = false;      // the object's m_bAutoDelete as it stood when the thread was resumed
};

std::atomic<int> liveThreadObjects{0};
std::atomic<DWORD> nextThreadId{1};

// Open handles, so that a stale or foreign handle is refused rather than followed.
class HandleTable final {
public:
    HANDLE Open(std::shared_ptr<ThreadState> state) {
        const std::lock_guard lock(mutex_);
        auto* key = state.get();
        table_.emplace(key, std::move(state));
        return key;
    }
    std::shared_ptr<ThreadState> Find(HANDLE handle) {
        const std::lock_guard lock(mutex_);
        const auto it = table_.find(handle);
        return it != table_.end() ? it->second : nullptr;
    }
    std::shared_ptr<ThreadState> Close(HANDLE handle) {
        const std::lock_guard lock(mutex_);
        const auto it = table_.find(handle);
        if (it == table_.end()) {
            return nullptr;
        }
        auto state = std::move(it->second);
        table_.erase(it);
        return state;
    }
    int Size() {
        const std::lock_guard lock(mutex_);
        return static_cast<int>(table_.size());
    }

private:
    std::mutex mutex_;
    std::unordered_map<HANDLE, std::shared_ptr<ThreadState>> table_;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

void CloseThreadHandle(HANDLE handle) {
    const std::shared_ptr<ThreadState> state = Handles().Close(handle);
    if (state == nullptr) {
        return;
    }
    const std::lock_guard lock(state->mutex);
    state->object = nullptr;
    if (state->suspendCount > 0) {
        // Nobody can resume it any more: let it end without running the procedure.
        state->abandoned = true;
        state->suspendCount = 0;
        state->resumed.notify_all();
    }
}

void ThreadMain(std::shared_ptr<ThreadState> state, AFX_THREADPROC proc, LPVOID param) {
    {
        std::unique_lock lock(state->mutex);
        state->resumed.wait(lock, [&] { return state->suspendCount == 0; });
        if (state->abandoned) {
            state->finished = true;
            return;
        }
    }
    const UINT exitCode = proc(param);
    CWinThread* toDelete = nullptr;
    {
        const std::lock_guard lock(state->mutex);
        state->exitCode = exitCode;
        state->finished = true;
        toDelete = state->autoDelete ? state->object : nullptr;
    }
    delete toDelete;
}

} // namespace

CWinThread::CWinThread() {
    ++liveThreadObjects;
}

CWinThread::~CWinThread() {
    if (m_hThread != nullptr) {
        CloseThreadHandle(m_hThread);
        m_hThread = nullptr;
    }
    --liveThreadObjects;
}

DWORD CWinThread::ResumeThread() {
    return ::ResumeThread(m_hThread);
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int, UINT, DWORD dwCreateFlags,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (pfnThreadProc == nullptr || lpSecurityAttrs != nullptr) {
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>();
    // Always start held: the thread must not read the object before AfxBeginThread has finished it.
    state->suspendCount = 1;
    auto* thread = new CWinThread;
    state->object = thread;
    thread->m_hThread = Handles().Open(state);
    thread->m_nThreadID = nextThreadId++;
    try {
        std::thread(ThreadMain, state, pfnThreadProc, pParam).detach();
    } catch (const std::system_error&) {
        delete thread;
        return nullptr;
    }
    if ((dwCreateFlags & CREATE_SUSPENDED) == 0) {
        ::ResumeThread(thread->m_hThread);
    }
    return thread;
}

DWORD ResumeThread(HANDLE hThread) {
    const std::shared_ptr<ThreadState> state = Handles().Find(hThread);
    if (state == nullptr) {
        return 0xFFFFFFFF;
    }
    const std::lock_guard lock(state->mutex);
    const DWORD previous = state->suspendCount;
    if (state->suspendCount > 0 && --state->suspendCount == 0) {
        // Read here, by the resumer who holds the object: once running, the thread never touches it,
        // so an owner without auto-delete may delete it at any time.
        state->autoDelete = state->object != nullptr && state->object->m_bAutoDelete;
        state->resumed.notify_all();
    }
    return previous;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    const std::shared_ptr<ThreadState> state = Handles().Find(hThread);
    if (state == nullptr || lpExitCode == nullptr) {
        return FALSE;
    }
    // The lock also hands over everything the procedure wrote before it returned.
    const std::lock_guard lock(state->mutex);
    *lpExitCode = state->finished ? state->exitCode : STILL_ACTIVE;
    return TRUE;
}

namespace varnex::system {

int LiveThreadObjectCount() {
    return liveThreadObjects.load();
}

int OpenThreadHandleCount() {
    return Handles().Size();
}

} // namespace varnex::system
