// SPDX-License-Identifier: GPL-3.0-or-later
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host/LogHost.h"
#include "hostlink/HostLink.h"
#include "hostlink/HostServer.h"
#include "support/TestHost.h"

using varnex::host::PrintableCommandLine;
using varnex::host::RunLogHost;

TEST(LogHost, PrintsEachCommandOnItsOwnLineInArrivalOrder) {
    ScopedRuntimeDirectory runtime;
    varnex::hostlink::HostCommandServer server;
    std::string error;
    ASSERT_TRUE(server.Listen(error)) << error;
    std::ostringstream out;
    std::thread host([&] { RunLogHost(server, out); });

    const std::string commands[] = {
        "app.command[chrodisplay:clear]()",
        "app.command[specdisplay:DDALaunch](/data/my run:1/échantillon.mzML)",
        "app.command[specdisplay:combine](12:15:3:/odd\npath)",
    };
    for (const std::string& command : commands) {
        EXPECT_EQ(SendHostCommand(command.c_str(), 5000), 1);
    }
    server.Stop();
    host.join();

    EXPECT_EQ(out.str(), "app.command[chrodisplay:clear]()\n"
                         "app.command[specdisplay:DDALaunch](/data/my run:1/échantillon.mzML)\n"
                         "app.command[specdisplay:combine](12:15:3:/odd\\x0Apath)\n");
}

TEST(LogHost, ControlCharactersAreEscapedSoOneCommandStaysOneLine) {
    EXPECT_EQ(PrintableCommandLine(std::string("a\r\nb\tc\0d\x7F", 9)), "a\\x0D\\x0Ab\\x09c\\x00d\\x7F");
    EXPECT_EQ(PrintableCommandLine("D:\\data\\sample01"), "D:\\data\\sample01");
}
