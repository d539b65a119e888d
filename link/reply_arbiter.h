// SPDX-License-Identifier: MIT
#pragma once
// Which received bytes answer which request. The link tells the arbiter what it asked and when
// the request was written, and hands it every byte the port gives (also those the port drops
// unread) with the time it was taken from the device; the arbiter answers with decisions: take
// this frame, take it provisionally, commit or retract a provisional one, hold a frame until a
// moment, ask the same again, or pass bytes over, each with its reason. Every frame and every
// run of other bytes gets exactly one final decision (a take, a provisional take or a pass).
//
// What it builds on holds on every transport (a UART behind a USB adapter, a native-USB port, a
// radio link, a pseudo-terminal): a byte that arrived before the request was written is not
// its reply; bytes come in order; a frame is whole or damaged; the instrument answers one
// request at a time. On top of that, content: a data reply that no recent frame for another
// question carries cannot be a copy. Arrival times are only ever used to decide faster, never
// to refuse an answer: where they show a steady 9600-baud line, a reply that repeats an earlier
// one but comes when replies come is taken provisionally, and stands once the next exchange
// shows nothing came behind it.
//
// No timers, no clock of its own, no Qt: the link calls at() when deadlineUs() has come.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace ck::link {

// What a request asks. The instrument gives the same answer to the same question; a new serial
// makes a new question (each live poll asks about a new moment, each download about what is
// stored now).
struct Question {
    uint8_t code = 0;  // the command code; 0 for nothing the instrument answers
    int16_t start = 0;
    int16_t count = 0;
    std::size_t replyLength = 0;    // bytes the reply will have
    std::size_t requestLength = 0;  // the request's own bytes on the line
    uint32_t serial = 0;
    // Asking the same again: same code, start and serial.
    bool sameAs(const Question& o) const {
        return code == o.code && start == o.start && serial == o.serial;
    }
};

enum class Action : uint8_t {
    Take,               // the reply to the question: act on it
    TakeProvisionally,  // act on it now; a block's rows wait for Commit, a live reading may
                        // still be replaced by a fresh one behind it
    Commit,             // a provisional take stands
    Retract,            // a provisional block does not: its rows stay empty, ask for it again
    HoldUntil,          // may be the reply: wait until untilUs for what comes behind it
    AskAgain,           // send the same request again
    PassOver,           // not the reply
};

enum class Reason : uint8_t {
    Answer,             // answers the question and carries no data (link test, notice)
    Fresh,              // data that no recent frame for another question carries
    SameAsShown,        // a live reading equal to the one on the panel
    RepeatOnTime,       // repeats another frame, but came on a steady line when replies come
    RepeatConfirmed,    // asked again, the same came again, alone and whole
    Repeat,             // byte for byte a frame seen for another question: may be a late copy
    MayAnswerPrevious,  // came, after a provisional block was retracted, where that block's
                        // own reply may be: it is confirmed like a repeat
    NextAnswerOnTime,   // the next exchange's answer came first, when replies come
    Silence,            // nothing came after it where the reply would be
    SomethingFollowed,  // bytes came after it before the next answer could have
    Unconfirmed,        // a repeat alone that no earlier asking of the question saw, or that
                        // did not come when replies come
    Ambiguous,          // different repeats, or a damaged frame, where the reply may be
    Superseded,         // a held repeat, after another frame was taken instead
    Stale,              // began before the request was written
    NotAnAnswer,        // its code does not answer the question
    OtherReceiver,      // addressed to another receiver
    BadChecksum,        // whole, checksum wrong
    Damaged,            // a start byte whose frame cannot be whole: impossible length, or cut
    Noise,              // bytes that begin no frame
    NotAwaited,         // no question is out: answered, superseded or timed out
};

struct Decision {
    Action action = Action::PassOver;
    Reason reason = Reason::Noise;
    Question question;           // what it was decided for (code 0: nothing was asked)
    uint64_t at = 0;             // place of its first byte in the stream of received bytes
    std::size_t length = 0;      // bytes it covers; 0 for a decision about a question only
    std::vector<uint8_t> frame;  // Take, TakeProvisionally: the frame's bytes
    int64_t untilUs = 0;         // HoldUntil
};

// What a final decision about received bytes covers (a take, a provisional take, a pass): the
// bytes and when the last of them came. Empty for every other decision.
struct DecidedBytes {
    std::span<const uint8_t> bytes;
    int64_t lastUs = 0;
};

enum class ArbiterState : uint8_t {
    Idle,       // no question out: what comes is passed over
    Listening,  // a question out, nothing that may answer it yet
    Holding,    // one or more repeats that may answer it, held until silence tells
};

class ReplyArbiter {
public:
    // Frames this long and longer span several packets of a USB adapter, so their arrival
    // times can show a line's pace; shorter ones arrive in one piece on any transport.
    static constexpr std::size_t kPacedMinimum = 30;
    // A frame shows pace when its bytes fit a line within kLineTolerancePercent of 9600 baud,
    // each taken from the device at most this long after it arrived (a USB adapter hands bytes
    // over up to 16 ms late).
    static constexpr int64_t kMaxLateUs = 20'000;
    // The line is steady when the soonest three of the last few paced replies began within
    // this of each other after their requests ...
    static constexpr int64_t kSteadySpreadUs = 5'000;
    static constexpr std::size_t kSteadyReplies = 3;
    // ... and a reply is on time when it began no sooner than this before them, and no later
    // than kOnTimeLateUs after the latest of them.
    static constexpr int64_t kOnTimeUs = 3'000;
    static constexpr int64_t kOnTimeLateUs = 8'000;
    // How long to wait after a repeat for what may follow it, from the spread of recent reply
    // times, within these bounds.
    static constexpr int64_t kMinSettleUs = 30'000;
    static constexpr int64_t kMaxSettleUs = 500'000;
    // Frames seen are remembered this long for telling a repeat.
    static constexpr int64_t kMemoryUs = 10'000'000;

    // Every decision passes here as it is made, with a view of its bytes valid for the call
    // only; nothing is done when unset.
    using Observer = std::function<void(const Decision&, const DecidedBytes&)>;
    void setObserver(Observer observer) { observer_ = std::move(observer); }

    // A request for q was written at writtenUs (on the clock the bytes are stamped with). The
    // same question again continues what earlier askings saw.
    std::vector<Decision> asked(const Question& q, int64_t writtenUs);
    // The link gives up the question without an answer (a new request is on its way).
    std::vector<Decision> abandon();
    // Bytes from the port, each with the time it was taken from the device.
    std::vector<Decision> received(std::span<const uint8_t> bytes,
                                   std::span<const int64_t> stampsUs);
    // It is nowUs: a deadline may have come.
    std::vector<Decision> at(int64_t nowUs);
    // The reply time-out fired: nothing is awaited any more. A live reading that still comes
    // and repeats nothing older is still taken, so the panel shows the latest reading.
    std::vector<Decision> timedOut();
    // Bytes still undecided (a frame that never became whole) are passed over.
    std::vector<Decision> flush();

    ArbiterState state() const { return state_; }
    // When at() must be called next, if at all.
    std::optional<int64_t> deadlineUs() const;
    // Bytes to wait for before the next call of received() can decide something.
    std::size_t bytesWanted() const;
    // Bytes received so far: where the next byte will sit in the stream.
    uint64_t streamEnd() const { return base_ + buf_.size(); }
    bool provisionalPending() const { return provisional_.has_value(); }

private:
    struct Seen {
        std::vector<uint8_t> frame;
        Question question;  // code 0: seen for no question
        int64_t atUs = 0;
    };
    struct Held {
        uint64_t at = 0;
        std::vector<uint8_t> frame;
        int64_t firstUs = 0, lastUs = 0;
        int64_t firstDelayUs = 0;
        bool paced = false;
        std::optional<int64_t> paceDelayUs;  // when it showed pace
        bool firstInAsk = false;             // nothing came before it since the request
        Reason reason = Reason::Repeat;
    };
    struct Provisional {
        Question question;
        uint64_t at = 0;
        std::size_t length = 0;
        int64_t untilUs = 0;  // silence until then lets it stand
    };
    enum class Shape : uint8_t { Valid, Pending, OtherReceiver, BadChecksum, Malformed };
    struct Classified {
        Shape shape = Shape::Pending;
        std::size_t length = 0;
    };

    void publish(Decision d, DecidedBytes covered = {});
    // About bytes still in buf_.
    void decide(Action a, Reason r, uint64_t at, std::size_t n);
    void decideFor(Action a, Reason r, const Question& q, uint64_t at = 0, std::size_t n = 0,
                   int64_t untilUs = 0, DecidedBytes covered = {});
    // Whatever waited for the question out is given up.
    void giveUp();
    void resolve();
    Classified classify(std::size_t i) const;
    std::size_t nextStart(std::size_t from, std::size_t to) const;
    // Passes over what lies in [from, to) of buf_ (no valid frame begins there). With cut, a
    // frame that would reach past `to` is damaged; without, the bytes from it on wait.
    std::size_t passOverUnits(std::size_t from, std::size_t to, bool cut);
    void unit(Reason r, std::size_t i, std::size_t n);
    void judge(std::size_t i, std::size_t n);
    void judgeForQuestion(std::size_t i, std::size_t n, bool suspect);
    void judgeFrame(std::size_t i, std::size_t n, bool suspect);
    void take(Action a, Reason r, std::size_t i, std::size_t n);
    void hold(Reason r, std::size_t i, std::size_t n);
    void decideHeld(int64_t nowUs);
    void passHeld(Reason r);
    void retract(const Provisional& p, Reason r);
    void endQuestion();

    bool fresh(std::span<const uint8_t> frame) const;
    void remember(std::span<const uint8_t> frame, const Question& q, int64_t atUs);
    bool paced(std::size_t i, std::size_t n) const;
    // How long after the request was heard, at the line's nominal pace, the frame began.
    int64_t paceDelayUs(std::size_t i, std::size_t n) const;
    bool steady() const;
    bool onTime(std::size_t i, std::size_t n, bool lateToo) const;
    void noteTiming(std::size_t i, std::size_t n);
    int64_t settleUs() const;
    // How long a held or provisional frame waits for silence behind it.
    int64_t holdSettleUs() const;
    // How long after its request a reply's first byte comes at most, the latest quarter
    // left out.
    int64_t typicalMaxFirstDelayUs() const;
    // On a steady line, it came when replies come: a held frame that did not cannot
    // confirm a repeat.
    bool inReplyWindow(const Held& h) const;
    int64_t lastStampUs() const;
    // A frame begun since then is still arriving.
    bool arrivingSince(int64_t sinceUs) const;

    Observer observer_;
    std::vector<Decision> out_;

    // The stream: every byte received, from base_ on; those before decided_ have their
    // decision and are dropped.
    std::vector<uint8_t> buf_;
    std::vector<int64_t> stamps_;
    uint64_t base_ = 0;

    // The question out.
    ArbiterState state_ = ArbiterState::Idle;
    Question q_;
    bool awaiting_ = false;  // q_ is out and unanswered
    int64_t writtenUs_ = 0;
    int asks_ = 0;                 // times q_ was asked
    bool spoiled_ = false;         // this asking saw a damaged frame after its request
    bool tainted_ = false;         // a provisional block was retracted during this asking
    bool tookNow_ = false;         // the frame just judged was taken
    bool seenSinceWrite_ = false;  // bytes came since the request was written
    int windowMisses_ = 0;         // repeats alone for this question, outside the timing window
    std::vector<Held> held_;
    int64_t holdUntilUs_ = 0;
    std::vector<std::vector<uint8_t>> earlier_;  // repeats earlier askings of q_ saw
    bool timedOutLive_ = false;                  // the live question that timed out
    // A live reading equal to the shown one was taken; a fresh one may still come.
    bool shownPending_ = false;
    int64_t shownUntilUs_ = 0;
    std::vector<uint8_t> shown_;  // the live reading last taken

    std::optional<Provisional> provisional_;
    std::vector<Question> retracted_;  // asked again after a retraction: no provisional take

    std::deque<Seen> memory_;
    std::deque<int64_t> firstDelaysUs_;  // request written to first byte, recent replies
    std::deque<int64_t> paceDelaysUs_;   // paceDelayUs() of recent paced replies
    std::deque<int64_t> innerGapsUs_;    // the longest silence inside each recent frame
};

}  // namespace ck::link
