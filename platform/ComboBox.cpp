// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ComboBox.h"

#include <QComboBox>

#include "platform/Dialog.h"

int CComboBox::GetCount() const {
    return m_pWidget != nullptr ? m_pWidget->count() : CB_ERR;
}

int CComboBox::GetCurSel() const {
    if (m_pWidget == nullptr) {
        return CB_ERR;
    }
    const int index = m_pWidget->currentIndex();
    return index >= 0 ? index : CB_ERR;
}

int CComboBox::SetCurSel(int nSelect) {
    if (m_pWidget == nullptr) {
        return CB_ERR;
    }
    if (nSelect < 0 || nSelect >= m_pWidget->count()) {
        m_pWidget->setCurrentIndex(-1);
        return CB_ERR;
    }
    m_pWidget->setCurrentIndex(nSelect);
    return nSelect;
}

int CComboBox::AddString(const QString& text) {
    if (m_pWidget == nullptr) {
        return CB_ERR;
    }
    int index = m_pWidget->count();
    if (m_pWidget->property("sorted").toBool()) {
        index = 0;
        while (index < m_pWidget->count() &&
               m_pWidget->itemText(index).compare(text, Qt::CaseInsensitive) <= 0) {
            ++index;
        }
    }
    m_pWidget->insertItem(index, text);
    return index;
}

namespace {

QComboBox* ComboOf(CDataExchange* pDX, int nIDC) {
    return pDX != nullptr && pDX->m_pDlgWnd != nullptr
               ? qobject_cast<QComboBox*>(pDX->m_pDlgWnd->GetDlgItem(nIDC))
               : nullptr;
}

} // namespace

void DDX_Control(CDataExchange* pDX, int nIDC, CComboBox& rControl) {
    if (!rControl.IsBound()) {
        rControl.Attach(ComboOf(pDX, nIDC));
    }
}

void DDX_CBIndex(CDataExchange* pDX, int nIDC, int& index) {
    QComboBox* combo = ComboOf(pDX, nIDC);
    if (combo == nullptr) {
        return;
    }
    if (pDX->m_bSaveAndValidate) {
        index = combo->currentIndex();
    } else {
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    }
}
