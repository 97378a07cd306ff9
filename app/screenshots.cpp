// SPDX-License-Identifier: GPL-3.0-or-later
// varnex-screenshots: renders the program's windows to PNG files for the documentation: the progress
// dialog, the precursor list window (whole and filtered), the Filter, Display Options and About
// dialogs, as they appear on the running display, and then the host display after a double-click on a
// precursor, with its chromatogram display (the precursor's XIC beside the TIC traces) on its own. Used by
// tools/screenshots.sh under Xvfb, with a private runtime directory for the host's endpoint; not
// installed.
//
// Usage: varnex-screenshots DATA-SET OUTPUT-DIRECTORY

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPixmap>
#include <QTableView>
#include <QTimer>

#include "host/DisplayViews.h"
#include "host/HostDisplayService.h"
#include "platform/WinApp.h"
#include "settings/DecimalPlaces.h"
#include "ui/PrecursorFilter.h"
#include "ui/Resource.h"
#include "ui/VarnexDlg.h"

using varnex::host::HostDisplayService;
using varnex::host::HostWindow;

using varnex::ui::PrecursorFilter;
using varnex::ui::RegisterVarnexStrings;

namespace {

QString outputDirectory;
int written = 0;

void Save(QWidget* window, const char* name) {
    if (window == nullptr) {
        return;
    }
    const QString path = QDir(outputDirectory).filePath(QString::fromLatin1(name));
    if (window->grab().save(path)) {
        ++written;
        std::printf("%s\n", qPrintable(path));
    }
}

// Grabs the next modal window once it is up, then lets `close` end it.
void GrabNextModal(const char* name, std::function<void(QWidget*)> close) {
    QTimer::singleShot(400, [name, close] {
        QWidget* modal = QApplication::activeModalWidget();
        Save(modal, name);
        if (modal != nullptr) {
            close(modal);
        }
    });
}

// A precursor that shows well: one of the longest runs of MS/MS scans, switched to in the middle half
// of the run (so the pointer is not at an edge of the chromatogram), with a charge state, and the most
// intense of those. -1 when the list is empty.
int PickShowcaseRow(const CPrecursorList& list) {
    const int count = list.m_Precursors.GetSize();
    int longestRun = 0;
    float lastSwitch = 0.0f;
    for (int i = 0; i < count; ++i) {
        const CPrecursor precursor = list.m_Precursors.GetAt(i);
        longestRun = std::max(longestRun, precursor.m_nLastScan - precursor.m_nFirstScan);
        lastSwitch = std::max(lastSwitch, precursor.m_fSwitchingTime);
    }
    int best = -1;
    float bestIntensity = -1.0f;
    for (int pass = 0; pass < 2 && best < 0; ++pass) {
        for (int i = 0; i < count; ++i) {
            const CPrecursor precursor = list.m_Precursors.GetAt(i);
            // The second pass takes any precursor, for data sets where none fits.
            const bool fits = pass == 1 || (precursor.m_nLastScan - precursor.m_nFirstScan == longestRun &&
                                            precursor.m_nChargeState > 0 &&
                                            precursor.m_fSwitchingTime >= 0.25f * lastSwitch &&
                                            precursor.m_fSwitchingTime <= 0.75f * lastSwitch);
            if (fits && precursor.m_fIntensity > bestIntensity) {
                best = i;
                bestIntensity = precursor.m_fIntensity;
            }
        }
    }
    return best;
}

// Double-clicks `row` of the list with the mouse, as a user does.
void DoubleClickRow(CVarnexDlg& dialog, int row) {
    dialog.m_listCtrl.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    QTableView* view = dialog.m_listCtrl.GetView();
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    QWidget* viewport = view->viewport();
    const QPointF local = view->visualRect(index).center();
    const QPointF global = viewport->mapToGlobal(local);
    const auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
}

// Shows the host window once it shows the eight commands of one double-click, and saves it.
void GrabHostDisplay(HostDisplayService& host) {
    constexpr unsigned long long kCommandsOfADoubleClick = 8;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        const auto shown = host.Window()->ShownState();
        if (shown && shown->revision >= kCommandsOfADoubleClick) {
            break;
        }
    }
    const auto shown = host.Window()->ShownState();
    if (!shown || shown->revision < kCommandsOfADoubleClick) {
        std::fprintf(stderr, "varnex-screenshots: the host display did not show the double-click\n");
        return;
    }
    if (shown->lastCommandFailed) {
        std::fprintf(stderr, "varnex-screenshots: host: %s\n", shown->status.c_str());
    }
    HostWindow* window = host.Window();
    window->resize(1100, 850);
    window->show();
    // Let the window system map it and the plots lay out before grabbing.
    timer.restart();
    while (timer.elapsed() < 500) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    Save(window, "host-display.png");
    Save(window->Chromatogram(), "host-xic.png");
    window->close();
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnex-screenshots DATA-SET OUTPUT-DIRECTORY\n");
        return 2;
    }
    QApplication application(argc, argv);
    RegisterVarnexStrings();
    QApplication::setApplicationDisplayName(QString::fromStdString(AfxLoadString(AFX_IDS_APP_TITLE)));
    outputDirectory = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outputDirectory);

    // The host display, listening in this process at the runtime directory's endpoint.
    HostDisplayService host;
    std::string hostError;
    if (!host.Start(hostError)) {
        std::fprintf(stderr, "varnex-screenshots: the host display cannot start: %s\n", hostError.c_str());
        return 1;
    }

    CVarnexDlg dialog;
    // The progress dialog ends itself once the list is built.
    GrabNextModal("progress-dialog.png", [](QWidget*) {});
    dialog.LoadRawData(argv[1]);
    if (dialog.GetPrecursorCount() <= 0) {
        std::fprintf(stderr, "varnex-screenshots: no precursors in %s\n", argv[1]);
        return 1;
    }
    QTimer::singleShot(300, &dialog, [&dialog, &host] {
        dialog.resize(900, 420);
        dialog.m_listCtrl.SetItemState(3, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        QTimer::singleShot(300, &dialog, [&dialog, &host] {
            Save(&dialog, "main-window.png");
            PrecursorFilter filter;
            filter.minSetMass = 400.0f;
            filter.maxSetMass = 800.0f;
            filter.chargeStates = std::set<int>{2, 3};
            dialog.SetFilter(filter);
            GrabNextModal("filter-dialog.png",
                          [](QWidget* modal) { static_cast<CDialog*>(modal)->EndDialog(IDCANCEL); });
            dialog.OnDisplayFilter();
            QApplication::processEvents();
            Save(&dialog, "filtered-window.png");
            dialog.SetFilter(PrecursorFilter{});
            GrabNextModal("display-options.png",
                          [](QWidget* modal) { static_cast<CDialog*>(modal)->EndDialog(IDCANCEL); });
            dialog.OnDisplayOptions();
            GrabNextModal("about-box.png", [](QWidget* modal) { modal->close(); });
            dialog.ShowAboutBox();
            DoubleClickRow(dialog, PickShowcaseRow(dialog.m_precursorList));
            GrabHostDisplay(host);
            dialog.EndDialog(IDOK);
        });
    });
    dialog.DoModal();
    host.Stop();
    return written == 8 ? 0 : 1;
}
