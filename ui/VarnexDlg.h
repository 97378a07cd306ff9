// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The precursor list window: a modal dialog over template 102 with one report-style list view. It owns
// the precursor list for its whole life, keeps the column widths in proportion to the list's width,
// re-sorts on a header click, formats the rows with the stored decimal places, asks the host to show
// the precursor of a double-clicked row, and ends as OK on the registered message "s_wm_VARNEX_CMD"
// with code 3.
//
// Row i of the list view always shows element i of the precursor array that is displayed (the whole
// list, or while a filter is on the precursors that pass it, in the list's order): the view holds text
// only, so every reordering is done on the array and the rows are then rebuilt whole.
//
// Beside that: other data sets are opened from the window (File > Open, a drop, the recent list) through
// the same load as at start-up; a filter narrows the rows; rows are copied and the displayed list
// exported; and the window's placement and sort column are kept for the next start.

#include <memory>
#include <string>
#include <vector>

#include <QIcon>

#include "listio/PrecursorExport.h"
#include "model/PrecursorList.h"
#include "platform/Dialog.h"
#include "platform/ListCtrl.h"
#include "system/NamedEvent.h"
#include "system/WinTypes.h"
#include "ui/PrecursorFilter.h"

namespace Ui {
class VarnexDlg;
}
class QLabel;
namespace varnex::platform {
class RegisteredMessageListener;
} // namespace varnex::platform

using HICON = QIcon;

namespace varnex::ui {

// The id of the registered message "s_wm_VARNEX_CMD", obtained once at start-up.
extern const UINT g_nVarnexCommandMessage;
// The code of the registered message that ends the window as OK.
inline constexpr WPARAM kVarnexCommandClose = 3;
// The event created (and left open) on a double-click, for the host to find.
inline constexpr const char* kCombineEventName = "WaitForCombine";
// How long each host command may take, in milliseconds.
inline constexpr int kHostCommandTimeoutMs = 10000;
// Shown once when a double-click finds no host display to show the precursor in.
inline constexpr const char* kNoHostMessage =
    "The host display is not running, so it cannot show this precursor.\n\nStart varnex-host, then "
    "double-click the precursor again.";

} // namespace varnex::ui

class CVarnexDlg : public CDialog {
public:
    explicit CVarnexDlg(QWidget* pParent = nullptr);
    ~CVarnexDlg() override;

    INT_PTR DoModal() override;

    // Stores the path, builds the list behind the progress dialog, then ensures the display settings.
    void LoadRawData(std::string path);
    int GetPrecursorCount() const;

    // Loads another data set while the window is up. When it yields no precursors the user is told why
    // (when the file gives a reason) and the list stays as it was; false then.
    bool OpenDataSet(const std::string& path);
    // Tells the user why `path` cannot be read, when it cannot; returns whether it did.
    bool ReportUnreadableDataSet(const std::string& path);
    // The array the rows show: the whole list, or the precursors passing the filter.
    const CPrecursorArray& DisplayedPrecursors() const;
    const varnex::ui::PrecursorFilter& GetFilter() const { return m_filter; }
    void SetFilter(const varnex::ui::PrecursorFilter& filter);
    // Writes the displayed precursors as varnex-list does, replacing `path` only once all is written.
    bool ExportDisplayed(const std::string& path, varnex::listio::ExportFormat format,
                         std::string& error) const;
    // The line under the list: the data set's name and the count.
    QString DataSetLineText() const;

    void SetupColumns();
    void DeleteAllColumns();
    void LayoutList();
    void ComputeColumnPercents();
    void ApplyColumnPercents();
    void FillRows();

    // Message handlers.
    void OnSysCommand(UINT nID, LPARAM lParam) override;
    HICON OnQueryDragIcon() const { return m_hIcon; }
    void OnListDoubleClick(NMHDR* pNMHDR, LRESULT* pResult);
    void OnAppAbout();
    void OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult);
    void OnSize(UINT nType, int cx, int cy) override;
    void OnDisplayOptions();
    LRESULT OnVarnexCommand(WPARAM wParam, LPARAM lParam);
    void ShowAboutBox();
    void OnFileOpen();
    void OnFileExport();
    void OnEditCopy();
    void OnDisplayFilter();
    void OnDisplayShowAll();

    CListCtrl m_listCtrl;
    HICON m_hIcon;
    std::vector<float> m_columnPercents;
    CPrecursorList m_precursorList;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The window's message map for WM_NOTIFY from the list and for registered messages.
    void OnNotify(NMHDR* pNMHDR);
    LRESULT OnRegisteredMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void SortByRememberedColumn();
    void FilterDisplayed();
    void RefillRows();
    void PlaceDataSetLine();
    void UpdateDataSetLine();
    void FillRecentMenu();
    void RestoreLayout();
    void SaveLayout() const;

    std::unique_ptr<Ui::VarnexDlg> m_ui;
    std::unique_ptr<varnex::platform::RegisteredMessageListener> m_messageListener;
    // The last handle on the event "WaitForCombine": kept so the event lives on, but only one.
    HANDLE m_combineEvent = nullptr;
    // A double-click without a host says so once, not at every click.
    bool m_toldHostMissing = false;
    varnex::ui::PrecursorFilter m_filter;
    CPrecursorArray m_filteredPrecursors; // while the filter is on
    int m_sortColumn = 0;
    QLabel* m_dataSetLine = nullptr;
};
