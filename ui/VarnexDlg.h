#pragma once

// The precursor list window: a modal dialog over template 102 with one report-style list view. It owns
// the precursor list for its whole life, keeps the column widths in proportion to the list's width,
// re-sorts on a header click, formats the rows with the stored decimal places, asks the host to show
// the precursor of a double-clicked row, and ends as OK on the registered message "s_wm_VARNEX_CMD"
// with code 3.
//
// Row i of the list view always shows element i of the precursor array: the view holds text only, so
// every reordering is done on the array and the rows are then rebuilt whole.

#include <memory>
#include <string>
#include <vector>

#include <QIcon>

#include "model/PrecursorList.h"
#include "platform/Dialog.h"
#include "platform/ListCtrl.h"
#include "system/NamedEvent.h"
#include "system/WinTypes.h"

namespace Ui {
class VarnexDlg;
}
class RegisteredMessageListener;

using HICON = QIcon;

// The id of the registered message "s_wm_VARNEX_CMD", obtained once at start-up.
extern const UINT g_nVarnexCommandMessage;
// The code of the registered message that ends the window as OK.
inline constexpr WPARAM kVarnexCommandClose = 3;
// The event created (and left open) on a double-click, for the host to find.
inline constexpr const char* kCombineEventName = "WaitForCombine";
// How long each host command may take, in milliseconds.
inline constexpr int kHostCommandTimeoutMs = 10000;

class CVarnexDlg : public CDialog {
public:
    explicit CVarnexDlg(QWidget* pParent = nullptr);
    ~CVarnexDlg() override;

    INT_PTR DoModal() override;

    // Stores the path, builds the list behind the progress dialog, then ensures the display settings.
    void LoadRawData(std::string path);
    int GetPrecursorCount() const;

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

    CListCtrl m_listCtrl;
    HICON m_hIcon;
    std::vector<float> m_columnPercents;
    CPrecursorList m_precursorList;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;

private:
    // The window's message map for WM_NOTIFY from the list and for registered messages.
    void OnNotify(NMHDR* pNMHDR);
    LRESULT OnRegisteredMessage(UINT message, WPARAM wParam, LPARAM lParam);

    std::unique_ptr<Ui::VarnexDlg> m_ui;
    std::unique_ptr<RegisteredMessageListener> m_messageListener;
    // The last handle on the event "WaitForCombine": kept so the event lives on, but only one.
    HANDLE m_combineEvent = nullptr;
};
