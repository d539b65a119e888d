// SPDX-License-Identifier: MIT
#pragma once
// Whether the session log is on, remembered between runs, and the log itself: every live
// reading appended to the day's file while it is on. A failure to write turns it off.

#include <QSettings>
#include <QString>

#include <memory>
#include <optional>

#include "measure/live_reading.h"
#include "output/session_log.h"
#include "platform/log_file.h"

namespace ck::app {

// Where the program keeps its settings (the same folder as its COM pins on Linux).
inline constexpr const char* kSettingsOrganisation = "checkkorvelt";
inline constexpr const char* kSettingsApplication = "checkkorvelt";
inline constexpr const char* kSettingLogOn = "sessionLog/on";
inline constexpr const char* kLogFailureTitle = "记录实时数据";

class SessionRecorder {
public:
    // On the user's settings and the data folder.
    SessionRecorder();
    ~SessionRecorder();

    // Tests put their own in, before start-up.
    void setSettings(std::unique_ptr<QSettings> settings);
    void setFileSystem(std::unique_ptr<platform::AppendFileSystem> files);

    // Turns the log on when the user left it on last time (off by default).
    void restore();
    // The user's choice, remembered for the next run. Off closes the day's file.
    void setOn(bool on);
    bool isOn() const { return on_; }

    // While on, appends the reading. A failure turns the log off and remembers that, and
    // returns what to tell the user: the file and the reason.
    std::optional<QString> record(const measure::LiveReading& live);

private:
    void rebuild();

    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<platform::AppendFileSystem> files_;
    std::unique_ptr<output::SessionLog> log_;
    bool on_ = false;
};

// The message for a file that could not be written: the file, the reason, and that the log
// is now off. Carriage returns break its lines.
QString LogFailureText(const output::LogFailure& failure);

}  // namespace ck::app
