// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/NamedEvent.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/RuntimeDirectory.h"

using varnex::system::VarnexRuntimeDirectory;

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// Byte ranges of an event's file double as its locks: the guard serialises create, open, close and the
// "post if not signalled" step; every open handle holds a shared lock on the holder byte.
constexpr off_t kGuardByte = 0;
constexpr off_t kHolderByte = 1;
constexpr char kManualResetMark = 'm';
constexpr char kAutoResetMark = 'a';
// Each attempt loses only to a last holder removing the file, or to a file left by a killed process.
constexpr int kCreateAttempts = 64;

// The event's file as every holder maps it.
struct SharedEvent {
    char resetMark; // the creator's reset mode
    sem_t semaphore;
};

bool LockByte(int fd, short type, off_t byte, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

class GuardLock final {
public:
    explicit GuardLock(int fd) : fd_(fd), held_(LockByte(fd, F_WRLCK, kGuardByte, true)) {}
    ~GuardLock() {
        if (held_) {
            LockByte(fd_, F_UNLCK, kGuardByte, false);
        }
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
    bool Held() const { return held_; }

private:
    int fd_;
    bool held_;
};

// True while `path` still names the open file: its last holder may have removed it (or a create replaced
// it) between our open and our guard lock.
bool PathNamesFile(const std::string& path, int fd) {
    struct stat atPath {};
    struct stat opened {};
    return ::lstat(path.c_str(), &atPath) == 0 && ::fstat(fd, &opened) == 0 &&
           atPath.st_dev == opened.st_dev && atPath.st_ino == opened.st_ino;
}

std::uint64_t Fnv1a(std::string_view text, std::uint64_t hash = 0xcbf29ce484222325ULL) {
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// "<readable part>-<hash>": the readable part for someone looking into the directory, the hash of the
// runtime directory and the full name for uniqueness. Fits a file name however long the name is.
std::string ObjectStem(const std::string& runtimeDirectory, std::string_view name) {
    std::string readable;
    for (const char c : name.substr(0, 64)) {
        const auto byte = static_cast<unsigned char>(c);
        readable.push_back(byte > 0x20 && byte < 0x7F && c != '/' ? c : '_');
    }
    const std::uint64_t hash = Fnv1a(name, Fnv1a(runtimeDirectory + '\0'));
    char hex[17];
    std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(hash));
    return readable + "-" + hex;
}

struct EventObject {
    ~EventObject() {
        if (shared != nullptr) {
            ::munmap(shared, sizeof(SharedEvent));
        }
        if (localInitialised) {
            ::sem_destroy(&local);
        }
        if (fileFd >= 0) {
            ::close(fileFd);
        }
    }

    sem_t* Semaphore() { return shared != nullptr ? &shared->semaphore : &local; }

    // Raises the count to one unless it is one already: an event is signalled or not, never twice.
    void PostIfNotSignalled() {
        std::unique_lock<std::mutex> localGuard(localMutex, std::defer_lock);
        std::unique_ptr<GuardLock> fileGuard;
        if (fileFd >= 0) {
            fileGuard = std::make_unique<GuardLock>(fileFd);
        } else {
            localGuard.lock();
        }
        int value = 0;
        if (::sem_getvalue(Semaphore(), &value) == 0 && value <= 0) {
            ::sem_post(Semaphore());
        }
    }

    // Gives up this handle's hold on a named event; the last hold anywhere removes the event's file.
    void ReleaseHold() {
        if (fileFd < 0) {
            return;
        }
        GuardLock guard(fileFd);
        LockByte(fileFd, F_UNLCK, kHolderByte, false);
        if (guard.Held() && LockByte(fileFd, F_WRLCK, kHolderByte, false)) {
            if (PathNamesFile(path, fileFd)) {
                ::unlink(path.c_str());
            }
            LockByte(fileFd, F_UNLCK, kHolderByte, false);
        }
    }

    bool manualReset = false;
    SharedEvent* shared = nullptr;
    sem_t local{};
    bool localInitialised = false;
    std::mutex localMutex;
    int fileFd = -1;
    std::string path;
    pid_t ownerProcess = ::getpid(); // a forked child inherits the table, not the handles
};

// Handles are looked up here, so a stale or foreign handle fails cleanly instead of being dereferenced,
// and a wait in progress keeps its event alive when another thread closes the handle.
struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<EventObject>> events;
};

// Handles still open at exit are closed then, as the platform closes a process's handles when it ends.
void CloseHandlesAtExit();

HandleTable& Handles() {
    // Never destroyed: a static object's destructor may still close a handle after this one's exit step.
    static HandleTable* const table = [] {
        auto* made = new HandleTable;
        std::atexit(CloseHandlesAtExit);
        return made;
    }();
    return *table;
}

void CloseHandlesAtExit() {
    std::unordered_map<HANDLE, std::shared_ptr<EventObject>> open;
    {
        HandleTable& table = Handles();
        std::lock_guard<std::mutex> lock(table.mutex);
        open.swap(table.events);
    }
    for (const auto& [handle, event] : open) {
        if (event->ownerProcess == ::getpid()) {
            event->ReleaseHold();
        }
    }
}

HANDLE Register(std::shared_ptr<EventObject> event) {
    HANDLE handle = event.get();
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.events.emplace(handle, std::move(event));
    return handle;
}

std::shared_ptr<EventObject> Lookup(HANDLE handle) {
    HandleTable& table = Handles();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto found = table.events.find(handle);
    if (found == table.events.end()) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return found->second;
}

HANDLE Fail(DWORD error) {
    lastError = error;
    return nullptr;
}

HANDLE CreateNamedEvent(bool manualReset, bool initialState, std::string_view name) {
    const std::string directory = VarnexRuntimeDirectory();
    if (directory.empty()) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    const std::string path = directory + "/event-" + ObjectStem(directory, name);

    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        auto event = std::make_shared<EventObject>();
        event->path = path;
        event->fileFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (event->fileFd < 0) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        struct stat info {};
        if (::fstat(event->fileFd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            return Fail(ERROR_ACCESS_DENIED);
        }

        GuardLock guard(event->fileFd);
        if (!guard.Held()) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        if (!PathNamesFile(path, event->fileFd)) {
            continue; // its last holder removed it meanwhile
        }
        if (::fstat(event->fileFd, &info) != 0) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        const bool exists = !LockByte(event->fileFd, F_WRLCK, kHolderByte, false);
        if (!exists && info.st_size != 0) {
            // Left by a process that was killed with a handle open: start a fresh file rather than
            // reset this one under a thread that may still wait on it.
            ::unlink(path.c_str());
            continue;
        }
        if (exists ? info.st_size < static_cast<off_t>(sizeof(SharedEvent))
                   : ::ftruncate(event->fileFd, sizeof(SharedEvent)) != 0) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        void* mapping =
            ::mmap(nullptr, sizeof(SharedEvent), PROT_READ | PROT_WRITE, MAP_SHARED, event->fileFd, 0);
        if (mapping == MAP_FAILED) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        event->shared = static_cast<SharedEvent*>(mapping);
        if (exists) {
            event->manualReset = event->shared->resetMark == kManualResetMark;
        } else {
            if (::sem_init(&event->shared->semaphore, 1, initialState ? 1U : 0U) != 0) {
                return Fail(ERROR_ACCESS_DENIED);
            }
            event->shared->resetMark = manualReset ? kManualResetMark : kAutoResetMark;
            event->manualReset = manualReset;
        }
        // A creator turns its exclusive hold into a shared one.
        if (!LockByte(event->fileFd, F_RDLCK, kHolderByte, false)) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        lastError = exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
        return Register(std::move(event));
    }
    return Fail(ERROR_ACCESS_DENIED);
}

} // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
    if (lpEventAttributes) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (lpName && *lpName) {
        return CreateNamedEvent(bManualReset != FALSE, bInitialState != FALSE, lpName);
    }
    auto event = std::make_shared<EventObject>();
    if (::sem_init(&event->local, 0, bInitialState ? 1U : 0U) != 0) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    event->localInitialised = true;
    event->manualReset = bManualReset != FALSE;
    lastError = ERROR_SUCCESS;
    return Register(std::move(event));
}

BOOL SetEvent(HANDLE hEvent) {
    const auto event = Lookup(hEvent);
    if (!event) {
        return FALSE;
    }
    event->PostIfNotSignalled();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    const auto event = Lookup(hEvent);
    if (!event) {
        return FALSE;
    }
    while (::sem_trywait(event->Semaphore()) == 0) {
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    const auto event = Lookup(hHandle);
    if (!event) {
        return WAIT_FAILED;
    }
    int result = 0;
    if (dwMilliseconds == INFINITE) {
        while ((result = ::sem_wait(event->Semaphore())) != 0 && errno == EINTR) {
        }
    } else {
        timespec deadline{};
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += static_cast<time_t>(dwMilliseconds / 1000);
        deadline.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        while ((result = ::sem_clockwait(event->Semaphore(), CLOCK_MONOTONIC, &deadline)) != 0 &&
               errno == EINTR) {
        }
    }
    if (result != 0) {
        if (errno == ETIMEDOUT) {
            return WAIT_TIMEOUT;
        }
        lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    // A manual-reset event stays signalled for every waiter until ResetEvent.
    if (event->manualReset) {
        event->PostIfNotSignalled();
    }
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<EventObject> event;
    {
        HandleTable& table = Handles();
        std::lock_guard<std::mutex> lock(table.mutex);
        const auto found = table.events.find(hObject);
        if (found == table.events.end()) {
            lastError = ERROR_INVALID_HANDLE;
            return FALSE;
        }
        event = std::move(found->second);
        table.events.erase(found);
    }
    event->ReleaseHold();
    return TRUE;
}

DWORD GetLastError() {
    return lastError;
}
