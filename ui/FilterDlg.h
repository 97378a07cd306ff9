// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Filter dialog: set-mass and switching-time ranges, the charge states and the MS/MS function the
// list is to show. It offers the charge states and functions the data set has, starts from the filter
// in force, and on OK hands back the new one; a field that is not a number, or a range whose ends are
// the wrong way round, is named and the dialog stays open.

#include <memory>
#include <optional>
#include <vector>

#include "model/PrecursorArray.h"
#include "platform/Dialog.h"
#include "ui/PrecursorFilter.h"

namespace Ui {
class FilterDlg;
}

class CFilterDlg final : public CDialog {
public:
    static constexpr UINT IDD = 135; // controls 1010-1015 of the template: the fields, top to bottom

    CFilterDlg(const varnex::ui::PrecursorFilter& current, const CPrecursorArray& precursors,
               QWidget* pParent = nullptr);
    ~CFilterDlg() override;

    void OnOK() override;
    const varnex::ui::PrecursorFilter& GetFilter() const { return m_filter; }

protected:
    BOOL OnInitDialog() override;

private:
    struct FunctionChoice {
        int function;
        std::string name;
    };
    // The filter the fields describe, or nothing once the user has been told what is wrong.
    std::optional<varnex::ui::PrecursorFilter> ReadFields();

    std::unique_ptr<Ui::FilterDlg> m_ui;
    varnex::ui::PrecursorFilter m_filter;
    std::vector<int> m_chargeStates; // offered, ascending
    std::vector<FunctionChoice> m_functions;
};
