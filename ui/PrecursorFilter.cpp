// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PrecursorFilter.h"

namespace varnex::ui {

namespace {

bool InRange(float value, const std::optional<float>& low, const std::optional<float>& high) {
    return (!low || value >= *low) && (!high || value <= *high);
}

} // namespace

bool PrecursorFilter::IsActive() const {
    return minSetMass || maxSetMass || minSwitchingTimeMinutes || maxSwitchingTimeMinutes || chargeStates ||
           function;
}

bool PrecursorFilter::Matches(const CPrecursor& precursor) const {
    return InRange(precursor.m_fSetMass, minSetMass, maxSetMass) &&
           InRange(precursor.m_fSwitchingTime, minSwitchingTimeMinutes, maxSwitchingTimeMinutes) &&
           (!chargeStates || chargeStates->count(precursor.m_nChargeState) != 0) &&
           (!function || precursor.m_nFunction == *function);
}

void FilterPrecursors(const CPrecursorArray& all, const PrecursorFilter& filter, CPrecursorArray& shown) {
    shown.RemoveAll();
    const int count = all.GetSize();
    int passing = 0;
    for (int i = 0; i < count; ++i) {
        passing += filter.Matches(all.ElementAt(i)) ? 1 : 0;
    }
    // One allocation for the whole result rather than the array's stepwise growth.
    shown.SetSize(passing);
    int next = 0;
    for (int i = 0; i < count; ++i) {
        if (filter.Matches(all.ElementAt(i))) {
            shown.ElementAt(next++) = all.ElementAt(i);
        }
    }
}

} // namespace varnex::ui
