// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MessageBox.h"

#include <utility>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "platform/Ids.h"

using varnex::platform::MessageBoxObserver;

namespace {

MessageBoxObserver& Observer() {
    static MessageBoxObserver instance;
    return instance;
}

QMessageBox::Icon IconFor(UINT nType) {
    switch (nType & 0xF0) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::Warning; // MB_ICONEXCLAMATION, and the framework's choice when none is given
    }
}

QMessageBox::StandardButtons ButtonsFor(UINT nType) {
    switch (nType & 0xF) {
    case MB_OKCANCEL:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_YESNOCANCEL:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MB_YESNO:
        return QMessageBox::Yes | QMessageBox::No;
    default:
        return QMessageBox::Ok;
    }
}

int ResultOf(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

} // namespace

int AfxMessageBox(const char* lpszText, UINT nType, UINT) {
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr) {
        owner = QApplication::activeWindow();
    }
    const QString title = QGuiApplication::applicationDisplayName();
    QMessageBox box(IconFor(nType), title, QString::fromLocal8Bit(lpszText != nullptr ? lpszText : ""),
                    ButtonsFor(nType), owner);
    // Escape on a box without Cancel answers as its only button does.
    if ((nType & 0xF) == MB_OK) {
        box.setEscapeButton(QMessageBox::Ok);
    }
    if (const MessageBoxObserver current = Observer()) {
        QTimer::singleShot(0, &box, [&box, current] { current(box); });
    }
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (clicked == nullptr) {
        return (nType & 0xF) == MB_OK ? IDOK : IDCANCEL;
    }
    return ResultOf(box.standardButton(clicked));
}

namespace varnex::platform {

MessageBoxObserver SetMessageBoxObserver(MessageBoxObserver newObserver) {
    return std::exchange(Observer(), std::move(newObserver));
}

} // namespace varnex::platform
