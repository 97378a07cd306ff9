// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The command-line host: accepts every command at the endpoint and prints it on its own line, so a user
// can watch what Varnex sends without a display.

#include <iosfwd>
#include <string>
#include <string_view>

namespace varnex::hostlink {
class HostCommandServer;
}

namespace varnex::host {

// The command as one printable line: control characters (a newline in a path, say) become \xNN escapes.
std::string PrintableCommandLine(std::string_view command);

// Serves until the server is stopped; returns the process exit code.
int RunLogHost(varnex::hostlink::HostCommandServer& server, std::ostream& out);

} // namespace varnex::host
