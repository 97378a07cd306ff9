// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A registry key handle that is closed on every path out of its scope.

#include "system/Registry.h"

namespace varnex::settings {

class ScopedKey final {
public:
    ScopedKey() = default;
    ~ScopedKey() { Release(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    PHKEY Receive() {
        Release();
        return &m_hKey;
    }
    HKEY Get() const { return m_hKey; }
    void Release() {
        if (m_hKey != nullptr) {
            RegCloseKey(m_hKey);
            m_hKey = nullptr;
        }
    }

private:
    HKEY m_hKey = nullptr;
};

} // namespace varnex::settings
