// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Which precursors the list shows while a filter is on: a set-mass range, a switching-time range, a set
// of charge states (-1 is "undetermined") and one MS/MS function. Every bound is inclusive and compared
// in the precision the precursor holds its value in; a criterion left empty lets every precursor pass.

#include <optional>
#include <set>

#include "model/PrecursorArray.h"

namespace varnex::ui {

struct PrecursorFilter {
    std::optional<float> minSetMass;
    std::optional<float> maxSetMass;
    std::optional<float> minSwitchingTimeMinutes;
    std::optional<float> maxSwitchingTimeMinutes;
    std::optional<std::set<int>> chargeStates;
    std::optional<int> function; // from 1, as the precursor numbers it

    bool IsActive() const;
    bool Matches(const CPrecursor& precursor) const;
};

// Replaces `shown` by the precursors of `all` that pass, in the order of `all`.
void FilterPrecursors(const CPrecursorArray& all, const PrecursorFilter& filter, CPrecursorArray& shown);

} // namespace varnex::ui
