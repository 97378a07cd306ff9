// SPDX-License-Identifier: GPL-3.0-or-later
#include "outside/DisplayAbout.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#ifndef VARNEX_VERSION
#define VARNEX_VERSION "unknown"
#endif

CDisplayAbout::CDisplayAbout(HWND hOwner, char* pszProgram, char* pszExtra, unsigned int, HINSTANCE)
    : m_owner(hOwner), m_program(pszProgram != nullptr ? pszProgram : ""),
      m_extra(pszExtra != nullptr ? pszExtra : "") {}

CDisplayAbout::~CDisplayAbout() = default;

void CDisplayAbout::Show() {
    QDialog box(m_owner);
    const QString program = QString::fromUtf8(m_program.c_str());
    box.setObjectName("aboutBox");
    box.setWindowTitle(QObject::tr("About %1").arg(program));
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);

    auto* icon = new QLabel(&box);
    icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* text = new QLabel(&box);
    text->setObjectName("aboutText");
    text->setTextFormat(Qt::RichText);
    text->setTextInteractionFlags(Qt::TextBrowserInteraction);
    text->setOpenExternalLinks(true);
    QString html =
        QStringLiteral("<h2>%1</h2><p>Version %2</p>").arg(program.toHtmlEscaped(), VARNEX_VERSION);
    if (!m_extra.empty()) {
        html += QStringLiteral("<p>%1</p>").arg(QString::fromUtf8(m_extra.c_str()).toHtmlEscaped());
    }
    html += QStringLiteral(
        "<p>Lists the precursors of a data-dependent LC-MS/MS acquisition and shows each one in the host "
        "display.</p>"
        "<p>This program is free software: you can redistribute it and/or modify it under the terms of the "
        "GNU General Public License as published by the Free Software Foundation, either version 3 of the "
        "License, or (at your option) any later version.</p>"
        "<p>It is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; see the "
        "<a href=\"https://www.gnu.org/licenses/gpl-3.0.html\">GNU General Public License</a> for "
        "details.</p>");
    text->setText(html);
    text->setWordWrap(true);
    text->setMinimumWidth(360);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);

    auto* content = new QHBoxLayout;
    content->addWidget(icon);
    content->addWidget(text, 1);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(content);
    layout->addWidget(buttons);

    m_box = &box;
    box.exec();
    m_box = nullptr;
}
