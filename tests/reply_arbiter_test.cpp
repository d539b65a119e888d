// SPDX-License-Identifier: MIT
// The reply arbiter's rules as a table: what was asked and when, which bytes came with which
// arrival times, and the decisions that must come out, each with its reason.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link/frames.h"
#include "link/protocol.h"
#include "link/reply_arbiter.h"
#include "measure/measurement.h"

namespace ck::link {
namespace {

using namespace protocol;
using Bytes = std::vector<uint8_t>;

const char* Name(Action a) {
    constexpr const char* kNames[] = {"Take",      "TakeProvisionally", "Commit",  "Retract",
                                      "HoldUntil", "AskAgain",          "PassOver"};
    return kNames[static_cast<int>(a)];
}
const char* Name(Reason r) {
    constexpr const char* kNames[] = {"Answer",
                                      "Fresh",
                                      "SameAsShown",
                                      "RepeatOnTime",
                                      "RepeatConfirmed",
                                      "Repeat",
                                      "MayAnswerPrevious",
                                      "NextAnswerOnTime",
                                      "Silence",
                                      "SomethingFollowed",
                                      "Unconfirmed",
                                      "Ambiguous",
                                      "Superseded",
                                      "Stale",
                                      "NotAnAnswer",
                                      "OtherReceiver",
                                      "BadChecksum",
                                      "Damaged",
                                      "Noise",
                                      "NotAwaited"};
    return kNames[static_cast<int>(r)];
}

Bytes Reply(uint8_t code, const Bytes& payload, uint8_t receiver = kHostAddress) {
    return MakeFrame(kReplyStart, kInstrumentAddress, receiver, code, payload);
}
// A block of three stored groups, told apart by `id`.
Bytes Block(int id) {
    Bytes p;
    for (int g = 0; g < 3; ++g) {
        measure::MeasurementGroup m;
        m.pairAngles = {static_cast<int16_t>(id), static_cast<int16_t>(g), 240, 5, 360, 359};
        m.voltages = {10, 10, 35, 0, 11, 36};
        const auto e = measure::EncodeGroup(m, measure::Source::Stored);
        p.insert(p.end(), e.begin(), e.end());
    }
    return Reply(kCodeHistory, p);
}
Bytes Live(int kv) {
    measure::MeasurementGroup m;
    m.voltages = {static_cast<uint8_t>(kv), 10, 35, 10, 10, 35};
    const auto e = measure::EncodeGroup(m, measure::Source::Live);
    return Reply(kCodeLive, Bytes(e.begin(), e.end()));
}
const Bytes kLinkAnswer = Reply(kCodeLinkTest, {0x55, 0xAA});

// The arbiter with a clock the test moves, and what it decided, as "Action Reason".
struct Bench {
    ReplyArbiter a;
    int64_t nowUs = 1'000'000;
    std::vector<std::string> said;
    uint32_t serial = 1;
    Question q;

    void note(const std::vector<Decision>& ds) {
        for (const Decision& d : ds)
            said.push_back(std::string(Name(d.action)) + " " + Name(d.reason));
    }
    // A request written now.
    void ask(uint8_t code, int16_t start = 0, bool again = false) {
        const auto r = BuildRequest(kInstrumentAddress, code, start, 3, 0);
        if (!again) ++serial;
        q = Question{code,        start,           code == kCodeHistory ? int16_t{3} : int16_t{0},
                     r->replylen, r->bytes.size(), serial};
        note(a.asked(q, nowUs));
    }
    // Bytes at the pace of the line, the first beginning `afterUs` after now; the clock moves
    // to the last of them.
    void paced(const Bytes& b, int64_t afterUs) {
        std::vector<int64_t> t;
        for (std::size_t i = 0; i < b.size(); ++i)
            t.push_back(nowUs + afterUs + LineTimeUs(static_cast<int64_t>(i + 1)));
        nowUs = t.back();
        note(a.received(b, t));
    }
    // Bytes all at once, `afterUs` from now (a native-USB read, a radio piece).
    void burst(const Bytes& b, int64_t afterUs) {
        nowUs += afterUs;
        note(a.received(b, std::vector<int64_t>(b.size(), nowUs)));
    }
    // Bytes stamped before now: taken from the device before the request was written.
    void before(const Bytes& b) { note(a.received(b, std::vector<int64_t>(b.size(), nowUs - 1))); }
    // Time passes; the arbiter's deadline is kept when it comes.
    void wait(int64_t us) {
        const int64_t until = nowUs + us;
        while (const auto due = a.deadlineUs()) {
            if (*due > until) break;
            nowUs = std::max(nowUs, *due);
            note(a.at(nowUs));
        }
        nowUs = until;
    }
    // Replies that make the line steady: paced blocks 10 ms after their requests.
    void steadyLine() {
        for (int k = 0; k < 3; ++k) {
            ask(kCodeHistory, static_cast<int16_t>(300 + 3 * k));
            paced(Block(900 + k), LineTimeUs(10) + 10'000);
        }
        said.clear();
    }
};

const int64_t kBlockRequestUs = LineTimeUs(10);

TEST(ReplyArbiter, Rules) {
    struct Case {
        const char* rule;
        std::function<void(Bench&)> run;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        // What cannot be the reply.
        {"a frame taken from the device before the request was written is not its reply",
         [](Bench& b) {
             b.ask(kCodeLinkTest);
             b.before(kLinkAnswer);
             b.burst(kLinkAnswer, 20'000);
         },
         {"PassOver Stale", "Take Answer"}},
        {"a reply with another code, another receiver, a bad checksum, a cut frame and noise "
         "are passed over and the reply behind them is found",
         [](Bench& b) {
             b.ask(kCodeCount);
             Bytes bad = Reply(kCodeCount, {7});
             bad.back() ^= 0xFF;
             Bytes all = {0x00, 0x7E};
             for (const Bytes& f : {Live(9), Reply(kCodeCount, {7}, 0x02), bad,
                                    Bytes{0xB1, 0x01, 0x00, 0x05}, Reply(kCodeCount, {7})}) {
                 all.insert(all.end(), f.begin(), f.end());
             }
             b.paced(all, 5'000);
         },
         {"PassOver Noise", "PassOver NotAnAnswer", "PassOver OtherReceiver",
          "PassOver BadChecksum", "PassOver Damaged", "Take Fresh"}},
        {"nothing is awaited after the time-out: a block is passed over",
         [](Bench& b) {
             b.ask(kCodeHistory, 0);
             b.note(b.a.timedOut());
             b.paced(Block(1), 3'000'000);
         },
         {"PassOver NotAwaited"}},
        {"... but a live reading that repeats nothing older is still taken",
         [](Bench& b) {
             b.ask(kCodeLive);
             b.note(b.a.timedOut());
             b.paced(Live(9), 3'000'000);
         },
         {"Take NotAwaited"}},
        // Fresh answers, whatever the pace.
        {"a native-USB reply, whole within a millisecond of the request, is taken",
         [](Bench& b) {
             b.ask(kCodeLinkTest);
             b.burst(kLinkAnswer, 300);
         },
         {"Take Answer"}},
        {"a data reply no recent frame carries is taken at once, burst or paced",
         [](Bench& b) {
             b.ask(kCodeHistory, 0);
             b.burst(Block(1), 400);
             b.ask(kCodeHistory, 3);
             b.paced(Block(2), kBlockRequestUs + 10'000);
         },
         {"Take Fresh", "Take Fresh"}},
        // Repeats, on any transport.
        {"a repeat alone is held, asked again, and taken when the same comes again alone",
         [](Bench& b) {
             b.ask(kCodeHistory, 0);
             b.burst(Block(1), 400);
             b.ask(kCodeHistory, 3);
             b.burst(Block(1), 400);
             b.wait(600'000);
             b.ask(kCodeHistory, 3, true);
             b.burst(Block(1), 400);
             b.wait(600'000);
         },
         {"Take Fresh", "HoldUntil Repeat", "PassOver Unconfirmed", "AskAgain Unconfirmed",
          "HoldUntil Repeat", "Take RepeatConfirmed"}},
        {"a fresh reply behind a held repeat is taken instead",
         [](Bench& b) {
             b.ask(kCodeHistory, 0);
             b.burst(Block(1), 400);
             b.ask(kCodeHistory, 3);
             b.burst(Block(1), 400);
             b.burst(Block(2), 2'000);
         },
         {"Take Fresh", "HoldUntil Repeat", "PassOver Superseded", "Take Fresh"}},
        {"two different repeats: neither, and asked again",
         [](Bench& b) {
             b.ask(kCodeHistory, 0);
             b.burst(Block(1), 400);
             b.ask(kCodeHistory, 3);
             b.burst(Block(2), 400);
             b.ask(kCodeHistory, 6);
             b.burst(Block(1), 400);
             b.burst(Block(2), 400);
             b.wait(600'000);
         },
         {"Take Fresh", "Take Fresh", "HoldUntil Repeat", "HoldUntil Repeat", "PassOver Ambiguous",
          "PassOver Ambiguous", "AskAgain Ambiguous"}},
        {"a damaged frame after a repeat may be the reply: no confirmation from this asking",
         [](Bench& b) {
             b.ask(kCodeHistory, 0);
             b.burst(Block(1), 400);
             b.ask(kCodeHistory, 3);
             Bytes bad = Block(2);
             bad.back() ^= 0xFF;
             b.burst(Block(1), 400);
             b.burst(bad, 400);
             b.wait(600'000);
         },
         {"Take Fresh", "HoldUntil Repeat", "PassOver BadChecksum", "PassOver Ambiguous",
          "AskAgain Ambiguous"}},
        {"a copy of a held frame is no fresh answer either",
         [](Bench& b) {
             b.ask(kCodeHistory, 0);
             b.burst(Block(1), 400);
             b.ask(kCodeHistory, 3);
             b.burst(Block(1), 400);
             b.burst(Block(1), 400);
         },
         {"Take Fresh", "HoldUntil Repeat", "HoldUntil Repeat"}},
        // The fast path: only where the arrival times show a steady line.
        {"on a steady line a repeat on time is taken provisionally, and stands when the next "
         "reply comes first, on time",
         [](Bench& b) {
             b.steadyLine();
             b.ask(kCodeHistory, 0);
             b.paced(Block(900), kBlockRequestUs + 10'000);
             b.ask(kCodeHistory, 3);
             b.paced(Block(900), kBlockRequestUs + 10'000);
         },
         {"TakeProvisionally RepeatOnTime", "TakeProvisionally RepeatOnTime",
          "Commit NextAnswerOnTime"}},
        {"... and is retracted when the reply a copy stood in front of follows it back to back",
         [](Bench& b) {
             b.steadyLine();
             b.ask(kCodeHistory, 0);
             b.paced(Block(900), kBlockRequestUs + 10'000);
             b.ask(kCodeHistory, 3);
             b.paced(Block(7), 0);       // began before this request could be heard
             b.paced(Block(8), 10'000);  // and the reply to this request behind it
             b.wait(1'000'000);
         },
         {"TakeProvisionally RepeatOnTime", "Retract SomethingFollowed",
          "HoldUntil MayAnswerPrevious", "HoldUntil MayAnswerPrevious", "PassOver Ambiguous",
          "PassOver Ambiguous", "AskAgain Ambiguous"}},
        {"the last block stands after silence",
         [](Bench& b) {
             b.steadyLine();
             b.ask(kCodeHistory, 0);
             b.paced(Block(900), kBlockRequestUs + 10'000);
             b.wait(1'000'000);
         },
         {"TakeProvisionally RepeatOnTime", "Commit Silence"}},
        {"a repeat that comes late, or as a burst, is held like on any line",
         [](Bench& b) {
             b.steadyLine();
             b.ask(kCodeHistory, 0);
             b.paced(Block(900), kBlockRequestUs + 40'000);
             b.ask(kCodeHistory, 3);
             b.burst(Block(901), kBlockRequestUs + 80'000);
         },
         {"HoldUntil Repeat", "PassOver NotAwaited", "HoldUntil Repeat"}},
        // Live readings.
        {"a reading equal to the one shown is shown at once, and a fresh one behind it still",
         [](Bench& b) {
             b.ask(kCodeLive);
             b.paced(Live(9), 10'000);
             b.ask(kCodeLive);
             b.paced(Live(9), 10'000);
             b.paced(Live(12), 0);
         },
         {"Take Fresh", "TakeProvisionally SameAsShown", "Take Fresh"}},
        {"... or it stands after silence",
         [](Bench& b) {
             b.ask(kCodeLive);
             b.paced(Live(9), 10'000);
             b.ask(kCodeLive);
             b.paced(Live(9), 10'000);
             b.wait(1'000'000);
         },
         {"Take Fresh", "TakeProvisionally SameAsShown", "Commit Silence"}},
        {"a reading equal to an older one is shown after silence: asked again, the instrument "
         "would tell of a new moment",
         [](Bench& b) {
             b.ask(kCodeLive);
             b.paced(Live(9), 10'000);
             b.ask(kCodeLive);
             b.paced(Live(12), 10'000);
             b.ask(kCodeLive);
             b.paced(Live(9), 10'000);
             b.wait(1'000'000);
         },
         {"Take Fresh", "Take Fresh", "HoldUntil Repeat", "Take Silence"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        Bench b;
        c.run(b);
        EXPECT_EQ(b.said, c.said);
    }
}

// The arbiter's state and what it waits for follow its decisions.
TEST(ReplyArbiter, StateDeadlineAndBytesWanted) {
    Bench b;
    EXPECT_EQ(b.a.state(), ArbiterState::Idle);
    b.ask(kCodeHistory, 0);
    EXPECT_EQ(b.a.state(), ArbiterState::Listening);
    EXPECT_EQ(b.a.bytesWanted(), 78u);
    EXPECT_FALSE(b.a.deadlineUs());
    const Bytes block = Block(1);
    b.burst(Bytes(block.begin(), block.begin() + 2), 400);  // a frame begun
    EXPECT_EQ(b.a.bytesWanted(), 2u);                       // its header first
    const Bytes rest(block.begin() + 2, block.end());
    b.burst(Bytes(rest.begin(), rest.begin() + 2), 100);
    EXPECT_EQ(b.a.bytesWanted(), 74u);  // then the rest
    b.burst(Bytes(rest.begin() + 2, rest.end()), 100);
    EXPECT_EQ(b.a.state(), ArbiterState::Idle);
    b.ask(kCodeHistory, 3);
    b.burst(Block(1), 400);
    EXPECT_EQ(b.a.state(), ArbiterState::Holding);
    EXPECT_EQ(b.a.bytesWanted(), 1u);  // anything at all tells about a held repeat
    ASSERT_TRUE(b.a.deadlineUs());
    EXPECT_GT(*b.a.deadlineUs(), b.nowUs);
    EXPECT_LE(*b.a.deadlineUs(), b.nowUs + ReplyArbiter::kMaxSettleUs);
}

}  // namespace
}  // namespace ck::link
