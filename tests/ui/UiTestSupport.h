// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Running the precursor list window in tests: a window over precursors made in the test (no data set),
// shown modally while a script acts on it as a user would.

#include <functional>
#include <string>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include "model/Precursor.h"
#include "support/TestApplication.h"
#include "ui/VarnexDlg.h"

namespace ui_test {

// A member placed before any widget member, so that the application exists when they are constructed.
struct ApplicationFirst {
    ApplicationFirst() { TestApplication(); }
};

inline CPrecursor MakePrecursor(float switchingTime, float setMass, const std::string& function, int charge,
                                float intensity) {
    CPrecursor precursor;
    precursor.m_fSwitchingTime = switchingTime;
    precursor.m_fSetMass = setMass;
    precursor.m_strFunctionName = function;
    precursor.m_nChargeState = charge;
    precursor.m_fIntensity = intensity;
    return precursor;
}

// Lets queued notifications (double-clicks reach the window from the event loop) arrive.
inline void ProcessEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

// Shows the window, runs `script` once its modal loop is up and the window is on screen with its rows,
// and ends it with IDABORT if the script did not. Returns DoModal's result.
inline INT_PTR RunWindow(CVarnexDlg& dialog, const std::function<void()>& script) {
    QTimer::singleShot(0, &dialog, [&dialog, script] {
        if (QTest::qWaitForWindowExposed(&dialog)) {
            ProcessEvents();
        }
        script();
        if (dialog.isVisible()) {
            dialog.EndDialog(IDABORT);
        }
    });
    return dialog.DoModal();
}

} // namespace ui_test
