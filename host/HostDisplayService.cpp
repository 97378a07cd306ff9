// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/HostDisplayService.h"

#include <string_view>

#include <QMetaObject>

#include "hostlink/HostCommand.h"
#include "hostlink/HostLink.h"

using varnex::hostlink::HostCommandParse;
using varnex::hostlink::ParseHostCommand;

namespace varnex::host {

HostDisplayService::HostDisplayService(QObject* parent)
    : QObject(parent), window_(std::make_unique<HostWindow>()),
      executor_([this](std::shared_ptr<const HostDisplayState>) { ScheduleRender(); }) {}

HostDisplayService::~HostDisplayService() {
    Stop();
}

bool HostDisplayService::Start(std::string& error) {
    if (!server_.Listen(error)) {
        return false;
    }
    serverThread_ =
        std::thread([this] { server_.Run([this](std::string_view command) { return Answer(command); }); });
    return true;
}

void HostDisplayService::Stop() {
    server_.Stop();
    if (serverThread_.joinable()) {
        serverThread_.join();
    }
    executor_.Stop();
}

void HostDisplayService::Launch(const std::string& path) {
    executor_.EnqueueLaunch(path);
}

std::string HostDisplayService::Answer(std::string_view command) {
    const HostCommandParse parsed = ParseHostCommand(command);
    if (!executor_.Enqueue(std::string(command))) {
        return std::string(varnex::hostlink::kReplyErrorPrefix) + "the host is busy";
    }
    return parsed.command ? std::string(varnex::hostlink::kReplyOk)
                          : varnex::hostlink::kReplyErrorPrefix + parsed.error;
}

// Renders on the window's thread, once for however many states arrived meanwhile.
void HostDisplayService::ScheduleRender() {
    if (renderPending_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            renderPending_.store(false);
            window_->ShowState(executor_.Latest());
        },
        Qt::QueuedConnection);
}

} // namespace varnex::host
