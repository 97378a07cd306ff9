// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whether a data set can be read, asked before a build: the build itself only ever reports an empty
// list. varnex-list and the window name the same reasons.

#include <optional>
#include <string>

namespace varnex::listio {

// Why `path` cannot be read as a data set ("it is a directory", the system's error text ...), or
// nothing when it opens as an mzML or mzXML data set.
std::optional<std::string> UnreadableReason(const std::string& path);

} // namespace varnex::listio
