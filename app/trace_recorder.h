// SPDX-License-Identifier: MIT
#pragma once
// The communication trace of the running program: the link's events as lines, to the file
// named with --trace and to the trace window while it is open. The link is given the trace
// only while one of the two wants it; otherwise nothing is formatted.

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"
#include "output/trace_file.h"
#include "platform/timer.h"

namespace ck::app {

inline constexpr const char* kTraceTitle = "通讯记录";
// Lines the window shows and keeps at most.
inline constexpr std::size_t kTraceWindowLines = 2000;

class TraceRecorder final : public link::TraceSink {
public:
    TraceRecorder(link::Link& link, platform::TimerService& timers);
    ~TraceRecorder() override;
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // Appends every line to `path` from now on. When it cannot be opened the file part stays
    // off, and the message to show is returned.
    std::optional<QString> openFile(const QString& path);
    // No more lines to the file; the window's go on.
    void closeFile() {
        file_.reset();
        attach();
    }
    // Writing to the file from now on, and not failed or full.
    bool fileOn() const { return file_ && !file_->failed() && !file_->full(); }
    // Told once, after the line whose writing failed has been handled: the message naming the
    // file and the reason. The file part is off by then; the link goes on as before.
    void setFailureHandler(std::function<void(const QString& text)> handler) {
        failed_ = std::move(handler);
    }

    // The window's view, while set: the lines that came since its last call, in order, once
    // the link's handling is over. Setting it
    // turns the trace on; clearing it turns it off unless the file wants it.
    using Viewer = std::function<void(const QStringList& lines)>;
    void setViewer(Viewer viewer);
    // The last lines while the trace is on, for a window opened later; forgotten when off.
    const std::deque<std::string>& recent() const { return recent_; }
    void clearRecent() { recent_.clear(); }

    // The user's clock (tests fix it).
    void setWallClock(std::function<link::TraceTime()> now) { now_ = std::move(now); }

    // link::TraceSink
    link::TraceTime wallNow() const override;
    void trace(const link::TraceEvent& event) override;

private:
    // The link traces exactly while the file or the window wants it.
    void attach();
    void fileFailed(const std::string& reason);
    // The queued events as lines: to the file, to the window, and kept for a later window.
    void write();

    link::Link& link_;
    platform::TimerService& timers_;
    std::unique_ptr<output::TraceFile> file_;
    QString path_;  // as the user gave it
    Viewer viewer_;
    std::vector<link::TraceEvent> queued_;
    bool writePosted_ = false;
    std::function<void(const QString&)> failed_;
    std::function<link::TraceTime()> now_;
    std::deque<std::string> recent_;
    // Work posted to the event loop runs only while the recorder that posted it still exists.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

// The message for a trace file that cannot be written: the file, the reason, and that the
// trace file is now off. Carriage returns break its lines.
QString TraceFailureText(const QString& path, const std::string& reason);

}  // namespace ck::app
