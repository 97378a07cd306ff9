// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SystemMenu.h"

#include <QAction>
#include <QMenu>
#include <QShortcut>

namespace {

constexpr const char* kSystemMenuName = "systemMenu";
constexpr const char* kCommandProperty = "sysCommand";

QAction* AddCommand(QMenu& menu, CDialog& dialog, UINT nID, const QString& text) {
    QAction* action = menu.addAction(text);
    action->setProperty(kCommandProperty, nID);
    QObject::connect(action, &QAction::triggered, &dialog, [&dialog, nID] { dialog.SendSysCommand(nID); });
    return action;
}

// Items that cannot apply in the window's present state are greyed, as the platform does.
void UpdateStates(QMenu& menu, const CDialog& dialog) {
    const bool minimized = dialog.isMinimized();
    const bool maximized = dialog.isMaximized();
    const bool normal = !minimized && !maximized;
    const bool resizable = dialog.minimumSize() != dialog.maximumSize();
    for (QAction* action : menu.actions()) {
        switch (action->property(kCommandProperty).toUInt()) {
        case SC_RESTORE:
            action->setEnabled(!normal);
            break;
        case SC_MOVE:
            action->setEnabled(!maximized);
            break;
        case SC_SIZE:
            action->setEnabled(normal && resizable);
            break;
        case SC_MINIMIZE:
            action->setEnabled(!minimized && (dialog.windowFlags() & Qt::WindowMinimizeButtonHint));
            break;
        case SC_MAXIMIZE:
            action->setEnabled(!maximized && (dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
            break;
        default:
            break;
        }
    }
}

} // namespace

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const char* lpszNewItem) {
    if (m_pMenu == nullptr) {
        return FALSE;
    }
    if (nFlags & MF_SEPARATOR) {
        m_pMenu->addSeparator();
        return TRUE;
    }
    auto* dialog = qobject_cast<CDialog*>(m_pMenu->parent());
    if (dialog == nullptr) {
        return FALSE;
    }
    AddCommand(*m_pMenu, *dialog, static_cast<UINT>(nIDNewItem),
               QString::fromUtf8(lpszNewItem ? lpszNewItem : ""));
    return TRUE;
}

int CMenu::GetMenuItemCount() const {
    return m_pMenu ? static_cast<int>(m_pMenu->actions().size()) : -1;
}

UINT CMenu::GetMenuItemID(int nPos) const {
    if (m_pMenu == nullptr || nPos < 0 || nPos >= GetMenuItemCount()) {
        return 0;
    }
    return m_pMenu->actions().at(nPos)->property(kCommandProperty).toUInt();
}

std::string CMenu::GetMenuString(int nPos) const {
    if (m_pMenu == nullptr || nPos < 0 || nPos >= GetMenuItemCount()) {
        return {};
    }
    return m_pMenu->actions().at(nPos)->text().toStdString();
}

CMenu GetSystemMenu(CDialog& dialog) {
    if (!(dialog.windowFlags() & Qt::WindowSystemMenuHint)) {
        return CMenu();
    }
    if (auto* existing = dialog.findChild<QMenu*>(kSystemMenuName, Qt::FindDirectChildrenOnly)) {
        return CMenu(existing);
    }

    auto* menu = new QMenu(&dialog);
    menu->setObjectName(kSystemMenuName);
    AddCommand(*menu, dialog, SC_RESTORE, QObject::tr("&Restore"));
    AddCommand(*menu, dialog, SC_MOVE, QObject::tr("&Move"));
    AddCommand(*menu, dialog, SC_SIZE, QObject::tr("&Size"));
    AddCommand(*menu, dialog, SC_MINIMIZE, QObject::tr("Mi&nimize"));
    AddCommand(*menu, dialog, SC_MAXIMIZE, QObject::tr("Ma&ximize"));
    menu->addSeparator();
    QAction* close = AddCommand(*menu, dialog, SC_CLOSE, QObject::tr("&Close"));
    close->setShortcut(QKeySequence(QStringLiteral("Alt+F4")));
    close->setShortcutVisibleInContextMenu(true);
    close->setShortcutContext(Qt::WidgetShortcut); // shown only: the window manager owns Alt+F4
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, &dialog] { UpdateStates(*menu, dialog); });

    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Alt+Space")), &dialog);
    QObject::connect(shortcut, &QShortcut::activated, menu,
                     [menu, &dialog] { menu->popup(dialog.mapToGlobal(QPoint(0, 0))); });
    return CMenu(menu);
}
