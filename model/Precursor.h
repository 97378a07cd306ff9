// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// One precursor: a run of consecutive MS/MS scans of one function on one set mass. Functions and scans
// count from 1 here; times are retention times in minutes.
class CPrecursor {
public:
    CPrecursor() = default;
    CPrecursor(const CPrecursor&) = default;
    CPrecursor(CPrecursor&&) noexcept = default;
    CPrecursor& operator=(const CPrecursor&) = default;
    CPrecursor& operator=(CPrecursor&&) noexcept = default;
    virtual ~CPrecursor();

    std::string GetFunctionName() const { return m_strFunctionName; }

    // Times in minutes, set mass in m/z.
    float m_fSwitchingTime = 0.0f; // -1.0 when the run lies before every survey scan
    int m_nSurveyScan = 0;         // 0 when no survey scan precedes the run
    float m_fSetMass = 0.0f;
    int m_nFunction = 0;
    std::string m_strFunctionName;
    int m_nFirstScan = 0;
    int m_nLastScan = 0; // inclusive
    float m_fRetentionTime = 0.0f;
    int m_nChargeState = -1; // -1: not determined
    float m_fIntensity = 0.0f;
};
