// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The report-style list view control. It holds text only: the program inserts rows and sets the texts
// of their sub-items, and row i is whatever was inserted at index i. Rows live in one compact text
// store (one buffer per row) behind a QTableView, and a run of rows appended in one go reaches the view
// as a single insertion, so refilling 100,000 rows costs tens of milliseconds.
//
// Until Attach binds it to a table view of a dialog template, the control has no window and every
// operation fails as on a control without a window.

#include <functional>
#include <string>
#include <utility>

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTableView>

#include "system/WinTypes.h"

class QWidget;
class CDataExchange;
namespace varnex::platform {
class ListCtrlEvents;
class ListCtrlModel;
} // namespace varnex::platform

// Extended styles.
inline constexpr DWORD LVS_EX_GRIDLINES = 0x00000001;
inline constexpr DWORD LVS_EX_FULLROWSELECT = 0x00000020;
// Column formats.
inline constexpr int LVCFMT_LEFT = 0;
inline constexpr int LVCFMT_RIGHT = 1;
inline constexpr int LVCFMT_CENTER = 2;
// Column mask bits.
inline constexpr UINT LVCF_FMT = 0x1;
inline constexpr UINT LVCF_WIDTH = 0x2;
inline constexpr UINT LVCF_TEXT = 0x4;
inline constexpr UINT LVCF_SUBITEM = 0x8;
// Item mask bits.
inline constexpr UINT LVIF_TEXT = 0x1;
// Item states.
inline constexpr UINT LVIS_FOCUSED = 0x1;
inline constexpr UINT LVIS_SELECTED = 0x2;
// GetNextItem flags.
inline constexpr int LVNI_ALL = 0x0;
inline constexpr int LVNI_FOCUSED = 0x1;
inline constexpr int LVNI_SELECTED = 0x2;
// Notification codes, as the platform's negative values in an unsigned field.
inline constexpr UINT NM_DBLCLK = static_cast<UINT>(-3);
inline constexpr UINT NM_RETURN = static_cast<UINT>(-4);
inline constexpr UINT LVN_COLUMNCLICK = static_cast<UINT>(-108);

struct LVCOLUMNA {
    UINT mask = 0;
    int fmt = LVCFMT_LEFT;
    int cx = 0;
    const char* pszText = nullptr;
    int cchTextMax = 0;
    int iSubItem = 0;
};

struct LVITEMA {
    UINT mask = 0;
    int iItem = 0;
    int iSubItem = 0;
    UINT state = 0;
    UINT stateMask = 0;
    const char* pszText = nullptr;
    int cchTextMax = 0;
    int iImage = 0;
    LPARAM lParam = 0;
};

// What a control tells its parent (WM_NOTIFY): who sends it (the control's id) and what happened.
struct NMHDR {
    QWidget* hwndFrom = nullptr;
    UINT_PTR idFrom = 0;
    UINT code = 0;
};

// List-view notifications: for LVN_COLUMNCLICK the clicked column in iSubItem; for NM_DBLCLK the row
// under the pointer in iItem (-1 below the last row); for NM_RETURN (Enter in the list) the focused row.
struct NMLISTVIEW {
    NMHDR hdr;
    int iItem = -1;
    int iSubItem = 0;
    UINT uNewState = 0;
    UINT uOldState = 0;
    UINT uChanged = 0;
    QPoint ptAction;
    LPARAM lParam = 0;
};

class CListCtrl final {
public:
    // Receives the notifications; the NMHDR is the head of an NMLISTVIEW.
    using NotifyHandler = std::function<void(NMHDR* pNMHDR)>;

    CListCtrl();
    ~CListCtrl();
    CListCtrl(const CListCtrl&) = delete;
    CListCtrl& operator=(const CListCtrl&) = delete;

    // Takes over a table view: report style, single selection, no editing, no sorting of its own.
    void Attach(QTableView* view);
    bool HasWindow() const;
    QTableView* GetView() const { return view_; }
    void SetNotifyHandler(NotifyHandler handler) { notifyHandler_ = std::move(handler); }

    // Rows.
    int GetItemCount() const;
    // Inserts a row with the text of sub-item 0; returns its index, or -1.
    int InsertItem(int nItem, const char* text);
    int InsertItem(const LVITEMA* item);
    BOOL SetItemText(int nItem, int nSubItem, const char* text);
    std::string GetItemText(int nItem, int nSubItem) const;
    BOOL DeleteAllItems();

    // Columns.
    int InsertColumn(int nCol, const LVCOLUMNA* column);
    int InsertColumn(int nCol, const char* heading, int format = LVCFMT_LEFT, int width = -1,
                     int subItem = -1);
    BOOL DeleteColumn(int nCol);
    // The number of header items, which is the number of columns.
    int GetHeaderItemCount() const;
    std::string GetColumnText(int nCol) const;
    int GetColumnWidth(int nCol) const;
    BOOL SetColumnWidth(int nCol, int cx);

    DWORD GetExtendedStyle() const { return extendedStyle_; }
    DWORD SetExtendedStyle(DWORD style);

    // Selection and focus.
    int GetNextItem(int nItem, int nFlags) const;
    UINT GetItemState(int nItem, UINT mask) const;
    BOOL SetItemState(int nItem, UINT state, UINT mask);
    int GetTopIndex() const;

    // Geometry in the parent's coordinates, and the client area (the header included, the border and
    // a shown vertical scroll bar excluded), as the platform's list view measures them.
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    QRect GetClientRect() const;

private:
    friend class varnex::platform::ListCtrlEvents;
    void Notify(UINT code, int item, int subItem, QPoint point) const;

    QPointer<QTableView> view_;
    QPointer<varnex::platform::ListCtrlModel> model_;
    QPointer<QObject> events_;
    DWORD extendedStyle_ = 0;
    NotifyHandler notifyHandler_;
};

// Binds control nIDC of the dialog, a table view, to the member once.
void DDX_Control(CDataExchange* pDX, int nIDC, CListCtrl& rControl);
