// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The running host display: the endpoint's server on a thread of its own, the executor that carries
// out the commands, and the window that shows the outcome. Commands are answered as soon as they are
// parsed and queued ("ok", or "error: <why>" for text that is no command or a full queue); malformed
// ones are also reported in the status line.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include <QObject>
#include <QPointer>

#include "host/CommandExecutor.h"
#include "host/HostWindow.h"
#include "hostlink/HostServer.h"

namespace varnex::host {

class HostDisplayService final : public QObject {
    Q_OBJECT

public:
    explicit HostDisplayService(QObject* parent = nullptr);
    ~HostDisplayService() override;

    // Listens at the endpoint and starts serving; false with `error` set when another host runs or
    // the endpoint is unusable.
    bool Start(std::string& error);
    void Stop();
    // Opens a data set before any command arrives.
    void Launch(const std::string& path);

    HostWindow* Window() const { return window_.get(); }
    // The latest state the commands produced (the window may show it a moment later).
    std::shared_ptr<const HostDisplayState> LatestState() const { return executor_.Latest(); }
    bool WaitForRevision(unsigned long long revision, std::chrono::milliseconds timeout) const {
        return executor_.WaitForRevision(revision, timeout);
    }
    const std::string& SocketPath() const { return server_.SocketPath(); }

private:
    std::string Answer(std::string_view command);
    void ScheduleRender();

    std::unique_ptr<HostWindow> window_;
    std::atomic<bool> renderPending_{false};
    CommandExecutor executor_;
    varnex::hostlink::HostCommandServer server_;
    std::thread serverThread_;
};

} // namespace varnex::host
