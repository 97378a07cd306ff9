// SPDX-License-Identifier: GPL-3.0-or-later
// varnex-list: the precursor list of one DDA data set, built as the window builds it, written as a table;
// several data sets make one table with a leading File column.

#include <cerrno>
#include <charconv>
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
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "cli/BatchList.h"
#include "listio/DataSetCheck.h"
#include "listio/PrecursorExport.h"
#include "model/PrecursorColumn.h"
#include "model/PrecursorList.h"
#include "rawdata/RawData.h"
#include "system/AtomicFile.h"

using varnex::system::WriteFileAtomically;

using varnex::cli::BatchTable;
using varnex::cli::DefaultJobCount;
using varnex::cli::ListDataSets;

using varnex::listio::ExportFormat;
using varnex::listio::UnreadableReason;
using varnex::listio::WritePrecursors;

using varnex::model::kPrecursorColumns;
using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnHeader;
using varnex::model::PrecursorColumnIndex;
using varnex::model::PrecursorColumnKey;

#ifndef VARNEX_VERSION
#define VARNEX_VERSION "unknown"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::vector<std::string> dataSets;
    unsigned jobs = 0; // 0: one per processor
    std::string output = "-";
    ExportFormat format = ExportFormat::Tsv;
    PrecursorColumn sortColumn = PrecursorColumn::SwitchingTime;
    bool quiet = false;
};

void PrintHelp(std::ostream& out) {
    out << "Usage: varnex-list [OPTION]... DATA_SET...\n"
           "List every precursor a data-dependent LC-MS/MS data set (mzML, mzML.gz or mzXML) switched to:\n"
           "one line per run of MS/MS scans on one set mass, with its survey scan, charge state and\n"
           "intensity, as the Varnex window shows them.\n"
           "\n"
           "Several data sets make one table whose first column, File, holds each line's data set as\n"
           "given; the data sets follow in the order given. A data set that cannot be read is named on\n"
           "standard error and left out, and the exit status is 1.\n"
           "\n"
           "  -o, --output FILE    write to FILE instead of standard output; FILE is replaced only when\n"
           "                       the whole list was written\n"
           "  -f, --format FORMAT  tsv (default) or csv\n"
           "  -s, --sort COLUMN    sort ascending by COLUMN: switching-time (default), set-mass,\n"
           "                       function-name, charge-state or intensity, or its number 0-4\n"
           "  -j, --jobs N         read up to N data sets at a time (default: one per processor)\n"
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
           "Exit status: 0 on success, 1 when a data set cannot be read or the output cannot be written,\n"
           "2 on a usage error.\n";
}

std::optional<PrecursorColumn> ParseColumn(std::string_view text) {
    for (const PrecursorColumn column : kPrecursorColumns) {
        if (text == PrecursorColumnKey(column) || text == PrecursorColumnHeader(column) ||
            text == std::to_string(PrecursorColumnIndex(column))) {
            return column;
        }
    }
    return std::nullopt;
}

struct UsageError {
    std::string message;
};

// Returns the exit status when the command line is already answered (help, version, error).
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
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
            options.dataSets.push_back(argument);
        } else if (isFlag("--", "--")) {
            onlyOperands = true;
        } else if (isFlag("-h", "--help")) {
            PrintHelp(std::cout);
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
        } else if (argument == "-j" || argument == "--jobs") {
            const std::string jobs = value(argument);
            unsigned parsed = 0;
            const auto [end, error] = std::from_chars(jobs.data(), jobs.data() + jobs.size(), parsed);
            if (error != std::errc() || end != jobs.data() + jobs.size() || parsed == 0) {
                throw UsageError{"the number of jobs must be a positive whole number, not '" + jobs + "'"};
            }
            options.jobs = parsed;
        } else if (argument == "-s" || argument == "--sort") {
            const std::string column = value(argument);
            const auto parsed = ParseColumn(column);
            if (!parsed) {
                throw UsageError{"unknown sort column '" + column +
                                 "' (switching-time, set-mass, function-name, charge-state, intensity)"};
            }
            options.sortColumn = *parsed;
        } else {
            throw UsageError{"unknown option '" + argument + "'"};
        }
    }
    if (options.dataSets.empty()) {
        throw UsageError{"no data set given"};
    }
    return std::nullopt;
}

// A spinner with the elapsed time on a terminal's standard error while the list is built.
class ProgressLine final {
public:
    explicit ProgressLine(std::string label) : label_(std::move(label)) {
        thread_ = std::thread([this] { Run(); });
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
    void Run() {
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

// Why the data set at `path` cannot be listed, naming it; nothing when `list` now holds its precursors.
std::optional<std::string> BuildList(const std::string& path, CPrecursorList& list) {
    std::optional<std::string> reason = UnreadableReason(path);
    // Held open through the build, so the parsed data set stays in the reader's cache while other data
    // sets pass through it, instead of being parsed again.
    CDMRawDatafile keepParsed;
    if (!reason) {
        keepParsed.Open(path.c_str(), 0); // the build opens it again and reports a failure itself
        list.SetRawPath(path);
        if (!list.CreatePrecursorList()) {
            reason = "the data set could not be opened again while its survey spectra were read";
        }
    }
    if (reason) {
        return "cannot read '" + path + "': " + *reason;
    }
    return std::nullopt;
}

// One data set keeps the table it always had, without a File column, so existing scripts keep working.
// With `keepText` false the table is left for the caller to write from `list`: a table written straight
// to standard output needs no copy of itself in memory (tens of megabytes for a long run).
BatchTable ListSingle(const Options& options, CPrecursorList& list, bool keepText) {
    BatchTable listing;
    if (auto failure = BuildList(options.dataSets.front(), list)) {
        listing.messages.push_back(std::move(*failure));
        return listing;
    }
    list.SortByColumn(PrecursorColumnIndex(options.sortColumn));
    if (keepText) {
        std::ostringstream table;
        WritePrecursors(table, list.m_Precursors, options.format);
        listing.text = std::move(table).str();
    }
    listing.dataSetsRead = 1;
    if (list.m_Precursors.GetSize() == 0) {
        listing.messages.emplace_back("There are no Precursors to Display");
    }
    return listing;
}

int Run(const Options& options) {
    BatchTable listing;
    CPrecursorList single;
    const bool singleToStandardOutput = options.dataSets.size() == 1 && options.output == "-";
    {
        std::optional<ProgressLine> progress;
        if (!options.quiet && ::isatty(STDERR_FILENO) == 1) {
            progress.emplace(options.dataSets.size() == 1
                                 ? std::filesystem::path(options.dataSets.front()).filename().string()
                                 : std::to_string(options.dataSets.size()) + " data sets");
        }
        listing = options.dataSets.size() == 1
                      ? ListSingle(options, single, !singleToStandardOutput)
                      : ListDataSets(options.dataSets, options.jobs != 0 ? options.jobs : DefaultJobCount(),
                                     options.format, options.sortColumn, BuildList);
    }
    for (const std::string& message : listing.messages) {
        std::cerr << "varnex-list: " << message << "\n";
    }
    // With nothing read there is nothing to show, and an earlier output file is worth more than a header.
    if (listing.dataSetsRead == 0) {
        return kExitFailure;
    }
    const int status = listing.dataSetsRead == options.dataSets.size() ? 0 : kExitFailure;
    if (options.output == "-") {
        if (singleToStandardOutput) {
            WritePrecursors(std::cout, single.m_Precursors, options.format);
        } else {
            std::cout << listing.text;
        }
        std::cout << std::flush;
        if (!std::cout) {
            std::cerr << "varnex-list: cannot write to standard output\n";
            return kExitFailure;
        }
        return status;
    }
    std::string error;
    if (!WriteFileAtomically(options.output, listing.text, error)) {
        std::cerr << "varnex-list: cannot write '" << options.output << "': " << error << "\n";
        return kExitFailure;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (const auto answered = ParseArguments(argc, argv, options)) {
            return *answered;
        }
    } catch (const UsageError& error) {
        std::cerr << "varnex-list: " << error.message << "\nTry 'varnex-list --help' for more information.\n";
        return kExitUsage;
    }
    return Run(options);
}
