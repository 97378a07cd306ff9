// SPDX-License-Identifier: GPL-3.0-or-later
// rawdata_bench: speed and peak memory of the mzML reader through the raw-data boundary, each figure
// printed beside the time `cat FILE > /dev/null` takes (page cache warm). Per file, in a child process
// of its own so that peak memory is the file's alone:
//   - all scan statistics of all functions, cold (the index is parsed) and warm (re-opened from cache);
//   - decoding every survey spectrum through CRawDatafile::GetScan;
//   - peak resident memory (getrusage).
// Usage: rawdata_bench [FILE...]   (default: bench/data/run60.mzML and run60-profile.mzML, written by
// bench/make-data.sh)

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "rawdata/MsRun.h"
#include "rawdata/RawData.h"
#include "rawdata/SampleInfoRead.h"

using varnex::rawdata::ReadDataSetSampleInfo;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double CatSeconds(const std::string& path) {
    const std::string command = "cat '" + path + "' > /dev/null";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        return -1.0;
    }
    return SecondsSince(start);
}

// Reads every statistics record of every function as the builder does; returns the number read.
std::size_t ReadAllStats(const std::string& path, int& functions) {
    CDatafileSampleInfo info;
    if (!ReadDataSetSampleInfo(path, info)) {
        return 0;
    }
    functions = info.GetNumFunctions();
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, path.c_str());
    ScanStatsRecord stats{};
    std::size_t read = 0;
    double sum = 0.0;
    for (int f = 1; f <= functions; ++f) {
        record.SetInt16(RawPathRecord::kOffsetFunction, static_cast<std::int16_t>(f));
        record.SetInt32(RawPathRecord::kOffsetProcess, 1);
        const std::uint32_t count = DmRawScansInFunction(record);
        record.SetInt32(RawPathRecord::kOffsetScanCount, static_cast<std::int32_t>(count));
        for (std::uint32_t s = 1; s <= count; ++s) {
            record.SetInt16(RawPathRecord::kOffsetStatsSelector, 0);
            read += DmRawReadScanStatsVB(record, s, 0, stats) != 0;
            sum += stats.GetFloat(ScanStatsRecord::kOffsetRetentionTime);
        }
    }
    return sum >= 0.0 ? read : 0;
}

std::size_t DecodeSurveySpectra(const std::string& path, std::size_t& points) {
    CRawDatafile reader;
    if (!reader.Open(path.c_str(), 0)) {
        return 0;
    }
    reader.SelectFunction(0);
    const auto run = varnex::rawdata::MsRun::Open(path);
    const std::size_t count = run ? run->ScansOfFunction(1).size() : 0;
    std::size_t decoded = 0;
    for (std::size_t s = 0; s < count; ++s) {
        float* masses = nullptr;
        float* intensities = nullptr;
        int n = 0;
        if (reader.GetScan(static_cast<long long>(s), masses, intensities, n)) {
            ++decoded;
            points += static_cast<std::size_t>(n);
        }
        QXSpectrum spectrum;
        spectrum.SetData(masses, intensities, n);
    }
    return decoded;
}

void Report(const char* what, double seconds, double catSeconds, const char* extra) {
    std::printf("  %-42s %8.3f s   (cat: %.3f s, %5.1fx)  %s\n", what, seconds, catSeconds,
                catSeconds > 0 ? seconds / catSeconds : 0.0, extra);
}

int BenchOne(const std::string& path) {
    CatSeconds(path); // warm the page cache
    const double cat = CatSeconds(path);
    if (cat < 0) {
        std::printf("%s: cannot read (run bench/make-data.sh)\n", path.c_str());
        return 1;
    }
    std::printf("%s\n", path.c_str());
    char extra[128];
    int functions = 0;

    varnex::rawdata::MsRun::ClearCache();
    auto start = Clock::now();
    std::size_t stats = ReadAllStats(path, functions);
    const double cold = SecondsSince(start);
    const auto run = varnex::rawdata::MsRun::Open(path);
    std::snprintf(extra, sizeof extra, "%zu records, %d functions, %s", stats, functions,
                  run && run->UsedIndex() ? "through the index" : "sequential scan");
    Report("all scan statistics, cold (index parsed)", cold, cat, extra);

    start = Clock::now();
    stats = ReadAllStats(path, functions);
    std::snprintf(extra, sizeof extra, "%zu records", stats);
    Report("all scan statistics, warm re-open", SecondsSince(start), cat, extra);

    std::size_t points = 0;
    start = Clock::now();
    const std::size_t decoded = DecodeSurveySpectra(path, points);
    std::snprintf(extra, sizeof extra, "%zu spectra, %.1f M points", decoded,
                  static_cast<double>(points) / 1e6);
    Report("decode all survey spectra", SecondsSince(start), cat, extra);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  %-42s %8.1f MB\n", "peak resident memory", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files(argv + 1, argv + argc);
    if (files.empty()) {
        files = {VARNEX_BENCH_DATA_DIR "/run60.mzML", VARNEX_BENCH_DATA_DIR "/run60-profile.mzML"};
    }
    int failures = 0;
    for (const std::string& file : files) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            const int result = BenchOne(file);
            std::fflush(stdout);
            _exit(result);
        }
        int status = 0;
        waitpid(child, &status, 0);
        failures += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    return failures == 0 ? 0 : 1;
}
