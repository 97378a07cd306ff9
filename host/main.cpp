// SPDX-License-Identifier: GPL-3.0-or-later
// varnex-host: the host display that carries out Varnex's commands, or with --log a command-line host
// that prints them.

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include "host/HostDisplayService.h"
#include "host/LogHost.h"
#include "hostlink/HostServer.h"

using varnex::host::HostDisplayService;
using varnex::host::RunLogHost;

namespace {

constexpr const char* kUsage =
    "usage: varnex-host [--log] [data set]\n"
    "  Listens for Varnex's commands and shows the chromatograms and spectra they ask for.\n"
    "  --log      print each command on its own line instead (no display needed)\n"
    "  data set   an mzML or mzXML file to open at once\n";

varnex::hostlink::HostCommandServer* logServer = nullptr;
int signalPipe[2] = {-1, -1};

extern "C" void StopLogHost(int) {
    if (logServer) {
        logServer->Stop();
    }
}

extern "C" void WakeDisplayHost(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

int RunLogMode() {
    varnex::hostlink::HostCommandServer server;
    std::string error;
    if (!server.Listen(error)) {
        std::cerr << "varnex-host: " << error << '\n';
        return 1;
    }
    logServer = &server;
    std::signal(SIGINT, StopLogHost);
    std::signal(SIGTERM, StopLogHost);
    std::cerr << "varnex-host: listening at " << server.SocketPath() << '\n';
    const int code = RunLogHost(server, std::cout);
    logServer = nullptr;
    return code;
}

int RunDisplay(int argc, char** argv, const char* dataSet) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varnex-host"));
    HostDisplayService service;
    std::string error;
    if (!service.Start(error)) {
        std::cerr << "varnex-host: " << error << '\n';
        return 1;
    }
    // Quit cleanly on SIGINT/SIGTERM so the endpoint's socket file is removed.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
        std::signal(SIGINT, WakeDisplayHost);
        std::signal(SIGTERM, WakeDisplayHost);
    }
    if (dataSet) {
        service.Launch(dataSet);
    }
    service.Window()->show();
    const int code = app.exec();
    service.Stop();
    return code;
}

} // namespace

int main(int argc, char** argv) {
    bool logMode = false;
    const char* dataSet = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--log") == 0) {
            logMode = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << kUsage;
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            continue; // Qt's own options, such as --platform
        } else if (!dataSet) {
            dataSet = argv[i];
        }
    }
    return logMode ? RunLogMode() : RunDisplay(argc, argv, dataSet);
}
