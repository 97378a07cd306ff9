// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/HostWindow.h"

#include <optional>
#include <utility>
#include <vector>

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>

#include "host/DisplayViews.h"

namespace varnex::host {

HostWindow::HostWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(tr("Varnex Host"));
    resize(1100, 850);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    chromatogram_ = new ChromatogramView(splitter);
    auto* spectrumDisplay = new QWidget(splitter);
    auto* spectrumLayout = new QVBoxLayout(spectrumDisplay);
    spectrumLayout->setContentsMargins(0, 0, 0, 0);
    spectrumTitle_ = new QLabel(tr("Spectrum display: no data set"), spectrumDisplay);
    spectrumTitle_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    spectrumLayout->addWidget(spectrumTitle_);
    combined_ = new SpectrumView(spectrumDisplay);
    combined_->ShowEmpty(tr("No combined spectrum"));
    spectrumLayout->addWidget(combined_, 1);
    addedLayout_ = new QVBoxLayout;
    spectrumLayout->addLayout(addedLayout_, 1);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    setCentralWidget(splitter);

    hover_ = new QLabel(this);
    statusBar()->addPermanentWidget(hover_);
    statusBar()->showMessage(tr("Waiting for commands"));
    for (PlotView* plot : {static_cast<PlotView*>(chromatogram_), static_cast<PlotView*>(combined_)}) {
        connect(plot, &PlotView::HoverTextChanged, hover_, &QLabel::setText);
    }
    BuildMenus();
}

QString HostWindow::SpectrumDisplayTitle() const {
    return spectrumTitle_->text();
}

void HostWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Export Display..."), QKeySequence::Save, this, [this] {
        if (PlotView* plot = FocusedPlot()) {
            plot->ExportInteractively(QString());
        }
    });
    file->addAction(tr("Export &All Displays..."), QKeySequence(tr("Ctrl+Shift+S")), this,
                    &HostWindow::ExportAll);
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, qApp, &QApplication::quit);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    edit->addAction(tr("&Copy Display"), QKeySequence::Copy, this, [this] {
        if (PlotView* plot = FocusedPlot()) {
            plot->CopyToClipboard();
        }
    });

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(tr("&Reset Zoom"), QKeySequence(Qt::Key_Home), this, [this] {
        if (PlotView* plot = FocusedPlot()) {
            plot->ResetZoom();
        }
    });
    view->addAction(tr("Reset Zoom of All Displays"), QKeySequence(tr("Ctrl+0")), this, [this] {
        chromatogram_->ResetZoom();
        combined_->ResetZoom();
        for (SpectrumView* panel : std::as_const(added_)) {
            panel->ResetZoom();
        }
    });
}

PlotView* HostWindow::FocusedPlot() const {
    for (QWidget* widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
        if (auto* plot = qobject_cast<PlotView*>(widget)) {
            return plot;
        }
    }
    return combined_;
}

void HostWindow::ExportAll() {
    const QString directory = QFileDialog::getExistingDirectory(this, tr("Export All Displays"));
    if (directory.isEmpty()) {
        return;
    }
    chromatogram_->SavePng(directory + QLatin1String("/chromatogram.png"));
    chromatogram_->SaveSvg(directory + QLatin1String("/chromatogram.svg"));
    combined_->SavePng(directory + QLatin1String("/combined.png"));
    combined_->SaveSvg(directory + QLatin1String("/combined.svg"));
    for (int i = 0; i < added_.size(); ++i) {
        added_[i]->SavePng(directory + QStringLiteral("/scan%1.png").arg(i + 1));
        added_[i]->SaveSvg(directory + QStringLiteral("/scan%1.svg").arg(i + 1));
    }
    statusBar()->showMessage(tr("Exported the displays to %1").arg(directory));
}

namespace {

bool SameChromatogram(const HostDisplayState& a, const HostDisplayState& b) {
    const auto pointerScan = [](const ChromatogramState& c) {
        return c.pointer ? c.pointer->surveyScan : -1;
    };
    const auto functions = [](const ChromatogramState& c) {
        std::vector<int> list;
        for (const ChromatogramTrace& trace : c.traces) {
            list.push_back(trace.function);
        }
        return list;
    };
    const auto xic = [](const ChromatogramState& c) {
        return c.xic ? std::make_pair(c.xic->mz, c.xic->markedRtMinutes)
                     : std::make_pair(0.0, std::vector<double>());
    };
    return a.spectrum.dataSetPath == b.spectrum.dataSetPath &&
           functions(a.chromatogram) == functions(b.chromatogram) &&
           pointerScan(a.chromatogram) == pointerScan(b.chromatogram) &&
           xic(a.chromatogram) == xic(b.chromatogram);
}

// Panels of one data set with the same title show the same scans; the marker is the one other input.
bool SamePanel(const SpectrumPanel& a, const SpectrumPanel& b) {
    return a.title == b.title && a.markerMz == b.markerMz && a.peaks.mz.size() == b.peaks.mz.size();
}

} // namespace

void HostWindow::ShowState(std::shared_ptr<const HostDisplayState> state) {
    if (!state || (shown_ && state->revision <= shown_->revision)) {
        return;
    }
    const std::shared_ptr<const HostDisplayState> previous = std::move(shown_);
    shown_ = std::move(state);
    const bool sameDataSet = previous && previous->spectrum.dataSetPath == shown_->spectrum.dataSetPath;

    if (!previous || !SameChromatogram(*previous, *shown_)) {
        chromatogram_->Show(shown_->chromatogram);
    }
    const SpectrumState& spectrum = shown_->spectrum;
    spectrumTitle_->setText(spectrum.dataSetPath.empty()
                                ? tr("Spectrum display: no data set")
                                : tr("Spectrum display: %1").arg(QString::fromStdString(spectrum.title)));
    setWindowTitle(
        spectrum.dataSetPath.empty()
            ? tr("Varnex Host")
            : tr("%1 - Varnex Host").arg(QFileInfo(QString::fromStdString(spectrum.dataSetPath)).fileName()));
    const auto& before = previous ? previous->spectrum.combined : std::optional<SpectrumPanel>();
    if (!sameDataSet || before.has_value() != spectrum.combined.has_value() ||
        (before && !SamePanel(*before, *spectrum.combined))) {
        if (spectrum.combined) {
            combined_->Show(*spectrum.combined);
        } else {
            combined_->ShowEmpty(tr("No combined spectrum"));
        }
    }

    // One panel per added scan; panels are reused so that repeated double-clicks do not churn widgets.
    while (added_.size() < static_cast<int>(spectrum.added.size())) {
        auto* panel = new SpectrumView(this);
        connect(panel, &PlotView::HoverTextChanged, hover_, &QLabel::setText);
        addedLayout_->addWidget(panel);
        added_.push_back(panel);
    }
    while (added_.size() > static_cast<int>(spectrum.added.size())) {
        delete added_.takeLast();
    }
    for (std::size_t i = 0; i < spectrum.added.size(); ++i) {
        const bool unchanged = sameDataSet && i < previous->spectrum.added.size() &&
                               SamePanel(previous->spectrum.added[i], spectrum.added[i]);
        if (!unchanged) {
            added_[static_cast<int>(i)]->Show(spectrum.added[i]);
        }
    }

    statusBar()->showMessage((shown_->lastCommandFailed ? tr("Error: ") : QString()) +
                             QString::fromStdString(shown_->status));
}

} // namespace varnex::host
