// SPDX-License-Identifier: GPL-3.0-or-later
// varnex-list on hostile data files (written by fuzz/make_hostile.py): each run ends by itself, within a
// memory and a time limit, with a clean exit status, and lists the sound part of the data set.

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDirectory.h"

namespace {

namespace fs = std::filesystem;

// Sanitizers reserve terabytes of address space and double the memory used, so under them only the
// time limit applies.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr rlim_t kAddressSpaceLimit = rlim_t{512} << 20;
constexpr long kPeakMemoryLimitKb = 256 * 1024;
constexpr rlim_t kCpuSecondsLimit = 20;
constexpr auto kWallLimit = std::chrono::seconds(60);

struct LimitedRun {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;
    long peakMemoryKb = 0;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

// Runs varnex-list on `dataSet` with its address space and CPU time limited; a run past the wall limit
// is killed (and reported as killed).
LimitedRun RunLimited(const fs::path& dataSet, const fs::path& dir) {
    const fs::path out = dir / "stdout.txt";
    const fs::path err = dir / "stderr.txt";
    const pid_t child = ::fork();
    if (child == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0) {
            ::_exit(127);
        }
        if (!kSanitized) {
            const rlimit memory{kAddressSpaceLimit, kAddressSpaceLimit};
            ::setrlimit(RLIMIT_AS, &memory);
        }
        const rlimit cpu{kCpuSecondsLimit, kCpuSecondsLimit};
        ::setrlimit(RLIMIT_CPU, &cpu);
        ::execl(VARNEX_LIST_EXECUTABLE, VARNEX_LIST_EXECUTABLE, "--quiet", dataSet.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    LimitedRun result;
    if (child < 0) {
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + kWallLimit;
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::wait4(child, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.peakMemoryKb = usage.ru_maxrss;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

// The set masses of the listed precursors (second column of the TSV), rounded to 0.01.
std::multiset<long> SetMasses(const std::string& tsv) {
    std::multiset<long> masses;
    std::istringstream lines(tsv);
    std::string line;
    std::getline(lines, line); // header
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string time;
        double mass = 0.0;
        std::getline(fields, time, '\t');
        fields >> mass;
        masses.insert(std::lround(mass * 100.0));
    }
    return masses;
}

class HostileFiles : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const std::string command = "python3 '" + std::string(VARNEX_SOURCE_DIR) +
                                    "/fuzz/make_hostile.py' '" + dir_.string() + "' " + GetParam();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    support::TempDirectory folder_{"varnex-hostile"};
    const fs::path dir_ = folder_.Path();
};

TEST_P(HostileFiles, EndCleanlyWithinLimitsAndListTheSoundPart) {
    const LimitedRun run = RunLimited(dir_ / GetParam(), dir_);
    ASSERT_TRUE(run.exited) << "signal " << run.signal << "\n" << run.err;
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << "\n" << run.err;
    // Every file holds a sound run of three precursors around its damage; all three are listed.
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(SetMasses(run.out), (std::multiset<long>{50025, 60050, 70075})) << run.out;
    if (!kSanitized) {
        EXPECT_LE(run.peakMemoryKb, kPeakMemoryLimitKb);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileFiles,
                         ::testing::Values("numpress-excess.mzML", "zlib-bombs.mzML", "huge-spectrum.mzML.gz",
                                           "huge-param-group.mzML", "amplified-refs.mzML", "sparse-hole.mzML",
                                           "absurd-length.mzML", "garbage-zlib.mzML"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* c = info.param; *c != '\0' && *c != '.'; ++c) {
                                 name += *c == '-' ? '_' : *c;
                             }
                             return name;
                         });

} // namespace
