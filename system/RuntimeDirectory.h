// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The per-user directory of the program's local endpoints (window message sockets, the host link,
// named events): $VARNEX_RUNTIME_DIR when set, else ${XDG_RUNTIME_DIR}/varnex, else /tmp/varnex-<uid>.

#include <string>

namespace varnex::system {

// The directory, created 0700 when missing. Empty when it cannot be created or is not private to this
// user (a symlink, another user's, or open to group or others); `whyNot`, when given, then says which,
// and how to choose another directory.
std::string VarnexRuntimeDirectory(std::string* whyNot = nullptr);

} // namespace varnex::system
