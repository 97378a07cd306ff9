// SPDX-License-Identifier: GPL-3.0-or-later
#include "rawdata/SampleInfoRead.h"

namespace varnex::rawdata {

bool ReadDataSetSampleInfo(const std::string& path, CDatafileSampleInfo& info) {
    CDMRawDatafile datafile;
    return datafile.Open(path.c_str(), 0) != 0 && datafile.ReadSampleInfo(info) != 0;
}

} // namespace varnex::rawdata
