// SPDX-License-Identifier: GPL-3.0-or-later
#include "listio/DataSetCheck.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

#include "rawdata/SampleInfoRead.h"

using varnex::rawdata::RawDataOpenError;
using varnex::rawdata::ReadDataSetSampleInfo;

namespace varnex::listio {

std::optional<std::string> UnreadableReason(const std::string& path) {
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
    CDatafileSampleInfo sampleInfo;
    if (!ReadDataSetSampleInfo(path, sampleInfo)) {
        const std::string reason = RawDataOpenError(path.c_str());
        return reason.empty() ? "it is not an mzML or mzXML data set that can be read" : reason;
    }
    return std::nullopt;
}

} // namespace varnex::listio
