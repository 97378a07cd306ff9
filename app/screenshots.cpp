// varnex-screenshots: renders the program's windows to PNG files for the documentation: the progress
// dialog, the precursor list window, the Display Options dialog and the About box, as they appear on
// the running display. Used by tools/screenshots.sh under Xvfb; not installed.
//
// Usage: varnex-screenshots DATA-SET OUTPUT-DIRECTORY

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTableView>
#include <QTimer>

#include "outside/WinApp.h"
#include "settings/DecimalPlaces.h"
#include "ui/Resource.h"
#include "ui/VarnexDlg.h"

namespace {

QString outputDirectory;
int written = 0;

void save(QWidget* window, const char* name) {
    if (window == nullptr)
        return;
    const QString path = QDir(outputDirectory).filePath(QString::fromLatin1(name));
    if (window->grab().save(path)) {
        ++written;
        std::printf("%s\n", qPrintable(path));
    }
}

// Grabs the next modal window once it is up, then lets `close` end it.
void grabNextModal(const char* name, std::function<void(QWidget*)> close) {
    QTimer::singleShot(400, [name, close] {
        QWidget* modal = QApplication::activeModalWidget();
        save(modal, name);
        if (modal != nullptr)
            close(modal);
    });
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

    CVarnexDlg dialog;
    // The progress dialog ends itself once the list is built.
    grabNextModal("progress-dialog.png", [](QWidget*) {});
    dialog.LoadRawData(argv[1]);
    if (dialog.GetPrecursorCount() <= 0) {
        std::fprintf(stderr, "varnex-screenshots: no precursors in %s\n", argv[1]);
        return 1;
    }
    QTimer::singleShot(300, &dialog, [&dialog] {
        dialog.resize(900, 420);
        dialog.m_listCtrl.SetItemState(3, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        QTimer::singleShot(300, &dialog, [&dialog] {
            save(&dialog, "main-window.png");
            grabNextModal("display-options.png",
                          [](QWidget* modal) { static_cast<CDialog*>(modal)->EndDialog(IDCANCEL); });
            dialog.OnDisplayOptions();
            grabNextModal("about-box.png", [](QWidget* modal) { modal->close(); });
            dialog.ShowAboutBox();
            dialog.EndDialog(IDOK);
        });
    });
    dialog.DoModal();
    return written == 4 ? 0 : 1;
}
