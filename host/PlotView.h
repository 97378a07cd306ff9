// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The behaviour every display of the host shares: zoom by dragging a rectangle, wheel zoom along the
// x axis, reset zoom (double-click, Home), a hover read-out of the data under the mouse, and copying or
// exporting the display as PNG or SVG.

#include <QString>

#include <qcustomplot.h>

namespace varnex::host {

class PlotView : public QCustomPlot {
    Q_OBJECT

public:
    explicit PlotView(QWidget* parent = nullptr);

    // Shows the whole data again.
    void ResetZoom();
    void CopyToClipboard();
    bool SavePng(const QString& path);
    bool SaveSvg(const QString& path);
    // Asks for a file name and saves as PNG or SVG by its extension; a title names the dialog.
    void ExportInteractively(const QString& suggestedName);

Q_SIGNALS:
    // The read-out for the point under the mouse; empty when there is none.
    void HoverTextChanged(const QString& text);

protected:
    // The read-out for a mouse position in pixels.
    virtual QString HoverText(const QPointF& pixel) const = 0;
    // The ranges ResetZoom returns to; by default the data's extent with a margin above.
    virtual void ApplyHomeRanges();

    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// Index of the point of sorted `x` nearest to `value`; -1 for an empty vector.
long long NearestIndex(const QVector<double>& x, double value);

} // namespace varnex::host
