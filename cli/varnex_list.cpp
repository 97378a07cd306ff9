// varnex-list: the precursor list of one DDA data set, built as the window builds it, written as a table.

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "PrecursorExport.h"
#include "model/PrecursorColumn.h"
#include "model/PrecursorList.h"
#include "rawdata/RawData.h"

#ifndef VARNEX_VERSION
#define VARNEX_VERSION "unknown"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::string dataSet;
    std::string output = "-";
    ExportFormat format = ExportFormat::Tsv;
    PrecursorColumn sortColumn = PrecursorColumn::SwitchingTime;
    bool quiet = false;
};

void printHelp(std::ostream& out) {
    out << "Usage: varnex-list [OPTION]... DATA_SET\n"
           "List every precursor a data-dependent LC-MS/MS data set (mzML, mzML.gz or mzXML) switched to:\n"
           "one line per run of MS/MS scans on one set mass, with its survey scan, charge state and\n"
           "intensity, as the Varnex window shows them.\n"
           "\n"
           "  -o, --output FILE    write to FILE instead of standard output; FILE is replaced only when\n"
           "                       the whole list was written\n"
           "  -f, --format FORMAT  tsv (default) or csv\n"
           "  -s, --sort COLUMN    sort ascending by COLUMN: switching-time (default), set-mass,\n"
           "                       function-name, charge-state or intensity, or its number 0-4\n"
           "  -q, --quiet          no progress indication on standard error\n"
           "  -h, --help           show this help and exit\n"
           "  -V, --version        show the version and exit\n"
           "\n"
           "Columns: Switching Time, Set Mass, Function Name, Charge State, Intensity, Function, Survey "
           "Scan,\n"
           "First Scan, Last Scan, Retention Time. Times are in minutes; a charge state of -1 means it "
           "could\n"
           "not be determined; a switching time of -1 means the run precedes every survey scan.\n"
           "\n"
           "Exit status: 0 on success, 1 when the data set cannot be read or the output cannot be written,\n"
           "2 on a usage error.\n";
}

std::optional<PrecursorColumn> parseColumn(std::string_view text) {
    for (const PrecursorColumn column : kPrecursorColumns) {
        if (text == precursorColumnKey(column) || text == precursorColumnHeader(column) ||
            text == std::to_string(precursorColumnIndex(column))) {
            return column;
        }
    }
    return std::nullopt;
}

struct UsageError {
    std::string message;
};

// Returns the exit status when the command line is already answered (help, version, error).
std::optional<int> parseArguments(int argc, char** argv, Options& options) {
    auto valueOf = [&](int& i, std::string_view name) -> std::string {
        if (i + 1 >= argc) {
            throw UsageError{"option " + std::string(name) + " needs a value"};
        }
        return argv[++i];
    };
    bool onlyOperands = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::optional<std::string> inlineValue;
        if (!onlyOperands && argument.rfind("--", 0) == 0 && argument.find('=') != std::string::npos) {
            inlineValue = argument.substr(argument.find('=') + 1);
            argument.resize(argument.find('='));
        }
        auto value = [&](std::string_view name) { return inlineValue ? *inlineValue : valueOf(i, name); };
        auto isFlag = [&](std::string_view shortName, std::string_view longName) {
            if (argument != shortName && argument != longName) {
                return false;
            }
            if (inlineValue) {
                throw UsageError{"option " + std::string(longName) + " takes no value"};
            }
            return true;
        };
        if (onlyOperands || argument == "-" || argument.empty() || argument[0] != '-') {
            if (!options.dataSet.empty()) {
                throw UsageError{"only one data set can be listed at a time"};
            }
            options.dataSet = argument;
        } else if (isFlag("--", "--")) {
            onlyOperands = true;
        } else if (isFlag("-h", "--help")) {
            printHelp(std::cout);
            return 0;
        } else if (isFlag("-V", "--version")) {
            std::cout << "varnex-list " << VARNEX_VERSION << "\n";
            return 0;
        } else if (isFlag("-q", "--quiet")) {
            options.quiet = true;
        } else if (argument == "-o" || argument == "--output") {
            options.output = value(argument);
        } else if (argument == "-f" || argument == "--format") {
            const std::string format = value(argument);
            if (format == "tsv") {
                options.format = ExportFormat::Tsv;
            } else if (format == "csv") {
                options.format = ExportFormat::Csv;
            } else {
                throw UsageError{"unknown format '" + format + "' (tsv or csv)"};
            }
        } else if (argument == "-s" || argument == "--sort") {
            const std::string column = value(argument);
            const auto parsed = parseColumn(column);
            if (!parsed) {
                throw UsageError{"unknown sort column '" + column +
                                 "' (switching-time, set-mass, function-name, charge-state, intensity)"};
            }
            options.sortColumn = *parsed;
        } else {
            throw UsageError{"unknown option '" + argument + "'"};
        }
    }
    if (options.dataSet.empty()) {
        throw UsageError{"no data set given"};
    }
    return std::nullopt;
}

// The build reports nothing, so whether the data set can be read is found out before it starts.
std::optional<std::string> unreadableReason(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error) {
        return error.message();
    }
    if (std::filesystem::is_directory(status)) {
        return "it is a directory";
    }
    // A pipe or a device would wait for a writer or never end.
    if (!std::filesystem::is_regular_file(status)) {
        return "it is not a regular file";
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    ::close(fd);
    CDMRawDatafile datafile;
    CDatafileSampleInfo sampleInfo;
    if (datafile.Open(path.c_str(), 0) == 0 || datafile.ReadSampleInfo(sampleInfo) == 0) {
        const std::string reason = RawDataOpenError(path.c_str());
        return reason.empty() ? "it is not an mzML or mzXML data set that can be read" : reason;
    }
    return std::nullopt;
}

// A spinner with the elapsed time on a terminal's standard error while the list is built.
class ProgressLine final {
public:
    explicit ProgressLine(std::string label) : label_(std::move(label)) {
        thread_ = std::thread([this] { run(); });
    }
    ~ProgressLine() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void run() {
        static constexpr char kFrames[] = {'|', '/', '-', '\\'};
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock lock(mutex_);
        for (unsigned frame = 0; !done_; ++frame) {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "\r%c reading %s  %.1f s", kFrames[frame % 4], label_.c_str(), seconds);
            std::fflush(stderr);
            wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; });
        }
    }

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// Writes next to the target and renames over it, so a failure leaves an existing file as it was.
bool writeFileAtomically(const std::string& target, const std::string& contents, std::string& error) {
    std::string temporary = target + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
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

int run(const Options& options) {
    if (const auto reason = unreadableReason(options.dataSet)) {
        std::cerr << "varnex-list: cannot read '" << options.dataSet << "': " << *reason << "\n";
        return kExitFailure;
    }
    CPrecursorList list;
    list.SetRawPath(options.dataSet);
    bool built = false;
    {
        std::optional<ProgressLine> progress;
        if (!options.quiet && ::isatty(STDERR_FILENO) == 1) {
            progress.emplace(std::filesystem::path(options.dataSet).filename().string());
        }
        built = list.CreatePrecursorList();
    }
    if (!built) {
        std::cerr << "varnex-list: cannot read '" << options.dataSet
                  << "': the data set could not be opened again while its survey spectra were read\n";
        return kExitFailure;
    }
    list.SortByColumn(precursorColumnIndex(options.sortColumn));

    std::ostringstream table;
    writePrecursors(table, list.m_Precursors, options.format);
    if (list.m_Precursors.GetSize() == 0) {
        std::cerr << "varnex-list: There are no Precursors to Display\n";
    }
    if (options.output == "-") {
        std::cout << table.str() << std::flush;
        if (!std::cout) {
            std::cerr << "varnex-list: cannot write to standard output\n";
            return kExitFailure;
        }
        return 0;
    }
    std::string error;
    if (!writeFileAtomically(options.output, table.str(), error)) {
        std::cerr << "varnex-list: cannot write '" << options.output << "': " << error << "\n";
        return kExitFailure;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (const auto answered = parseArguments(argc, argv, options)) {
            return *answered;
        }
    } catch (const UsageError& error) {
        std::cerr << "varnex-list: " << error.message << "\nTry 'varnex-list --help' for more information.\n";
        return kExitUsage;
    }
    return run(options);
}
