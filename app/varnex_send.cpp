// SPDX-License-Identifier: GPL-3.0-or-later
// varnex-send: delivers the registered message "s_wm_VARNEX_CMD" to the running Varnex windows of this
// user, as another program of the suite would.
//
//   varnex-send [--pid PID] [--timeout MS] WPARAM [LPARAM]
//
// WPARAM 3 closes the window (as OK). Exit status 0 when at least one window handled the message, 1
// when none did, 2 for a usage error.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "system/RegisteredMessage.h"

using varnex::system::SendRegisteredMessage;

namespace {

bool ParseNumber(const char* text, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 0);
    return end != text && *end == '\0';
}

int Usage() {
    std::fprintf(stderr, "usage: varnex-send [--pid PID] [--timeout MS] WPARAM [LPARAM]\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    std::optional<int> pid;
    long long timeoutMs = 5000;
    long long numbers[2] = {0, 0};
    int numberCount = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        long long value = 0;
        if ((argument == "--pid" || argument == "--timeout") && i + 1 < argc) {
            if (!ParseNumber(argv[++i], value) || value <= 0) {
                return Usage();
            }
            if (argument == "--pid") {
                pid = static_cast<int>(value);
            } else {
                timeoutMs = value;
            }
        } else if (numberCount < 2 && ParseNumber(argv[i], value)) {
            numbers[numberCount++] = value;
        } else {
            return Usage();
        }
    }
    if (numberCount == 0) {
        return Usage();
    }

    std::int64_t reply = 0;
    const int handled = SendRegisteredMessage(RegisterWindowMessageA("s_wm_VARNEX_CMD"),
                                              static_cast<std::uint64_t>(numbers[0]), numbers[1], pid,
                                              std::chrono::milliseconds(timeoutMs), &reply);
    if (handled == 0) {
        std::fprintf(stderr, "varnex-send: no Varnex window took the message\n");
        return 1;
    }
    std::printf("%d window(s) handled the message; reply %lld\n", handled, static_cast<long long>(reply));
    return 0;
}
