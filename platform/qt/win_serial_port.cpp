// SPDX-License-Identifier: MIT
#include "platform/qt/win_serial_port.h"

#include <utility>

namespace ck::platform {

QtEventWatch::~QtEventWatch() {
    for (auto& [event, w] : watched_) delete w.notifier;
}

void QtEventWatch::watch(win::Handle event, std::function<void()> onSignalled) {
    auto& w = watched_[event];
    if (!w.notifier) {
        w.callback = std::make_shared<Callback>();
        w.notifier = new QWinEventNotifier(event);
        QObject::connect(w.notifier, &QWinEventNotifier::activated, w.notifier,
                         [callback = w.callback] {
                             if (callback->live) callback->fn();
                         });
    }
    w.callback->fn = std::move(onSignalled);
    w.callback->live = true;
}

void QtEventWatch::unwatch(win::Handle event) {
    if (const auto it = watched_.find(event); it != watched_.end())
        it->second.callback->live = false;
}

void QtEventWatch::forget(win::Handle event) {
    const auto it = watched_.find(event);
    if (it == watched_.end()) return;
    it->second.callback->live = false;
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    watched_.erase(it);
}

}  // namespace ck::platform
