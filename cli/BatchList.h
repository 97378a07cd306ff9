// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "listio/PrecursorExport.h"
#include "model/PrecursorColumn.h"

class CPrecursorList;

namespace varnex::cli {

// Builds `list` from the data set at `path`. On failure returns the message to show, naming the data set.
using PrecursorListBuilder =
    std::function<std::optional<std::string>(const std::string& path, CPrecursorList& list)>;

struct BatchTable {
    // One header with a leading File column, then the rows of every data set that was read, data sets in
    // the order given, each sorted on its own.
    std::string text;
    // Why a data set was left out or is empty, one message per data set, in the order given.
    std::vector<std::string> messages;
    std::size_t dataSetsRead = 0;
};

// Lists several data sets into one table, building up to `jobs` of them at a time. A data set that
// cannot be read leaves out its rows only.
BatchTable ListDataSets(const std::vector<std::string>& paths, unsigned jobs,
                        varnex::listio::ExportFormat format, varnex::model::PrecursorColumn sortColumn,
                        const PrecursorListBuilder& build);

// One build at a time per processor this process may run on (a cluster job's CPU set, not the machine's).
unsigned DefaultJobCount();

} // namespace varnex::cli
