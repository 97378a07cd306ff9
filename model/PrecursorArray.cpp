// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/PrecursorArray.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <utility>

namespace {

CPrecursor* AllocateSlots(int count) {
    return static_cast<CPrecursor*>(::operator new(sizeof(CPrecursor) * static_cast<std::size_t>(count)));
}

void FreeSlots(CPrecursor* slots) {
    ::operator delete(slots);
}

} // namespace

CPrecursorArray::~CPrecursorArray() {
    DestroyAll();
}

void CPrecursorArray::DestroyAll() {
    std::destroy_n(storage_, size_);
    FreeSlots(storage_);
    storage_ = nullptr;
    size_ = 0;
    capacity_ = 0;
}

void CPrecursorArray::SetSize(int newSize, int growBy) {
    if (growBy != -1) {
        growBy_ = growBy;
    }
    newSize = std::max(newSize, 0);
    if (newSize == 0) {
        DestroyAll();
        return;
    }
    if (storage_ == nullptr) {
        storage_ = AllocateSlots(newSize);
        std::uninitialized_value_construct_n(storage_, newSize);
        size_ = newSize;
        capacity_ = newSize;
        return;
    }
    if (newSize <= capacity_) {
        if (newSize > size_) {
            std::uninitialized_value_construct_n(storage_ + size_, newSize - size_);
        } else {
            std::destroy_n(storage_ + newSize, size_ - newSize);
        }
        size_ = newSize;
        return;
    }
    int step = growBy_;
    if (step == 0) {
        step = std::clamp(size_ / 8, 4, 1024);
    }
    const long long wanted = std::max<long long>(newSize, static_cast<long long>(capacity_) + step);
    const int newCapacity = static_cast<int>(std::min<long long>(wanted, std::numeric_limits<int>::max()));
    CPrecursor* grown = AllocateSlots(newCapacity);
    std::uninitialized_move_n(storage_, size_, grown);
    std::destroy_n(storage_, size_);
    std::uninitialized_value_construct_n(grown + size_, newSize - size_);
    FreeSlots(storage_);
    storage_ = grown;
    size_ = newSize;
    capacity_ = newCapacity;
}

void CPrecursorArray::SetAtGrow(int index, CPrecursor record) {
    if (index >= size_) {
        SetSize(index + 1);
    }
    storage_[index] = std::move(record);
}

int CPrecursorArray::Add(CPrecursor record) {
    const int index = size_;
    SetAtGrow(index, std::move(record));
    return index;
}
