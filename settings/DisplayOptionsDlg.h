// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Display Options dialog: three drop-down lists choosing 0 to 4 decimal places for the switching
// time, set mass and intensity columns. OK stores the choice in the display settings; Cancel stores
// nothing.

#include <memory>

#include "platform/ComboBox.h"
#include "platform/Dialog.h"

namespace Ui {
class DisplayOptionsDlg;
}

class CDisplayOptionsDlg : public CDialog {
public:
    static constexpr UINT IDD = 130;
    static constexpr int IDC_SWITCHING_TIME = 1001;
    static constexpr int IDC_SET_MASS = 1002;
    static constexpr int IDC_INTENSITY = 1003;

    explicit CDisplayOptionsDlg(QWidget* pParent = nullptr);
    ~CDisplayOptionsDlg() override;

    // Stores the numbers as they stand (as read, or as last chosen), then ends the dialog with IDOK.
    // When they cannot be stored the user is told, and the dialog still ends with IDOK.
    void OnOK() override;

    CComboBox m_cbIntensity;
    CComboBox m_cbSetMass;
    CComboBox m_cbSwitchingTime;
    // Selection indexes, which are the numbers of decimal places. A stored number outside 0..4 is kept
    // (and written back) though its list shows no selection.
    int m_nIntensityPlaces = -1;
    int m_nSetMassPlaces = -1;
    int m_nSwitchingTimePlaces = -1;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    void OnSelchangeSwitchingTime();
    void OnSelchangeIntensity();
    void OnSelchangeSetMass();

private:
    std::unique_ptr<Ui::DisplayOptionsDlg> m_ui;
};

namespace varnex::settings {

// The message shown when OK could not store the settings.
inline constexpr const char* kDisplaySettingsNotSavedMessage = "The display settings could not be saved.";

} // namespace varnex::settings
