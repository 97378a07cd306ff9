// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The link to the host data-system application. The host listens on a Unix domain socket private to
// the user: quorix.sock in the per-user runtime directory (VarnexRuntimeDirectory: $VARNEX_RUNTIME_DIR,
// else $XDG_RUNTIME_DIR/varnex, else /tmp/varnex-<uid>; 0700 and owned by the user). Each command travels on
// its own connection as one frame (see Framing.h) and the host answers with one frame: "ok" once it has
// accepted the command, "error: <why>" otherwise. The host carries out accepted commands in the order it
// received them.

#include <optional>
#include <string>
#include <string_view>

namespace varnex::hostlink {

inline constexpr const char* kSocketFileName = "quorix.sock";
inline constexpr const char* kReplyOk = "ok";
inline constexpr const char* kReplyErrorPrefix = "error: ";

// The endpoint's path, or nullopt (with `error` set) when the directory is unusable or the path does
// not fit a socket address.
std::optional<std::string> EndpointPath(std::string& error);

enum class SendStatus {
    Accepted, // the host answered "ok"
    Rejected, // the host answered, but not "ok" (reply text says why)
    NoHost,   // nothing listens at the endpoint, or a stale socket file is left there
    TimedOut, // the host did not accept, read or answer within the time allowed
    Failed,   // the endpoint is unusable, the command too long, or the connection broke
};

struct SendResult {
    SendStatus status = SendStatus::Failed;
    std::string reply; // the host's reply, or what went wrong
};

// Delivers one command and waits at most timeoutMs (in total) for the host's reply. Never raises
// SIGPIPE and never blocks past the timeout.
SendResult SendCommand(std::string_view command, int timeoutMs);

} // namespace varnex::hostlink

// The host-link library's two entry points as the precursor list window calls them.

// Nonzero when a host of this user accepts connections at the endpoint.
bool IsQuorixRunning();
// Sends one NUL-terminated command; nonzero when the host accepted it within timeoutMs milliseconds.
int SendHostCommand(const char* command, int timeoutMs);
