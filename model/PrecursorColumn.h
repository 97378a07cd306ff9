// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <variant>

#include "model/Precursor.h"

namespace varnex::model {

// The five columns of the precursor list, in display order. The column number is also the sort key and
// the position in every export, so the window, the sort and varnex-list all go through this one table.
enum class PrecursorColumn : int {
    SwitchingTime = 0,
    SetMass = 1,
    FunctionName = 2,
    ChargeState = 3,
    Intensity = 4,
};

struct PrecursorColumnInfo {
    PrecursorColumn column;
    std::string_view header; // as the list shows it
    std::string_view key;    // for command lines
    // Which character of the stored decimal-places text ("a:b:c") gives the column's places; none for
    // the columns that are not printed as decimals.
    std::optional<int> decimalsPosition;
};

inline constexpr std::array<PrecursorColumnInfo, 5> kPrecursorColumnInfo = {{
    {PrecursorColumn::SwitchingTime, "Switching Time", "switching-time", 0},
    {PrecursorColumn::SetMass, "Set Mass", "set-mass", 2},
    {PrecursorColumn::FunctionName, "Function Name", "function-name", std::nullopt},
    {PrecursorColumn::ChargeState, "Charge State", "charge-state", std::nullopt},
    {PrecursorColumn::Intensity, "Intensity", "intensity", 4},
}};

inline constexpr std::array<PrecursorColumn, 5> kPrecursorColumns = {
    PrecursorColumn::SwitchingTime, PrecursorColumn::SetMass, PrecursorColumn::FunctionName,
    PrecursorColumn::ChargeState, PrecursorColumn::Intensity};

constexpr int PrecursorColumnIndex(PrecursorColumn column) {
    return static_cast<int>(column);
}

constexpr const PrecursorColumnInfo& ColumnInfoOf(PrecursorColumn column) {
    return kPrecursorColumnInfo[static_cast<std::size_t>(column)];
}

constexpr std::optional<PrecursorColumn> PrecursorColumnFromIndex(int index) {
    if (index < 0 || index >= static_cast<int>(kPrecursorColumns.size())) {
        return std::nullopt;
    }
    return kPrecursorColumns[static_cast<std::size_t>(index)];
}

constexpr std::string_view PrecursorColumnHeader(PrecursorColumn column) {
    return ColumnInfoOf(column).header;
}
constexpr std::string_view PrecursorColumnKey(PrecursorColumn column) {
    return ColumnInfoOf(column).key;
}
// Where the decimal-places text keeps the places of `column`, one of the columns printed as decimals.
constexpr std::size_t PrecursorColumnDecimalsPosition(PrecursorColumn column) {
    return static_cast<std::size_t>(ColumnInfoOf(column).decimalsPosition.value());
}

// What `column` holds for `precursor`, as stored: the decimal columns as float, the charge state as int,
// the function name as text that lives as long as `precursor`. The list and the exports print it each
// their own way.
using PrecursorColumnValue = std::variant<float, int, std::string_view>;
inline PrecursorColumnValue ColumnValueOf(const CPrecursor& precursor, PrecursorColumn column) {
    switch (column) {
    case PrecursorColumn::SwitchingTime:
        return precursor.m_fSwitchingTime;
    case PrecursorColumn::SetMass:
        return precursor.m_fSetMass;
    case PrecursorColumn::FunctionName:
        return std::string_view(precursor.m_strFunctionName);
    case PrecursorColumn::ChargeState:
        return precursor.m_nChargeState;
    case PrecursorColumn::Intensity:
        return precursor.m_fIntensity;
    }
    return std::string_view();
}

static_assert([] {
    for (std::size_t i = 0; i < kPrecursorColumnInfo.size(); ++i) {
        if (kPrecursorColumnInfo[i].column != kPrecursorColumns[i] ||
            PrecursorColumnIndex(kPrecursorColumns[i]) != static_cast<int>(i)) {
            return false;
        }
    }
    return true;
}());

} // namespace varnex::model
