// SPDX-License-Identifier: MIT
#include "platform/qt/win_serial_port.h"

#include <utility>

namespace ck::platform {

QtEventWatch::~QtEventWatch() {
    for (auto& [event, w] : watched_) delete w.notifier;
}

void QtEventWatch::watch(win::Handle event, std::function<void()> onSignalled) {
    unwatch(event);
    auto* notifier = new QWinEventNotifier(event);
    auto live = std::make_shared<bool>(true);
    QObject::connect(notifier, &QWinEventNotifier::activated, notifier,
                     [live, fn = std::move(onSignalled)] {
                         if (*live) fn();
                     });
    watched_[event] = {notifier, std::move(live)};
}

void QtEventWatch::unwatch(win::Handle event) {
    const auto it = watched_.find(event);
    if (it == watched_.end()) return;
    *it->second.live = false;
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    watched_.erase(it);
}

}  // namespace ck::platform
