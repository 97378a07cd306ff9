// SPDX-License-Identifier: GPL-3.0-or-later
// Speed and memory of building the precursor list, against the floor the data set itself sets: reading
// the file (cat), the metadata pass plus decoding the survey spectra the list needs, the build on every
// core, the same build on one thread, varnex-list as a whole process, and the list window's launch.
//
// Usage: build_bench [--repeat N] [DATA_SET...]
//        (default: 3 repeats, bench/data/run60.mzML and bench/data/run60-profile.mzML)
//        build_bench [--repeat N] --scale
//        (writes bench/data/spectra-1M.mzML.gz and spectra-2M.mzML.gz when missing, then compares the
//        build on both: its time must grow linearly with the spectra)
//
// Every measurement runs in a fresh child process, so that no parsed index or decoded spectrum carried
// over from an earlier one makes it look faster than a real start of the program; the file itself is
// read once beforehand (warm page cache). Each figure is the best of N runs, so that other work on a
// shared machine disturbs it less; the CPU time of that run is shown beside it.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "ManySpectra.h"
#include "model/PrecursorColumn.h"
#include "model/PrecursorList.h"
#include "model/WorkerPool.h"
#include "rawdata/MsRun.h"
#include "rawdata/RawData.h"
#include "rawdata/SampleInfoRead.h"

using varnex::model::kPrecursorColumns;
using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnIndex;
using varnex::model::WorkerPool;
using varnex::rawdata::ReadDataSetSampleInfo;

namespace {

using Figures = std::map<std::string, double>;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double PeakRssMegabytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return -1.0;
    }
    char line[256];
    double kilobytes = -1.0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kilobytes = std::atof(line + 6);
        }
    }
    std::fclose(status);
    return kilobytes / 1024.0;
}

int repeatCount = 3;

// Runs `measure` in a child process and returns the figures it reported.
Figures InChildOnce(const std::function<Figures()>& measure) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::ostringstream out;
        for (const auto& [name, value] : measure()) {
            out << name << ' ' << value << '\n';
        }
        const std::string text = out.str();
        [[maybe_unused]] const ssize_t written = ::write(fds[1], text.data(), text.size());
        ::close(fds[1]);
        _exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    waitpid(pid, nullptr, 0);
    Figures figures;
    std::istringstream in(text);
    std::string name;
    double value = 0.0;
    while (in >> name >> value) {
        figures[name] = value;
    }
    return figures;
}

// The run with the lowest `timeKey` of repeatCount runs.
Figures InChild(const std::function<Figures()>& measure, const std::string& timeKey) {
    Figures best;
    for (int run = 0; run < repeatCount; ++run) {
        Figures figures = InChildOnce(measure);
        if (best.empty() || figures[timeKey] < best[timeKey]) {
            best = std::move(figures);
        }
    }
    return best;
}

double ReadWholeFile(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return -1.0;
    }
    std::vector<char> buffer(1 << 20);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
    return SecondsSince(start);
}

Figures MeasureHandOver(const std::string& path) {
    CPrecursorList list;
    list.SetRawPath(path);
    const auto start = std::chrono::steady_clock::now();
    list.CreatePrecursorRuns();
    return {{"handover_s", SecondsSince(start)},
            {"handover_cpu_s", CpuSeconds()},
            {"handover_rss_mb", PeakRssMegabytes()}};
}

// The complete build on one thread: what the pool of the charge-state pass gains.
Figures MeasureOneThreadBuild(const std::string& path) {
    CPrecursorList list;
    list.SetRawPath(path);
    list.SetWorkerThreads(1);
    varnex::rawdata::MsRun::SetMetadataThreads(1);
    const auto start = std::chrono::steady_clock::now();
    list.CreatePrecursorList();
    return {{"one_thread_s", SecondsSince(start)},
            {"one_thread_cpu_s", CpuSeconds()},
            {"one_thread_rss_mb", PeakRssMegabytes()}};
}

// varnex-list FILE > /dev/null as a whole process: start-up, build, output and exit.
Figures MeasureVarnexList(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        execl(VARNEX_LIST_PROGRAM, VARNEX_LIST_PROGRAM, path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall = SecondsSince(start);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return {{"list_s", wall},
            {"list_cpu_s", seconds(usage.ru_utime) + seconds(usage.ru_stime)},
            {"list_rss_mb", static_cast<double>(usage.ru_maxrss) / 1024.0},
            {"list_exit", WIFEXITED(status) ? WEXITSTATUS(status) : -1}};
}

// The best of repeatCount whole-process runs of varnex-list.
Figures BestVarnexList(const std::string& path) {
    Figures best;
    for (int run = 0; run < repeatCount; ++run) {
        Figures figures = MeasureVarnexList(path);
        if (best.empty() || figures["list_s"] < best["list_s"]) {
            best = std::move(figures);
        }
    }
    return best;
}

// The window started on the data set until its list shows, best of repeatCount starts, under Xvfb;
// empty when the window program is not built or the script cannot run.
std::string LaunchTime(const std::string& path) {
#ifdef VARNEX_WINDOW_PROGRAM
    const std::string command = "VARNEX_WINDOW_PROGRAM='" VARNEX_WINDOW_PROGRAM "' '" VARNEX_LAUNCH_SCRIPT
                                "' --repeat " +
                                std::to_string(repeatCount) + " '" + path + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        text += buffer;
    }
    const int status = ::pclose(pipe);
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (status != 0) {
        return "not measured: " + text;
    }
    return text.rfind("launch ", 0) == 0 ? text.substr(7) : text;
#else
    (void)path;
    return {};
#endif
}

// The complete build, then the sorts on its list. Also reports the survey spectra the build needed.
Figures MeasureBuildAndSort(const std::string& path, std::vector<long long>& neededSurveyIndexes) {
    CPrecursorList list;
    list.SetRawPath(path);
    const auto start = std::chrono::steady_clock::now();
    list.CreatePrecursorList();
    Figures figures = {{"build_s", SecondsSince(start)},
                       {"build_cpu_s", CpuSeconds()},
                       {"build_rss_mb", PeakRssMegabytes()},
                       {"precursors", list.m_Precursors.GetSize()}};
    std::set<long long> needed;
    int undetermined = 0;
    for (int i = 0; i < list.m_Precursors.GetSize(); ++i) {
        const CPrecursor& p = list.m_Precursors.ElementAt(i);
        if (p.m_nSurveyScan > 0) {
            needed.insert(p.m_nSurveyScan - 1);
        }
        if (p.m_nChargeState == -1) {
            ++undetermined;
            if (p.m_nSurveyScan > 1) {
                needed.insert(p.m_nSurveyScan - 2);
            }
        }
    }
    neededSurveyIndexes.assign(needed.begin(), needed.end());
    figures["undetermined"] = undetermined;
    double worstSort = 0.0;
    double worstReverse = 0.0;
    for (const PrecursorColumn column : kPrecursorColumns) {
        const int key = PrecursorColumnIndex(column);
        auto sortStart = std::chrono::steady_clock::now();
        list.SortByColumn(key);
        worstSort = std::max(worstSort, SecondsSince(sortStart));
        CPrecursor* records = list.m_Precursors.GetData();
        std::reverse(records, records + list.m_Precursors.GetSize());
        sortStart = std::chrono::steady_clock::now();
        list.SortByColumn(key);
        const double reverse = SecondsSince(sortStart);
        figures["sort_reverse_s_key" + std::to_string(key)] = reverse;
        worstReverse = std::max(worstReverse, reverse);
    }
    figures["sort_worst_s"] = worstSort;
    figures["sort_reverse_worst_s"] = worstReverse;
    return figures;
}

// What no build can avoid: every scan's statistics once, and each needed survey spectrum decoded once.
Figures MeasureFloor(const std::string& path, const std::vector<long long>& neededSurveyIndexes) {
    const auto start = std::chrono::steady_clock::now();
    int functionCount = 0;
    if (CDatafileSampleInfo info; ReadDataSetSampleInfo(path, info)) {
        functionCount = info.GetNumFunctions();
    }
    RawPathRecord record;
    record.Zero();
    ConvertPathToTarnFile(record, path.c_str());
    ScanStatsRecord stats{};
    double checksum = 0.0;
    for (int function = 1; function <= functionCount; ++function) {
        record.SetInt16(RawPathRecord::kOffsetFunction, static_cast<std::int16_t>(function));
        record.SetInt32(RawPathRecord::kOffsetProcess, 1);
        const std::uint32_t count = DmRawScansInFunction(record);
        for (std::uint32_t scan = 1; scan <= count; ++scan) {
            DmRawReadScanStatsVB(record, scan, 0, stats);
            checksum += stats.GetFloat(ScanStatsRecord::kOffsetSetMass);
        }
    }
    const double statsSeconds = SecondsSince(start);
    const auto decodeStart = std::chrono::steady_clock::now();
    CRawDatafile reader;
    reader.Open(path.c_str(), 0);
    reader.SelectFunction(0);
    for (const long long index : neededSurveyIndexes) {
        float* masses = nullptr;
        float* intensities = nullptr;
        int points = 0;
        reader.GetScan(index, masses, intensities, points);
        checksum += points;
        delete[] masses;
        delete[] intensities;
    }
    return {{"floor_stats_s", statsSeconds},
            {"floor_decode_s", SecondsSince(decodeStart)},
            {"floor_s", SecondsSince(start)},
            {"floor_cpu_s", CpuSeconds()},
            {"floor_spectra", static_cast<double>(neededSurveyIndexes.size())},
            {"checksum", checksum}};
}

void Benchmark(const std::string& path) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    if (error) {
        std::printf("%s: %s\n\n", path.c_str(), error.message().c_str());
        return;
    }
    ReadWholeFile(path);
    const double catSeconds = ReadWholeFile(path);
    std::printf("%s (%.2f GB)\n", path.c_str(), static_cast<double>(bytes) / 1e9);
    std::printf("  cat FILE > /dev/null                %8.3f s\n", catSeconds);

    const Figures handOver = InChild([&] { return MeasureHandOver(path); }, "handover_s");
    std::vector<long long> needed;
    Figures build = InChild(
        [&] {
            Figures figures = MeasureBuildAndSort(path, needed);
            for (std::size_t i = 0; i < needed.size(); ++i) {
                figures["needed_" + std::to_string(i)] = static_cast<double>(needed[i]);
            }
            return figures;
        },
        "build_s");
    for (const auto& [name, value] : build) {
        if (name.rfind("needed_", 0) == 0) {
            needed.push_back(static_cast<long long>(value));
        }
    }
    const Figures floor = InChild([&] { return MeasureFloor(path, needed); }, "floor_s");

    const Figures oneThread = InChild([&] { return MeasureOneThreadBuild(path); }, "one_thread_s");
    const Figures wholeProcess = BestVarnexList(path);

    const auto get = [](const Figures& figures, const char* name) {
        const auto found = figures.find(name);
        return found == figures.end() ? -1.0 : found->second;
    };
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : -1.0; };
    const double buildSeconds = get(build, "build_s");
    const double floorSeconds = get(floor, "floor_s");
    const double oneThreadSeconds = get(oneThread, "one_thread_s");
    std::printf("  precursors                          %8.0f  (charge -1: %.0f)\n", get(build, "precursors"),
                get(build, "undetermined"));
    std::printf("  floor: statistics of every scan     %8.3f s\n", get(floor, "floor_stats_s"));
    std::printf("  floor: decode %5.0f survey spectra  %8.3f s\n", get(floor, "floor_spectra"),
                get(floor, "floor_decode_s"));
    std::printf("  floor total                         %8.3f s   cpu %6.3f s                      floor / "
                "cat = %.1f\n",
                floorSeconds, get(floor, "floor_cpu_s"), ratio(floorSeconds, catSeconds));
    std::printf("  build up to the charge states       %8.3f s   cpu %6.3f s   peak RSS %5.1f MB\n",
                get(handOver, "handover_s"), get(handOver, "handover_cpu_s"),
                get(handOver, "handover_rss_mb"));
    std::printf("  complete build, %u threads           %8.3f s   cpu %6.3f s   peak RSS %5.1f MB   build / "
                "floor = %.2f, "
                "build / cat = %.1f\n",
                WorkerPool::DefaultThreadCount(), buildSeconds, get(build, "build_cpu_s"),
                get(build, "build_rss_mb"), ratio(buildSeconds, floorSeconds),
                ratio(buildSeconds, catSeconds));
    std::printf(
        "  complete build, one thread          %8.3f s   cpu %6.3f s   peak RSS %5.1f MB   one thread / "
        "threads = %.2f\n",
        oneThreadSeconds, get(oneThread, "one_thread_cpu_s"), get(oneThread, "one_thread_rss_mb"),
        ratio(oneThreadSeconds, buildSeconds));
    std::printf("  varnex-list FILE > /dev/null        %8.3f s   cpu %6.3f s   peak RSS %5.1f MB   list / "
                "cat = %.1f, "
                "list / build = %.2f%s\n",
                get(wholeProcess, "list_s"), get(wholeProcess, "list_cpu_s"),
                get(wholeProcess, "list_rss_mb"), ratio(get(wholeProcess, "list_s"), catSeconds),
                ratio(get(wholeProcess, "list_s"), buildSeconds),
                get(wholeProcess, "list_exit") == 0 ? "" : "   (exit status not 0)");
    if (path.find('\'') == std::string::npos) {
        const std::string launch = LaunchTime(path);
        if (!launch.empty()) {
            std::printf("  window until the list shows, Xvfb    %s   target <= 1.5 s on run60\n",
                        launch.c_str());
        }
    }
    std::printf("  sort, any key, as built             %8.3f s\n", get(build, "sort_worst_s"));
    std::printf("  sort, reverse order, worst key      %8.3f s   target <= 0.3 s  (",
                get(build, "sort_reverse_worst_s"));
    for (int key = 0; key < 5; ++key) {
        std::printf("%s%d: %.3f", key == 0 ? "" : ", ", key,
                    get(build, ("sort_reverse_s_key" + std::to_string(key)).c_str()));
    }
    std::printf(")\n\n");
}

// The build's time and memory on 1M and 2M spectra of mostly MS/MS (about 0.9 precursors a spectrum).
void BenchmarkScale() {
    const std::vector<std::pair<long long, std::string>> sets = {
        {1'000'000, VARNEX_BENCH_DATA_DIR "/spectra-1M.mzML.gz"},
        {2'000'000, VARNEX_BENCH_DATA_DIR "/spectra-2M.mzML.gz"}};
    std::vector<double> seconds;
    std::vector<double> cpu;
    for (const auto& [spectra, path] : sets) {
        if (!std::filesystem::exists(path)) {
            std::printf("writing %s ...\n", path.c_str());
            const std::string part = path + ".part";
            if (!WriteManySpectraDataSet(part, spectra)) {
                std::printf("cannot write %s\n", part.c_str());
                return;
            }
            std::filesystem::rename(part, path);
        }
        std::vector<long long> needed;
        const Figures build = InChild([&] { return MeasureBuildAndSort(path, needed); }, "build_s");
        const Figures wholeProcess = BestVarnexList(path);
        seconds.push_back(build.at("build_s"));
        cpu.push_back(build.at("build_cpu_s"));
        std::printf("%s: %lld spectra, %.0f precursors\n", path.c_str(), spectra, build.at("precursors"));
        std::printf("  complete build                      %8.3f s   cpu %6.3f s   peak RSS %5.1f MB\n",
                    build.at("build_s"), build.at("build_cpu_s"), build.at("build_rss_mb"));
        std::printf("  varnex-list FILE > /dev/null        %8.3f s   cpu %6.3f s   peak RSS %5.1f MB\n",
                    wholeProcess.at("list_s"), wholeProcess.at("list_cpu_s"), wholeProcess.at("list_rss_mb"));
    }
    // The CPU ratio is the steadier one on a machine that other work shares.
    std::printf("build 2M / 1M = %.2f, cpu %.2f   (linear: about 2, target <= 2.2)\n",
                seconds[1] / seconds[0], cpu[1] / cpu[0]);
}

} // namespace

int main(int argc, char** argv) {
    // Each line as soon as it is measured, also when the output goes to a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<std::string> paths;
    bool scale = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--repeat" && i + 1 < argc) {
            repeatCount = std::max(1, std::atoi(argv[++i]));
        } else if (std::string(argv[i]) == "--scale") {
            scale = true;
        } else {
            paths.emplace_back(argv[i]);
        }
    }
    if (scale) {
        BenchmarkScale();
        return 0;
    }
    if (paths.empty()) {
        paths = {VARNEX_BENCH_DATA_DIR "/run60.mzML", VARNEX_BENCH_DATA_DIR "/run60-profile.mzML"};
    }
    for (const auto& path : paths) {
        Benchmark(path);
    }
    return 0;
}
