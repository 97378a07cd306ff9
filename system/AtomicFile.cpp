// SPDX-License-Identifier: GPL-3.0-or-later
#include "system/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnex::system {

namespace {

// Creates a temporary file `prefix` + six random characters, with `permissions` less the process's
// file-creation mask, as any new file gets: the kernel applies the mask, so it never has to be read. Reading
// it means setting it, and the mask is the whole process's, so that would widen files other threads create
// meanwhile.
int CreateTemporary(const std::string& prefix, mode_t permissions, std::string& path) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random(std::random_device{}());
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = prefix;
        for (int i = 0; i < 6; ++i) {
            path += kAlphabet[pick(random)];
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

} // namespace

bool WriteFileAtomically(const std::string& target, std::string_view contents, std::string& error,
                         const AtomicWriteOptions& options) {
    std::string temporary;
    const int fd = CreateTemporary(target + std::string(options.temporaryInfix),
                                   options.permissions.value_or(0666), temporary);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = !options.permissions || ::fchmod(fd, *options.permissions) == 0;
    std::size_t written = 0;
    while (ok && written < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        written += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok) {
        error = std::strerror(errno);
    }
    if (::close(fd) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

} // namespace varnex::system
