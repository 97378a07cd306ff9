// SPDX-License-Identifier: GPL-3.0-or-later
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempDirectory.h"
#include "system/AtomicFile.h"

using varnex::system::WriteFileAtomically;

namespace {

std::string ContentsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Names in the folder other than `kept`: what a write left behind.
int OtherEntries(const std::string& directory, const std::string& kept) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        count += entry.path().filename() != kept ? 1 : 0;
    }
    return count;
}

mode_t PermissionsOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

} // namespace

TEST(AtomicFileWrite, ReplacesTheFileWholeAndLeavesNoTemporary) {
    const support::TempDirectory folder;
    const std::string target = folder.Path().string() + "/list.tsv";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(target, "old\n", error)) << error;
    const std::string bigger(1 << 20, 'x');
    ASSERT_TRUE(WriteFileAtomically(target, bigger, error)) << error;
    EXPECT_EQ(ContentsOf(target), bigger);
    EXPECT_EQ(OtherEntries(folder.Path().string(), "list.tsv"), 0);
}

TEST(AtomicFileWrite, AFailedRenameKeepsTheOldFileRemovesTheTemporaryAndSaysWhy) {
    const support::TempDirectory folder;
    // A folder in the target's place cannot be renamed over, but the temporary beside it is created.
    const std::string target = folder.Path().string() + "/occupied";
    std::filesystem::create_directory(target);
    std::filesystem::create_directory(target + "/inside");
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(target, "text", error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(std::filesystem::is_directory(target + "/inside"));
    EXPECT_EQ(OtherEntries(folder.Path().string(), "occupied"), 0);
}

TEST(AtomicFileWrite, AMissingFolderIsAFailureWithTheSystemsReason) {
    const support::TempDirectory folder;
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(folder.Path().string() + "/no/such/folder/list.tsv", "text", error));
    EXPECT_EQ(error, std::strerror(ENOENT));
}

TEST(AtomicFileWrite, PermissionsAsAskedOrAsForANewFile) {
    const support::TempDirectory folder;
    const std::string target = folder.Path().string() + "/store";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(target, "a", error, {".tmp.", 0600})) << error;
    EXPECT_EQ(PermissionsOf(target), 0600u);
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(WriteFileAtomically(target, "b", error)) << error;
    ::umask(mask);
    EXPECT_EQ(PermissionsOf(target), 0644u);
    EXPECT_EQ(ContentsOf(target), "b");
}

// The file-creation mask is the whole process's: a write that cleared it even for a moment would let a file
// another thread creates meanwhile come out writable by everyone.
TEST(AtomicFileWrite, LeavesTheProcessFileCreationMaskAloneWhileOtherThreadsCreateFiles) {
    const support::TempDirectory folder;
    const mode_t mask = ::umask(022);
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        std::string error;
        for (int i = 0; i < 3000; ++i) {
            WriteFileAtomically(folder.Path().string() + "/written", "text", error);
        }
        writing = false;
    });
    int widened = 0;
    for (int i = 0; writing; ++i) {
        const std::string path = folder.Path().string() + "/created" + std::to_string(i % 16);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        ASSERT_GE(fd, 0);
        ::close(fd);
        widened += PermissionsOf(path) != 0644u ? 1 : 0;
        ::unlink(path.c_str());
    }
    writer.join();
    ::umask(mask);
    EXPECT_EQ(widened, 0);
}
