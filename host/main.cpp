// varnex-host: the host display that carries out Varnex's commands, or with --log a command-line host
// that prints them.

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "host/LogHost.h"
#include "hostlink/HostServer.h"

namespace {

hostlink::HostCommandServer* runningServer = nullptr;

extern "C" void StopOnSignal(int) {
    if (runningServer)
        runningServer->Stop();
}

int RunLogMode() {
    hostlink::HostCommandServer server;
    std::string error;
    if (!server.Listen(error)) {
        std::cerr << "varnex-host: " << error << '\n';
        return 1;
    }
    runningServer = &server;
    std::signal(SIGINT, StopOnSignal);
    std::signal(SIGTERM, StopOnSignal);
    std::cerr << "varnex-host: listening at " << server.SocketPath() << '\n';
    const int code = RunLogHost(server, std::cout);
    runningServer = nullptr;
    return code;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--log") == 0)
            return RunLogMode();
    std::cerr << "usage: varnex-host --log\n";
    return 2;
}
