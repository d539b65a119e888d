// SPDX-License-Identifier: MIT
// Whole runs of the link against the simulated instrument, on virtual time.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "link/link.h"
#include "link_fakes.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"

namespace ck::testing {
namespace {

using app::Control;
using sim::Fault;
using sim::FaultRule;

struct World {
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port;
    RecordingWindow ui;
    link::Link link;
    const link::LinkState& s;

    explicit World(int16_t com = 3, std::size_t stored = 7)
        : port(clock, instrument, com), link(port, clock, ui), s(link.state()) {
        instrument.setStoredGroups(sim::MakeStoredHistory(stored, 7));
        instrument.setLinePacing(true);
        link.start();
    }

    // Discovery's link tests: the port each went to.
    std::vector<int> linkTestPorts() const {
        std::vector<int> out;
        for (const auto& w : port.written()) {
            if (w.bytes.size() > 4 && w.bytes[4] == 5) out.push_back(w.commPort);
        }
        return out;
    }
    std::vector<sim::Request> requests(uint8_t code) const {
        std::vector<sim::Request> out;
        for (const auto& r : instrument.requests()) {
            if (r.code == code) out.push_back(r);
        }
        return out;
    }
    void findAndShowHistory() {
        clock.advance(2400);
        ASSERT_TRUE(s.linkok);
        link.setView(link::View::History);
    }
    void download() {
        link.requestDownload();
        clock.advance(3000);
    }
    // Every row either holds the instrument's group for that row or is empty.
    void expectRowsTrue(std::size_t wantRows) const {
        const auto& truth = instrument.storedGroups();
        EXPECT_EQ(ui.rows.size(), wantRows);
        for (const auto& [row, group] : ui.rows) {
            ASSERT_LE(static_cast<std::size_t>(row), truth.size());
            EXPECT_EQ(group, truth[static_cast<std::size_t>(row - 1)]) << "row " << row;
        }
    }
};

TEST(Discovery, NoInstrumentCyclesAllSixteenPortsAndReportsFailure) {
    World w(3);
    w.port.setInstrumentPort(99);  // nothing anywhere
    w.port.addEmptyPort(2);
    w.port.setPortBusy(4);
    w.clock.advance(2499);
    EXPECT_EQ(w.ui.linkStatus.back(), "连接失败");
    w.clock.advance(1);
    EXPECT_EQ(w.ui.linkStatus.back(), "通讯失败");  // the start-up time-out, before any answer
    EXPECT_FALSE(w.ui.isEnabled(Control::Button_read));
    w.clock.advance(600 * 20 - 2500);
    std::vector<std::string> want;
    for (int n = 1; n <= 20; ++n) {
        const int com = (n - 1) % 16 + 1;
        const std::string suffix = com == 2 ? "已打开" : com == 4 ? "被占用" : "无效";
        want.push_back("COM" + std::to_string(com) + suffix);
    }
    EXPECT_EQ(w.ui.comStatus, want);
    EXPECT_EQ(w.linkTestPorts(), (std::vector<int>{2, 2}));  // only the port that opened
    EXPECT_FALSE(w.s.linkok);
    EXPECT_TRUE(w.link.Timer_findcom().enabled());
}

TEST(Discovery, FindsTheInstrumentAndPollsItsPort) {
    for (int16_t com : {int16_t{3}, int16_t{16}, int16_t{1}}) {
        World w(com);
        const int64_t found = 600 * com;
        w.clock.advance(found + 100);
        EXPECT_TRUE(w.s.linkok) << com;
        // The scan had moved on to the next number; the answer brings it back at once.
        EXPECT_EQ(w.s.portno, com) << com;
        EXPECT_TRUE(w.link.Timer_findcom().enabled());
        w.clock.advance(500);
        EXPECT_EQ(w.s.portno, com) << com;
        EXPECT_FALSE(w.link.Timer_findcom().enabled());
        EXPECT_EQ(w.ui.linkStatus.back(), "通讯成功");
        EXPECT_FALSE(w.ui.isEnabled(Control::Button_read));  // live view
        EXPECT_TRUE(w.ui.isEnabled(Control::menuread));
        w.clock.advance(1500 * 4 + 100);
        // Polling counts from the next tick, or from the start-up time-out when that came
        // first (COM16 answers 9.6 s after start-up): a poll before the tick finds the port.
        const std::size_t polls = com == 16 ? 5 : 4;
        const auto live = w.requests(6);
        ASSERT_EQ(live.size(), polls) << com;
        for (std::size_t i = 1; i < live.size(); ++i) {
            EXPECT_EQ(live[i].timeUs - live[i - 1].timeUs, 1'500'000);
        }
        for (const auto& f : w.port.written()) {
            if (f.timeMs > found) {
                EXPECT_EQ(f.commPort, com);
            }
        }
        EXPECT_EQ(w.ui.shown.size(), polls);
        EXPECT_EQ(w.ui.comStatus.back(), "COM" + std::to_string(com) + "已打开");
        // Ports that do not exist get no link test.
        EXPECT_EQ(w.linkTestPorts(), std::vector<int>{com});
    }
}

// The user switches to the history view and presses read as soon as "通讯成功" shows, or a
// little later, before or after the discovery tick that follows the answer: every request
// from the answer on goes to the port that answered, and the download runs to its end.
TEST(Discovery, ReadPressedAnyMomentAfterTheAnswerRunsOnThePortThatAnswered) {
    struct Case {
        int16_t com;
        int64_t afterMs;    // read pressed this long after the answer, or when negative this
                            // long before the discovery tick that follows it
        bool historyFirst;  // the history view chosen before the instrument answered
    };
    std::vector<Case> cases;
    for (const int16_t com : {int16_t{3}, int16_t{16}}) {
        // 31 ms before the tick the download's first request goes out before it, 1 ms
        // before just after it.
        for (const int64_t after : {0, 100, 300, 599, -31, -1}) {
            for (const bool first : {false, true}) cases.push_back({com, after, first});
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE("COM" + std::to_string(c.com) + ", read " + std::to_string(c.afterMs) +
                     " ms after the answer" + (c.historyFirst ? ", history view first" : ""));
        World w(c.com, 30);
        if (c.historyFirst) w.link.setView(link::View::History);
        while (!w.s.linkok && w.clock.nowMs() < 20'000) w.clock.advance(1);
        ASSERT_TRUE(w.s.linkok);
        const int64_t answeredAt = w.clock.nowMs();
        EXPECT_EQ(w.ui.linkStatus.back(), "通讯成功");
        if (!c.historyFirst) w.link.setView(link::View::History);
        const int64_t nextTick = (answeredAt / link::kFindcomMs + 1) * link::kFindcomMs;
        w.clock.advance(c.afterMs >= 0 ? c.afterMs : nextTick + c.afterMs - answeredAt);
        w.link.requestDownload();
        EXPECT_FALSE(w.ui.isEnabled(Control::TabStrip1));  // busy
        for (int ms = 0; ms < 30'000 && !w.link.Timer_real().enabled(); ms += 10) {
            w.clock.advance(10);
        }
        w.clock.advance(1000);
        for (const auto& f : w.port.written()) {
            if (f.timeMs >= answeredAt) {
                EXPECT_EQ(f.commPort, c.com) << "written at " << f.timeMs << " ms";
            }
        }
        w.expectRowsTrue(30);
        EXPECT_FALSE(w.link.Timer_findcom().enabled());
        EXPECT_TRUE(w.link.Timer_real().enabled());
        EXPECT_FALSE(w.link.Timer_read().enabled());
        EXPECT_TRUE(w.ui.isEnabled(Control::TabStrip1));
        EXPECT_TRUE(w.ui.isEnabled(Control::Button_read));
        EXPECT_TRUE(w.ui.isEnabled(Control::menuread));
        EXPECT_TRUE(w.ui.isEnabled(Control::Button_save));
        EXPECT_FALSE(w.ui.isVisible(Control::Progress_read));
        EXPECT_EQ(w.s.portno, c.com);
        // Polling goes on, on that port.
        const auto polls = w.requests(5).size();
        w.clock.advance(1500);
        EXPECT_EQ(w.requests(5).size(), polls + 1);
    }
}

TEST(Discovery, LiveReadingsFollowTheInstrument) {
    World w(3);
    w.clock.advance(2400 + 1500 * 3 + 200);
    const auto& seq = w.instrument.liveSequence();
    ASSERT_EQ(w.ui.shown.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(w.ui.shown[i], seq[i % seq.size()]);
}

TEST(Download, SevenGroupsInBlocksOfThree) {
    World w(3, 7);
    w.findAndShowHistory();
    w.download();
    std::vector<std::pair<int, int>> blocks;
    for (const auto& r : w.requests(1)) blocks.emplace_back(r.start, r.count);
    EXPECT_EQ(blocks, (std::vector<std::pair<int, int>>{{0, 3}, {3, 3}, {6, 1}}));
    EXPECT_EQ(w.ui.progress, (std::vector<int>{0, 3, 6, 7}));
    w.expectRowsTrue(7);
    EXPECT_FALSE(w.ui.isVisible(Control::Progress_read));
    EXPECT_TRUE(w.ui.isEnabled(Control::Button_read));
    EXPECT_TRUE(w.link.Timer_real().enabled());
    EXPECT_EQ(w.s.blocksread, 0);
    // Polling resumes with link tests in the history view.
    const auto before = w.requests(5).size();
    w.clock.advance(1500);
    EXPECT_EQ(w.requests(5).size(), before + 1);
}

TEST(Download, WaitsForAnOutstandingLinkTest) {
    World w(3, 4);
    w.findAndShowHistory();
    w.clock.advance(1499);  // the history view's link test goes out at the next tick
    w.instrument.setTurnaroundMs(400);
    w.clock.advance(1);
    ASSERT_EQ(w.s.commstate, link::kCommAwaiting);
    w.link.requestDownload();
    w.clock.advance(300);
    EXPECT_TRUE(w.requests(2).empty());  // still waiting for the link test's reply
    w.clock.advance(2000);
    EXPECT_EQ(w.requests(2).size(), 1u);
    w.expectRowsTrue(4);
}

// The link test that the download waits for never gets its answer: the download starts after
// the time-out and runs to its end, with polling off and the controls busy until then.
TEST(Download, StartsAfterTheTimeOutOfTheRequestItWaitsFor) {
    World w(3, 60);
    w.findAndShowHistory();
    w.clock.advance(1499);
    FaultRule silent;
    silent.kind = Fault::Silence;
    silent.onlyCode = 5;
    silent.times = 1;
    w.instrument.addFault(silent);
    w.clock.advance(1);  // the history view's link test goes out, and is never answered
    ASSERT_EQ(w.s.commstate, link::kCommAwaiting);
    w.link.requestDownload();
    w.ui.linkStatus.clear();
    w.clock.advance(2600);
    ASSERT_FALSE(w.ui.linkStatus.empty());
    EXPECT_EQ(w.ui.linkStatus.front(), "通讯失败");  // the link test is reported
    ASSERT_EQ(w.requests(2).size(), 1u);             // the count request followed the time-out
    EXPECT_FALSE(w.ui.isEnabled(Control::TabStrip1));
    EXPECT_FALSE(w.link.Timer_real().enabled());
    w.clock.advance(6000);
    // No poll cut into the download.
    const int64_t from = w.requests(2).front().timeUs;
    const int64_t to = w.requests(1).back().timeUs;
    for (const auto& r : w.requests(5)) EXPECT_FALSE(r.timeUs > from && r.timeUs < to);
    w.expectRowsTrue(60);
    EXPECT_EQ(w.ui.progress.back(), 60);
    EXPECT_FALSE(w.ui.isVisible(Control::Progress_read));
    EXPECT_TRUE(w.ui.isEnabled(Control::TabStrip1));
    EXPECT_TRUE(w.link.Timer_real().enabled());
    EXPECT_EQ(w.s.blocksread, 0);
}

TEST(Download, ZeroGroups) {
    World w(3, 0);
    w.findAndShowHistory();
    w.download();
    ASSERT_EQ(w.ui.noHistoryBoxes, 1);
    EXPECT_TRUE(w.requests(1).empty());
    EXPECT_TRUE(w.link.Timer_real().enabled());
    EXPECT_TRUE(w.ui.isEnabled(Control::TabStrip1));
}

TEST(Download, SecondDownloadOverwritesTheCount) {
    World w(3, 5);
    w.findAndShowHistory();
    w.download();
    EXPECT_EQ(w.s.histcount, 5);
    w.instrument.setStoredGroups(sim::MakeStoredHistory(2, 7));
    w.download();
    EXPECT_EQ(w.s.histcount, 2);
}

// Each misbehaviour aimed at the second history block of a 7-group download.
TEST(Download, MisbehavingInstrument) {
    struct Case {
        const char* what;
        FaultRule rule;
        std::size_t rows;  // rows the download ends with
        bool fails;        // ends in "通讯失败"
    };
    auto rule = [](Fault kind) {
        FaultRule r;
        r.kind = kind;
        r.onlyCode = 1;
        r.skip = 1;
        r.times = 1;
        return r;
    };
    FaultRule shortBlock = rule(Fault::ShortBlock);
    shortBlock.groups = 1;
    FaultRule noise = rule(Fault::Noise);
    noise.noiseBytes = 5;
    FaultRule chunked = rule(Fault::Chunked);
    chunked.chunks = 4;
    chunked.chunkGapMs = 40;
    const Case cases[] = {
        {"silent", rule(Fault::Silence), 3, true},
        {"another receiver", rule(Fault::WrongReceiver), 3, true},
        {"bad checksum", rule(Fault::BadChecksum), 3, true},
        {"late", rule(Fault::Late), 3, true},
        {"short block", shortBlock, 3, true},
        {"noise before the start byte", noise, 7, false},
        {"in chunks", chunked, 7, false},
    };
    for (const auto& c : cases) {
        World w(3, 7);
        w.findAndShowHistory();
        w.instrument.addFault(c.rule);
        w.link.requestDownload();
        w.clock.advance(6000);
        SCOPED_TRACE(c.what);
        w.expectRowsTrue(c.rows);
        const auto& st = w.ui.linkStatus;
        const bool failed = std::find(st.end() - std::min<std::ptrdiff_t>(8, std::ssize(st)),
                                      st.end(), std::string("通讯失败")) != st.end();
        EXPECT_EQ(failed, c.fails);
        EXPECT_FALSE(w.ui.isVisible(Control::Progress_read));
        EXPECT_TRUE(w.ui.isEnabled(Control::TabStrip1));
        EXPECT_TRUE(w.ui.isEnabled(Control::Button_read));
        EXPECT_TRUE(w.link.Timer_real().enabled());
        EXPECT_EQ(w.s.blocksread, 0);
        EXPECT_EQ(w.s.histcount, 7);
        // A fresh download afterwards brings every row.
        w.instrument.clearFaults();
        w.download();
        w.expectRowsTrue(7);
    }
}

// The device is opened once for a download and given up when it ends, however it ends; polls
// open and give it up each time, so another program can take the port between them.
TEST(Download, KeepsTheDeviceForItsLengthOnly) {
    struct Case {
        const char* how;
        std::size_t stored;
        std::optional<Fault> fault;  // on the third history block
        std::size_t rows;
    };
    const Case cases[] = {
        {"all 200 groups", 200, std::nullopt, 200},
        {"no groups stored", 0, std::nullopt, 0},
        {"a block that never comes", 30, Fault::Silence, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        World w(3, c.stored);
        w.findAndShowHistory();
        if (c.fault) {
            FaultRule r;
            r.kind = *c.fault;
            r.onlyCode = 1;
            r.skip = 2;
            r.times = 1;
            w.instrument.addFault(r);
        }
        const int opens = w.port.deviceOpens();
        w.link.requestDownload();
        bool keptThroughout = true;
        for (int ms = 0;
             ms < 60000 && (w.link.Timer_read().enabled() || !w.link.Timer_real().enabled());
             ++ms) {
            w.clock.advance(1);
            if (w.s.blocksread > 0 && !w.port.deviceOpen()) keptThroughout = false;
        }
        EXPECT_TRUE(keptThroughout);
        EXPECT_EQ(w.port.deviceOpens(), opens + 1);
        // Nothing kept: after a time-out the port itself is still open, as after any request.
        EXPECT_EQ(w.port.deviceOpen(), w.port.isOpen());
        w.expectRowsTrue(c.rows);

        // Another program takes the port before the next poll, and lets it go again.
        w.port.setPortBusy(3);
        w.clock.advance(1500);
        EXPECT_EQ(w.ui.comStatus.back(), "COM3被占用");
        w.port.setPortBusy(3, false);
        w.clock.advance(1500);
        EXPECT_EQ(w.ui.comStatus.back(), "COM3已打开");
        w.clock.advance(200);
        EXPECT_FALSE(w.port.deviceOpen());
    }
}

TEST(Download, TimeOutMidDownloadKeepsRowsAndPollingResumes) {
    World w(3, 9);
    w.findAndShowHistory();
    FaultRule silent;
    silent.kind = Fault::Silence;
    silent.onlyCode = 1;
    silent.skip = 2;
    silent.times = 1;
    w.instrument.addFault(silent);
    w.link.requestDownload();
    w.clock.advance(500);
    EXPECT_TRUE(w.ui.isVisible(Control::Progress_read));
    w.clock.advance(2500);
    EXPECT_EQ(w.ui.linkStatus.back(), "通讯失败");
    w.expectRowsTrue(6);
    EXPECT_EQ(w.s.histcount, 9);
    EXPECT_EQ(w.s.commstate, link::kCommTimedOut);
    const auto polls = w.requests(5).size();
    w.clock.advance(1500);
    EXPECT_EQ(w.requests(5).size(), polls + 1);
    EXPECT_EQ(w.ui.linkStatus.back(), "通讯成功");
}

// An instrument, or a link in between, that sends each reply a second time: back to back, or
// some time after it, the copy taking the line like any reply. Whatever it repeats, every row
// is the instrument's own; on virtual time, where nothing else is late, the download completes.
TEST(Download, RepeatedRepliesNeverShiftARow) {
    struct Case {
        const char* what;
        int64_t afterMs;
        std::optional<uint8_t> onlyCode;
        int skip = 0;
        int times = -1;
        int64_t turnaroundMs = 10;
    };
    const Case cases[] = {
        {"back to back", 0, {}},
        {"50 ms after", 50, {}},
        {"150 ms after", 150, {}},
        {"300 ms after", 300, {}},
        {"1000 ms after", 1000, {}},
        {"the count's reply only", 50, protocol::kCodeCount},
        {"three blocks from the sixth", 300, protocol::kCodeHistory, 5, 3},
        {"a slow instrument, 50 ms after", 50, {}, 0, -1, 60},
        {"a slow instrument, back to back", 0, {}, 0, -1, 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World w(3, 200);
        w.instrument.setTurnaroundMs(c.turnaroundMs);
        w.findAndShowHistory();
        FaultRule copy;
        copy.kind = Fault::Duplicate;
        copy.duplicateAfterMs = c.afterMs;
        copy.onlyCode = c.onlyCode;
        copy.skip = c.skip;
        copy.times = c.times;
        w.instrument.addFault(copy);
        w.link.requestDownload();
        for (int ms = 0; ms < 60'000 && !w.link.Timer_real().enabled(); ms += 10) {
            w.clock.advance(10);
        }
        ASSERT_TRUE(w.link.Timer_real().enabled()) << "the download never ended";
        EXPECT_GT(w.instrument.faultsApplied(Fault::Duplicate), 0u);
        w.expectRowsTrue(200);
        EXPECT_EQ(w.ui.progress.back(), 200);
        EXPECT_TRUE(w.ui.isEnabled(Control::TabStrip1));
        // Nothing lands afterwards either, when the last copies come.
        const auto rows = w.ui.rows;
        w.clock.advance(5000);
        EXPECT_EQ(w.ui.rows, rows);
    }
}

TEST(Polling, TimeOutKeepsTheLastReadingAndTheLink) {
    World w(3);
    w.clock.advance(2400 + 1600);
    ASSERT_EQ(w.ui.shown.size(), 1u);
    FaultRule silent;
    silent.kind = Fault::Silence;
    w.instrument.addFault(silent);
    w.clock.advance(4000);  // the poll at 5.4 s times out at 7.9 s
    EXPECT_EQ(w.ui.linkStatus.back(), "通讯失败");
    EXPECT_EQ(w.ui.shown.size(), 1u);
    EXPECT_TRUE(w.s.linkok);
    EXPECT_FALSE(w.ui.isEnabled(Control::Button_read));  // live view
    w.instrument.clearFaults();
    w.clock.advance(1600);
    EXPECT_EQ(w.ui.shown.size(), 2u);
}

}  // namespace
}  // namespace ck::testing
