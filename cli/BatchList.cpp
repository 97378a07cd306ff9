// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/BatchList.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <sched.h>
#include <sstream>
#include <thread>
#include <utility>

#include "model/PrecursorList.h"

using varnex::listio::ExportFormat;
using varnex::listio::WritePrecursorHeader;
using varnex::listio::WritePrecursorRows;

using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnIndex;

namespace varnex::cli {

namespace {

struct DataSetOutcome {
    std::string rows;
    std::optional<std::string> message;
    bool read = false;
};

DataSetOutcome ListOne(const std::string& path, ExportFormat format, PrecursorColumn sortColumn,
                       const PrecursorListBuilder& build) {
    DataSetOutcome outcome;
    try {
        CPrecursorList list;
        if (auto failure = build(path, list)) {
            outcome.message = std::move(*failure);
            return outcome;
        }
        list.SortByColumn(PrecursorColumnIndex(sortColumn));
        std::ostringstream rows;
        WritePrecursorRows(rows, list.m_Precursors, format, path);
        outcome.rows = std::move(rows).str();
        outcome.read = true;
        if (list.m_Precursors.GetSize() == 0) {
            outcome.message = "There are no Precursors to Display in '" + path + "'";
        }
    } catch (const std::exception& error) {
        // One data set too large for memory must not end the listing of the others.
        outcome = DataSetOutcome{};
        outcome.message = "cannot read '" + path + "': " + error.what();
    }
    return outcome;
}

} // namespace

BatchTable ListDataSets(const std::vector<std::string>& paths, unsigned jobs, ExportFormat format,
                        PrecursorColumn sortColumn, const PrecursorListBuilder& build) {
    std::vector<DataSetOutcome> outcomes(paths.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            outcomes[i] = ListOne(paths[i], format, sortColumn, build);
        }
    };
    const std::size_t threadCount = std::clamp<std::size_t>(jobs, 1, std::max<std::size_t>(paths.size(), 1));
    std::vector<std::jthread> workers;
    for (std::size_t i = 1; i < threadCount; ++i) {
        workers.emplace_back(work);
    }
    work();
    workers.clear();

    BatchTable table;
    std::ostringstream text;
    WritePrecursorHeader(text, format, true);
    for (DataSetOutcome& outcome : outcomes) {
        text << outcome.rows;
        if (outcome.message) {
            table.messages.push_back(std::move(*outcome.message));
        }
        table.dataSetsRead += outcome.read ? 1 : 0;
    }
    table.text = std::move(text).str();
    return table;
}

unsigned DefaultJobCount() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&cpus));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace varnex::cli
