// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The application object. Start-up runs in InitInstance: logon phase 1, the command line, the build of
// the precursor list behind the progress dialog, the check for an empty list, logon phase 2 and the
// modal precursor list window. InitInstance always returns 0, so the program ends when that window
// closes or as soon as a step fails.

#include "outside/SecurityApp.h"
#include "ui/Resource.h"

class CVarnexApp final : public CSecurityApp {
public:
    CVarnexApp() = default;

    BOOL InitInstance() override;
    // ID_HELP, then the framework's own commands (CSecurityApp adds none).
    BOOL OnCmdMsg(UINT nID) override;
};

// The one application object of the process.
extern CVarnexApp theApp;
