// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The chromatogram display and a spectrum panel of the host.

#include <optional>

#include <QVector>

#include "host/HostDisplayModel.h"
#include "host/PlotView.h"

class QCPItemText;
class QCPTextElement;

namespace varnex::host {

class ChromatogramView final : public PlotView {
    Q_OBJECT

public:
    explicit ChromatogramView(QWidget* parent = nullptr);
    void Show(const ChromatogramState& state);

protected:
    QString HoverText(const QPointF& pixel) const override;

private:
    void ShowExtractedIon(const ExtractedIonTrace& xic);

    struct Trace {
        QString label;
        QVector<double> rtMinutes;
        QVector<double> intensity;
    };
    QVector<Trace> traces_;
};

class SpectrumView final : public PlotView {
    Q_OBJECT

public:
    explicit SpectrumView(QWidget* parent = nullptr);
    void Show(const SpectrumPanel& panel);
    void ShowEmpty(const QString& title);
    QString Title() const;

protected:
    QString HoverText(const QPointF& pixel) const override;
    void ApplyHomeRanges() override;

private:
    void UpdatePeakLabels();

    QCPTextElement* title_ = nullptr;
    QVector<double> mz_;
    QVector<double> intensity_;
    bool centroid_ = true;
    std::optional<double> markerMz_;
    QCPItemText* markerLabel_ = nullptr; // owned by the plot
    QList<QCPAbstractItem*> peakLabels_;
};

} // namespace varnex::host
