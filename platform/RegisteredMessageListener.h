// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Delivers registered messages that other processes send to this window (see
// system/RegisteredMessage.h) on the user-interface thread, while the window's modal loop runs. The
// endpoint is served without waiting: a sender that connects and then dawdles costs the window nothing,
// and is looked at again on a short timer until its frame is whole or its time is up.

#include <functional>

#include <QObject>

#include "system/RegisteredMessage.h"
#include "system/WinTypes.h"

class QSocketNotifier;
class QTimer;

namespace varnex::platform {

class RegisteredMessageListener final : public QObject {
public:
    using Dispatch = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

    // Opens this process's endpoint; without a usable runtime directory the window simply gets no
    // messages from outside.
    RegisteredMessageListener(QObject* parent, Dispatch dispatch);
    ~RegisteredMessageListener() override;

private:
    void ServicePending();

    varnex::system::RegisteredMessageEndpoint endpoint_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* retry_ = nullptr;
    Dispatch dispatch_;
};

} // namespace varnex::platform
