// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CComboBox: a drop-down list control of a dialog template, bound to its member by DDX_Control.

#include <QString>

#include "system/WinTypes.h"

class QComboBox;
class CDataExchange;

inline constexpr int CB_ERR = -1;

class CComboBox final {
public:
    CComboBox() = default;
    ~CComboBox() = default;
    CComboBox(const CComboBox&) = delete;
    CComboBox& operator=(const CComboBox&) = delete;

    bool IsBound() const { return m_pWidget != nullptr; }
    void Attach(QComboBox* pWidget) { m_pWidget = pWidget; }

    int GetCount() const;
    int GetCurSel() const; // CB_ERR when nothing is selected
    // Selects item nSelect; an index outside the list clears the selection and returns CB_ERR.
    int SetCurSel(int nSelect);
    // Appends, or inserts in order when the list is sorted; returns the item's index.
    int AddString(const QString& text);

private:
    QComboBox* m_pWidget = nullptr;
};

// Binds control nIDC of the dialog to the member once.
void DDX_Control(CDataExchange* pDX, int nIDC, CComboBox& rControl);
// Selection index of combo box nIDC: stored into `index`, or selected from it (-1 or out of range: none).
void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index);
