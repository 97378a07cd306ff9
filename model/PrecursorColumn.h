#pragma once

#include <array>
#include <optional>
#include <string_view>

// The five columns of the precursor list, in display order. The column number is also the sort key and
// the position in every export, so the window, the sort and varnex-list all go through this one table.
enum class PrecursorColumn : int {
    SwitchingTime = 0,
    SetMass = 1,
    FunctionName = 2,
    ChargeState = 3,
    Intensity = 4,
};

inline constexpr std::array<PrecursorColumn, 5> kPrecursorColumns = {
    PrecursorColumn::SwitchingTime, PrecursorColumn::SetMass, PrecursorColumn::FunctionName,
    PrecursorColumn::ChargeState, PrecursorColumn::Intensity};

constexpr int precursorColumnIndex(PrecursorColumn column) {
    return static_cast<int>(column);
}

constexpr std::optional<PrecursorColumn> precursorColumnFromIndex(int index) {
    if (index < 0 || index >= static_cast<int>(kPrecursorColumns.size())) {
        return std::nullopt;
    }
    return kPrecursorColumns[static_cast<std::size_t>(index)];
}

constexpr std::string_view precursorColumnHeader(PrecursorColumn column) {
    switch (column) {
    case PrecursorColumn::SwitchingTime:
        return "Switching Time";
    case PrecursorColumn::SetMass:
        return "Set Mass";
    case PrecursorColumn::FunctionName:
        return "Function Name";
    case PrecursorColumn::ChargeState:
        return "Charge State";
    case PrecursorColumn::Intensity:
        return "Intensity";
    }
    return {};
}

// A short lower-case name for command lines ("switching-time", "set-mass" ...).
constexpr std::string_view precursorColumnKey(PrecursorColumn column) {
    switch (column) {
    case PrecursorColumn::SwitchingTime:
        return "switching-time";
    case PrecursorColumn::SetMass:
        return "set-mass";
    case PrecursorColumn::FunctionName:
        return "function-name";
    case PrecursorColumn::ChargeState:
        return "charge-state";
    case PrecursorColumn::Intensity:
        return "intensity";
    }
    return {};
}

// Which character of the stored decimal-places text ("a:b:c") gives this column's places; none for the
// columns that are not printed as decimals.
constexpr std::optional<int> precursorColumnDecimalsPosition(PrecursorColumn column) {
    switch (column) {
    case PrecursorColumn::SwitchingTime:
        return 0;
    case PrecursorColumn::SetMass:
        return 2;
    case PrecursorColumn::Intensity:
        return 4;
    case PrecursorColumn::FunctionName:
    case PrecursorColumn::ChargeState:
        break;
    }
    return std::nullopt;
}
