// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CDisplayAbout: the About box every program of the suite shows. It names the program and its version,
// states the licence, and stays up until the user closes it.

#include <string>

#include "platform/WinApp.h"
#include "system/WinTypes.h"

class QDialog;

class CDisplayAbout {
public:
    // pszProgram: the name shown as the title; pszExtra: an optional line under it (null: none);
    // nFlags: reserved, 0; hResources: the caller's resources, for the program's icon.
    CDisplayAbout(HWND hOwner, char* pszProgram, char* pszExtra, unsigned int nFlags, HINSTANCE hResources);
    virtual ~CDisplayAbout();
    CDisplayAbout(const CDisplayAbout&) = delete;
    CDisplayAbout& operator=(const CDisplayAbout&) = delete;

    // Modal: returns once the user has closed the box.
    void Show();

    // The box while Show runs (null otherwise), so that its owner can see what it shows.
    QDialog* GetBox() const { return m_box; }

private:
    HWND m_owner;
    std::string m_program;
    std::string m_extra;
    QDialog* m_box = nullptr;
};
