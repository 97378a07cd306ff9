// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/RegisteredMessageListener.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include <QSocketNotifier>
#include <QTimer>

using varnex::system::RegisteredMessageFrame;

namespace varnex::platform {

namespace {

// How long a sender has from its connection to send its frame.
constexpr std::chrono::milliseconds kFrameTimeout(1000);
// How often senders with incomplete frames are looked at again.
constexpr std::chrono::milliseconds kRetryInterval(10);

} // namespace

RegisteredMessageListener::RegisteredMessageListener(QObject* parent, Dispatch dispatch)
    : QObject(parent), dispatch_(std::move(dispatch)) {
    if (!endpoint_.Open()) {
        return;
    }
    notifier_ = new QSocketNotifier(endpoint_.FileDescriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { ServicePending(); });
    retry_ = new QTimer(this);
    retry_->setInterval(kRetryInterval);
    connect(retry_, &QTimer::timeout, this, [this] { ServicePending(); });
}

RegisteredMessageListener::~RegisteredMessageListener() {
    delete notifier_;
    delete retry_;
    endpoint_.Close();
}

void RegisteredMessageListener::ServicePending() {
    endpoint_.ServicePending(
        [this](const RegisteredMessageFrame& frame) -> std::int64_t {
            return dispatch_ ? dispatch_(frame.message, static_cast<WPARAM>(frame.wParam),
                                         static_cast<LPARAM>(frame.lParam))
                             : 0;
        },
        kFrameTimeout);
    if (endpoint_.HasWaitingSenders()) {
        retry_->start();
    } else {
        retry_->stop();
    }
}

} // namespace varnex::platform
