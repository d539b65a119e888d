// SPDX-License-Identifier: MIT
#include "app/trace_recorder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "platform/append_file.h"

namespace ck::app {

TraceRecorder::TraceRecorder(link::Link& link, platform::TimerService& timers)
    : link_(link), timers_(timers) {}

TraceRecorder::~TraceRecorder() { link_.setTrace(nullptr); }

std::optional<QString> TraceRecorder::openFile(const QString& path) {
    path_ = path;
#ifdef _WIN32
    const std::string name = path.toStdString();  // UTF-8, opened by its wide name
#else
    const std::string name = QFile::encodeName(path).toStdString();
#endif
    // Handed to the system line by line, not synced: a trace must never hold the link up
    // waiting for a disk.
    platform::OpenedAppendFile opened =
        platform::OpenAppendFile(name, {.syncEachRecord = false, .makeFolders = false});
    if (!opened.file) {
        file_.reset();
        attach();
        return TraceFailureText(path, opened.error);
    }
    file_ = std::make_unique<output::TraceFile>(name, std::move(opened));
    attach();
    return std::nullopt;
}

void TraceRecorder::setViewer(std::function<void(const QString&)> viewer) {
    viewer_ = std::move(viewer);
    attach();
}

void TraceRecorder::attach() {
    const bool on = fileOn() || viewer_;
    if (!on) recent_.clear();
    link_.setTrace(on ? this : nullptr);
}

link::TraceTime TraceRecorder::wallNow() const {
    if (now_) return now_();
    const QDateTime t = QDateTime::currentDateTime();
    return {t.toMSecsSinceEpoch(), t.offsetFromUtc() / 60};
}

void TraceRecorder::trace(const link::TraceEvent& event) {
    std::string line = link::FormatTraceLine(event);
    if (fileOn()) {
        const auto last = [this] {
            return link::FormatTraceTime(wallNow()) + " 通讯记录已达100 MB，此后不再记录";
        };
        if (const auto failure = file_->append(line, last)) fileFailed(failure->reason);
        // A full file wants no more lines; the window may still.
        if (!fileOn()) {
            timers_.post([this, alive = std::weak_ptr<const bool>(alive_)] {
                if (!alive.expired()) attach();
            });
        }
    }
    if (viewer_) viewer_(QString::fromStdString(line));
    recent_.push_back(std::move(line));
    if (recent_.size() > kTraceWindowLines) recent_.pop_front();
}

void TraceRecorder::fileFailed(const std::string& reason) {
    // Told once the link's handling is over: a box opened inside it would run the link's next
    // events in the middle of this one.
    timers_.post(
        [this, alive = std::weak_ptr<const bool>(alive_), text = TraceFailureText(path_, reason)] {
            if (alive.expired()) return;
            if (failed_) failed_(text);
        });
}

QString TraceFailureText(const QString& path, const std::string& reason) {
    return QStringLiteral("无法写入通讯记录文件：\r%1\r%2\r通讯记录文件已停止写入。")
        .arg(QDir::toNativeSeparators(path), QString::fromStdString(reason));
}

}  // namespace ck::app
