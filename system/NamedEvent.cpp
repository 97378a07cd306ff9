#include "system/NamedEvent.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/RuntimeDirectory.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// Byte ranges of the lock file: the guard serialises create, open, close and the "post if not
// signalled" step; every open handle holds a shared lock on the holder byte. Byte 0 also stores the
// creator's reset mode.
constexpr off_t kGuardByte = 0;
constexpr off_t kHolderByte = 1;
constexpr char kManualResetMark = 'm';
constexpr char kAutoResetMark = 'a';

bool LockByte(int fd, short type, off_t byte, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

class GuardLock final {
public:
    explicit GuardLock(int fd) : fd_(fd), held_(LockByte(fd, F_WRLCK, kGuardByte, true)) {}
    ~GuardLock() {
        if (held_)
            LockByte(fd_, F_UNLCK, kGuardByte, false);
    }
    GuardLock(const GuardLock&) = delete;
    GuardLock& operator=(const GuardLock&) = delete;
    bool Held() const { return held_; }

private:
    int fd_;
    bool held_;
};

std::uint64_t Fnv1a(std::string_view text, std::uint64_t hash = 0xcbf29ce484222325ULL) {
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// "<readable part>-<hash>": the readable part for someone looking into /dev/shm, the hash of the runtime
// directory and the full name for uniqueness. Fits the semaphore name limit however long the name is.
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
        if (named != SEM_FAILED)
            ::sem_close(named);
        if (localInitialised)
            ::sem_destroy(&local);
        if (lockFd >= 0)
            ::close(lockFd);
    }

    sem_t* Semaphore() { return named != SEM_FAILED ? named : &local; }

    // Raises the count to one unless it is one already: an event is signalled or not, never twice.
    void PostIfNotSignalled() {
        std::unique_lock<std::mutex> localGuard(localMutex, std::defer_lock);
        std::unique_ptr<GuardLock> fileGuard;
        if (lockFd >= 0)
            fileGuard = std::make_unique<GuardLock>(lockFd);
        else
            localGuard.lock();
        int value = 0;
        if (::sem_getvalue(Semaphore(), &value) == 0 && value <= 0)
            ::sem_post(Semaphore());
    }

    bool manualReset = false;
    sem_t* named = SEM_FAILED;
    sem_t local{};
    bool localInitialised = false;
    std::mutex localMutex;
    int lockFd = -1;
    std::string semaphoreName;
};

std::mutex registryMutex;
// Handles are looked up here, so a stale or foreign handle fails cleanly instead of being dereferenced,
// and a wait in progress keeps its event alive when another thread closes the handle.
std::unordered_map<HANDLE, std::shared_ptr<EventObject>>& Registry() {
    static std::unordered_map<HANDLE, std::shared_ptr<EventObject>> registry;
    return registry;
}

HANDLE Register(std::shared_ptr<EventObject> event) {
    HANDLE handle = event.get();
    std::lock_guard<std::mutex> lock(registryMutex);
    Registry().emplace(handle, std::move(event));
    return handle;
}

std::shared_ptr<EventObject> Lookup(HANDLE handle) {
    std::lock_guard<std::mutex> lock(registryMutex);
    const auto found = Registry().find(handle);
    if (found == Registry().end()) {
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
    if (directory.empty())
        return Fail(ERROR_PATH_NOT_FOUND);
    const std::string stem = ObjectStem(directory, name);
    const std::string lockPath = directory + "/event-" + stem + ".lock";

    auto event = std::make_shared<EventObject>();
    event->lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (event->lockFd < 0)
        return Fail(ERROR_ACCESS_DENIED);
    struct stat info {};
    if (::fstat(event->lockFd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        return Fail(ERROR_ACCESS_DENIED);
    event->semaphoreName = "/varnex-" + std::to_string(::geteuid()) + "-" + stem;

    GuardLock guard(event->lockFd);
    if (!guard.Held())
        return Fail(ERROR_ACCESS_DENIED);
    const bool exists = !LockByte(event->lockFd, F_WRLCK, kHolderByte, false);
    if (exists) {
        event->named = ::sem_open(event->semaphoreName.c_str(), 0);
        char mark = kAutoResetMark;
        if (::pread(event->lockFd, &mark, 1, kGuardByte) == 1)
            event->manualReset = mark == kManualResetMark;
    } else {
        // No handle is open anywhere: whatever semaphore carries the name is left from a crash.
        ::sem_unlink(event->semaphoreName.c_str());
        event->named =
            ::sem_open(event->semaphoreName.c_str(), O_CREAT | O_EXCL, 0600, initialState ? 1U : 0U);
        event->manualReset = manualReset;
        const char mark = manualReset ? kManualResetMark : kAutoResetMark;
        if (::pwrite(event->lockFd, &mark, 1, kGuardByte) != 1)
            return Fail(ERROR_ACCESS_DENIED);
    }
    if (event->named == SEM_FAILED || !LockByte(event->lockFd, F_RDLCK, kHolderByte, false))
        return Fail(ERROR_ACCESS_DENIED);
    lastError = exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return Register(std::move(event));
}

} // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName) {
    if (lpEventAttributes)
        return Fail(ERROR_ACCESS_DENIED);
    if (lpName && *lpName)
        return CreateNamedEvent(bManualReset != FALSE, bInitialState != FALSE, lpName);
    auto event = std::make_shared<EventObject>();
    if (::sem_init(&event->local, 0, bInitialState ? 1U : 0U) != 0)
        return Fail(ERROR_ACCESS_DENIED);
    event->localInitialised = true;
    event->manualReset = bManualReset != FALSE;
    lastError = ERROR_SUCCESS;
    return Register(std::move(event));
}

BOOL SetEvent(HANDLE hEvent) {
    const auto event = Lookup(hEvent);
    if (!event)
        return FALSE;
    event->PostIfNotSignalled();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
    const auto event = Lookup(hEvent);
    if (!event)
        return FALSE;
    while (::sem_trywait(event->Semaphore()) == 0) {
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    const auto event = Lookup(hHandle);
    if (!event)
        return WAIT_FAILED;
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
        if (errno == ETIMEDOUT)
            return WAIT_TIMEOUT;
        lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    // A manual-reset event stays signalled for every waiter until ResetEvent.
    if (event->manualReset)
        event->PostIfNotSignalled();
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<EventObject> event;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        const auto found = Registry().find(hObject);
        if (found == Registry().end()) {
            lastError = ERROR_INVALID_HANDLE;
            return FALSE;
        }
        event = std::move(found->second);
        Registry().erase(found);
    }
    if (event->lockFd >= 0) {
        GuardLock guard(event->lockFd);
        LockByte(event->lockFd, F_UNLCK, kHolderByte, false);
        // The last handle anywhere: remove the name, as Windows destroys the object.
        if (guard.Held() && LockByte(event->lockFd, F_WRLCK, kHolderByte, false)) {
            ::sem_unlink(event->semaphoreName.c_str());
            LockByte(event->lockFd, F_UNLCK, kHolderByte, false);
        }
    }
    return TRUE;
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}
