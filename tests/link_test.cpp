// The link driven byte for byte: the exact reply vectors and the faults a bad line can cause.

#include <gtest/gtest.h>

#include "link/control_sets.h"
#include "link/frames.h"
#include "link/link.h"
#include "link_fakes.h"

namespace ck::testing {
namespace {

using link::Control;
using measure::MeasurementGroup;

Bytes reply(uint8_t code, const Bytes& payload, uint8_t receiver = 0x00) {
    Bytes f = {0xB1, 0x01, receiver, static_cast<uint8_t>(payload.size() + 4), code};
    f.reserve(f.size() + payload.size() + 1);  // spares GCC 12 -O3 a false -Warray-bounds
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(link::Checksum(std::span(f).subspan(1)));
    return f;
}

// Bytes after a frame (line noise, an instrument's filler) bring the count up to the
// receive threshold, so a frame shorter than the one asked for still gets examined.
Bytes pad(Bytes b, std::size_t size) {
    b.resize(std::max(b.size(), size), 0x00);
    return b;
}

MeasurementGroup storedGroup(int i) {
    MeasurementGroup g;
    g.pairAngles = {static_cast<int16_t>(i % 360), 120, 240, 5, 360, 359};
    g.voltages = {static_cast<uint8_t>(i % 255 + 1), 10, 35, 0, 11, 36};
    return g;
}

Bytes blockPayload(int first, int count) {
    Bytes p;
    for (int i = first; i < first + count; ++i) {
        const auto g = measure::EncodeGroup(storedGroup(i), measure::Source::Stored);
        p.insert(p.end(), g.begin(), g.end());
    }
    return p;
}

struct Rig {
    platform::VirtualClock clock;
    ScriptedPort port{clock};
    RecordingControls ui;
    link::Link link{port, clock, ui};
    link::LinkState& s = link.state();

    Rig() { link.Form_Load(); }

    // Instrument on COM3 answering link tests, live requests and history requests for
    // `stored` groups; found and polling when this returns.
    void linkUp(int stored = 7) {
        port.present = {3};
        port.responder = [this, stored](const Bytes& req) -> std::vector<Bytes> {
            switch (req[4]) {
                case 5: return {reply(5, {0x55, 0xAA})};
                case 6: return {reply(6, Bytes(24, 0))};
                case 2: return {reply(2, {static_cast<uint8_t>(stored)})};
                case 1: {
                    const int start = req[5] * 256 + req[6];
                    const int count = std::min(req[7] * 256 + req[8], stored - start);
                    return {reply(1, blockPayload(start, std::max(0, count)))};
                }
            }
            return {};
        };
        clock.advance(2400);
        ASSERT_TRUE(s.linkok);
        ASSERT_EQ(s.portno, 3);
    }

    void toHistoryView() {
        s.realmode = false;  // what the history tab does to the link
        link.Timer_real().setEnabled(true);
    }

    std::vector<std::pair<int, int>> blockRequests() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& w : port.writes) {
            if (w.bytes.size() == 10 && w.bytes[4] == 1) {
                out.emplace_back(w.bytes[5] * 256 + w.bytes[6], w.bytes[7] * 256 + w.bytes[8]);
            }
        }
        return out;
    }
};

// The exchange as the receive event sees it: a request on an open port, then these bytes.
void exchange(Rig& r, uint8_t code, const Bytes& bytes) {
    r.port.present = {1};
    r.link.ComOpen(1);
    r.link.ComSend(1, code, 0, 0, 0);
    r.port.inject(bytes);
    r.clock.advance(1);
}

TEST(Reception, NoiseBeforeTheStartByteIsSkipped) {
    Rig r;
    exchange(r, 5, {0x00, 0xFF, 0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD});
    EXPECT_EQ(r.s.rxcount, 10);
    EXPECT_TRUE(r.s.linkok);
    EXPECT_EQ(r.s.commstate, link::kCommAccepted);
    EXPECT_FALSE(r.link.Timer_timeout().enabled());
    EXPECT_FALSE(r.port.isOpen());
}

TEST(Reception, RejectedRepliesEndInTheTimeOut) {
    struct Case {
        const char* what;
        Bytes bytes;
        uint8_t commstate;
    };
    const Case cases[] = {
        {"receiver not us", {0x00, 0xFF, 0xB1, 0x01, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD}, 1},
        {"bad checksum", {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFC}, 3},
        {"no start byte", Bytes(8, 0x00), 1},
        {"unknown code", reply(9, {0x55, 0xAA}), 2},
        {"length under a header", {0xB1, 0x01, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00}, 1},
        {"link test without room for its pattern", pad(reply(5, {}), 8), 2},
    };
    for (const auto& c : cases) {
        Rig r;
        r.clock.advance(2600);  // past the start-up time-out
        exchange(r, 5, c.bytes);
        EXPECT_EQ(r.ui.linkStatus.back(), "通讯成功") << c.what;  // any bytes count as contact
        EXPECT_FALSE(r.s.linkok) << c.what;
        EXPECT_EQ(r.s.commstate, c.commstate) << c.what;
        r.clock.advance(2500);
        EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败") << c.what;
        EXPECT_EQ(r.s.commstate, link::kCommTimedOut) << c.what;
    }
}

TEST(Reception, LinkTestWithWrongPatternStopsTheTimeOutButConfirmsNothing) {
    Rig r;
    r.clock.advance(2600);
    exchange(r, 5, reply(5, {0x55, 0xAB}));
    EXPECT_FALSE(r.s.linkok);
    EXPECT_FALSE(r.link.Timer_timeout().enabled());
}

TEST(Reception, CountForms) {
    struct Case {
        Bytes bytes;
        int16_t histcount;
    };
    const Case cases[] = {
        {{0xB1, 0x01, 0x00, 0x05, 0x02, 0x07, 0x01}, 7},
        {{0xB1, 0x01, 0x00, 0x06, 0x02, 0x00, 0x0A, 0x0F}, 10},
        {reply(2, {0x01, 0x2C}), 300},
        {reply(2, {0x80, 0x01}), 0x7FFF},  // too large to hold: saturates, never negative
    };
    for (const auto& c : cases) {
        Rig r;
        exchange(r, 2, c.bytes);
        EXPECT_EQ(r.s.histcount, c.histcount);
        // The count starts the download: the first block is asked for at once.
        ASSERT_FALSE(r.port.writes.empty());
        EXPECT_EQ(r.port.writes.back().bytes[4], 1);
    }
}

TEST(Reception, ReplyLongerThanTheCountersAndBuffersIsHandledSafely) {
    Rig r;
    Bytes flood(300, 0xB1);  // start bytes everywhere, lengths that point past every buffer
    exchange(r, 6, flood);
    EXPECT_EQ(r.s.rxcount, 255);
    EXPECT_TRUE(r.ui.shown.empty());
    Bytes junkThenFrame(280, 0x00);
    const Bytes f = reply(5, {0x55, 0xAA});
    junkThenFrame.insert(junkThenFrame.end(), f.begin(), f.end());
    exchange(r, 5, junkThenFrame);  // the frame lies past what can be held: not seen
    EXPECT_FALSE(r.s.linkok);
}

TEST(Reception, FrameCutShortByTheThresholdWaitsForItsRest) {
    Rig r;
    r.port.present = {1};
    r.link.ComOpen(1);
    r.link.ComSend(1, 5, 0, 0, 0);
    r.port.inject({0x00, 0x00, 0x00, 0xB1, 0x01, 0x00, 0x06, 0x05});  // 8 = replylen, not whole
    r.clock.advance(1);
    EXPECT_TRUE(r.port.isOpen());
    EXPECT_FALSE(r.s.linkok);
    r.port.inject({0x55, 0xAA});
    r.clock.advance(1);
    EXPECT_FALSE(r.s.linkok);  // one byte still missing
    r.port.inject({0xFD});
    r.clock.advance(1);
    EXPECT_TRUE(r.s.linkok);
    EXPECT_FALSE(r.port.isOpen());
}

// On a real line the threshold can be met before the length byte is in: the header is waited
// for, then the rest; a header that turns out malformed is rejected then.
TEST(Reception, FrameCutInsideItsHeaderWaitsForTheHeaderThenItsRest) {
    const Bytes good = {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    const Bytes malformed = {0xB1, 0x01, 0x00, 0x02, 0x05, 0x55, 0xAA, 0xFD};
    struct Case {
        const char* what;
        std::size_t noise;  // bytes in front of the frame: 8 - noise of it come with the first 8
        Bytes frame;
        bool accepted;
    };
    const Case cases[] = {
        {"start byte only", 7, good, true},
        {"start and sender", 6, good, true},
        {"all but the length byte", 5, good, true},
        {"malformed length", 6, malformed, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.port.present = {1};
        r.link.ComOpen(1);
        r.link.ComSend(1, 5, 0, 0, 0);
        Bytes line(c.noise, 0x00);
        line.insert(line.end(), c.frame.begin(), c.frame.end());
        r.port.inject(Bytes(line.begin(), line.begin() + 8));
        r.clock.advance(1);
        for (std::size_t i = 8; i < line.size() && r.port.isOpen(); ++i) {
            EXPECT_FALSE(r.s.linkok) << "accepted before byte " << i;
            r.port.inject({line[i]});
            r.clock.advance(1);
        }
        EXPECT_EQ(r.s.linkok, c.accepted);
        EXPECT_FALSE(r.port.isOpen());
        EXPECT_EQ(r.link.Timer_timeout().enabled(), !c.accepted);
        EXPECT_EQ(r.s.rxframe[0], 0xB1);
    }
}

TEST(Reception, ShortLiveReplyNeverShowsOlderBytes) {
    Rig r;
    Bytes payload(24, 0);
    payload[18] = 99;
    exchange(r, 6, reply(6, payload));
    ASSERT_EQ(r.ui.shown.size(), 1u);
    exchange(r, 6, reply(6, Bytes(20, 0)));  // n = 26: the group would be read from stale bytes
    EXPECT_EQ(r.ui.shown.size(), 1u);
    EXPECT_TRUE(r.link.Timer_timeout().enabled());
}

TEST(ComOpen, StatusTexts) {
    Rig r;
    r.port.present = {3, 12};
    r.port.busy = {5};
    for (int n : {3, 4, 5, 12}) r.link.ComOpen(static_cast<int16_t>(n));
    EXPECT_EQ(r.ui.comStatus,
              (std::vector<std::string>{"COM3已打开", "COM4无效", "COM5被占用", "COM12已打开"}));
}

TEST(ComSend, EveryCallAwaitsAReplyAndArmsTheTimeOut) {
    for (int c = 0; c <= 9; ++c) {
        const auto code = static_cast<uint8_t>(c);
        Rig r;
        r.port.present = {1};
        r.link.ComOpen(1);
        r.link.Timer_timeout().setEnabled(false);
        r.s.rxcount = uint8_t{17};
        r.link.ComSend(1, code, 0, 3, 0);
        EXPECT_EQ(r.s.commstate, link::kCommAwaiting);
        EXPECT_EQ(r.s.rxcount, 0);
        EXPECT_TRUE(r.link.Timer_timeout().enabled());
        EXPECT_EQ(r.port.writes.size(), code >= 1 && code <= 6 ? 1u : 0u) << int(code);
        EXPECT_EQ(r.port.rThreshold(), code >= 1 && code <= 6 ? int{r.s.replylen} : 0) << int(code);
    }
}

TEST(Download, SevenGroups) {
    Rig r;
    r.linkUp(7);
    r.toHistoryView();
    r.link.Button_read_Click();
    for (Control c : {Control::Button_read, Control::menuread, Control::Button_clear,
                      Control::TabStrip1, Control::menuhelp}) {
        EXPECT_FALSE(r.ui.isEnabled(c));
    }
    r.clock.advance(2000);
    EXPECT_EQ(r.blockRequests(), (std::vector<std::pair<int, int>>{{0, 3}, {3, 3}, {6, 1}}));
    EXPECT_EQ(r.ui.progress, (std::vector<int>{0, 3, 6, 7}));
    ASSERT_EQ(r.ui.rows.size(), 7u);
    for (int row = 1; row <= 7; ++row) EXPECT_EQ(r.ui.rows[row], storedGroup(row - 1));
    EXPECT_EQ(r.s.histcount, 7);
    EXPECT_EQ(r.s.blocksread, 0);
    EXPECT_FALSE(r.ui.isVisible(Control::Progress_read));
    EXPECT_TRUE(r.ui.isEnabled(Control::Button_read));
    EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
    EXPECT_TRUE(r.link.Timer_real().enabled());
}

TEST(Download, ShortBlockAloneEndsInTheTimeOutWithNothingMisplaced) {
    Rig r;
    r.linkUp(8);
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (req[4] == 1 && req[6] == 3) return {reply(1, blockPayload(3, 2))};  // 54 of 78 bytes
        return full(req);
    };
    r.toHistoryView();
    r.link.Button_read_Click();
    r.clock.advance(2000);
    EXPECT_EQ(r.ui.rows.size(), 3u);
    r.clock.advance(1000);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
    EXPECT_EQ(r.ui.rows.size(), 3u);
    EXPECT_EQ(r.blockRequests().size(), 2u);
    EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
}

TEST(Download, ShortBlockLosesNothing) {
    Rig r;
    r.linkUp(8);
    auto full = r.port.responder;
    int blocks = 0;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (req[4] == 1 && ++blocks == 1) return {pad(reply(1, blockPayload(0, 2)), 78)};
        return full(req);
    };
    r.toHistoryView();
    r.link.Button_read_Click();
    r.clock.advance(2000);
    EXPECT_EQ(r.blockRequests(), (std::vector<std::pair<int, int>>{{0, 3}, {2, 3}, {5, 3}}));
    ASSERT_EQ(r.ui.rows.size(), 8u);
    for (int row = 1; row <= 8; ++row) EXPECT_EQ(r.ui.rows[row], storedGroup(row - 1));
}

TEST(Download, EmptyOrPartialGroupsEndTheDownloadAsAFailure) {
    Rig r;
    r.linkUp(7);
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (req[4] == 1 && req[6] == 3) return {pad(reply(1, Bytes(23, 0)), 78)};  // no whole group
        return full(req);
    };
    r.toHistoryView();
    r.link.Button_read_Click();
    r.clock.advance(1000);
    EXPECT_EQ(r.blockRequests().size(), 2u);
    EXPECT_EQ(r.ui.rows.size(), 3u);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
    EXPECT_FALSE(r.ui.isVisible(Control::Progress_read));
    EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
    EXPECT_EQ(r.s.blocksread, 0);
}

TEST(Download, CountBeyondTheTableFetchesTheFirst200Once) {
    for (Bytes count : {Bytes{0x01, 0x2C}, Bytes{0x80, 0x01}, Bytes{0xFF, 0xFF}}) {
        Rig r;
        r.linkUp(400);
        auto full = r.port.responder;
        r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
            if (req[4] == 2) return {reply(2, count)};
            return full(req);
        };
        r.toHistoryView();
        r.link.Button_read_Click();
        r.clock.advance(20000);
        const auto reqs = r.blockRequests();
        ASSERT_EQ(reqs.size(), 67u);
        EXPECT_EQ(reqs.back(), (std::pair<int, int>{198, 2}));
        ASSERT_EQ(r.ui.rows.size(), 200u);
        EXPECT_EQ(r.ui.rows.rbegin()->first, 200);
        for (int row = 1; row <= 200; ++row) ASSERT_EQ(r.ui.rows[row], storedGroup(row - 1));
        EXPECT_EQ(r.ui.progressMax, 200);
        EXPECT_EQ(r.ui.progress.back(), 200);
        EXPECT_GT(r.s.histcount, 200);
        EXPECT_TRUE(r.ui.isEnabled(Control::TabStrip1));
    }
}

TEST(Download, LateBlockAfterTheTimeOutLandsNowhere) {
    Rig r;
    r.linkUp(7);
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (req[4] == 1 && req[6] == 3) {
            r.port.injectLater(full(req)[0], 3000);  // after the time-out, port still open
            return {};
        }
        return full(req);
    };
    r.toHistoryView();
    r.link.Button_read_Click();
    r.link.Timer_real().setInterval(100000);  // keep polling from reopening the port
    r.clock.advance(300);
    ASSERT_EQ(r.ui.rows.size(), 3u);
    r.clock.advance(2350);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
    r.clock.advance(500);
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯成功");  // the late block did arrive
    EXPECT_EQ(r.ui.fills.size(), 1u);  // the late block did not land in rows 1..3 again
    EXPECT_EQ(r.blockRequests().size(), 2u);
}

TEST(Download, ZeroGroupsShowsTheMessageThenPollingResumes) {
    Rig r;
    r.linkUp(0);
    r.toHistoryView();
    bool realWhileOpen = true;
    r.ui.whileMessageOpen = [&] { realWhileOpen = r.link.Timer_real().enabled(); };
    r.link.Button_read_Click();
    r.clock.advance(100);
    ASSERT_EQ(r.ui.messages.size(), 1u);
    EXPECT_EQ(r.ui.messages[0].first, "设备的测量历史记录组数为0！");
    EXPECT_FALSE(realWhileOpen);
    EXPECT_TRUE(r.link.Timer_real().enabled());
    EXPECT_TRUE(r.blockRequests().empty());
    EXPECT_TRUE(r.ui.isEnabled(Control::Button_read));
}

TEST(Download, CountReplyOfAnotherLengthStartsNothing) {
    Rig r;
    r.linkUp(7);
    r.s.histcount = 5;  // from an earlier download
    auto full = r.port.responder;
    r.port.responder = [&](const Bytes& req) -> std::vector<Bytes> {
        if (req[4] == 2) return {reply(2, {0, 0, 7})};
        return full(req);
    };
    r.toHistoryView();
    r.link.Button_read_Click();
    r.clock.advance(3000);
    EXPECT_TRUE(r.blockRequests().empty());
    EXPECT_EQ(r.ui.linkStatus.back(), "通讯失败");
}

}  // namespace
}  // namespace ck::testing
