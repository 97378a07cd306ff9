// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Test support for code that uses the registry: a private store file per test, and running a check as an
// unprivileged user (root ignores file permissions, so a read-only store needs another uid).

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDirectory.h"

namespace registry_test {

// A temporary folder holding the store file that VARNEX_REGISTRY_FILE points to while this lives.
class TempStore final {
public:
    TempStore() = default;
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    const std::string& File() const { return file_; }
    const std::string& Directory() const { return directory_; }

    std::string Contents() const {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Write(const std::string& bytes) const {
        std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;
    }

    // The store and its folder readable but not writable, for this user and for the one
    // RunUnprivileged switches to.
    void MakeReadOnly() const {
        ::chmod(file_.c_str(), 0444);
        ::chmod(directory_.c_str(), 0555);
    }

private:
    support::TempDirectory folder_{"varnex-registry"};
    std::string directory_ = folder_.Path().string();
    std::string file_ = folder_.File("registry");
    support::ScopedEnvironment variable_{"VARNEX_REGISTRY_FILE", file_};
};

// Runs `check` in a child process, as user "nobody" when this process is root, and returns its exit
// status (0 = passed). The child reports what failed on stderr.
inline int RunUnprivileged(const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(100);
        }
        ::_exit(check());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

} // namespace registry_test
