// SPDX-License-Identifier: MIT
#include "platform/qt/qt_log_services.h"

#include <QDateTime>

#include "platform/append_file.h"
#include "platform/qt/qt_output.h"

namespace ck::platform {

// The same folder the save dialog opens in.
std::string QtAppendFileSystem::dataDir() const { return QtFileSystem().dataDir(); }

OpenedAppendFile QtAppendFileSystem::openForAppend(const std::string& path) {
    return OpenAppendFile(path);
}

LocalTime QtWallClock::now() const {
    const QDateTime t = QDateTime::currentDateTime();
    return LocalTimeAt(t.toMSecsSinceEpoch(), t.offsetFromUtc() / 60);
}

}  // namespace ck::platform
