// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FilterDlg.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>

#include "ui_filter.h"

#include "platform/MessageBox.h"

using varnex::ui::PrecursorFilter;

namespace {

constexpr int kAllFunctions = -1; // the function list's first entry

QString BoundText(const std::optional<float>& bound) {
    return bound ? QString::number(static_cast<double>(*bound), 'g', 9) : QString();
}

QString ChargeText(int charge) {
    return charge < 0 ? QStringLiteral("undetermined") : QString::number(charge);
}

} // namespace

CFilterDlg::CFilterDlg(const PrecursorFilter& current, const CPrecursorArray& precursors, QWidget* pParent)
    : CDialog(IDD, pParent), m_ui(std::make_unique<Ui::FilterDlg>()), m_filter(current) {
    LoadTemplate(*m_ui);
    std::set<int> charges;
    std::map<int, std::string> functions;
    for (int i = 0; i < precursors.GetSize(); ++i) {
        const CPrecursor& precursor = precursors.ElementAt(i);
        charges.insert(precursor.m_nChargeState);
        functions.emplace(precursor.m_nFunction, precursor.m_strFunctionName);
    }
    // A charge the filter asks for stays on offer even when this data set has none of it.
    if (current.chargeStates) {
        charges.insert(current.chargeStates->begin(), current.chargeStates->end());
    }
    m_chargeStates.assign(charges.begin(), charges.end());
    for (const auto& [function, name] : functions) {
        m_functions.push_back({function, name});
    }
}

CFilterDlg::~CFilterDlg() = default;

BOOL CFilterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_ui->minSetMassEdit->setText(BoundText(m_filter.minSetMass));
    m_ui->maxSetMassEdit->setText(BoundText(m_filter.maxSetMass));
    m_ui->minSwitchingTimeEdit->setText(BoundText(m_filter.minSwitchingTimeMinutes));
    m_ui->maxSwitchingTimeEdit->setText(BoundText(m_filter.maxSwitchingTimeMinutes));

    m_ui->chargeList->clear();
    for (const int charge : m_chargeStates) {
        auto* item = new QListWidgetItem(ChargeText(charge), m_ui->chargeList);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        const bool wanted = !m_filter.chargeStates || m_filter.chargeStates->count(charge) != 0;
        item->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
    }

    m_ui->functionCombo->clear();
    m_ui->functionCombo->addItem(QStringLiteral("All functions"), kAllFunctions);
    for (const FunctionChoice& choice : m_functions) {
        QString text = QStringLiteral("%1").arg(choice.function);
        if (!choice.name.empty()) {
            text += QStringLiteral(": ") + QString::fromStdString(choice.name);
        }
        m_ui->functionCombo->addItem(text, choice.function);
    }
    const int selected = m_filter.function ? m_ui->functionCombo->findData(*m_filter.function) : 0;
    m_ui->functionCombo->setCurrentIndex(std::max(0, selected));
    return TRUE;
}

void CFilterDlg::OnOK() {
    if (auto filter = ReadFields()) {
        m_filter = std::move(*filter);
        EndDialog(IDOK);
    }
}

std::optional<PrecursorFilter> CFilterDlg::ReadFields() {
    bool valid = true;
    // Numbers as a program writes them (a point for the decimals), whatever the desktop's language.
    const auto bound = [&valid](QLineEdit* edit, const char* what) -> std::optional<float> {
        const QString text = edit->text().trimmed();
        if (!valid || text.isEmpty()) {
            return std::nullopt;
        }
        bool ok = false;
        const double value = QLocale::c().toDouble(text, &ok);
        if (!ok || !std::isfinite(value) || std::abs(value) > 1e30) {
            valid = false;
            const std::string message = "\"" + text.toStdString() + "\" is not a " + what + ".";
            AfxMessageBox(message.c_str(), MB_OK | MB_ICONEXCLAMATION);
            edit->setFocus();
            edit->selectAll();
            return std::nullopt;
        }
        return static_cast<float>(value);
    };
    const auto ordered = [&valid](const std::optional<float>& low, const std::optional<float>& high,
                                  QLineEdit* edit, const char* what) {
        if (valid && low && high && *low > *high) {
            valid = false;
            const std::string message = std::string("The ") + what + " range ends below its start.";
            AfxMessageBox(message.c_str(), MB_OK | MB_ICONEXCLAMATION);
            edit->setFocus();
            edit->selectAll();
        }
    };

    PrecursorFilter filter;
    filter.minSetMass = bound(m_ui->minSetMassEdit, "set mass");
    filter.maxSetMass = bound(m_ui->maxSetMassEdit, "set mass");
    ordered(filter.minSetMass, filter.maxSetMass, m_ui->maxSetMassEdit, "set mass");
    filter.minSwitchingTimeMinutes = bound(m_ui->minSwitchingTimeEdit, "switching time");
    filter.maxSwitchingTimeMinutes = bound(m_ui->maxSwitchingTimeEdit, "switching time");
    ordered(filter.minSwitchingTimeMinutes, filter.maxSwitchingTimeMinutes, m_ui->maxSwitchingTimeEdit,
            "switching time");
    if (!valid) {
        return std::nullopt;
    }

    std::set<int> charges;
    for (int row = 0; row < m_ui->chargeList->count(); ++row) {
        if (m_ui->chargeList->item(row)->checkState() == Qt::Checked) {
            charges.insert(m_chargeStates[static_cast<std::size_t>(row)]);
        }
    }
    if (charges.size() != m_chargeStates.size()) {
        filter.chargeStates = std::move(charges);
    }

    const int function = m_ui->functionCombo->currentData().toInt();
    if (function != kAllFunctions) {
        filter.function = function;
    }
    return filter;
}
