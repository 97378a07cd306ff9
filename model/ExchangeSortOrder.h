// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <numeric>
#include <vector>

// The list's sort is, by definition, an in-place exchange sort: for each position i, every later
// element that is strictly smaller than the one now at i is swapped with it. Its result is ascending,
// but equal keys do not keep their order. Running it literally costs O(n^2) record copies, so
// ExchangeSortOrder computes the same final arrangement in O(n log n).
//
// Why this works: elements with keys <= v, taken alone, go through exactly the passes the exchange sort
// would make on them alone, so the order in which the elements of key v end up depends only on the
// pattern of v's and smaller keys. In that pattern, a pass starting on a v meets the next smaller
// element and moves the v there: the leading run of v's acts as a queue whose front goes to the back
// once for every smaller element met behind it. The queue is kept as a line with a moving front;
// inserting at the back is an insertion before the front, which is resolved offline with a Fenwick tree.
// Elements that are unordered with everything (NaN keys) are never swapped and keep their positions.

namespace varnex::model {

namespace exchange_sort_detail {

class Fenwick final {
public:
    explicit Fenwick(int size) : size_(size), tree_(static_cast<std::size_t>(size) + 1, 0) {}

    // Every slot holding 1, built in linear time.
    static Fenwick AllOnes(int size) {
        Fenwick fenwick(size);
        for (int i = 1; i <= size; ++i) {
            fenwick.tree_[static_cast<std::size_t>(i)] = i & -i;
        }
        return fenwick;
    }

    void Add(int index, int delta) {
        for (int i = index + 1; i <= size_; i += i & -i) {
            tree_[static_cast<std::size_t>(i)] += delta;
        }
    }

    // Sum over [0, count).
    int Prefix(int count) const {
        int sum = 0;
        for (int i = count; i > 0; i -= i & -i) {
            sum += tree_[static_cast<std::size_t>(i)];
        }
        return sum;
    }

    // The index at which the running sum reaches `rank` (from 1); the values must be 0 or 1.
    int FindRank(int rank) const {
        int position = 0;
        int step = 1;
        while (step * 2 <= size_) {
            step *= 2;
        }
        for (; step > 0; step /= 2) {
            const int next = position + step;
            if (next <= size_ && tree_[static_cast<std::size_t>(next)] < rank) {
                position = next;
                rank -= tree_[static_cast<std::size_t>(next)];
            }
        }
        return position;
    }

private:
    int size_;
    std::vector<int> tree_;
};

} // namespace exchange_sort_detail

// order[p] is the index of the element that the exchange sort leaves at position p. `less(a, b)` says
// whether element a counts as smaller than element b; it must be a strict weak order over the elements
// for which `unordered` is false.
template <typename Less, typename Unordered>
std::vector<int> ExchangeSortOrder(int count, Less less, Unordered unordered) {
    using exchange_sort_detail::Fenwick;
    std::vector<int> movable;
    movable.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (!unordered(i)) {
            movable.push_back(i);
        }
    }
    const int movableCount = static_cast<int>(movable.size());
    // Positions within `movable`, by key; equal keys stay in position order.
    std::vector<int> byKey(movable.size());
    std::iota(byKey.begin(), byKey.end(), 0);
    std::stable_sort(byKey.begin(), byKey.end(), [&](int a, int b) {
        return less(movable[static_cast<std::size_t>(a)], movable[static_cast<std::size_t>(b)]);
    });

    Fenwick smallerPlaced(movableCount);
    std::vector<int> arranged;
    arranged.reserve(movable.size());
    std::vector<int> insertAt;
    std::vector<int> line;
    for (int groupBegin = 0; groupBegin < movableCount;) {
        const auto memberAt = [&](int g) { return byKey[static_cast<std::size_t>(g)]; };
        int groupEnd = groupBegin + 1;
        while (groupEnd < movableCount && !less(movable[static_cast<std::size_t>(memberAt(groupBegin))],
                                                movable[static_cast<std::size_t>(memberAt(groupEnd))])) {
            ++groupEnd;
        }
        const int groupSize = groupEnd - groupBegin;
        insertAt.assign(static_cast<std::size_t>(groupSize), 0);
        int front = 0;
        for (int t = 0; t < groupSize; ++t) {
            const int position = memberAt(groupBegin + t);
            const int next = t + 1 < groupSize ? memberAt(groupBegin + t + 1) : movableCount;
            const int smallerBehind = smallerPlaced.Prefix(next) - smallerPlaced.Prefix(position + 1);
            const int queueSize = t + 1;
            insertAt[static_cast<std::size_t>(t)] = front;
            front = (front + 1) % queueSize;
            front = (front + smallerBehind % queueSize) % queueSize;
        }
        // Later insertions shift earlier ones: place them last to first into the free slots.
        Fenwick freeSlots = Fenwick::AllOnes(groupSize);
        line.assign(static_cast<std::size_t>(groupSize), 0);
        for (int t = groupSize - 1; t >= 0; --t) {
            const int slot = freeSlots.FindRank(insertAt[static_cast<std::size_t>(t)] + 1);
            line[static_cast<std::size_t>(slot)] = memberAt(groupBegin + t);
            freeSlots.Add(slot, -1);
        }
        for (int u = 0; u < groupSize; ++u) {
            arranged.push_back(line[static_cast<std::size_t>((front + u) % groupSize)]);
        }
        for (int g = groupBegin; g < groupEnd; ++g) {
            smallerPlaced.Add(memberAt(g), 1);
        }
        groupBegin = groupEnd;
    }

    std::vector<int> order(static_cast<std::size_t>(count));
    std::size_t next = 0;
    for (int p = 0; p < count; ++p) {
        order[static_cast<std::size_t>(p)] =
            unordered(p) ? p : movable[static_cast<std::size_t>(arranged[next++])];
    }
    return order;
}

} // namespace varnex::model
