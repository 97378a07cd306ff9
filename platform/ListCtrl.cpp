// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ListCtrl.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include <QAbstractTableModel>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>

#include "platform/Dialog.h"

namespace varnex::platform {

// The rows and columns behind the view. A row is one std::string holding its sub-item texts separated
// by NUL bytes (texts arrive NUL-terminated, so they cannot contain one). Rows appended at the end are
// announced to the view in one batch from the event loop, or earlier when an operation needs the view
// to know them; rowCount() is what the view has been told.
class ListCtrlModel final : public QAbstractTableModel {
public:
    struct Column {
        std::string title;
        int format = LVCFMT_LEFT;
        int subItem = 0;
    };

    explicit ListCtrlModel(QObject* parent) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : announcedRows_;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(columns_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= announcedRows_ || index.column() >= columnCount()) {
            return {};
        }
        const Column& column = columns_[static_cast<std::size_t>(index.column())];
        if (role == Qt::DisplayRole) {
            const std::string_view text = Text(index.row(), column.subItem);
            return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        }
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(Alignment(column.format));
        }
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
            return {};
        }
        const Column& column = columns_[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole) {
            return QString::fromStdString(column.title);
        }
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(Alignment(column.format));
        }
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    int RowCount() const { return static_cast<int>(rows_.size()); }

    void Flush() {
        if (static_cast<int>(rows_.size()) <= announcedRows_) {
            return;
        }
        beginInsertRows({}, announcedRows_, static_cast<int>(rows_.size()) - 1);
        announcedRows_ = static_cast<int>(rows_.size());
        endInsertRows();
    }

    int InsertRow(int index, std::string_view firstText) {
        index = std::clamp(index, 0, RowCount());
        if (index >= announcedRows_) {
            rows_.insert(rows_.begin() + index, std::string(firstText));
            ScheduleFlush();
            return index;
        }
        Flush();
        beginInsertRows({}, index, index);
        rows_.insert(rows_.begin() + index, std::string(firstText));
        ++announcedRows_;
        endInsertRows();
        return index;
    }

    void ClearRows() {
        beginResetModel();
        rows_.clear();
        announcedRows_ = 0;
        endResetModel();
    }

    bool SetText(int row, int subItem, std::string_view text) {
        if (row < 0 || row >= RowCount() || subItem < 0) {
            return false;
        }
        std::string& cells = rows_[static_cast<std::size_t>(row)];
        std::size_t start = 0;
        for (int k = 0; k < subItem; ++k) {
            const std::size_t separator = cells.find('\0', start);
            if (separator == std::string::npos) {
                cells.append(static_cast<std::size_t>(subItem - k), '\0');
                start = cells.size();
                break;
            }
            start = separator + 1;
        }
        const std::size_t end = std::min(cells.find('\0', start), cells.size());
        cells.replace(start, end - start, text);
        if (row < announcedRows_) {
            emit dataChanged(index(row, 0), index(row, std::max(0, columnCount() - 1)));
        }
        return true;
    }

    std::string_view Text(int row, int subItem) const {
        if (row < 0 || row >= RowCount() || subItem < 0) {
            return {};
        }
        const std::string_view cells = rows_[static_cast<std::size_t>(row)];
        std::size_t start = 0;
        for (int k = 0; k < subItem; ++k) {
            const std::size_t separator = cells.find('\0', start);
            if (separator == std::string_view::npos) {
                return {};
            }
            start = separator + 1;
        }
        return cells.substr(start, std::min(cells.find('\0', start), cells.size()) - start);
    }

    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    const Column& ColumnAt(int col) const { return columns_[static_cast<std::size_t>(col)]; }

    int InsertColumn(int col, Column column) {
        col = std::clamp(col, 0, ColumnCount());
        beginInsertColumns({}, col, col);
        columns_.insert(columns_.begin() + col, std::move(column));
        endInsertColumns();
        return col;
    }

    bool RemoveColumn(int col) {
        if (col < 0 || col >= ColumnCount()) {
            return false;
        }
        beginRemoveColumns({}, col, col);
        columns_.erase(columns_.begin() + col);
        endRemoveColumns();
        return true;
    }

private:
    static Qt::Alignment Alignment(int format) {
        const Qt::Alignment horizontal = format == LVCFMT_RIGHT    ? Qt::AlignRight
                                         : format == LVCFMT_CENTER ? Qt::AlignHCenter
                                                                   : Qt::AlignLeft;
        return horizontal | Qt::AlignVCenter;
    }

    void ScheduleFlush() {
        if (flushQueued_) {
            return;
        }
        flushQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                flushQueued_ = false;
                Flush();
            },
            Qt::QueuedConnection);
    }

    std::vector<std::string> rows_;
    std::vector<Column> columns_;
    int announcedRows_ = 0;
    bool flushQueued_ = false;
};

// Turns the view's header clicks, double-clicks and Enter into the control's notifications, and gives
// Home and End the platform list view's meaning: the first and the last row (a table view would move
// along the columns of the row).
class ListCtrlEvents final : public QObject {
public:
    ListCtrlEvents(CListCtrl& control, QTableView& view) : QObject(&view), control_(control), view_(view) {
        view.installEventFilter(this);
        view.viewport()->installEventFilter(this);
        connect(view.horizontalHeader(), &QHeaderView::sectionClicked, this,
                [this](int column) { control_.Notify(LVN_COLUMNCLICK, -1, column, {}); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &view_ && event->type() == QEvent::KeyPress) {
            return KeyPressed(*static_cast<QKeyEvent*>(event));
        }
        if (watched == view_.viewport() && event->type() == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                // The view handles the click itself first, as the platform's control does before it
                // tells its parent.
                const QPoint point = mouse->position().toPoint();
                const int row = view_.rowAt(point.y());
                QMetaObject::invokeMethod(
                    this, [this, row, point] { control_.Notify(NM_DBLCLK, row, 0, point); },
                    Qt::QueuedConnection);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool KeyPressed(const QKeyEvent& key) {
        if (key.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) {
            return false;
        }
        switch (key.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            control_.Notify(NM_RETURN, control_.GetNextItem(-1, LVNI_FOCUSED), 0, {});
            return true;
        case Qt::Key_Home:
            return MoveTo(0);
        case Qt::Key_End:
            return MoveTo(control_.GetItemCount() - 1);
        default:
            return false;
        }
    }

    bool MoveTo(int row) {
        if (row < 0 || !control_.model_) {
            return true;
        }
        control_.model_->Flush();
        const QModelIndex index = control_.model_->index(row, std::max(0, view_.currentIndex().column()));
        view_.setCurrentIndex(index);
        view_.scrollTo(index);
        return true;
    }

    CListCtrl& control_;
    QTableView& view_;
};

} // namespace varnex::platform

using varnex::platform::ListCtrlEvents;
using varnex::platform::ListCtrlModel;

CListCtrl::CListCtrl() = default;

CListCtrl::~CListCtrl() {
    // The view may outlive this object; it must not call back into it.
    delete events_;
}

void CListCtrl::Attach(QTableView* view) {
    if (!view || view_) {
        return;
    }
    view_ = view;
    model_ = new ListCtrlModel(view);
    view->setModel(model_);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    view->setSortingEnabled(false);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setTabKeyNavigation(false);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->verticalHeader()->hide();
    // Fixed row heights let the view place any row without measuring the rows before it.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    QHeaderView* header = view->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    events_ = new ListCtrlEvents(*this, *view);
}

bool CListCtrl::HasWindow() const {
    return view_ && model_;
}

void CListCtrl::Notify(UINT code, int item, int subItem, QPoint point) const {
    if (!notifyHandler_ || !view_) {
        return;
    }
    NMLISTVIEW notification;
    notification.hdr.hwndFrom = view_;
    notification.hdr.idFrom = view_->property("controlId").toUInt();
    notification.hdr.code = code;
    notification.iItem = item;
    notification.iSubItem = subItem;
    notification.ptAction = point;
    notifyHandler_(&notification.hdr);
}

int CListCtrl::GetItemCount() const {
    return model_ ? model_->RowCount() : 0;
}

int CListCtrl::InsertItem(int nItem, const char* text) {
    if (!model_) {
        return -1;
    }
    return model_->InsertRow(nItem, text ? std::string_view(text) : std::string_view());
}

int CListCtrl::InsertItem(const LVITEMA* item) {
    if (!item) {
        return -1;
    }
    const int index = InsertItem(item->iItem, (item->mask & LVIF_TEXT) ? item->pszText : nullptr);
    if (index >= 0 && (item->stateMask & LVIS_SELECTED)) {
        SetItemState(index, item->state, item->stateMask);
    }
    return index;
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const char* text) {
    return model_ && model_->SetText(nItem, nSubItem, text ? std::string_view(text) : std::string_view());
}

std::string CListCtrl::GetItemText(int nItem, int nSubItem) const {
    return model_ ? std::string(model_->Text(nItem, nSubItem)) : std::string();
}

BOOL CListCtrl::DeleteAllItems() {
    if (!model_) {
        return FALSE;
    }
    model_->ClearRows();
    view_->scrollToTop();
    return TRUE;
}

int CListCtrl::InsertColumn(int nCol, const LVCOLUMNA* column) {
    if (!model_ || !column || nCol < 0) {
        return -1;
    }
    ListCtrlModel::Column entry;
    if ((column->mask & LVCF_TEXT) && column->pszText) {
        entry.title = column->pszText;
    }
    if (column->mask & LVCF_FMT) {
        entry.format = column->fmt;
    }
    entry.subItem = (column->mask & LVCF_SUBITEM) ? column->iSubItem : 0;
    const int index = model_->InsertColumn(nCol, std::move(entry));
    view_->horizontalHeader()->resizeSection(index,
                                             (column->mask & LVCF_WIDTH) ? std::max(0, column->cx) : 0);
    return index;
}

int CListCtrl::InsertColumn(int nCol, const char* heading, int format, int width, int subItem) {
    LVCOLUMNA column;
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.pszText = heading;
    column.fmt = format;
    if (width != -1) {
        column.mask |= LVCF_WIDTH;
        column.cx = width;
    }
    if (subItem != -1) {
        column.mask |= LVCF_SUBITEM;
        column.iSubItem = subItem;
    }
    return InsertColumn(nCol, &column);
}

BOOL CListCtrl::DeleteColumn(int nCol) {
    return model_ && model_->RemoveColumn(nCol);
}

int CListCtrl::GetHeaderItemCount() const {
    return model_ ? model_->ColumnCount() : -1;
}

std::string CListCtrl::GetColumnText(int nCol) const {
    if (!model_ || nCol < 0 || nCol >= model_->ColumnCount()) {
        return {};
    }
    return model_->ColumnAt(nCol).title;
}

int CListCtrl::GetColumnWidth(int nCol) const {
    if (!model_ || nCol < 0 || nCol >= model_->ColumnCount()) {
        return 0;
    }
    return view_->horizontalHeader()->sectionSize(nCol);
}

BOOL CListCtrl::SetColumnWidth(int nCol, int cx) {
    if (!model_ || nCol < 0 || nCol >= model_->ColumnCount()) {
        return FALSE;
    }
    view_->horizontalHeader()->resizeSection(nCol, std::max(0, cx));
    return TRUE;
}

DWORD CListCtrl::SetExtendedStyle(DWORD style) {
    const DWORD previous = extendedStyle_;
    extendedStyle_ = style;
    if (view_) {
        view_->setShowGrid((style & LVS_EX_GRIDLINES) != 0);
        view_->setSelectionBehavior((style & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                                   : QAbstractItemView::SelectItems);
    }
    return previous;
}

int CListCtrl::GetNextItem(int nItem, int nFlags) const {
    if (!model_) {
        return -1;
    }
    model_->Flush();
    const int first = std::max(0, nItem + 1);
    const UINT wanted =
        ((nFlags & LVNI_SELECTED) ? LVIS_SELECTED : 0) | ((nFlags & LVNI_FOCUSED) ? LVIS_FOCUSED : 0);
    if (wanted == 0) {
        return first < model_->RowCount() ? first : -1;
    }
    // Only selected or focused rows qualify, and there are few of them: never walk all rows.
    const QItemSelectionModel* selection = view_->selectionModel();
    std::vector<int> candidates;
    if (wanted & LVIS_SELECTED) {
        for (const QModelIndex& index : selection->selectedIndexes()) {
            candidates.push_back(index.row());
        }
    } else if (selection->currentIndex().isValid()) {
        candidates.push_back(selection->currentIndex().row());
    }
    int next = -1;
    for (int row : candidates) {
        if (row >= first && (next < 0 || row < next) && GetItemState(row, wanted) == wanted) {
            next = row;
        }
    }
    return next;
}

UINT CListCtrl::GetItemState(int nItem, UINT mask) const {
    if (!model_ || nItem < 0 || nItem >= model_->RowCount()) {
        return 0;
    }
    model_->Flush();
    UINT state = 0;
    const QItemSelectionModel* selection = view_->selectionModel();
    if ((mask & LVIS_SELECTED) && selection->rowIntersectsSelection(nItem, {})) {
        state |= LVIS_SELECTED;
    }
    if ((mask & LVIS_FOCUSED) && selection->currentIndex().row() == nItem) {
        state |= LVIS_FOCUSED;
    }
    return state;
}

BOOL CListCtrl::SetItemState(int nItem, UINT state, UINT mask) {
    if (!model_ || nItem < 0 || nItem >= model_->RowCount()) {
        return FALSE;
    }
    model_->Flush();
    QItemSelectionModel* selection = view_->selectionModel();
    const QModelIndex index = model_->index(nItem, 0);
    if (mask & LVIS_SELECTED) {
        if (state & LVIS_SELECTED) {
            selection->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        } else {
            selection->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        }
    }
    if ((mask & LVIS_FOCUSED) && (state & LVIS_FOCUSED)) {
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    return TRUE;
}

int CListCtrl::GetTopIndex() const {
    if (!model_) {
        return 0;
    }
    model_->Flush();
    // Rows scroll whole, so the scroll position is the top row; the header follows it only later.
    if (view_->verticalScrollMode() == QAbstractItemView::ScrollPerItem) {
        return std::max(0, view_->verticalScrollBar()->value());
    }
    return std::max(0, view_->rowAt(0));
}

void CListCtrl::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    if (!view_) {
        return;
    }
    view_->setGeometry(x, y, std::max(0, width), std::max(0, height));
    if (repaint) {
        view_->update();
    }
}

QRect CListCtrl::GetClientRect() const {
    if (!view_) {
        return {};
    }
    const int frame = view_->frameWidth();
    int width = view_->width() - 2 * frame;
    int height = view_->height() - 2 * frame;
    const QScrollBar* vertical = view_->verticalScrollBar();
    if (vertical->isVisibleTo(view_)) {
        width -= vertical->sizeHint().width();
    }
    const QScrollBar* horizontal = view_->horizontalScrollBar();
    if (horizontal->isVisibleTo(view_)) {
        height -= horizontal->sizeHint().height();
    }
    return {0, 0, std::max(0, width), std::max(0, height)};
}

void DDX_Control(CDataExchange* pDX, int nIDC, CListCtrl& rControl) {
    if (pDX == nullptr || pDX->m_pDlgWnd == nullptr || rControl.HasWindow()) {
        return;
    }
    rControl.Attach(qobject_cast<QTableView*>(pDX->m_pDlgWnd->GetDlgItem(nIDC)));
}
