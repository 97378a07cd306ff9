// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Dialog.h"

#include <algorithm>
#include <utility>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimerEvent>
#include <QWindow>

#include "platform/DialogUnits.h"

namespace DialogUnits = varnex::platform::DialogUnits;

namespace {

CDialog::CommandFallback& FallbackCommand() {
    static CDialog::CommandFallback fallback;
    return fallback;
}

int ControlIdOf(const QObject* object) {
    const QVariant id = object->property("controlId");
    return id.isValid() ? id.toInt() : 0;
}

} // namespace

// Saves the message being handled and restores the outer one, so handlers may nest.
class CDialog::MessageScope final {
public:
    MessageScope(CDialog& dialog, CurrentMessage message) : dialog_(dialog), saved_(dialog.m_current) {
        dialog_.m_current = message;
    }
    ~MessageScope() { dialog_.m_current = saved_; }
    MessageScope(const MessageScope&) = delete;
    MessageScope& operator=(const MessageScope&) = delete;

private:
    CDialog& dialog_;
    CurrentMessage saved_;
};

CDialog::CDialog(UINT nIDTemplate, QWidget* pParentWnd) : QDialog(pParentWnd), m_templateId(nIDTemplate) {}

CDialog::~CDialog() {
    KillAllTimers();
}

INT_PTR CDialog::DoModal() {
    // A dialog made without a parent is owned, while it runs, by the window whose modal loop is running
    // (the main window once it is up): it stays above that window and opens centred on it.
    QPointer<QWidget> borrowedOwner;
    if (parentWidget() == nullptr) {
        if (QWidget* owner = QApplication::activeModalWidget(); owner != nullptr && owner != this) {
            borrowedOwner = owner;
            setParent(owner, windowFlags());
        }
    }
    m_ended = false;
    m_modalResult = -1;
    OnInitDialog();
    if (!m_ended) {
        m_inModalLoop = true;
        exec();
        m_inModalLoop = false;
    }
    // The dialog's window is gone once DoModal returns, and with it its timers.
    KillAllTimers();
    hide();
    if (borrowedOwner) {
        setParent(nullptr, windowFlags());
    }
    return m_modalResult;
}

void CDialog::EndDialog(int nResult) {
    m_modalResult = nResult;
    m_ended = true;
    if (m_inModalLoop) {
        done(nResult);
    }
}

UINT_PTR CDialog::SetTimer(UINT_PTR nIDEvent, UINT nElapseMs, void (*lpfnTimer)()) {
    if (lpfnTimer != nullptr || nIDEvent == 0) {
        return 0; // only timers that post ticks to the dialog are supported
    }
    KillTimer(nIDEvent);
    const int qtId = startTimer(static_cast<int>(nElapseMs), Qt::PreciseTimer);
    if (qtId == 0) {
        return 0;
    }
    m_timers[nIDEvent] = qtId;
    return nIDEvent;
}

BOOL CDialog::KillTimer(UINT_PTR nIDEvent) {
    const auto it = m_timers.find(nIDEvent);
    if (it == m_timers.end()) {
        return FALSE;
    }
    killTimer(it->second);
    m_timers.erase(it);
    return TRUE;
}

void CDialog::KillAllTimers() {
    for (const auto& [nIDEvent, qtId] : m_timers) {
        killTimer(qtId);
    }
    m_timers.clear();
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::SendCommand(UINT nID) {
    if (const auto it = m_commandHandlers.find(nID); it != m_commandHandlers.end()) {
        // Copy: the handler may replace its own map entry.
        const Handler handler = it->second;
        handler();
        return TRUE;
    }
    if (nID == static_cast<UINT>(IDOK)) {
        OnOK();
        return TRUE;
    }
    if (nID == static_cast<UINT>(IDCANCEL)) {
        OnCancel();
        return TRUE;
    }
    const CommandFallback fallback = FallbackCommand();
    return fallback ? fallback(*this, nID) : FALSE;
}

void CDialog::SendSysCommand(UINT nID, LPARAM lParam) {
    MessageScope scope(*this, {CurrentMessage::Kind::SysCommand, nullptr, nID, lParam});
    OnSysCommand(nID, lParam);
}

QWidget* CDialog::GetDlgItem(int nID) const {
    const auto children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (ControlIdOf(child) == nID) {
            return child;
        }
    }
    return nullptr;
}

void CDialog::SetMenuBar(QMenuBar* pMenuBar) {
    const int oldHeight = MenuBarHeight();
    m_menuBar = pMenuBar;
    if (m_menuBar == nullptr) {
        return;
    }
    m_menuBar->setParent(this);
    m_menuBar->setNativeMenuBar(false);
    const int newHeight = MenuBarHeight();
    m_menuBar->setGeometry(0, 0, width(), newHeight);
    m_menuBar->show();
    // The template's size is that of the client area; the menu comes on top of it.
    const int grow = newHeight - oldHeight;
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != m_menuBar) {
            child->move(child->x(), child->y() + grow);
        }
    }
    if (minimumHeight() == maximumHeight()) {
        setFixedHeight(height() + grow);
    } else {
        resize(width(), height() + grow);
    }
    ConnectCommandSources();
}

int CDialog::MenuBarHeight() const {
    return m_menuBar != nullptr ? m_menuBar->sizeHint().height() : 0;
}

QRect CDialog::GetClientRect() const {
    return {0, 0, width(), qMax(0, height() - MenuBarHeight())};
}

void CDialog::MoveWindow(QWidget* pChild, const QRect& clientRect, BOOL bRepaint) {
    if (pChild == nullptr) {
        return;
    }
    pChild->setGeometry(clientRect.translated(0, MenuBarHeight()));
    if (bRepaint) {
        pChild->update();
    }
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) {
        return;
    }
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

CDialog::CommandFallback CDialog::SetCommandFallback(CommandFallback fallback) {
    return std::exchange(FallbackCommand(), std::move(fallback));
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnTimer(UINT_PTR) {
    Default();
}

void CDialog::OnSize(UINT, int, int) {
    Default();
}

void CDialog::OnSysCommand(UINT nID, LPARAM) {
    switch (nID & 0xFFF0) {
    case SC_CLOSE:
        OnClose();
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_MAXIMIZE:
        showMaximized();
        break;
    case SC_RESTORE:
        showNormal();
        break;
    case SC_MOVE:
        if (QWindow* window = windowHandle(); window != nullptr) {
            window->startSystemMove();
        }
        break;
    case SC_SIZE:
        if (QWindow* window = windowHandle(); window != nullptr) {
            window->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
        }
        break;
    default:
        break;
    }
}

// A dialog's close box and Alt+F4 are Cancel.
void CDialog::OnClose() {
    SendCommand(static_cast<UINT>(IDCANCEL));
}

void CDialog::Default() {
    switch (m_current.kind) {
    case CurrentMessage::Kind::Timer:
        QDialog::timerEvent(static_cast<QTimerEvent*>(m_current.event));
        break;
    case CurrentMessage::Kind::Size:
        QDialog::resizeEvent(static_cast<QResizeEvent*>(m_current.event));
        break;
    case CurrentMessage::Kind::Change:
        QDialog::changeEvent(m_current.event);
        break;
    case CurrentMessage::Kind::SysCommand:
        CDialog::OnSysCommand(m_current.nID, m_current.lParam);
        break;
    case CurrentMessage::Kind::None:
        break;
    }
}

void CDialog::MapCommand(UINT nID, Handler handler) {
    m_commandHandlers[nID] = std::move(handler);
}

void CDialog::MapComboSelChange(int nID, Handler handler) {
    auto* combo = qobject_cast<QComboBox*>(GetDlgItem(nID));
    if (combo == nullptr) {
        return;
    }
    // activated: only the user's choices, as CBN_SELCHANGE; programmatic selections stay silent.
    connect(combo, &QComboBox::activated, this, [handler = std::move(handler)](int) { handler(); });
}

void CDialog::ApplyTemplate() {
    ApplyDialogUnits();

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (property("systemMenu").toBool() || !property("systemMenu").isValid()) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (property("minimizeBox").toBool()) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if (property("maximizeBox").toBool()) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    setWindowFlags(flags);
    if (!property("resizable").toBool()) {
        setFixedSize(size());
    }

    // Sorted combo boxes (CBS_SORT) keep their items in order whatever order the template lists them in.
    for (QComboBox* combo : findChildren<QComboBox*>()) {
        if (combo->property("sorted").toBool()) {
            combo->model()->sort(0);
        }
    }
    ConnectCommandSources();
}

void CDialog::ApplyDialogUnits() {
    const QVariant dialogUnits = property("dialogUnits");
    if (dialogUnits.canConvert<QRect>() && dialogUnits.toRect().isValid()) {
        resize(DialogUnits::ToPixels(dialogUnits.toRect().size()));
    } else if (dialogUnits.canConvert<QSize>() && dialogUnits.toSize().isValid()) {
        resize(DialogUnits::ToPixels(dialogUnits.toSize()));
    }
    for (QWidget* child : findChildren<QWidget*>()) {
        const QVariant units = child->property("dialogUnits");
        if (!units.isValid()) {
            continue;
        }
        QRect geometry = DialogUnits::ToPixels(units.toRect());
        // A drop-down list's template height is that of its open list; the closed control keeps its own.
        if (qobject_cast<QComboBox*>(child) != nullptr) {
            geometry.setHeight(child->sizeHint().height());
        }
        // Our fonts run wider than the one the templates were laid out for: a static text may grow to
        // the right, up to the dialog's edge, rather than lose its end.
        if (auto* label = qobject_cast<QLabel*>(child); label != nullptr && !label->wordWrap()) {
            const int available = width() - geometry.x();
            geometry.setWidth(std::max(geometry.width(), std::min(label->sizeHint().width(), available)));
        }
        child->setGeometry(geometry);
    }
}

void CDialog::ConnectCommandSources() {
    for (QPushButton* button : findChildren<QPushButton*>()) {
        const int id = ControlIdOf(button);
        if (id > 0 && !button->property("commandConnected").toBool()) {
            button->setProperty("commandConnected", true);
            connect(button, &QPushButton::clicked, this, [this, id] { SendCommand(static_cast<UINT>(id)); });
        }
    }
    for (QAction* action : findChildren<QAction*>()) {
        const QVariant id = action->property("commandId");
        if (id.isValid() && !action->property("commandConnected").toBool()) {
            action->setProperty("commandConnected", true);
            const UINT nID = id.toUInt();
            connect(action, &QAction::triggered, this, [this, nID] { SendCommand(nID); });
        }
    }
}

void CDialog::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) {
        QDialog::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        SendCommand(static_cast<UINT>(IDCANCEL));
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // Enter presses the focused button, else the default button, else it is IDOK.
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused != nullptr && focused->isEnabled()) {
            focused->click();
            return;
        }
        for (QPushButton* button : findChildren<QPushButton*>()) {
            if (button->isDefault() && button->isEnabled() && ControlIdOf(button) > 0) {
                button->click();
                return;
            }
        }
        SendCommand(static_cast<UINT>(IDOK));
        return;
    }
    default:
        QDialog::keyPressEvent(event);
    }
}

void CDialog::closeEvent(QCloseEvent* event) {
    // Whether the dialog ends is its own decision (OnCancel), never Qt's.
    event->ignore();
    SendSysCommand(SC_CLOSE);
}

void CDialog::timerEvent(QTimerEvent* event) {
    for (const auto& [nIDEvent, qtId] : m_timers) {
        if (qtId == event->timerId()) {
            const UINT_PTR id = nIDEvent; // OnTimer may kill the timer and so end this loop's range
            MessageScope scope(*this, {CurrentMessage::Kind::Timer, event, 0, 0});
            OnTimer(id);
            return;
        }
    }
    QDialog::timerEvent(event);
}

void CDialog::resizeEvent(QResizeEvent* event) {
    if (m_menuBar != nullptr) {
        m_menuBar->setGeometry(0, 0, event->size().width(), MenuBarHeight());
    }
    const UINT type = isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
    const QRect client = GetClientRect();
    MessageScope scope(*this, {CurrentMessage::Kind::Size, event, 0, 0});
    OnSize(type, client.width(), client.height());
}

void CDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        MessageScope scope(*this, {CurrentMessage::Kind::Change, event, 0, 0});
        OnSize(SIZE_MINIMIZED, 0, 0);
        return;
    }
    QDialog::changeEvent(event);
}

void CDialog::accept() {
    SendCommand(static_cast<UINT>(IDOK));
}

void CDialog::reject() {
    SendCommand(static_cast<UINT>(IDCANCEL));
}
