// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A private temporary folder for one test, removed with everything in it when the test is done; and the
// same folder named by an environment variable while it lives, for the stores and endpoints that the
// code under test finds through one.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include <unistd.h>

namespace support {

class TempDirectory {
public:
    explicit TempDirectory(const std::string& prefix = "varnex-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        // mkdtemp makes the folder private to the user (0700), as the runtime directory must be.
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed for " + pattern);
        }
        path_ = pattern;
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Sets `variable` to `value` while it lives, then unsets it.
class ScopedEnvironment final {
public:
    ScopedEnvironment(std::string variable, const std::string& value) : variable_(std::move(variable)) {
        ::setenv(variable_.c_str(), value.c_str(), 1);
    }
    ~ScopedEnvironment() { ::unsetenv(variable_.c_str()); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string variable_;
};

} // namespace support
