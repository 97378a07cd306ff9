#include "ui/VarnexDlg.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <utility>

#include <QApplication>

#include "ui_main_window.h"

#include "hostlink/HostLink.h"
#include "outside/DisplayAbout.h"
#include "platform/RegisteredMessageListener.h"
#include "platform/SystemMenu.h"
#include "progress/ProgressDlg.h"
#include "settings/DecimalPlaces.h"
#include "settings/DisplayOptionsDlg.h"
#include "ui/Resource.h"

const UINT g_nVarnexCommandMessage = RegisterWindowMessageA("s_wm_VARNEX_CMD");

namespace {

constexpr int kColumnCount = 5;

struct ColumnSpec {
    const char* title;
    int insertWidth; // pixels
};

constexpr std::array<ColumnSpec, kColumnCount> kColumns = {{
    {"Switching Time", 120},
    {"Set Mass", 120},
    {"Function Name", 180},
    {"Charge State", 120},
    {"Intensity", 120},
}};

// The list sits in the client area less these margins, in pixels.
constexpr int kMarginLeft = 20;
constexpr int kMarginTop = 0;
constexpr int kMarginRight = 20;
constexpr int kMarginBottom = 40;

// Decimal text of `value` with the places named by the setting's character at `position`, as printf's
// "%.<c>f" prints it: a missing character gives "%.f", no places. A character that is not a digit
// (which the options dialog never writes) also prints without places rather than as an undefined
// format. The text is written to `buffer`, NUL-terminated, and also returned.
std::string_view formatPlaces(char (&buffer)[64], double value, const std::string& setting,
                              std::size_t position) {
    int places = 0;
    if (position < setting.size() && setting[position] >= '0' && setting[position] <= '9')
        places = setting[position] - '0';
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer - 1, value, std::chars_format::fixed, places);
    *result.ptr = '\0';
    return {buffer, static_cast<std::size_t>(result.ptr - buffer)};
}

// Icon 128: the drawing, with hand-checked renderings for the small sizes.
QIcon loadProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/varnex-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

// The resources are compiled into this library, which a static link would otherwise drop.
static void initResources() {
    Q_INIT_RESOURCE(varnex);
}

CVarnexDlg::CVarnexDlg(QWidget* pParent)
    : CDialog(IDD_VARNEX_DIALOG, pParent), m_ui(std::make_unique<Ui::VarnexDlg>()) {
    initResources();
    RegisterVarnexStrings();
    LoadTemplate(*m_ui);
    SetMenuBar(m_ui->menu129);
    MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    MapCommand(ID_DISPLAY_OPTIONS, [this] { OnDisplayOptions(); });
    m_listCtrl.SetNotifyHandler([this](NMHDR* pNMHDR) { OnNotify(pNMHDR); });
    m_hIcon = loadProgramIcon();
    // The program's icon is also that of its other windows (progress, options, About).
    if (QApplication::windowIcon().isNull())
        QApplication::setWindowIcon(m_hIcon);
}

CVarnexDlg::~CVarnexDlg() = default;

INT_PTR CVarnexDlg::DoModal() {
    const INT_PTR result = CDialog::DoModal();
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

    m_precursorList.SortByColumn(0);
    SetupColumns();
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
    for (int i = 0; i < kColumnCount; ++i) {
        LVCOLUMNA column;
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[static_cast<std::size_t>(i)].insertWidth;
        column.pszText = kColumns[static_cast<std::size_t>(i)].title;
        column.iSubItem = i;
        m_listCtrl.InsertColumn(i, &column);
        m_columnPercents[static_cast<std::size_t>(i)] = 20.0f;
    }
    LayoutList();
}

void CVarnexDlg::DeleteAllColumns() {
    m_listCtrl.DeleteAllItems();
    for (int n = m_listCtrl.GetHeaderItemCount(); n > 0; --n)
        m_listCtrl.DeleteColumn(0);
}

void CVarnexDlg::LayoutList() {
    if (!m_listCtrl.HasWindow())
        return; // size notifications arrive before the controls are bound
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
    if (listWidth <= 0)
        return;
    const float onePercent = static_cast<float>(listWidth) * 0.01f;
    for (int i = 0; i < kColumnCount; ++i)
        m_columnPercents[static_cast<std::size_t>(i)] =
            static_cast<float>(m_listCtrl.GetColumnWidth(i)) / onePercent;
    double sum = 0.0;
    for (float percent : m_columnPercents)
        sum += percent;
    if (sum > 99.9)
        return; // the columns fill the list or overflow it, and keep their proportions
    // Spread the unfilled share evenly, in the precision of the sum.
    const double increment = (100.0 - sum) * 0.2f;
    for (float& percent : m_columnPercents)
        percent = static_cast<float>(percent + increment);
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
    const int count = m_precursorList.m_Precursors.GetSize();
    char switchingTime[64];
    char setMass[64];
    char intensity[64];
    char charge[16];
    for (int i = 0; i < count; ++i) {
        const CPrecursor precursor = m_precursorList.m_Precursors.GetAt(i);
        formatPlaces(switchingTime, static_cast<double>(precursor.m_fSwitchingTime), places,
                     kSwitchingTimePlacesPos);
        formatPlaces(setMass, static_cast<double>(precursor.m_fSetMass), places, kSetMassPlacesPos);
        formatPlaces(intensity, static_cast<double>(precursor.m_fIntensity), places, kIntensityPlacesPos);
        *std::to_chars(charge, charge + sizeof charge - 1, precursor.m_nChargeState, 10).ptr = '\0';

        LVITEMA item;
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.iSubItem = 0;
        item.pszText = switchingTime;
        item.state = 0;
        item.stateMask = 0;
        item.iImage = 0;
        item.lParam = 0;
        m_listCtrl.InsertItem(&item);
        m_listCtrl.SetItemText(i, 1, setMass);
        m_listCtrl.SetItemText(i, 2, precursor.GetFunctionName().c_str());
        m_listCtrl.SetItemText(i, 3, charge);
        m_listCtrl.SetItemText(i, 4, intensity);
    }
}

void CVarnexDlg::OnSize(UINT nType, int cx, int cy) {
    CDialog::OnSize(nType, cx, cy);
    LayoutList();
}

void CVarnexDlg::OnNotify(NMHDR* pNMHDR) {
    if (pNMHDR == nullptr || pNMHDR->idFrom != static_cast<UINT_PTR>(IDC_PRECURSOR_LIST))
        return;
    LRESULT result = 0;
    if (pNMHDR->code == NM_DBLCLK)
        OnListDoubleClick(pNMHDR, &result);
    else if (pNMHDR->code == LVN_COLUMNCLICK)
        OnColumnClick(pNMHDR, &result);
}

void CVarnexDlg::OnColumnClick(NMHDR* pNMHDR, LRESULT* pResult) {
    const auto* notification = reinterpret_cast<const NMLISTVIEW*>(pNMHDR);
    m_precursorList.SortByColumn(notification->iSubItem);
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
    if (previousEvent != nullptr)
        CloseHandle(previousEvent);

    std::string path;
    m_precursorList.GetRawPath(path);
    if (row < 0 || row >= GetPrecursorCount())
        return; // nothing selected: there is no precursor to show

    const CPrecursor precursor = m_precursorList.m_Precursors.GetAt(row);
    const std::string function = std::to_string(precursor.m_nFunction);
    const std::string surveyScan = std::to_string(precursor.m_nSurveyScan);
    const std::string firstScan = std::to_string(precursor.m_nFirstScan);
    const std::string lastScan = std::to_string(precursor.m_nLastScan);
    const std::array<std::string, 8> commands = {
        "app.command[chrodisplay:clear]()",
        "app.command[chrodisplay:add](TIC:" + function + ")",
        "app.command[chrodisplay:add](TIC:1)",
        "app.command[chrodisplay:setpointer](SCAN:" + surveyScan + ")",
        "app.command[specdisplay:DDALaunch](" + path + ")",
        "app.command[specdisplay:clear]()",
        "app.command[specdisplay:combine](" + firstScan + ":" + lastScan + ":" + function + ":" + path + ")",
        "app.command[specdisplay:add](" + std::string("1") + ":" + surveyScan + ")",
    };
    if (!IsQuorixRunning())
        return;
    for (const std::string& command : commands)
        SendHostCommand(command.c_str(), kHostCommandTimeoutMs);
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

LRESULT CVarnexDlg::OnRegisteredMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_nVarnexCommandMessage)
        return OnVarnexCommand(wParam, lParam);
    return 0;
}

LRESULT CVarnexDlg::OnVarnexCommand(WPARAM wParam, LPARAM) {
    if (wParam == kVarnexCommandClose)
        CDialog::OnOK();
    return 0;
}
