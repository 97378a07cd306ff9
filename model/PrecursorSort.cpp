// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "model/ExchangeSortOrder.h"
#include "model/PrecursorColumn.h"
#include "model/PrecursorList.h"

using varnex::model::ExchangeSortOrder;
using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnFromIndex;

namespace {

template <typename Field>
std::vector<int> OrderByNumber(const CPrecursor* records, int count, Field CPrecursor::*field) {
    std::vector<Field> keys(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        keys[static_cast<std::size_t>(i)] = records[i].*field;
    }
    return ExchangeSortOrder(
        count,
        [&](int a, int b) { return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)]; },
        [&](int i) {
            if constexpr (std::is_floating_point_v<Field>) {
                return std::isnan(keys[static_cast<std::size_t>(i)]);
            } else {
                (void)i;
                return false;
            }
        });
}

// Names compare as C strings of unsigned bytes, case-sensitive: "Z" before "a", "10" before "2".
std::vector<int> OrderByName(const CPrecursor* records, int count) {
    return ExchangeSortOrder(
        count,
        [&](int a, int b) {
            return std::strcmp(records[a].m_strFunctionName.c_str(), records[b].m_strFunctionName.c_str()) <
                   0;
        },
        [](int) { return false; });
}

} // namespace

bool CPrecursorList::SortByColumn(int column) {
    const auto key = PrecursorColumnFromIndex(column);
    const int count = m_Precursors.GetSize();
    if (!key || count < 2) {
        return true;
    }
    CPrecursor* records = m_Precursors.GetData();
    std::vector<int> order;
    switch (*key) {
    case PrecursorColumn::SwitchingTime:
        order = OrderByNumber(records, count, &CPrecursor::m_fSwitchingTime);
        break;
    case PrecursorColumn::SetMass:
        order = OrderByNumber(records, count, &CPrecursor::m_fSetMass);
        break;
    case PrecursorColumn::FunctionName:
        order = OrderByName(records, count);
        break;
    case PrecursorColumn::ChargeState:
        order = OrderByNumber(records, count, &CPrecursor::m_nChargeState);
        break;
    case PrecursorColumn::Intensity:
        order = OrderByNumber(records, count, &CPrecursor::m_fIntensity);
        break;
    }
    std::vector<CPrecursor> arranged;
    arranged.reserve(static_cast<std::size_t>(count));
    for (const int source : order) {
        arranged.push_back(std::move(records[source]));
    }
    for (int i = 0; i < count; ++i) {
        records[i] = std::move(arranged[static_cast<std::size_t>(i)]);
    }
    return true;
}
