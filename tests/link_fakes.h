// SPDX-License-Identifier: MIT
#pragma once
// Test doubles for the link: a window that records what the link tells it and sets its
// controls from the window's own tables, and a serial port whose answers the test scripts
// byte for byte.

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/control_sets.h"
#include "link/link_events.h"
#include "link/protocol.h"
#include "measure/measurement.h"
#include "platform/serial_port.h"
#include "platform/virtual_clock.h"

namespace ck::testing {

using Bytes = std::vector<uint8_t>;

// A reply from the instrument to the application.
inline Bytes Reply(uint8_t code, const Bytes& payload, uint8_t receiver = protocol::kHostAddress) {
    return protocol::MakeFrame(protocol::kReplyStart, protocol::kInstrumentAddress, receiver, code,
                               payload);
}

// The code of a request written to the port (0 if it is too short to have one).
inline uint8_t CodeOf(const Bytes& request) {
    return request.size() > protocol::kCodeAt ? request[protocol::kCodeAt] : 0;
}

// Start index and count of a history request; nullopt for any other request.
inline std::optional<std::pair<int, int>> BlockOf(const Bytes& request) {
    using namespace protocol;
    if (request.size() != kHistoryRequestLength || CodeOf(request) != kCodeHistory) return {};
    return std::pair{request[kHistoryStartAt] * 256 + request[kHistoryStartAt + 1],
                     request[kHistoryCountAt] * 256 + request[kHistoryCountAt + 1]};
}

class RecordingWindow final : public link::LinkEvents, public app::ControlSink {
public:
    // Design-time states: every command enabled, progress bar hidden.
    std::map<app::Control, bool> enabled;
    std::map<app::Control, bool> visible{{app::Control::Progress_read, false}};
    std::vector<link::Phase> phases;
    std::vector<std::string> comStatus;
    std::vector<std::string> linkStatus{"连接失败"};
    int progressMax = 100;
    std::vector<int> progress;
    std::vector<measure::MeasurementGroup> shown;  // each live reading the panel showed
    // The history table: row -> group, as the grid would hold it.
    std::map<int, measure::MeasurementGroup> rows;
    std::vector<std::pair<int, int>> fills;  // (first group number, groups) of each FillHist
    int noHistoryBoxes = 0;                  // the zero-history message, each time shown
    std::function<void()> whileMessageOpen;
    // The port of each refused permission reported, with what was known of it.
    std::vector<std::pair<int16_t, platform::OpenFailure>> refusals;
    std::function<void()> whileDrawing;  // the table filled or the progress bar moved

    bool isEnabled(app::Control c) const {
        const auto it = enabled.find(c);
        return it == enabled.end() ? true : it->second;
    }
    bool isVisible(app::Control c) const {
        const auto it = visible.find(c);
        return it == visible.end() ? true : it->second;
    }

    void setEnabled(app::Control c, bool on) override { enabled[c] = on; }
    void setVisible(app::Control c, bool on) override { visible[c] = on; }
    void phaseChanged(link::Phase p, const link::LinkState& s) override {
        phases.push_back(p);
        app::ApplySet(app::SetFor(p), s, *this);
    }
    void setComStatus(const std::string& t) override { comStatus.push_back(t); }
    void setLinkStatus(const std::string& t) override { linkStatus.push_back(t); }
    void setProgress(int done, int total) override {
        progressMax = total;
        progress.push_back(done);
        if (whileDrawing) whileDrawing();
    }
    void ShowReal(const measure::MeasurementGroup& g) override { shown.push_back(g); }
    void FillHist(int first, std::span<const measure::MeasurementGroup> groups) override {
        fills.emplace_back(first, static_cast<int>(groups.size()));
        for (std::size_t i = 0; i < groups.size(); ++i) {
            rows[first + static_cast<int>(i) + 1] = groups[i];
        }
        if (whileDrawing) whileDrawing();
    }
    void noHistory() override {
        ++noHistoryBoxes;
        if (whileMessageOpen) whileMessageOpen();
    }
    void permissionRefused(int16_t comport, const platform::OpenFailure& failure) override {
        refusals.emplace_back(comport, failure);
    }
};

// A port on the virtual clock. Ports listed in `present` open; `busy` ones report 8005,
// `refused` ones a refused permission (device /dev/ttyUSB<n>, account "alice", group
// "dialout"), `failing` ones another failure; others 8002. Every write is logged;
// `responder` may answer it with chunks that arrive `replyDelayMs` later, while the same
// opening lasts.
//
// Injected bytes are stamped as a 9600-baud line would have brought them: none before the
// last request could have been heard whole, each chunk at least its own line time after the
// one before. injectAt() stamps them as the test says, to play bytes that were on their way
// before the request.
class ScriptedPort final : public platform::SerialPort {
public:
    explicit ScriptedPort(platform::VirtualClock& clock) : clock_(clock) {}

    int64_t nowUs() const override { return clock_.nowMs() * 1000; }

    struct Write {
        int64_t timeMs;
        int16_t port;
        Bytes bytes;
    };
    std::set<int16_t> present;
    std::set<int16_t> busy;
    std::set<int16_t> refused;
    std::set<int16_t> failing;
    std::vector<Write> writes;
    std::function<std::vector<Bytes>(const Bytes& request)> responder;
    int64_t replyDelayMs = 5;
    int opens = 0;

    // Bytes arriving now on the open port, as the line allows.
    void inject(const Bytes& b) {
        lineUs_ = std::max(nowUs(), lineUs_ + protocol::LineTimeUs(std::ssize(b)));
        deliver(b, lineUs_);
    }
    // Bytes arriving now, stamped atUs.
    void injectAt(const Bytes& b, int64_t atUs) { deliver(b, atUs); }

    // Bytes arriving `delayMs` from now, if the port has not been closed or reopened by then.
    void injectLater(Bytes b, int64_t delayMs) {
        auto t = platform::makeTimer(clock_, static_cast<int>(delayMs), {});
        platform::Timer* raw = t.get();
        const int opening = opens;
        raw->setHandler([this, raw, opening, b] {
            raw->setEnabled(false);
            if (isOpen() && opening == opens) inject(b);
        });
        raw->setEnabled(true);
        pending_.push_back(std::move(t));
    }

protected:
    int doOpen(int16_t n) override {
        ++opens;
        if (busy.contains(n)) return platform::kErrPortInUse;
        if (refused.contains(n)) {
            noteOpenFailure(
                {"/dev/ttyUSB" + std::to_string(n), "alice", "dialout", "Permission denied"});
            return platform::kErrPermissionDenied;
        }
        if (failing.contains(n)) return platform::kErrOpenFailed;
        if (!present.contains(n)) return platform::kErrNoSuchPort;
        return platform::kPortOk;
    }
    void doClose() override {}
    bool doWrite(std::span<const uint8_t> b) override {
        writes.push_back({clock_.nowMs(), commPort(), Bytes(b.begin(), b.end())});
        lineUs_ = nowUs() + protocol::LineTimeUs(std::ssize(b));  // the request heard
        if (responder) {
            for (auto& chunk : responder(writes.back().bytes)) injectLater(chunk, replyDelayMs);
        }
        return true;
    }
    void postReceiveEvent() override {
        clock_.post([this] { raiseReceiveEvent(); });
    }

private:
    platform::VirtualClock& clock_;
    std::vector<std::unique_ptr<platform::Timer>> pending_;
    int64_t lineUs_ = 0;  // when the last byte on the line towards the application arrived
};

}  // namespace ck::testing
