// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <ostream>
#include <string_view>

#include "model/PrecursorArray.h"

namespace varnex::listio {

enum class ExportFormat { Tsv, Csv };

// One header line, then one line per precursor in array order: the five list columns followed by the
// fields the host commands use. Numbers in the shortest form that reads back to the same value.
void WritePrecursors(std::ostream& out, const CPrecursorArray& precursors, ExportFormat format);

// The same table in two halves, for tables that join several data sets: with `withDataSet` the header
// starts with a File column, and every row of `precursors` starts with `dataSet`.
void WritePrecursorHeader(std::ostream& out, ExportFormat format, bool withDataSet);
void WritePrecursorRows(std::ostream& out, const CPrecursorArray& precursors, ExportFormat format,
                        std::optional<std::string_view> dataSet);

} // namespace varnex::listio
