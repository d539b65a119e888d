// SPDX-License-Identifier: MIT
#pragma once
// The session log: every live reading as one line of a CSV file per day, in the data folder's
// log/ subfolder. UTF-8 with a byte-order mark and CR LF line ends, so that spreadsheet
// programs open it with the Chinese heads intact.

#include <optional>
#include <string>
#include <string_view>

#include "measure/live_reading.h"
#include "platform/log_file.h"
#include "platform/wall_clock.h"

namespace ck::output {

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
// The heads of the columns, in the history table's words with the unit of the voltages.
const std::string& LogHeader();

// ISO 8601 local time with seconds and offset: 2026-12-07T09:05:07+08:00.
std::string FormatLogTime(const platform::LocalTime& t);
// The day's file: checkkorvelt-20261207.csv.
std::string LogFileName(const platform::LocalTime& t);
// One reading as one line, CR LF included: the time it was taken, COMn, the voltages pair by
// pair (empty when the input has none), the angles (empty for the no-angle value) and the
// verdicts in the live panel's words.
std::string LogLine(const measure::LiveReading& live);

struct LogFailure {
    std::string path;
    std::string reason;
};

class SessionLog {
public:
    explicit SessionLog(platform::AppendFileSystem& files) : files_(files) {}

    // Appends the reading to the file of the local date it was taken on, opening that file
    // first when the date has changed. On failure the log is closed and says which file
    // failed and why; the next append tries again from the start.
    std::optional<LogFailure> append(const measure::LiveReading& live);
    void close();

    // The file the log writes to now; empty while closed.
    const std::string& path() const { return path_; }
    // The file a reading taken at `t` goes to.
    std::string pathFor(const platform::LocalTime& t) const;

private:
    platform::AppendFileSystem& files_;
    std::unique_ptr<platform::AppendFile> file_;
    std::string path_;
    platform::LocalTime opened_{};
    // Written in front of the next line: the header of a new file, or the line break a file
    // left unfinished by an earlier run lacks.
    std::string prefix_;
};

}  // namespace ck::output
