// SPDX-License-Identifier: MIT
#include "output/session_log.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace ck::output {
namespace {

using measure::Input;
using measure::Pair;

constexpr std::array<Input, 6> kVoltageColumns = {Input::A1, Input::A2, Input::B1,
                                                  Input::B2, Input::C1, Input::C2};

}  // namespace

std::string FormatLogTime(const platform::LocalTime& t) {
    const int offset = std::abs(t.utcOffsetMinutes);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.utcOffsetMinutes < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    return buf;
}

std::string LogFileName(const platform::LocalTime& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "checkkorvelt-%04d%02d%02d.csv", t.year, t.month, t.day);
    return buf;
}

std::string LogLine(const platform::LocalTime& t, int portno, const measure::MeasurementGroup& g) {
    std::string line = FormatLogTime(t) + ",COM" + std::to_string(portno);
    for (const Input in : kVoltageColumns) {
        line += ',';
        if (const uint8_t kv = g.voltages[measure::idx(in)]; kv != 0) line += std::to_string(kv);
    }
    for (const int16_t a : g.pairAngles) {
        line += ',';
        if (a != measure::NoAngle) line += std::to_string(a);
    }
    for (std::size_t k = 0; k < g.pairAngles.size(); ++k) {
        (line += ',') +=
            measure::VerdictText(measure::VerdictOf(static_cast<Pair>(k), g.pairAngles[k]));
    }
    return line + "\r\n";
}

std::string SessionLog::pathFor(const platform::LocalTime& t) const {
    std::string dir = files_.dataDir();
    // One kind of separator in the path the user is shown.
    const char sep =
        dir.find('\\') != std::string::npos && dir.find('/') == std::string::npos ? '\\' : '/';
    if (!dir.empty() && dir.back() != sep) dir += sep;
    return dir + "log" + sep + LogFileName(t);
}

std::optional<LogFailure> SessionLog::append(const measure::MeasurementGroup& g, int portno) {
    const platform::LocalTime now = clock_.now();
    if (file_ && !opened_.sameDate(now)) close();
    if (!file_) {
        const std::string path = pathFor(now);
        platform::OpenedAppendFile opened = files_.openForAppend(path);
        if (!opened.file) return LogFailure{path, opened.error};
        file_ = std::move(opened.file);
        path_ = path;
        opened_ = now;
        if (opened.size == 0) {
            prefix_ = std::string(kUtf8Bom) + std::string(kLogHeader) + "\r\n";
        } else if (opened.tail.ends_with("\r\n")) {
            prefix_.clear();
        } else {
            // A line cut short by a crash: end it, so this line starts on its own.
            prefix_ = opened.tail.ends_with('\r') ? "\n" : "\r\n";
        }
    }
    // The pieces go down in one write, so that they are on disk together or not at all.
    const std::string bytes = prefix_ + LogLine(now, portno, g);
    if (std::string why = file_->append(bytes); !why.empty()) {
        LogFailure failure{path_, std::move(why)};
        close();
        return failure;
    }
    prefix_.clear();
    return std::nullopt;
}

void SessionLog::close() {
    file_.reset();
    path_.clear();
    prefix_.clear();
}

}  // namespace ck::output
