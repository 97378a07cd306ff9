// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/RegistryTestSupport.h"
#include "system/Registry.h"

using varnex::system::OpenRegistryKeyCount;
using varnex::system::RegistryFilePath;

namespace {

constexpr const char* kConfigKey = "SOFTWARE\\Pellicore\\Varnex\\Config";

LONG SetText(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

// The value's bytes as text (NUL included), or the error code as "error N".
std::string QueryText(const char* keyPath, const char* name, DWORD* type = nullptr) {
    HKEY key = nullptr;
    if (const LONG open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key);
        open != ERROR_SUCCESS) {
        return "error " + std::to_string(open);
    }
    char buffer[512] = {};
    DWORD size = sizeof(buffer);
    const LONG query = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<LPBYTE>(buffer), &size);
    RegCloseKey(key);
    return query == ERROR_SUCCESS ? std::string(buffer, size) : "error " + std::to_string(query);
}

class RegistryStore : public ::testing::Test {
protected:
    registry_test::TempStore store_;
};

TEST_F(RegistryStore, MissingStoreHasNoKeys) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_QUERY_VALUE, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_ALL_ACCESS, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStore, CreatedKeyKeepsTypeBytesAndSizeAcrossHandles) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    const BYTE bytes[] = {'a', 0, 0xFF, '"', '\\', '\n', ' '};
    ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_BINARY, bytes, sizeof(bytes)), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\PELLICORE\\varnex\\config", 0, KEY_QUERY_VALUE, &key),
        ERROR_SUCCESS);
    BYTE read[16] = {};
    DWORD size = sizeof(read);
    DWORD type = REG_NONE;
    ASSERT_EQ(RegQueryValueExA(key, "raw", nullptr, &type, read, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(size, sizeof(bytes));
    EXPECT_EQ(std::memcmp(read, bytes, sizeof(bytes)), 0);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(store_.Contents().rfind("VarnexRegistry 1\n", 0), 0u);
}

TEST_F(RegistryStore, ParentKeysAreCreatedWithTheKey) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Pellicore", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kConfigKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStore, SmallBufferGetsMoreDataAndTheSizeNeeded) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "Text", "2:2:0"), ERROR_SUCCESS);
    char small[4] = {};
    DWORD size = sizeof(small);
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, reinterpret_cast<LPBYTE>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    DWORD sizeOnly = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, &sizeOnly), ERROR_SUCCESS);
    EXPECT_EQ(sizeOnly, 6u);
    EXPECT_EQ(RegQueryValueExA(key, "Other", nullptr, nullptr, nullptr, &sizeOnly), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryStore, RightsOfTheHandleAreEnforced) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, "Text", "x"), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
}

TEST_F(RegistryStore, EveryHandleIsClosedOnceOnly) {
    const int before = OpenRegistryKeyCount();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    EXPECT_EQ(OpenRegistryKeyCount(), before + 1);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetText(key, "Text", "x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenRegistryKeyCount(), before);
}

TEST_F(RegistryStore, DamagedFileReadsAsAbsentAndIsNeverOverwritten) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "Text", "2:2:0"), ERROR_SUCCESS);
    RegCloseKey(key);
    const std::string valid = store_.Contents();

    const std::vector<std::string> damaged = {
        valid.substr(0, valid.size() - 4),               // cut short: no "end"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"x\"=\"y\"\n", // someone else's format
        std::string("VarnexRegistry 1\nkey \"HKEY_LOCAL_MACHINE\"\nvalue \"HKEY_LOCAL_MACHINE\" \"v\" 1 9 "
                    "\"ab\"\nend\n"),
        std::string("VarnexRegistry 2\nend\n"), // a version we do not know
        std::string("\0\0\0binary", 9),
    };
    for (const std::string& bytes : damaged) {
        SCOPED_TRACE(bytes);
        store_.Write(bytes);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_QUERY_VALUE, &key),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_ALL_ACCESS, &key),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_BADDB);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(store_.Contents(), bytes);
    }
}

TEST_F(RegistryStore, ValueSetThroughAHandleFailsOnceTheFileIsDamaged) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    store_.Write("not a store\n");
    EXPECT_EQ(SetText(key, "Text", "2:2:0"), ERROR_BADDB);
    EXPECT_EQ(store_.Contents(), "not a store\n");
    RegCloseKey(key);
}

TEST_F(RegistryStore, ReadOnlyStoreOpensForReadingOnly) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "Text", "4:4:4"), ERROR_SUCCESS);
    RegCloseKey(key);
    const std::string before = store_.Contents();
    store_.MakeReadOnly();

    const int status = registry_test::RunUnprivileged([] {
        HKEY child = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_ALL_ACCESS, &child) != ERROR_ACCESS_DENIED) {
            return 1;
        }
        if (QueryText(kConfigKey, "Text") != std::string("4:4:4", 6)) {
            return 2;
        }
        // An existing key still "creates" (opens) for reading; setting through it is refused.
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &child) != ERROR_SUCCESS) {
            return 3;
        }
        const LONG set = SetText(child, "Text", "1:1:1");
        RegCloseKey(child);
        if (set != ERROR_ACCESS_DENIED) {
            return 4;
        }
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", &child) != ERROR_ACCESS_DENIED) {
            return 5;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(store_.Contents(), before);
}

TEST_F(RegistryStore, UnreadableStoreCannotBeOpened) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ::chmod(store_.File().c_str(), 0000);
    ::chmod(store_.Directory().c_str(), 0755);
    const int status = registry_test::RunUnprivileged([] {
        HKEY child = nullptr;
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_QUERY_VALUE, &child) ==
                       ERROR_ACCESS_DENIED
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
}

// A store path that names a pipe (or any file that is not a regular one) once blocked the open until
// someone wrote to it, hanging the program at start: it must read as a store that is not valid.
TEST_F(RegistryStore, StoreThatIsAPipeReadsAsNotValidWithoutWaiting) {
    ASSERT_EQ(::mkfifo(store_.File().c_str(), 0600), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::alarm(5); // a hang ends the child with SIGALRM
        HKEY key = nullptr;
        const bool notFound =
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_QUERY_VALUE, &key) == ERROR_FILE_NOT_FOUND;
        const bool notCreated = RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key) == ERROR_BADDB;
        ::_exit(notFound && notCreated ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    struct stat info {};
    ASSERT_EQ(::lstat(store_.File().c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "the pipe is left as it is";
}

// Several processes set values at the same time: none loses another's value, every reader sees a valid
// store, and each value ends as its last writer left it.
TEST_F(RegistryStore, ConcurrentWritersNeitherCorruptNorLoseValues) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    constexpr int kWriters = 4;
    constexpr int kRounds = 40;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int round = 0; round < kRounds; ++round) {
                HKEY child = nullptr;
                if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_ALL_ACCESS, &child) !=
                    ERROR_SUCCESS) {
                    ++failures;
                    continue;
                }
                const std::string own = "Writer" + std::to_string(writer);
                failures += SetText(child, own.c_str(), std::to_string(round)) != ERROR_SUCCESS;
                failures += SetText(child, "Shared", own) != ERROR_SUCCESS;
                RegCloseKey(child);
                failures += QueryText(kConfigKey, "Shared").rfind("Writer", 0) != 0;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int writer = 0; writer < kWriters; ++writer) {
        const std::string own = "Writer" + std::to_string(writer);
        EXPECT_EQ(QueryText(kConfigKey, own.c_str()), std::to_string(kRounds - 1) + std::string(1, '\0'));
    }
    EXPECT_EQ(QueryText(kConfigKey, "Shared").rfind("Writer", 0), 0u);
}

// The files beside the store whose names start with the store's: what a directory listing shows.
std::vector<std::string> FilesBeside(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A write killed before its rename left its temporary file for good (33 after 40 kills); the next write
// removes such files, but not one a person named like a copy of the store.
TEST_F(RegistryStore, NextWriteRemovesTheTemporaryFilesOfKilledWrites) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    for (int round = 0; round < 12; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0;; ++i) {
                SetText(key, "Counter", std::to_string(i));
            }
        }
        ::usleep(static_cast<useconds_t>(2000 + 1700 * round));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    // What killed writes of this and of earlier versions leave, and two files that are someone's own.
    const std::string& file = store_.File();
    std::ofstream(file + ".tmp.a1B2c3");
    std::ofstream(file + ".Xy7Qz0") << "VarnexRegistry 1\nkey \"HKEY_LOC";
    std::ofstream(file + ".backup") << store_.Contents();
    std::ofstream(file + ".K3ep1t") << "my notes\n";

    ASSERT_EQ(SetText(key, "Counter", "last"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(FilesBeside(store_.Directory()),
              (std::vector<std::string>{"registry", "registry.K3ep1t", "registry.backup", "registry.lock"}));
    EXPECT_EQ(QueryText(kConfigKey, "Counter"), std::string("last", 5));
}

// A store path that is a symbolic link was replaced by a plain file, cutting the link. Writes now go to
// the link's target (created when missing); a link that leads nowhere in the end is not written.
TEST_F(RegistryStore, StoreThatIsASymbolicLinkIsWrittenThroughToItsTarget) {
    const std::string target = store_.Directory() + "/kept/registry";
    ASSERT_EQ(::mkdir((store_.Directory() + "/kept").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("kept/registry", store_.File().c_str()), 0);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "DecimalPlaces", "4:0:3", REG_EXPAND_SZ), ERROR_SUCCESS);
    RegCloseKey(key);
    struct stat info {};
    ASSERT_EQ(::lstat(store_.File().c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(QueryText(kConfigKey, "DecimalPlaces"), std::string("4:0:3", 6));
    std::ifstream in(target);
    const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(written.find("4:0:3"), std::string::npos);

    ASSERT_EQ(::unlink(store_.File().c_str()), 0);
    ASSERT_EQ(::symlink("registry", store_.File().c_str()), 0); // a link to itself
    EXPECT_NE(RegCreateKeyA(HKEY_LOCAL_MACHINE, kConfigKey, &key), ERROR_SUCCESS);
    ASSERT_EQ(::lstat(store_.File().c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
}

TEST(RegistryLocation, EnvironmentChoosesTheFile) {
    ::setenv("VARNEX_REGISTRY_FILE", "/tmp/somewhere/registry", 1);
    EXPECT_EQ(RegistryFilePath(), "/tmp/somewhere/registry");
    ::unsetenv("VARNEX_REGISTRY_FILE");
    ::setenv("XDG_CONFIG_HOME", "/tmp/config", 1);
    EXPECT_EQ(RegistryFilePath(), "/tmp/config/varnex/registry");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(RegistryFilePath(), "/home/someone/.config/varnex/registry");
}

} // namespace
