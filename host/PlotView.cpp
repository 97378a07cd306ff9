// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/PlotView.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QSvgGenerator>

namespace varnex::host {

PlotView::PlotView(QWidget* parent) : QCustomPlot(parent) {
    setInteractions(QCP::iRangeZoom);
    axisRect()->setRangeZoom(Qt::Horizontal);
    setSelectionRectMode(QCP::srmZoom);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(160);
}

void PlotView::ApplyHomeRanges() {
    rescaleAxes();
    const QCPRange y = yAxis->range();
    yAxis->setRange(0.0, y.upper > 0.0 ? y.upper * 1.1 : 1.0); // room for labels above the tallest peak
}

void PlotView::ResetZoom() {
    ApplyHomeRanges();
    replot();
}

void PlotView::CopyToClipboard() {
    QApplication::clipboard()->setPixmap(toPixmap());
}

bool PlotView::SavePng(const QString& path) {
    return savePng(path, width(), height());
}

bool PlotView::SaveSvg(const QString& path) {
    QSvgGenerator generator;
    generator.setFileName(path);
    generator.setSize(size());
    generator.setViewBox(rect());
    generator.setTitle(windowTitle());
    QCPPainter painter;
    if (!painter.begin(&generator)) {
        return false;
    }
    toPainter(&painter, width(), height());
    return painter.end();
}

void PlotView::ExportInteractively(const QString& suggestedName) {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export Display"), suggestedName,
                                                      tr("PNG image (*.png);;SVG drawing (*.svg)"));
    if (path.isEmpty()) {
        return;
    }
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        SaveSvg(path);
    } else {
        SavePng(path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? path
                                                                          : path + QLatin1String(".png"));
    }
}

void PlotView::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    emit HoverTextChanged(HoverText(event->position()));
}

void PlotView::mouseDoubleClickEvent(QMouseEvent* event) {
    QCustomPlot::mouseDoubleClickEvent(event);
    ResetZoom();
}

void PlotView::leaveEvent(QEvent* event) {
    QCustomPlot::leaveEvent(event);
    emit HoverTextChanged(QString());
}

void PlotView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home || event->key() == Qt::Key_Escape) {
        ResetZoom();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        CopyToClipboard();
        return;
    }
    QCustomPlot::keyPressEvent(event);
}

void PlotView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("Reset Zoom"), this, &PlotView::ResetZoom);
    menu.addAction(tr("Copy"), this, &PlotView::CopyToClipboard);
    menu.addAction(tr("Export as PNG or SVG..."), this, [this] { ExportInteractively(QString()); });
    menu.exec(event->globalPos());
}

long long NearestIndex(const QVector<double>& x, double value) {
    if (x.isEmpty()) {
        return -1;
    }
    const auto upper = std::lower_bound(x.begin(), x.end(), value);
    if (upper == x.begin()) {
        return 0;
    }
    if (upper == x.end()) {
        return x.size() - 1;
    }
    const auto lower = upper - 1;
    return (value - *lower <= *upper - value ? lower : upper) - x.begin();
}

} // namespace varnex::host
