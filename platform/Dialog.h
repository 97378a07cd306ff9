// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// CDialog: the modal-dialog framework the program's windows are written against, over QDialog.
//
// What a derived dialog gets:
//  - DoModal(): OnInitDialog() (which runs DoDataExchange towards the controls), then the modal loop;
//    returns the code given to EndDialog (IDOK from OnOK, IDCANCEL from OnCancel). A dialog without a
//    parent is owned for that time by the window whose modal loop is running, if any.
//  - Commands: the OK button, Enter and the command IDOK go to OnOK(); the Cancel button, Escape, the
//    close box (through OnSysCommand(SC_CLOSE) and OnClose()) and IDCANCEL go to OnCancel(). The default
//    OnOK runs the exchange from the controls and ends with IDOK; the default OnCancel ends with IDCANCEL.
//    MapCommand() adds entries like a message map's ON_COMMAND; menu actions with a "commandId" property
//    and push buttons with a "controlId" property send their id through SendCommand().
//  - SetTimer()/KillTimer(): ticks arrive at OnTimer(nIDEvent) on the UI thread.
//  - OnSize(nType, cx, cy) with the client size, OnSysCommand(nID, lParam), OnClose().
//  - Default(): inside a handler, the framework's default handling of the message being handled.
//  - Templates: LoadTemplate(ui) builds a Qt Designer form (res/*.ui) into the dialog. Controls are found
//    by their "controlId" property (GetDlgItem); positions and sizes in dialog units ("dialogUnits"
//    properties) are converted by DialogUnits. Dialog properties: "resizable" (default false: fixed size),
//    "systemMenu" (default true; false removes the close box), "minimizeBox", "maximizeBox".
//  - SetMenuBar(): a menu bar above the client area; GetClientRect() and MoveWindow() then work in client
//    coordinates, as the template's do.

#include <functional>
#include <map>

#include <QDialog>

#include "platform/Ids.h"
#include "system/WinTypes.h"

class QMenuBar;
class CDialog;

// The direction of one data exchange between a dialog's members and its controls.
class CDataExchange final {
public:
    CDataExchange(CDialog* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate; // TRUE: controls to members
    CDialog* m_pDlgWnd;
};

class CDialog : public QDialog {
    Q_OBJECT

public:
    using Handler = std::function<void()>;
    // Receives commands no dialog handled (the application's own command map); returns TRUE if handled.
    using CommandFallback = std::function<BOOL(CDialog& dialog, UINT nID)>;

    explicit CDialog(UINT nIDTemplate, QWidget* pParentWnd = nullptr);
    ~CDialog() override;

    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    // A timer without a callback: ticks go to OnTimer. Returns nIDEvent, or 0 when it cannot be set.
    // Setting an id that already runs restarts it with the new period.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapseMs, void (*lpfnTimer)() = nullptr);
    BOOL KillTimer(UINT_PTR nIDEvent);

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Routes a command as WM_COMMAND would: the dialog's own map, then IDOK/IDCANCEL, then the fallback.
    BOOL SendCommand(UINT nID);
    void SendSysCommand(UINT nID, LPARAM lParam = 0);

    QWidget* GetDlgItem(int nID) const;

    QMenuBar* GetMenuBar() const { return m_menuBar; }
    void SetMenuBar(QMenuBar* pMenuBar);
    QRect GetClientRect() const;
    void MoveWindow(QWidget* pChild, const QRect& clientRect, BOOL bRepaint = TRUE);

    virtual void OnOK();
    virtual void OnCancel();

    static CommandFallback SetCommandFallback(CommandFallback fallback);

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnTimer(UINT_PTR nIDEvent);
    virtual void OnSize(UINT nType, int cx, int cy);
    virtual void OnSysCommand(UINT nID, LPARAM lParam);
    virtual void OnClose();

    void Default();

    void MapCommand(UINT nID, Handler handler);
    // CBN_SELCHANGE of combo box nID: a selection the user made (not one set by the program).
    void MapComboSelChange(int nID, Handler handler);

    template <class Form> void LoadTemplate(Form& form) {
        form.setupUi(this);
        ApplyTemplate();
    }
    void ApplyTemplate();

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

public slots:
    void accept() override;
    void reject() override;

private:
    // The message a handler is running for, so that Default() knows what to pass on.
    struct CurrentMessage {
        enum class Kind { None, Timer, Size, Change, SysCommand } kind = Kind::None;
        QEvent* event = nullptr;
        UINT nID = 0;
        LPARAM lParam = 0;
    };
    class MessageScope;

    void ApplyDialogUnits();
    void ConnectCommandSources();
    int MenuBarHeight() const;
    void KillAllTimers();

    UINT m_templateId;
    int m_modalResult = -1;
    bool m_ended = false;
    bool m_inModalLoop = false;
    std::map<UINT_PTR, int> m_timers; // nIDEvent -> Qt timer id
    std::map<UINT, Handler> m_commandHandlers;
    QMenuBar* m_menuBar = nullptr;
    CurrentMessage m_current;
};
