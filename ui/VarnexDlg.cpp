// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/VarnexDlg.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>
#include <string_view>
#include <utility>

#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "ui_main_window.h"

#include "hostlink/HostCommand.h"
#include "hostlink/HostLink.h"
#include "listio/DataSetCheck.h"
#include "model/PrecursorColumn.h"
#include "outside/DisplayAbout.h"
#include "platform/MessageBox.h"
#include "platform/RegisteredMessageListener.h"
#include "platform/SystemMenu.h"
#include "progress/ProgressDlg.h"
#include "settings/DecimalPlaces.h"
#include "settings/DisplayOptionsDlg.h"
#include "settings/ListWindowSettings.h"
#include "system/AtomicFile.h"
#include "ui/FilterDlg.h"
#include "ui/Resource.h"

using varnex::platform::RegisteredMessageListener;

using varnex::settings::AddRecentDataSet;
using varnex::settings::ReadRecentDataSets;
using varnex::settings::ReadSortColumn;
using varnex::settings::ReadWindowPlacement;
using varnex::settings::WriteSortColumn;
using varnex::settings::WriteWindowPlacement;

using varnex::system::WriteFileAtomically;

using varnex::hostlink::FormatHostCommand;
using varnex::hostlink::HostCommand;
using varnex::hostlink::HostPrecursor;
using varnex::hostlink::ShowPrecursorCommands;
using varnex::listio::ExportFormat;
using varnex::listio::UnreadableReason;
using varnex::listio::WritePrecursors;

using varnex::model::ColumnValueOf;
using varnex::model::kPrecursorColumns;
using varnex::model::PrecursorColumn;
using varnex::model::PrecursorColumnDecimalsPosition;
using varnex::model::PrecursorColumnHeader;
using varnex::model::PrecursorColumnIndex;
using varnex::model::PrecursorColumnValue;

using varnex::ui::FilterPrecursors;
using varnex::ui::g_nVarnexCommandMessage;
using varnex::ui::kCombineEventName;
using varnex::ui::kHostCommandTimeoutMs;
using varnex::ui::kNoHostMessage;
using varnex::ui::kNoPrecursorsMessage;
using varnex::ui::kVarnexCommandClose;
using varnex::ui::PrecursorFilter;
using varnex::ui::RegisterVarnexStrings;

const UINT varnex::ui::g_nVarnexCommandMessage = RegisterWindowMessageA("s_wm_VARNEX_CMD");

namespace {

constexpr int kColumnCount = static_cast<int>(kPrecursorColumns.size());

// Each column's width when inserted, in pixels; the layout then spreads the list's width over them.
constexpr int InsertWidth(PrecursorColumn column) {
    return column == PrecursorColumn::FunctionName ? 180 : 120;
}

// The list sits in the client area less these margins, in pixels.
constexpr int kMarginLeft = 20;
constexpr int kMarginTop = 0;
constexpr int kMarginRight = 20;
constexpr int kMarginBottom = 40;

// Decimal text of `value` with the places named by the setting's character at `position`, as printf's
// "%.<c>f" prints it: a missing character gives "%.f", no places. A character that is not a digit
// (which the options dialog never writes) also prints without places rather than as an undefined
// format. The text is written to `buffer`, NUL-terminated, and also returned.
std::string_view FormatPlaces(char (&buffer)[64], double value, const std::string& setting,
                              std::size_t position) {
    int places = 0;
    if (position < setting.size() && setting[position] >= '0' && setting[position] <= '9') {
        places = setting[position] - '0';
    }
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::fixed, places);
    *result.ptr = '\0';
    return {buffer, static_cast<std::size_t>(result.ptr - buffer)};
}

// The text of one cell as the list shows it, the decimal columns with the places the setting gives.
// Returned NUL-terminated, in `buffer` or, for the function name, in `name`.
const char* CellText(char (&buffer)[64], std::string& name, const CPrecursor& precursor,
                     PrecursorColumn column, const std::string& places) {
    const PrecursorColumnValue value = ColumnValueOf(precursor, column);
    if (const float* decimal = std::get_if<float>(&value)) {
        return FormatPlaces(buffer, static_cast<double>(*decimal), places,
                            PrecursorColumnDecimalsPosition(column))
            .data();
    }
    if (const int* integer = std::get_if<int>(&value)) {
        *std::to_chars(buffer, buffer + sizeof buffer - 1, *integer, 10).ptr = '\0';
        return buffer;
    }
    name = std::get<std::string_view>(value);
    return name.c_str();
}

// The data sets File > Open offers.
constexpr const char* kDataSetFileFilter = "Data sets (*.mzML *.mzML.gz *.mzXML);;All files (*)";
constexpr const char* kTsvFileFilter = "Tab-separated values (*.tsv)";
constexpr const char* kCsvFileFilter = "Comma-separated values (*.csv)";

QString FileNameOf(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName();
}

// Icon 128: the drawing, with hand-checked renderings for the small sizes; up to `largestSize` pixels.
QIcon LoadProgramIcon(int largestSize) {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        if (size <= largestSize) {
            icon.addFile(QStringLiteral(":/icons/varnex-%1.png").arg(size), QSize(size, size));
        }
    }
    return icon;
}

// The other windows show the icon in their title bars only. A window's icon goes to the X server whole,
// every size of it: the two large ones are 330 KB of the 360, which the progress dialog would send while
// the worker it has just started reads the data set.
constexpr int kDialogIconSize = 64;

} // namespace

// The resources are compiled into this library, which a static link would otherwise drop.
static void InitResources() {
    Q_INIT_RESOURCE(varnex);
}

CVarnexDlg::CVarnexDlg(QWidget* pParent)
    : CDialog(IDD_VARNEX_DIALOG, pParent), m_ui(std::make_unique<Ui::VarnexDlg>()) {
    InitResources();
    RegisterVarnexStrings();
    LoadTemplate(*m_ui);
    SetMenuBar(m_ui->menu129);
    MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    MapCommand(ID_DISPLAY_OPTIONS, [this] { OnDisplayOptions(); });
    MapCommand(ID_FILE_OPEN, [this] { OnFileOpen(); });
    MapCommand(ID_FILE_EXPORT, [this] { OnFileExport(); });
    MapCommand(ID_EDIT_COPY, [this] { OnEditCopy(); });
    MapCommand(ID_DISPLAY_FILTER, [this] { OnDisplayFilter(); });
    MapCommand(ID_DISPLAY_SHOW_ALL, [this] { OnDisplayShowAll(); });
    connect(m_ui->menuRecent, &QMenu::aboutToShow, this, [this] { FillRecentMenu(); });
    m_dataSetLine = new QLabel(this);
    m_dataSetLine->setObjectName(QStringLiteral("dataSetLine"));
    setAcceptDrops(true);
    m_listCtrl.SetNotifyHandler([this](NMHDR* pNMHDR) { OnNotify(pNMHDR); });
    m_hIcon = LoadProgramIcon(256);
    // The program's icon is also that of its other windows (progress, options, About).
    if (QApplication::windowIcon().isNull()) {
        QApplication::setWindowIcon(LoadProgramIcon(kDialogIconSize));
    }
}

CVarnexDlg::~CVarnexDlg() = default;

INT_PTR CVarnexDlg::DoModal() {
    const INT_PTR result = CDialog::DoModal();
    SaveLayout();
    // The window is gone: it takes no more messages from other processes.
    m_messageListener.reset();
    return result;
}

void CVarnexDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PRECURSOR_LIST, m_listCtrl);
}

BOOL CVarnexDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_messageListener =
        std::make_unique<RegisteredMessageListener>(this, [this](UINT message, WPARAM wParam, LPARAM lParam) {
            return OnRegisteredMessage(message, wParam, lParam);
        });

    if (CMenu systemMenu = GetSystemMenu(*this); systemMenu.IsMenu()) {
        const std::string aboutText = AfxLoadString(IDS_ABOUTBOX);
        if (!aboutText.empty()) {
            systemMenu.AppendMenu(MF_SEPARATOR);
            systemMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutText.c_str());
        }
    }
    setWindowIcon(m_hIcon);
    RestoreLayout();

    m_precursorList.SortByColumn(0);
    SortByRememberedColumn();
    SetupColumns();
    UpdateDataSetLine();
    PlaceDataSetLine();
    return TRUE;
}

int CVarnexDlg::GetPrecursorCount() const {
    return m_precursorList.m_Precursors.GetSize();
}

void CVarnexDlg::LoadRawData(std::string path) {
    m_precursorList.SetRawPath(std::move(path));
    RunProgressDialog(&m_precursorList);
    EnsureDecimalPlaces();
}

void CVarnexDlg::SetupColumns() {
    m_columnPercents.resize(kColumnCount, 0.0f);
    DeleteAllColumns();
    m_listCtrl.SetExtendedStyle(m_listCtrl.GetExtendedStyle() | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    for (const PrecursorColumn precursorColumn : kPrecursorColumns) {
        const int i = PrecursorColumnIndex(precursorColumn);
        LVCOLUMNA column;
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = InsertWidth(precursorColumn);
        column.pszText = PrecursorColumnHeader(precursorColumn).data(); // a NUL-terminated literal
        column.iSubItem = i;
        m_listCtrl.InsertColumn(i, &column);
        m_columnPercents[static_cast<std::size_t>(i)] = 20.0f;
    }
    LayoutList();
}

void CVarnexDlg::DeleteAllColumns() {
    m_listCtrl.DeleteAllItems();
    for (int n = m_listCtrl.GetHeaderItemCount(); n > 0; --n) {
        m_listCtrl.DeleteColumn(0);
    }
}

void CVarnexDlg::LayoutList() {
    if (!m_listCtrl.HasWindow()) {
        return; // size notifications arrive before the controls are bound
    }
    const QRect client = GetClientRect();
    const int left = client.left() + kMarginLeft;
    const int top = client.top() + kMarginTop;
    const int right = std::max(left, client.left() + client.width() - kMarginRight);
    const int bottom = std::max(top, client.top() + client.height() - kMarginBottom);
    MoveWindow(m_listCtrl.GetView(), QRect(left, top, right - left, bottom - top));
    ComputeColumnPercents();
    ApplyColumnPercents();
}

void CVarnexDlg::ComputeColumnPercents() {
    const int listWidth = m_listCtrl.GetClientRect().width();
    // A list without width (a window too small for the margins) has no proportions to measure: the
    // last percentages stay.
    if (listWidth <= 0) {
        return;
    }
    const float onePercent = static_cast<float>(listWidth) * 0.01f;
    for (int i = 0; i < kColumnCount; ++i) {
        m_columnPercents[static_cast<std::size_t>(i)] =
            static_cast<float>(m_listCtrl.GetColumnWidth(i)) / onePercent;
    }
    double sum = 0.0;
    for (float percent : m_columnPercents) {
        sum += percent;
    }
    if (sum > 99.9) {
        return; // the columns fill the list or overflow it, and keep their proportions
    }
    // Spread the unfilled share evenly, in the precision of the sum.
    const double increment = (100.0 - sum) * 0.2f;
    for (float& percent : m_columnPercents) {
        percent = static_cast<float>(percent + increment);
    }
}

void CVarnexDlg::ApplyColumnPercents() {
    const int listWidth = m_listCtrl.GetClientRect().width();
    if (listWidth > 0) {
        const float onePercent = static_cast<float>(static_cast<double>(listWidth) * 0.01f);
        for (int i = 0; i < kColumnCount; ++i) {
            // Percentages and onePercent are stored as floats, but the arithmetic runs in double: a
            // percentage a hair short of the whole then truncates a pixel down (148 -> 147 at 700 px),
            // which is how the columns have always behaved.
            const int width = static_cast<int>(
                static_cast<double>(m_columnPercents[static_cast<std::size_t>(i)]) * onePercent);
            m_listCtrl.SetColumnWidth(i, width & 0xFFFF);
        }
    }
    m_listCtrl.DeleteAllItems();
    FillRows();
}

void CVarnexDlg::FillRows() {
    const std::string places = ReadDecimalPlaces();
    const CPrecursorArray& displayed = DisplayedPrecursors();
    const int count = displayed.GetSize();
    char buffer[64];
    std::string name;
    for (int i = 0; i < count; ++i) {
        const CPrecursor precursor = displayed.GetAt(i);
        for (const PrecursorColumn column : kPrecursorColumns) {
            const char* text = CellText(buffer, name, precursor, column, places);
            if (column != kPrecursorColumns.front()) {
                m_listCtrl.SetItemText(i, PrecursorColumnIndex(column), text);
                continue;
            }
            LVITEMA item;
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.iSubItem = 0;
            item.pszText = text;
            item.state = 0;
            item.stateMask = 0;
            item.iImage = 0;
            item.lParam = 0;
            m_listCtrl.InsertItem(&item);
        }
    }
}

void CVarnexDlg::OnSize(UINT nType, int cx, int cy) {
    CDialog::OnSize(nType, cx, cy);
    LayoutList();
    PlaceDataSetLine();
}

void CVarnexDlg::OnNotify(NMHDR* pNMHDR) {
    if (pNMHDR == nullptr || pNMHDR->idFrom != static_cast<UINT_PTR>(IDC_PRECURSOR_LIST)) {
        return;
    }
    LRESULT result = 0;
    // Enter on a row shows it as a double-click does.
    if (pNMHDR->code == NM_DBLCLK || pNMHDR->code == NM_RETURN) {
        OnListDoubleClick(pNMHDR, &result);
    } else if (pNMHDR->code == LVN_COLUMNCLICK) {
        OnColumnClick(pNMHDR, &result);
    }
}

void CVarnexDlg::OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult) {
    const auto* notification = reinterpret_cast<const NMLISTVIEW*>(pNMHDR);
    m_precursorList.SortByColumn(notification->iSubItem);
    if (notification->iSubItem >= 0 && notification->iSubItem < kColumnCount) {
        m_sortColumn = notification->iSubItem;
    }
    FilterDisplayed();
    SetupColumns();
    *pResult = 0;
}

void CVarnexDlg::OnListDoubleClick(NMHDR*, LRESULT* pResult) {
    *pResult = 0;
    const int row = m_listCtrl.GetNextItem(-1, LVNI_SELECTED);

    // The host may wait on this event while it combines scans; Varnex only makes sure it exists. One
    // handle is enough to keep it alive, so the previous one is given back.
    HANDLE previousEvent = m_combineEvent;
    m_combineEvent = CreateEventA(nullptr, FALSE, FALSE, kCombineEventName);
    if (previousEvent != nullptr) {
        CloseHandle(previousEvent);
    }

    std::string path;
    m_precursorList.GetRawPath(path);
    const CPrecursorArray& displayed = DisplayedPrecursors();
    if (row < 0 || row >= displayed.GetSize()) {
        return; // nothing selected: there is no precursor to show
    }

    const CPrecursor precursor = displayed.GetAt(row);
    const auto commands = ShowPrecursorCommands(HostPrecursor{
        precursor.m_nFunction, precursor.m_nSurveyScan, precursor.m_nFirstScan, precursor.m_nLastScan, path});
    if (!IsQuorixRunning()) {
        if (!std::exchange(m_toldHostMissing, true)) {
            AfxMessageBox(kNoHostMessage, MB_OK | MB_ICONINFORMATION);
        }
        return;
    }
    for (const HostCommand& command : commands) {
        SendHostCommand(FormatHostCommand(command).c_str(), kHostCommandTimeoutMs);
    }
}

void CVarnexDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAboutBox();
        return;
    }
    (void)lParam; // passed on with the message by Default()
    Default();
}

void CVarnexDlg::OnAppAbout() {
    ShowAboutBox();
}

void CVarnexDlg::ShowAboutBox() {
    const HINSTANCE hResources = AfxGetModuleState()->m_hCurrentResourceHandle;
    const HWND hOwner = this;
    char programName[] = "Varnex";
    CDisplayAbout about(hOwner, programName, nullptr, 0, hResources);
    about.Show();
}

void CVarnexDlg::OnDisplayOptions() {
    CDisplayOptionsDlg dialog;
    if (dialog.DoModal() == IDOK) {
        m_listCtrl.DeleteAllItems();
        FillRows();
    }
}

// A dialog ends on Enter and Escape; this window is where the user works, so neither closes it (File >
// Exit, the close box and the registered message still do). Enter in the list reaches OnNotify instead.
void CVarnexDlg::keyPressEvent(QKeyEvent* event) {
    const bool plain = (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) == 0;
    if (plain &&
        (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        return;
    }
    CDialog::keyPressEvent(event);
}

LRESULT CVarnexDlg::OnRegisteredMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_nVarnexCommandMessage) {
        return OnVarnexCommand(wParam, lParam);
    }
    return 0;
}

LRESULT CVarnexDlg::OnVarnexCommand(WPARAM wParam, LPARAM) {
    if (wParam == kVarnexCommandClose) {
        CDialog::OnOK();
    }
    return 0;
}

const CPrecursorArray& CVarnexDlg::DisplayedPrecursors() const {
    return m_filter.IsActive() ? m_filteredPrecursors : m_precursorList.m_Precursors;
}

// The last sort column the user chose, on top of the order by switching time.
void CVarnexDlg::SortByRememberedColumn() {
    if (m_sortColumn != 0) {
        m_precursorList.SortByColumn(m_sortColumn);
    }
    FilterDisplayed();
}

// The precursors that pass the filter, in the list's order; the rows are not touched.
void CVarnexDlg::FilterDisplayed() {
    if (m_filter.IsActive()) {
        FilterPrecursors(m_precursorList.m_Precursors, m_filter, m_filteredPrecursors);
    } else {
        m_filteredPrecursors.RemoveAll();
    }
}

void CVarnexDlg::RefillRows() {
    m_listCtrl.DeleteAllItems();
    FillRows();
    UpdateDataSetLine();
}

void CVarnexDlg::SetFilter(const PrecursorFilter& filter) {
    m_filter = filter;
    FilterDisplayed();
    RefillRows();
}

void CVarnexDlg::OnDisplayFilter() {
    CFilterDlg dialog(m_filter, m_precursorList.m_Precursors);
    if (dialog.DoModal() == IDOK) {
        SetFilter(dialog.GetFilter());
    }
}

void CVarnexDlg::OnDisplayShowAll() {
    SetFilter(PrecursorFilter{});
}

bool CVarnexDlg::ReportUnreadableDataSet(const std::string& path) {
    if (path.empty()) {
        return false; // nothing was named
    }
    const auto reason = UnreadableReason(path);
    if (!reason) {
        return false;
    }
    const std::string message =
        "Cannot read the data set \"" + FileNameOf(path).toStdString() + "\": " + *reason + ".\n\n" + path;
    AfxMessageBox(message.c_str(), MB_OK | MB_ICONEXCLAMATION);
    return true;
}

bool CVarnexDlg::OpenDataSet(const std::string& path) {
    // The list is built in place, as at start-up; what it held comes back if the new data set has none.
    std::string previousPath;
    m_precursorList.GetRawPath(previousPath);
    CPrecursorArray previous;
    FilterPrecursors(m_precursorList.m_Precursors, PrecursorFilter{}, previous);

    LoadRawData(path);
    if (GetPrecursorCount() <= 0) {
        ReportUnreadableDataSet(path);
        AfxMessageBox(kNoPrecursorsMessage, 0, 0);
        m_precursorList.SetRawPath(previousPath);
        FilterPrecursors(previous, PrecursorFilter{}, m_precursorList.m_Precursors);
        return false;
    }
    AddRecentDataSet(path);
    m_precursorList.SortByColumn(0);
    SortByRememberedColumn();
    SetupColumns();
    UpdateDataSetLine();
    return true;
}

void CVarnexDlg::OnFileOpen() {
    std::string current;
    m_precursorList.GetRawPath(current);
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open Data Set"),
                                                      QFileInfo(QString::fromStdString(current)).path(),
                                                      QString::fromLatin1(kDataSetFileFilter));
    if (!path.isEmpty()) {
        OpenDataSet(path.toStdString());
    }
}

void CVarnexDlg::FillRecentMenu() {
    QMenu* menu = m_ui->menuRecent;
    menu->clear();
    const std::vector<std::string> paths = ReadRecentDataSets();
    int number = 0;
    for (const std::string& path : paths) {
        ++number;
        QAction* action = menu->addAction(QStringLiteral("&%1 %2").arg(number).arg(FileNameOf(path)));
        action->setToolTip(QString::fromStdString(path));
        action->setStatusTip(QString::fromStdString(path));
        // Queued: the menu closes before the progress dialog opens.
        connect(action, &QAction::triggered, this,
                [this, path] { QTimer::singleShot(0, this, [this, path] { OpenDataSet(path); }); });
    }
    if (paths.empty()) {
        menu->addAction(QStringLiteral("(none)"))->setEnabled(false);
    }
    menu->setToolTipsVisible(true);
}

void CVarnexDlg::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 && urls.front().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void CVarnexDlg::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        return;
    }
    event->acceptProposedAction();
    // The drop ends before the data set is read: the sender must not wait for the build.
    const std::string path = urls.front().toLocalFile().toStdString();
    QTimer::singleShot(0, this, [this, path] { OpenDataSet(path); });
}

bool CVarnexDlg::ExportDisplayed(const std::string& path, ExportFormat format, std::string& error) const {
    std::ostringstream table;
    WritePrecursors(table, DisplayedPrecursors(), format);
    return WriteFileAtomically(path, table.str(), error);
}

void CVarnexDlg::OnFileExport() {
    std::string current;
    m_precursorList.GetRawPath(current);
    const QFileInfo dataSet(QString::fromStdString(current));
    QString filter = QString::fromLatin1(kTsvFileFilter);
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export Precursor List"),
        dataSet.dir().filePath(dataSet.completeBaseName() + QStringLiteral(".tsv")),
        QStringLiteral("%1;;%2").arg(QString::fromLatin1(kTsvFileFilter),
                                     QString::fromLatin1(kCsvFileFilter)),
        &filter);
    if (path.isEmpty()) {
        return;
    }
    const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ||
                     (!path.endsWith(QStringLiteral(".tsv"), Qt::CaseInsensitive) &&
                      filter == QString::fromLatin1(kCsvFileFilter));
    if (QFileInfo(path).suffix().isEmpty()) {
        path += csv ? QStringLiteral(".csv") : QStringLiteral(".tsv");
    }
    std::string error;
    if (!ExportDisplayed(path.toStdString(), csv ? ExportFormat::Csv : ExportFormat::Tsv, error)) {
        const std::string message = "Cannot write \"" + path.toStdString() + "\": " + error + ".";
        AfxMessageBox(message.c_str(), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CVarnexDlg::OnEditCopy() {
    const int row = m_listCtrl.GetNextItem(-1, LVNI_SELECTED);
    if (row < 0) {
        return;
    }
    std::string line;
    for (int column = 0; column < kColumnCount; ++column) {
        if (column > 0) {
            line += '\t';
        }
        line += m_listCtrl.GetItemText(row, column);
    }
    QApplication::clipboard()->setText(QString::fromStdString(line));
}

QString CVarnexDlg::DataSetLineText() const {
    std::string path;
    m_precursorList.GetRawPath(path);
    const int total = GetPrecursorCount();
    QString text = path.empty() ? QString() : FileNameOf(path) + QStringLiteral("  \u2014  ");
    if (m_filter.IsActive()) {
        text += QStringLiteral("%1 of %2 precursors").arg(m_filteredPrecursors.GetSize()).arg(total);
    } else {
        text += QStringLiteral("%1 precursors").arg(total);
    }
    return text;
}

void CVarnexDlg::UpdateDataSetLine() {
    std::string path;
    m_precursorList.GetRawPath(path);
    m_dataSetLine->setText(DataSetLineText());
    m_dataSetLine->setToolTip(QString::fromStdString(path));
}

// The line sits in the margin the layout leaves under the list, so the list's own place is unchanged.
void CVarnexDlg::PlaceDataSetLine() {
    const QRect client = GetClientRect();
    const int height = m_dataSetLine->sizeHint().height();
    const int top = client.bottom() + 1 - kMarginBottom + (kMarginBottom - height) / 2;
    MoveWindow(m_dataSetLine, QRect(kMarginLeft, std::max(0, top),
                                    std::max(0, client.width() - kMarginLeft - kMarginRight), height));
}

// A placement that cannot be restored (damaged, or from another window system) leaves the template's.
void CVarnexDlg::RestoreLayout() {
    if (const auto placement = ReadWindowPlacement()) {
        restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(*placement)));
    }
    if (const auto column = ReadSortColumn()) {
        m_sortColumn = *column;
    }
}

void CVarnexDlg::SaveLayout() const {
    WriteWindowPlacement(saveGeometry().toBase64().toStdString());
    WriteSortColumn(m_sortColumn);
}
