// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Dialog templates give positions and sizes in dialog units of their 8-point font. We convert them at
// one fixed rate everywhere: the base units of 8-point "MS Sans Serif" at 96 dpi, 6 x 13 pixels per
// 4 x 8 dialog units, i.e. 1 horizontal unit = 1.5 px and 1 vertical unit = 1.625 px, rounded half up
// as the platform's MulDiv does. A fixed rate keeps every layout identical whatever fonts are installed.
//
// .ui templates carry the template's own numbers in a "dialogUnits" property (QRect on controls, QSize
// or QRect on the dialog itself); CDialog converts them with these functions when it loads a template.

#include <QRect>
#include <QSize>

namespace varnex::platform::DialogUnits {

inline constexpr int kBaseUnitX = 6;  // pixels per 4 horizontal dialog units
inline constexpr int kBaseUnitY = 13; // pixels per 8 vertical dialog units

constexpr int ToPixelsX(int units) {
    const long long scaled = static_cast<long long>(units) * kBaseUnitX;
    return static_cast<int>(scaled >= 0 ? (scaled + 2) / 4 : -((-scaled + 2) / 4));
}

constexpr int ToPixelsY(int units) {
    const long long scaled = static_cast<long long>(units) * kBaseUnitY;
    return static_cast<int>(scaled >= 0 ? (scaled + 4) / 8 : -((-scaled + 4) / 8));
}

inline QSize ToPixels(QSize units) {
    return {ToPixelsX(units.width()), ToPixelsY(units.height())};
}

inline QRect ToPixels(QRect units) {
    return {ToPixelsX(units.x()), ToPixelsY(units.y()), ToPixelsX(units.width()), ToPixelsY(units.height())};
}

} // namespace varnex::platform::DialogUnits
