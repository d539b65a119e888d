// SPDX-License-Identifier: MIT
#include "link/trace.h"

#include <cstdio>
#include <cstdlib>

#include "link/link.h"
#include "platform/wall_clock.h"

namespace ck::link {

std::string_view TraceVerdict(Action action, Reason reason) {
    switch (action) {
        case Action::Take:
            switch (reason) {
                case Reason::RepeatConfirmed:
                    return "复核接受";
                case Reason::Silence:
                    return "重复接受";
                case Reason::NotAwaited:
                    return "超时后接受";
                default:
                    return "接受";
            }
        case Action::TakeProvisionally:
            return reason == Reason::SameAsShown ? "同前" : "暂收";
        case Action::Commit:
            return "确认";
        case Action::Retract:
            return "撤回";
        case Action::AskAgain:
            return "再问";
        case Action::HoldUntil:
            return {};
        case Action::PassOver:
            break;
    }
    switch (reason) {
        case Reason::Stale:
            return "过时";
        case Reason::NotAnAnswer:
            return "非本问应答";
        case Reason::OtherReceiver:
            return "地址不符";
        case Reason::BadChecksum:
            return "校验错";
        case Reason::Damaged:
            return "残帧";
        case Reason::Noise:
            return "杂波";
        case Reason::NotAwaited:
            return "未等待";
        case Reason::Repeat:
            return "重复";
        case Reason::Superseded:
            return "被取代";
        case Reason::Unconfirmed:
            return "未确认";
        case Reason::Ambiguous:
            return "有歧义";
        default:
            // No pass gives another reason today; the line still says the bytes were not taken.
            return "不取";
    }
}

std::string TraceHex(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

std::string FormatTraceTime(const TraceTime& time) {
    const platform::LocalTime t = platform::LocalTimeAt(time.unixMs, time.utcOffsetMinutes);
    // The milliseconds of the second LocalTimeAt chose, also before 1970.
    const int64_t ms = ((time.unixMs % 1000) + 1000) % 1000;
    const int offset = std::abs(time.utcOffsetMinutes);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, static_cast<int>(ms),
                  time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return buf;
}

std::string FormatTraceLine(const TraceEvent& event) {
    std::string line = FormatTraceTime(event.wall);
    line += " COM";
    line += std::to_string(event.comport);
    line += ' ';
    // A port's events in the words its status shows.
    switch (event.kind) {
        case TraceKind::Sent:
            line += "TX ";
            line += TraceHex(event.bytes);
            break;
        case TraceKind::NotSent:
            line += "TX ";
            line += TraceHex(event.bytes);
            line += " 未发出";
            break;
        case TraceKind::Received:
            line += "RX ";
            line += TraceHex(event.bytes);
            line += ' ';
            line += TraceVerdict(event.action, event.reason);
            break;
        case TraceKind::Decided:
            line += TraceVerdict(event.action, event.reason);
            break;
        case TraceKind::PortOpened:
            line += kTextPortOpened;
            break;
        case TraceKind::NoSuchPort:
            line += kTextNoSuchPort;
            break;
        case TraceKind::PortInUse:
            line += kTextPortInUse;
            break;
        case TraceKind::NoPermission:
            line += kTextNoPermission;
            break;
        case TraceKind::OpenFailed:
            line += kTextOpenFailed;
            break;
        case TraceKind::PortClosed:
            line += "关闭";
            break;
        case TraceKind::TimedOut:
            line += "超时";
            break;
    }
    return line;
}

}  // namespace ck::link
