// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/LogHost.h"

#include <cstdio>
#include <ostream>

#include "hostlink/HostLink.h"
#include "hostlink/HostServer.h"

namespace varnex::host {

std::string PrintableCommandLine(std::string_view command) {
    std::string line;
    line.reserve(command.size());
    for (const char c : command) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
            line += escaped;
        } else {
            line.push_back(c);
        }
    }
    return line;
}

int RunLogHost(varnex::hostlink::HostCommandServer& server, std::ostream& out) {
    server.Run([&out](std::string_view command) {
        out << PrintableCommandLine(command) << std::endl;
        return std::string(varnex::hostlink::kReplyOk);
    });
    return 0;
}

} // namespace varnex::host
