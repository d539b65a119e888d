// SPDX-License-Identifier: MIT
#pragma once
// The communication trace: every request written, every frame and run of other bytes received
// with the verdict the link gave it, and the port's events, one line each, so that what crossed
// the wire can be sent by whoever met a failure. The link hands events to a sink only while
// one is set; without one it builds, copies and formats nothing.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/reply_arbiter.h"

namespace ck::link {

enum class TraceKind : uint8_t {
    Sent,          // a request handed to the port: its bytes
    NotSent,       // a request the port refused (closed): its bytes
    Received,      // a frame or a run of other bytes, with its final verdict
    Decided,       // about the question, no bytes: asked again, a provisional take stands or not
    PortOpened,    // 已打开
    NoSuchPort,    // 无效
    PortInUse,     // 被占用
    NoPermission,  // 无权限
    OpenFailed,    // 打开失败
    PortClosed,    // 关闭
    TimedOut,      // 超时: nothing answered the request in time
};

// A moment on the user's clock.
struct TraceTime {
    int64_t unixMs = 0;  // since 1970-01-01 00:00 UTC
    int utcOffsetMinutes = 0;
};

struct TraceEvent {
    TraceKind kind = TraceKind::Received;
    int16_t comport = 0;
    // On the clock received bytes are stamped with: when the request was written, when the last
    // of the bytes came, when the port event happened.
    int64_t stampUs = 0;
    TraceTime wall;  // the same moment on the user's clock
    std::vector<uint8_t> bytes;
    Action action = Action::PassOver;  // Received, Decided
    Reason reason = Reason::Noise;
};

class TraceSink {
public:
    virtual ~TraceSink() = default;
    // The user's clock now.
    virtual TraceTime wallNow() const = 0;
    // Called from inside the link's own handling: it must not call back into the link, and
    // must not wait.
    virtual void trace(const TraceEvent& event) = 0;
};

// The trace's word for a decision: for received bytes their final verdict, for a decision
// about the question what was done. Empty for what has no line of its own (a hold: the frame
// gets its line when it is finally decided).
std::string_view TraceVerdict(Action action, Reason reason);

// Upper-case hex, two digits a byte, one space between bytes.
std::string TraceHex(std::span<const uint8_t> bytes);

// One line, without its line end: the local time with milliseconds and offset
// (2026-12-07T21:03:04.123+08:00), a space, COMn, a space, the event.
std::string FormatTraceLine(const TraceEvent& event);

// The time alone, as lines begin.
std::string FormatTraceTime(const TraceTime& time);

}  // namespace ck::link
