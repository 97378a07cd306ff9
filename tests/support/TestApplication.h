// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one QApplication of a test executable (offscreen), created on first use on the main thread. It
// is never destroyed: at process exit Qt's own statics (QTest's input devices) may already be gone.

#include <QApplication>

inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "varnex-tests";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}
