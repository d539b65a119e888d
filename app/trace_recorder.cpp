// SPDX-License-Identifier: MIT
#include "app/trace_recorder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "platform/append_file.h"

namespace ck::app {

TraceRecorder::TraceRecorder(link::Link& link, platform::TimerService& timers)
    : link_(link), timers_(timers) {}

TraceRecorder::~TraceRecorder() {
    // The last events (the port closed as the program ends) still reach the file.
    viewer_ = {};
    write();
    link_.setTrace(nullptr);
}

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

void TraceRecorder::setViewer(Viewer viewer) {
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
    // Only kept here: the lines are made, written and shown once the link's handling is over,
    // so the next request never waits for them.
    queued_.push_back(event);
    if (writePosted_) return;
    writePosted_ = true;
    timers_.post([this, alive = std::weak_ptr<const bool>(alive_)] {
        if (!alive.expired()) write();
    });
}

void TraceRecorder::write() {
    writePosted_ = false;
    std::vector<link::TraceEvent> events;
    events.swap(queued_);
    QStringList shown;
    for (const link::TraceEvent& e : events) {
        std::string line = link::FormatTraceLine(e);
        if (fileOn()) {
            const auto last = [&] {
                return link::FormatTraceTime(e.wall) + " 通讯记录已达100 MB，此后不再记录";
            };
            if (const auto failure = file_->append(line, last)) fileFailed(failure->reason);
            // A full or failed file wants no more lines; the window may still.
            if (!fileOn()) attach();
        }
        if (viewer_) shown.push_back(QString::fromStdString(line));
        if (!link_.tracing()) continue;  // off: nothing kept for a window opened later
        recent_.push_back(std::move(line));
        if (recent_.size() > kTraceWindowLines) recent_.pop_front();
    }
    if (viewer_ && !shown.isEmpty()) viewer_(shown);
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
