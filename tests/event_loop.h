// SPDX-License-Identifier: MIT
#pragma once
// Waiting on the real event loop in tests: for an event, never for a fixed time.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <functional>

namespace ck::testing {

// Runs the event loop until done() holds or ms have passed; true when done() holds.
inline bool runUntil(const std::function<bool()>& done, int ms = 2000) {
    const QDeadlineTimer deadline(ms);
    QTimer guard;  // wakes the loop at the deadline if nothing else does
    guard.setSingleShot(true);
    guard.start(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace ck::testing
