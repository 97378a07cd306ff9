#pragma once

// Delivers registered messages that other processes send to this window (see
// system/RegisteredMessage.h) on the user-interface thread, while the window's modal loop runs.

#include <functional>

#include <QObject>

#include "system/RegisteredMessage.h"
#include "system/WinTypes.h"

class QSocketNotifier;

class RegisteredMessageListener final : public QObject {
public:
    using Dispatch = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

    // Opens this process's endpoint; without a usable runtime directory the window simply gets no
    // messages from outside.
    RegisteredMessageListener(QObject* parent, Dispatch dispatch);
    ~RegisteredMessageListener() override;

private:
    void ServicePending();

    RegisteredMessageEndpoint endpoint_;
    QSocketNotifier* notifier_ = nullptr;
    Dispatch dispatch_;
};
