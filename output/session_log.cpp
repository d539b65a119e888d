// SPDX-License-Identifier: MIT
#include "output/session_log.h"

#include <cstdio>
#include <cstdlib>

#include "measure/history_table.h"

namespace ck::output {
namespace {

using measure::Input;
using measure::Pair;

}  // namespace

const std::string& LogHeader() {
    static const std::string header = [] {
        const auto head = [](int col) {
            return std::string(measure::kHistoryHeadings[static_cast<std::size_t>(col)]);
        };
        std::string h = "时间,端口";
        for (const Input in : measure::kPanelInputs)
            h += "," + head(measure::HistoryVoltageColumn(in)) + "kV";
        for (std::size_t k = 0; k < 6; ++k)
            h += "," + head(measure::HistoryAngleColumn(static_cast<Pair>(k)));
        for (std::size_t k = 0; k < 6; ++k) {
            h += "," + head(measure::HistoryAngleColumn(static_cast<Pair>(k)) + 1);
        }
        return h;
    }();
    return header;
}

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

std::string LogLine(const measure::LiveReading& live) {
    const measure::MeasurementGroup& g = live.values();
    std::string line = FormatLogTime(live.time().value_or(platform::LocalTime{})) + ",COM" +
                       std::to_string(live.port());
    for (const Input in : measure::kPanelInputs) {
        line += ',';
        if (const uint8_t kv = g.voltages[measure::idx(in)]; kv != 0) line += std::to_string(kv);
    }
    for (const int16_t a : g.pairAngles) {
        line += ',';
        if (a != measure::NoAngle) line += std::to_string(a);
    }
    for (std::size_t k = 0; k < g.pairAngles.size(); ++k) {
        (line += ',') += measure::VerdictText(live.verdict(static_cast<Pair>(k)));
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

std::optional<LogFailure> SessionLog::append(const measure::LiveReading& live) {
    const platform::LocalTime now = live.time().value_or(platform::LocalTime{});
    if (file_ && !opened_.sameDate(now)) close();
    if (!file_) {
        const std::string path = pathFor(now);
        platform::OpenedAppendFile opened = files_.openForAppend(path);
        if (!opened.file) return LogFailure{path, opened.error};
        file_ = std::move(opened.file);
        path_ = path;
        opened_ = now;
        if (opened.size == 0) {
            prefix_ = std::string(kUtf8Bom) + LogHeader() + "\r\n";
        } else if (opened.tail.ends_with("\r\n")) {
            prefix_.clear();
        } else {
            // A line cut short by a crash: end it, so this line starts on its own.
            prefix_ = opened.tail.ends_with('\r') ? "\n" : "\r\n";
        }
    }
    // The pieces go down in one write, so that they are on disk together or not at all.
    const std::string bytes = prefix_ + LogLine(live);
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
