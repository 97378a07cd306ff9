#pragma once

#include <ostream>

#include "model/PrecursorArray.h"

enum class ExportFormat { Tsv, Csv };

// One header line, then one line per precursor in array order: the five list columns followed by the
// fields the host commands use. Numbers in the shortest form that reads back to the same value.
void writePrecursors(std::ostream& out, const CPrecursorArray& precursors, ExportFormat format);
