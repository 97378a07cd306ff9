// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/DisplayViews.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace varnex::host {

namespace {

constexpr int kLabelledPeaks = 10;
constexpr double kHoverPixels = 12.0;

QVector<double> ToVector(const std::vector<double>& values) {
    return QVector<double>(values.begin(), values.end());
}

QColor TraceColour(int index) {
    static const QColor colours[] = {QColor(31, 119, 180),  QColor(214, 39, 40),  QColor(44, 160, 44),
                                     QColor(148, 103, 189), QColor(255, 127, 14), QColor(23, 190, 207)};
    return colours[index % std::size(colours)];
}

QCPItemStraightLine* VerticalLine(QCustomPlot* plot, double x, const QColor& colour) {
    auto* line = new QCPItemStraightLine(plot);
    line->point1->setCoords(x, 0.0);
    line->point2->setCoords(x, 1.0);
    line->setPen(QPen(colour, 1.5, Qt::DashLine));
    return line;
}

QCPItemText* TopLabel(QCustomPlot* plot, double x, const QString& text, const QColor& colour) {
    auto* label = new QCPItemText(plot);
    label->position->setTypeX(QCPItemPosition::ptPlotCoords);
    label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    label->position->setCoords(x, 0.02);
    label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setText(text);
    label->setColor(colour);
    label->setPadding(QMargins(4, 0, 4, 0));
    // Readable over the data and over peak labels, which the layer below holds.
    label->setBrush(QColor(255, 255, 255, 220));
    label->setLayer(QStringLiteral("axes"));
    return label;
}

} // namespace

ChromatogramView::ChromatogramView(QWidget* parent) : PlotView(parent) {
    xAxis->setLabel(tr("Retention time (min)"));
    // Traces are drawn relative to their own maximum: a survey TIC is orders of magnitude above an
    // MS/MS one and would flatten it. The legend and the hover read-out give the absolute values.
    yAxis->setLabel(tr("Relative intensity (%)"));
    legend->setVisible(true);
    legend->setBrush(QColor(255, 255, 255, 200)); // the traces stay visible behind it
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

void ChromatogramView::Show(const ChromatogramState& state) {
    clearGraphs();
    clearItems();
    traces_.clear();
    for (const ChromatogramTrace& trace : state.traces) {
        Trace shown{QString::fromStdString(trace.label), ToVector(trace.rtMinutes),
                    ToVector(trace.intensity)};
        const double maximum = shown.intensity.isEmpty()
                                   ? 0.0
                                   : *std::max_element(shown.intensity.begin(), shown.intensity.end());
        QVector<double> percent(shown.intensity);
        if (maximum > 0.0) {
            for (double& value : percent) {
                value *= 100.0 / maximum;
            }
        }
        QCPGraph* graph = addGraph();
        graph->setName(tr("%1, 100% = %2").arg(shown.label).arg(maximum, 0, 'g', 3));
        graph->setPen(QPen(TraceColour(traces_.size()), 1.2));
        graph->setData(shown.rtMinutes, percent, true);
        traces_.push_back(std::move(shown));
    }
    if (state.xic) {
        ShowExtractedIon(*state.xic);
    }
    ApplyHomeRanges();
    if (state.pointer) {
        const QColor colour(200, 0, 0);
        VerticalLine(this, state.pointer->rtMinutes, colour);
        TopLabel(
            this, state.pointer->rtMinutes,
            tr("scan %1, %2 min").arg(state.pointer->surveyScan).arg(state.pointer->rtMinutes, 0, 'f', 2),
            colour);
    }
    replot();
}

// Drawn like the TIC traces, relative to its own maximum, with a tick at each of the precursor's MS/MS
// scans on the trace.
void ChromatogramView::ShowExtractedIon(const ExtractedIonTrace& xic) {
    Trace shown{QString::fromStdString(xic.label), ToVector(xic.rtMinutes), ToVector(xic.intensity)};
    const double maximum =
        shown.intensity.isEmpty() ? 0.0 : *std::max_element(shown.intensity.begin(), shown.intensity.end());
    const double scale = maximum > 0.0 ? 100.0 / maximum : 0.0;
    QVector<double> percent(shown.intensity);
    for (double& value : percent) {
        value *= scale;
    }
    const QColor colour(230, 120, 0);
    QCPGraph* graph = addGraph();
    graph->setName(tr("%1, 100% = %2").arg(shown.label).arg(maximum, 0, 'g', 3));
    graph->setPen(QPen(colour, 1.6));
    graph->setData(shown.rtMinutes, percent, true);

    QVector<double> markRt;
    QVector<double> markHeight;
    for (const double rtMinutes : xic.markedRtMinutes) {
        const long long nearest = NearestIndex(shown.rtMinutes, rtMinutes);
        markRt.push_back(rtMinutes);
        markHeight.push_back(nearest >= 0 ? percent[nearest] : 0.0);
    }
    QCPGraph* marks = addGraph();
    marks->setName(tr("MS/MS scans of the precursor"));
    marks->setLineStyle(QCPGraph::lsNone);
    marks->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssTriangle, QPen(colour.darker(150), 1.2), QBrush(colour), 9));
    marks->setData(markRt, markHeight, true);
    traces_.push_back(std::move(shown));
}

QString ChromatogramView::HoverText(const QPointF& pixel) const {
    if (traces_.isEmpty() || !axisRect()->rect().contains(pixel.toPoint())) {
        return QString();
    }
    const double rtMinutes = xAxis->pixelToCoord(pixel.x());
    QString text = tr("RT %1 min").arg(rtMinutes, 0, 'f', 2);
    for (const Trace& trace : traces_) {
        const long long index = NearestIndex(trace.rtMinutes, rtMinutes);
        if (index >= 0) {
            text += QStringLiteral("   %1: %2").arg(trace.label).arg(trace.intensity[index], 0, 'g', 4);
        }
    }
    return text;
}

SpectrumView::SpectrumView(QWidget* parent) : PlotView(parent) {
    xAxis->setLabel(QStringLiteral("m/z"));
    yAxis->setLabel(tr("Intensity"));
    yAxis->setNumberFormat(QStringLiteral("gb"));
    plotLayout()->insertRow(0);
    title_ = new QCPTextElement(this, QString(), QFont(font().family(), font().pointSize() + 1, QFont::Bold));
    plotLayout()->addElement(0, 0, title_);
    // Labels are placed once the layout is known, before every drawing: whether one would cover the
    // precursor's label depends on the pixel sizes of the moment.
    connect(this, &QCustomPlot::afterLayout, this, [this] { UpdatePeakLabels(); });
}

QString SpectrumView::Title() const {
    return title_->text();
}

void SpectrumView::ShowEmpty(const QString& title) {
    SpectrumPanel empty;
    empty.title = title.toStdString();
    Show(empty);
}

void SpectrumView::Show(const SpectrumPanel& panel) {
    clearGraphs();
    clearItems();
    peakLabels_.clear();
    markerLabel_ = nullptr;
    title_->setText(QString::fromStdString(panel.title));
    mz_ = ToVector(panel.peaks.mz);
    intensity_ = ToVector(panel.peaks.intensity);
    centroid_ = panel.peaks.centroid;
    QCPGraph* graph = addGraph();
    graph->setPen(QPen(QColor(20, 20, 120), centroid_ ? 1.0 : 1.2));
    graph->setLineStyle(centroid_ ? QCPGraph::lsImpulse : QCPGraph::lsLine);
    graph->setData(mz_, intensity_, true);
    if (panel.markerMz) {
        const QColor colour(200, 0, 0);
        VerticalLine(this, *panel.markerMz, colour);
        markerLabel_ =
            TopLabel(this, *panel.markerMz, tr("precursor m/z %1").arg(*panel.markerMz, 0, 'f', 4), colour);
    }
    markerMz_ = panel.markerMz;
    ApplyHomeRanges();
    replot();
}

void SpectrumView::ApplyHomeRanges() {
    PlotView::ApplyHomeRanges();
    if (!mz_.isEmpty()) {
        // Room at both ends for the labels of the outermost peaks.
        const double margin = std::max(1.0, (mz_.back() - mz_.front()) * 0.04);
        xAxis->setRange(mz_.front() - margin, mz_.back() + margin);
    }
}

void SpectrumView::UpdatePeakLabels() {
    for (QCPAbstractItem* label : std::as_const(peakLabels_)) {
        removeItem(label);
    }
    peakLabels_.clear();
    const QCPRange visible = xAxis->range();
    const auto first = std::lower_bound(mz_.begin(), mz_.end(), visible.lower) - mz_.begin();
    const auto last = std::upper_bound(mz_.begin(), mz_.end(), visible.upper) - mz_.begin();
    if (first >= last) {
        return;
    }
    PeakData shown;
    shown.mz.assign(mz_.begin() + first, mz_.begin() + last);
    shown.intensity.assign(intensity_.begin() + first, intensity_.begin() + last);
    // One label per peak: neighbours within a fiftieth of the visible width belong to the labelled one.
    const double exclusion = visible.size() / 50.0;
    const auto pixelRect = [](const QCPItemText* text) {
        return QRectF(text->topLeft->pixelPosition(), text->bottomRight->pixelPosition());
    };
    // Candidates beyond the count stand in for labels that the precursor's label would cover.
    for (const std::size_t index : StrongestPeaks(shown, 2 * kLabelledPeaks, exclusion)) {
        if (peakLabels_.size() >= kLabelledPeaks) {
            break;
        }
        if (markerMz_ && std::abs(shown.mz[index] - *markerMz_) < exclusion) {
            continue; // the marker's label names it already
        }
        auto* label = new QCPItemText(this);
        label->position->setCoords(shown.mz[index], shown.intensity[index]);
        label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setText(QString::number(shown.mz[index], 'f', 4));
        label->setFont(QFont(font().family(), std::max(7, font().pointSize() - 1)));
        label->setClipToAxisRect(true);
        if (markerLabel_ && pixelRect(label).intersects(pixelRect(markerLabel_))) {
            removeItem(label);
            continue;
        }
        peakLabels_.push_back(label);
    }
}

QString SpectrumView::HoverText(const QPointF& pixel) const {
    if (mz_.isEmpty() || !axisRect()->rect().contains(pixel.toPoint())) {
        return QString();
    }
    const long long index = NearestIndex(mz_, xAxis->pixelToCoord(pixel.x()));
    if (std::abs(xAxis->coordToPixel(mz_[index]) - pixel.x()) > kHoverPixels) {
        return tr("m/z %1").arg(xAxis->pixelToCoord(pixel.x()), 0, 'f', 4);
    }
    return tr("m/z %1   intensity %2").arg(mz_[index], 0, 'f', 4).arg(intensity_[index], 0, 'g', 5);
}

} // namespace varnex::host
