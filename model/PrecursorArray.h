// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <utility>

#include "model/Precursor.h"

// Growable array of precursors held by value in one contiguous block. Growth follows a fixed rule so
// that the capacity sequence is predictable: exact fit for the first allocation, then a step of
// size/8 clamped to 4..1024 unless a grow-by increment was set.
class CPrecursorArray {
public:
    CPrecursorArray() = default;
    virtual ~CPrecursorArray();
    CPrecursorArray(const CPrecursorArray&) = delete;
    CPrecursorArray& operator=(const CPrecursorArray&) = delete;

    int GetSize() const { return size_; }
    int GetCapacity() const { return capacity_; }
    int GetGrowBy() const { return growBy_; }

    CPrecursor GetAt(int index) const { return storage_[index]; }
    void SetAt(int index, CPrecursor record) { storage_[index] = std::move(record); }
    void SetAtGrow(int index, CPrecursor record);
    int Add(CPrecursor record);
    // growBy -1 keeps the current increment; 0 means automatic.
    void SetSize(int newSize, int growBy = -1);
    void RemoveAll() { SetSize(0); }

    // Direct access for bulk work (sorting, export) that would otherwise copy every record.
    CPrecursor* GetData() { return storage_; }
    const CPrecursor* GetData() const { return storage_; }
    const CPrecursor& ElementAt(int index) const { return storage_[index]; }
    CPrecursor& ElementAt(int index) { return storage_[index]; }

private:
    void DestroyAll();

    CPrecursor* storage_ = nullptr; // raw slots; only [0, size_) hold constructed records
    int size_ = 0;
    int capacity_ = 0;
    int growBy_ = 0;
};
