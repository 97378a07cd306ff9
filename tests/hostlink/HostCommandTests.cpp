// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostlink/HostCommand.h"

using namespace varnex::hostlink;

namespace {

HostCommand Parsed(const std::string& text) {
    const HostCommandParse parsed = ParseHostCommand(text);
    EXPECT_TRUE(parsed.command.has_value()) << text << ": " << parsed.error;
    return parsed.command.value_or(HostCommand{});
}

std::string Rejection(const std::string& text) {
    const HostCommandParse parsed = ParseHostCommand(text);
    EXPECT_FALSE(parsed.command.has_value()) << text;
    EXPECT_FALSE(parsed.error.empty()) << text;
    return parsed.error;
}

} // namespace

TEST(HostCommandParsing, EveryVerbOfTheEightCommands) {
    EXPECT_EQ(Parsed("app.command[chrodisplay:clear]()").verb, HostVerb::ChromatogramClear);
    const HostCommand tic = Parsed("app.command[chrodisplay:add](TIC:3)");
    EXPECT_EQ(tic.verb, HostVerb::ChromatogramAddTic);
    EXPECT_EQ(tic.function, 3);
    const HostCommand pointer = Parsed("app.command[chrodisplay:setpointer](SCAN:152)");
    EXPECT_EQ(pointer.verb, HostVerb::ChromatogramSetPointer);
    EXPECT_EQ(pointer.scan, 152);
    const HostCommand launch = Parsed("app.command[specdisplay:DDALaunch](D:\\data\\sample01)");
    EXPECT_EQ(launch.verb, HostVerb::SpectrumLaunch);
    EXPECT_EQ(launch.path, "D:\\data\\sample01");
    EXPECT_EQ(Parsed("app.command[specdisplay:clear]()").verb, HostVerb::SpectrumClear);
    const HostCommand combine = Parsed("app.command[specdisplay:combine](12:15:3:D:\\data\\sample01)");
    EXPECT_EQ(combine.verb, HostVerb::SpectrumCombine);
    EXPECT_EQ(combine.firstScan, 12);
    EXPECT_EQ(combine.lastScan, 15);
    EXPECT_EQ(combine.function, 3);
    EXPECT_EQ(combine.path, "D:\\data\\sample01");
    const HostCommand add = Parsed("app.command[specdisplay:add](1:152)");
    EXPECT_EQ(add.verb, HostVerb::SpectrumAdd);
    EXPECT_EQ(add.function, 1);
    EXPECT_EQ(add.scan, 152);
}

TEST(HostCommandParsing, PathIsEverythingAfterTheKnownArgumentsWhateverItHolds) {
    const std::string paths[] = {"/data/my run:2/a b:c.mzML",
                                 "/odd)/name](x).mzML",
                                 "/line\nbreak/ü.mzML",
                                 "C:",
                                 ":leading",
                                 "12:15:3:/nested"};
    for (const std::string& path : paths) {
        EXPECT_EQ(Parsed("app.command[specdisplay:combine](1:2:3:" + path + ")").path, path);
        EXPECT_EQ(Parsed("app.command[specdisplay:DDALaunch](" + path + ")").path, path);
    }
}

TEST(HostCommandParsing, SurveyScanZeroIsAValidPointerAndAdd) {
    EXPECT_EQ(Parsed("app.command[chrodisplay:setpointer](SCAN:0)").scan, 0);
    EXPECT_EQ(Parsed("app.command[specdisplay:add](1:0)").scan, 0);
}

TEST(HostCommandParsing, MalformedTextIsRejectedWithAReason) {
    EXPECT_NE(Rejection("app.command[bogus:verb]()").find("unknown command bogus:verb"), std::string::npos);
    Rejection("");
    Rejection("chrodisplay:clear()");
    Rejection("app.command[chrodisplay:clear]");
    Rejection("app.command[chrodisplay:clear](");
    Rejection("app.command[chrodisplayclear]()");
    Rejection("app.command[chrodisplay:clear](x)");
    Rejection("app.command[chrodisplay:add](3)");
    Rejection("app.command[chrodisplay:add](TIC:)");
    Rejection("app.command[chrodisplay:add](TIC:0)");
    Rejection("app.command[chrodisplay:add](TIC:3:4)");
    Rejection("app.command[chrodisplay:add](tic:3)");
    Rejection("app.command[chrodisplay:setpointer](SCAN: 5)");
    Rejection("app.command[chrodisplay:setpointer](SCAN:+5)");
    Rejection("app.command[chrodisplay:setpointer](SCAN:-1)");
    Rejection("app.command[chrodisplay:setpointer](SCAN:99999999999)");
    Rejection("app.command[specdisplay:DDALaunch]()");
    Rejection("app.command[specdisplay:combine](12:15:3)");
    Rejection("app.command[specdisplay:combine](12:15:3:)");
    Rejection("app.command[specdisplay:combine](15:12:3:/p)");
    Rejection("app.command[specdisplay:combine](1.5:2:3:/p)");
    Rejection("app.command[specdisplay:add](1)");
    Rejection("app.command[specdisplay:add](1:2:3)");
    Rejection(std::string("app.command[specdisplay:add](1:\0)", 33));
}

// The window formats what the host parses: every command of a double-click comes back as it was sent,
// whatever the data set's path holds.
TEST(HostCommandText, TheEightCommandsOfAPrecursorRoundTrip) {
    const HostPrecursor precursor{3, 152, 12, 15, "D:\\data\\sample01"};
    const std::vector<std::string> expected = {
        "app.command[chrodisplay:clear]()",
        "app.command[chrodisplay:add](TIC:3)",
        "app.command[chrodisplay:add](TIC:1)",
        "app.command[chrodisplay:setpointer](SCAN:152)",
        "app.command[specdisplay:DDALaunch](D:\\data\\sample01)",
        "app.command[specdisplay:clear]()",
        "app.command[specdisplay:combine](12:15:3:D:\\data\\sample01)",
        "app.command[specdisplay:add](1:152)",
    };
    std::vector<std::string> texts;
    for (const HostCommand& command : ShowPrecursorCommands(precursor)) {
        texts.push_back(FormatHostCommand(command));
        EXPECT_EQ(Parsed(texts.back()), command) << texts.back();
        EXPECT_EQ(FormatHostCommand(Parsed(texts.back())), texts.back());
    }
    EXPECT_EQ(texts, expected);
}

TEST(HostCommandText, OddPathsAndSurveyScanZeroRoundTrip) {
    for (const std::string path :
         {"/data/my run:2/a b:c.mzML", "/odd)/name](x).mzML", "12:15:3:/nested", ":"}) {
        for (const HostCommand& command : ShowPrecursorCommands(HostPrecursor{2, 0, 1, 4, path})) {
            const std::string text = FormatHostCommand(command);
            EXPECT_EQ(Parsed(text), command) << text;
        }
    }
}
