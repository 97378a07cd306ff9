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

namespace registry_test {

// A temporary folder holding the store file that VARNEX_REGISTRY_FILE points to while this lives.
class TempStore final {
public:
    TempStore() {
        std::string pattern = (std::filesystem::temp_directory_path() / "varnex-registry-XXXXXX").string();
        directory_ = ::mkdtemp(pattern.data());
        file_ = directory_ + "/registry";
        ::setenv("VARNEX_REGISTRY_FILE", file_.c_str(), 1);
    }
    ~TempStore() {
        ::unsetenv("VARNEX_REGISTRY_FILE");
        ::chmod(directory_.c_str(), 0700);
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
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
    std::string directory_;
    std::string file_;
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
