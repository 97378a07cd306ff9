#include "platform/RegisteredMessageListener.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include <QSocketNotifier>

namespace {

// A sender that connects and then dawdles must not freeze the window for long.
constexpr std::chrono::milliseconds kFrameReadTimeout(200);

} // namespace

RegisteredMessageListener::RegisteredMessageListener(QObject* parent, Dispatch dispatch)
    : QObject(parent), dispatch_(std::move(dispatch)) {
    if (!endpoint_.Open())
        return;
    notifier_ = new QSocketNotifier(endpoint_.FileDescriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { ServicePending(); });
}

RegisteredMessageListener::~RegisteredMessageListener() {
    delete notifier_;
    endpoint_.Close();
}

void RegisteredMessageListener::ServicePending() {
    endpoint_.ServiceOne(
        [this](const RegisteredMessageFrame& frame) -> std::int64_t {
            return dispatch_ ? dispatch_(frame.message, static_cast<WPARAM>(frame.wParam),
                                         static_cast<LPARAM>(frame.lParam))
                             : 0;
        },
        kFrameReadTimeout);
}
