// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/DisplayOptionsDlg.h"

#include <cstdlib>
#include <string>

#include "ui_display_options.h"

#include "model/PrecursorColumn.h"
#include "platform/MessageBox.h"
#include "settings/DecimalPlaces.h"

using varnex::settings::DecimalPlacesAt;
using varnex::settings::kDisplaySettingsNotSavedMessage;

using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnDecimalsPosition;

namespace {

int PlacesAt(const std::string& text, PrecursorColumn column) {
    return std::atoi(DecimalPlacesAt(text, PrecursorColumnDecimalsPosition(column)).c_str());
}

} // namespace

CDisplayOptionsDlg::CDisplayOptionsDlg(QWidget* pParent)
    : CDialog(IDD, pParent), m_ui(std::make_unique<Ui::DisplayOptionsDlg>()) {
    LoadTemplate(*m_ui);
    MapComboSelChange(IDC_SWITCHING_TIME, [this] { OnSelchangeSwitchingTime(); });
    MapComboSelChange(IDC_INTENSITY, [this] { OnSelchangeIntensity(); });
    MapComboSelChange(IDC_SET_MASS, [this] { OnSelchangeSetMass(); });

    const std::string stored = ReadDecimalPlaces();
    m_nSwitchingTimePlaces = PlacesAt(stored, PrecursorColumn::SwitchingTime);
    m_nSetMassPlaces = PlacesAt(stored, PrecursorColumn::SetMass);
    m_nIntensityPlaces = PlacesAt(stored, PrecursorColumn::Intensity);
}

CDisplayOptionsDlg::~CDisplayOptionsDlg() = default;

void CDisplayOptionsDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_INTENSITY, m_cbIntensity);
    DDX_Control(pDX, IDC_SET_MASS, m_cbSetMass);
    DDX_Control(pDX, IDC_SWITCHING_TIME, m_cbSwitchingTime);
    DDX_CBIndex(pDX, IDC_INTENSITY, m_nIntensityPlaces);
    DDX_CBIndex(pDX, IDC_SET_MASS, m_nSetMassPlaces);
    DDX_CBIndex(pDX, IDC_SWITCHING_TIME, m_nSwitchingTimePlaces);
}

void CDisplayOptionsDlg::OnOK() {
    // Stored before the exchange from the controls: a list without a selection keeps its number.
    if (!WriteDecimalPlaces(m_nSwitchingTimePlaces, m_nSetMassPlaces, m_nIntensityPlaces)) {
        AfxMessageBox(kDisplaySettingsNotSavedMessage, MB_OK | MB_ICONEXCLAMATION);
    }
    CDialog::OnOK();
}

void CDisplayOptionsDlg::OnSelchangeSwitchingTime() {
    m_nSwitchingTimePlaces = m_cbSwitchingTime.GetCurSel();
}

void CDisplayOptionsDlg::OnSelchangeIntensity() {
    m_nIntensityPlaces = m_cbIntensity.GetCurSel();
}

void CDisplayOptionsDlg::OnSelchangeSetMass() {
    m_nSetMassPlaces = m_cbSetMass.GetCurSel();
}
