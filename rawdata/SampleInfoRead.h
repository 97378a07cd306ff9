// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Ours, beside the library's calls: the open-then-read-sample-info pair that every reader of a data
// set's functions makes, in one call.

#include <string>

#include "rawdata/RawData.h"

namespace varnex::rawdata {

// Opens the data set at `path` and reads its sample info into `info`. False when either step fails;
// RawDataOpenError(path) then says why.
bool ReadDataSetSampleInfo(const std::string& path, CDatafileSampleInfo& info);

} // namespace varnex::rawdata
