// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/WinApp.h"

namespace {

class FileNames final : public CCommandLineInfo {
public:
    void ParseParam(const char* pszParam, BOOL bFlag, BOOL bLast) override {
        seen.push_back(std::string(bFlag ? "flag:" : "file:") + pszParam + (bLast ? " (last)" : ""));
        CCommandLineInfo::ParseParam(pszParam, bFlag, bLast);
    }
    std::vector<std::string> seen;
};

TEST(CommandLine, FirstNonFlagParameterIsTheFileAndAbsolutePathsAreNotFlags) {
    CWinApp app;
    app.SetCommandLine({"varnex", "-p", "/data/run 1.mzML", "second.mzML"});
    FileNames info;
    app.ParseCommandLine(info);
    EXPECT_EQ(info.m_strFileName, "/data/run 1.mzML");
    EXPECT_EQ(info.seen,
              (std::vector<std::string>{"flag:p", "file:/data/run 1.mzML", "file:second.mzML (last)"}));
}

TEST(CommandLine, DoubleDashEndsTheFlags) {
    CWinApp app;
    app.SetCommandLine({"varnex", "--", "-odd-name.mzML"});
    CCommandLineInfo info;
    app.ParseCommandLine(info);
    EXPECT_EQ(info.m_strFileName, "-odd-name.mzML");
}

TEST(CommandLine, NoParametersLeaveThePathEmpty) {
    CWinApp app;
    app.SetCommandLine({"varnex"});
    CCommandLineInfo info;
    app.ParseCommandLine(info);
    EXPECT_TRUE(info.m_strFileName.empty());
}

} // namespace
