// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The host's main window: the chromatogram display above, the spectrum display below with the combined
// MS/MS spectrum and each added scan in a panel of its own, and a status line reporting every command's
// outcome.

#include <memory>

#include <QList>
#include <QMainWindow>

#include "host/HostDisplayModel.h"

class QLabel;
class QVBoxLayout;

namespace varnex::host {

class ChromatogramView;
class PlotView;
class SpectrumView;

class HostWindow final : public QMainWindow {
    Q_OBJECT

public:
    explicit HostWindow(QWidget* parent = nullptr);

    // Shows a state the executor produced; older states than the one shown are ignored.
    void ShowState(std::shared_ptr<const HostDisplayState> state);
    // The state on screen (null before the first command).
    std::shared_ptr<const HostDisplayState> ShownState() const { return shown_; }

    ChromatogramView* Chromatogram() const { return chromatogram_; }
    SpectrumView* CombinedSpectrum() const { return combined_; }
    QList<SpectrumView*> AddedSpectra() const { return added_; }
    QString SpectrumDisplayTitle() const;

private:
    void BuildMenus();
    PlotView* FocusedPlot() const;
    void ExportAll();

    std::shared_ptr<const HostDisplayState> shown_;
    ChromatogramView* chromatogram_ = nullptr;
    QLabel* spectrumTitle_ = nullptr;
    SpectrumView* combined_ = nullptr;
    QVBoxLayout* addedLayout_ = nullptr;
    QList<SpectrumView*> added_;
    QLabel* hover_ = nullptr;
};

} // namespace varnex::host
