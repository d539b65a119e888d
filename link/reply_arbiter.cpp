// SPDX-License-Identifier: MIT
#include "link/reply_arbiter.h"

#include <algorithm>
#include <utility>

#include "link/frames.h"
#include "link/protocol.h"

namespace ck::link {
namespace {

using namespace protocol;

constexpr std::size_t kFirstDelaysKept = 9;
constexpr std::size_t kPaceDelaysKept = 5;
constexpr std::size_t kMemoryKept = 512;
constexpr std::size_t kRetractedKept = 64;
// Before any reply has shown how soon this instrument answers, a repeat is held for its own
// line time and this.
constexpr int64_t kFirstSettleUs = 200'000;
// Beyond the spread of recent reply times, for the scheduler and the transport.
constexpr int64_t kSettleMarginUs = 20'000;
// How much sooner or later than recent replies a repeat may come and still confirm one.
constexpr int64_t kReplyWindowMarginUs = 5'000;

// Replies whose content ends up in the window; only these can be told from a copy by content.
constexpr bool CarriesData(uint8_t code) {
    return code == kCodeHistory || code == kCodeCount || code == kCodeLive;
}

bool Equal(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

void ReplyArbiter::publish(Decision d, DecidedBytes covered) {
    if (observer_) {
        if (covered.bytes.empty()) covered.bytes = d.frame;
        observer_(d, covered);
    }
    out_.push_back(std::move(d));
}

void ReplyArbiter::decide(Action a, Reason r, uint64_t at, std::size_t n) {
    DecidedBytes covered;
    if (n > 0 && at >= base_ && at - base_ + n <= buf_.size()) {
        const auto i = static_cast<std::size_t>(at - base_);
        covered = {std::span(buf_).subspan(i, n), stamps_[i + n - 1]};
    }
    decideFor(a, r, awaiting_ ? q_ : Question{}, at, n, 0, covered);
}

void ReplyArbiter::decideFor(Action a, Reason r, const Question& q, uint64_t at, std::size_t n,
                             int64_t untilUs, DecidedBytes covered) {
    Decision d;
    d.action = a;
    d.reason = r;
    d.question = q;
    d.at = at;
    d.length = n;
    d.untilUs = untilUs;
    publish(std::move(d), covered);
}

void ReplyArbiter::giveUp() {
    if (awaiting_) passHeld(Reason::NotAwaited);
    // A reading shown as equal to the one before: nothing came behind it while awaited.
    if (shownPending_) decideFor(Action::Commit, Reason::NotAwaited, q_);
    shownPending_ = false;
}

std::vector<Decision> ReplyArbiter::asked(const Question& q, int64_t writtenUs) {
    giveUp();
    const bool again = asks_ > 0 && q.sameAs(q_);
    if (!again) {
        earlier_.clear();
        asks_ = 0;
    }
    q_ = q;
    writtenUs_ = writtenUs;
    ++asks_;
    spoiled_ = false;
    tainted_ = false;
    seenSinceWrite_ = false;
    if (!again) windowMisses_ = 0;
    held_.clear();
    shownPending_ = false;
    timedOutLive_ = false;
    awaiting_ = q.code != 0;
    state_ = awaiting_ ? ArbiterState::Listening : ArbiterState::Idle;
    resolve();
    return std::exchange(out_, {});
}

std::vector<Decision> ReplyArbiter::abandon() {
    giveUp();
    // What earlier askings saw stays: the same question may be asked again at once.
    awaiting_ = false;
    state_ = ArbiterState::Idle;
    return std::exchange(out_, {});
}

std::vector<Decision> ReplyArbiter::timedOut() {
    if (awaiting_) {
        passHeld(Reason::NotAwaited);
        timedOutLive_ = q_.code == kCodeLive;
    }
    awaiting_ = false;
    shownPending_ = false;
    state_ = ArbiterState::Idle;
    return std::exchange(out_, {});
}

std::vector<Decision> ReplyArbiter::received(std::span<const uint8_t> bytes,
                                             std::span<const int64_t> stampsUs) {
    if (bytes.empty()) return {};
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        // A byte without a time of its own came no sooner than the one before it.
        const int64_t t = i < stampsUs.size() ? stampsUs[i] : stamps_.empty() ? 0 : stamps_.back();
        stamps_.push_back(t);
    }
    resolve();
    return std::exchange(out_, {});
}

std::vector<Decision> ReplyArbiter::at(int64_t nowUs) {
    if (provisional_ && nowUs >= provisional_->untilUs) {
        if (streamEnd() == provisional_->at + provisional_->length) {
            const Provisional p = *provisional_;
            provisional_.reset();
            decideFor(Action::Commit, Reason::Silence, p.question, p.at, p.length);
        } else if (nowUs < lastStampUs() + settleUs()) {
            // A frame is arriving behind it; when whole it decides.
            provisional_->untilUs = lastStampUs() + settleUs();
        } else {
            // It stopped short: the line was not silent behind the block, and nothing whole
            // came that could show the next reply on time.
            const Provisional p = *provisional_;
            provisional_.reset();
            retract(p, Reason::SomethingFollowed);
        }
    }
    if (shownPending_ && nowUs >= shownUntilUs_ && arrivingSince(writtenUs_) &&
        nowUs < lastStampUs() + settleUs()) {
        // A reading is arriving behind it: it is waited for while its bytes keep coming.
        shownUntilUs_ = lastStampUs() + settleUs();
    }
    if (shownPending_ && nowUs >= shownUntilUs_) {
        decideFor(Action::Commit, Reason::Silence, q_);
        endQuestion();
    }
    if (state_ == ArbiterState::Holding && nowUs >= holdUntilUs_) decideHeld(nowUs);
    return std::exchange(out_, {});
}

std::vector<Decision> ReplyArbiter::flush() {
    const std::size_t k = passOverUnits(0, buf_.size(), true);
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(k));
    stamps_.erase(stamps_.begin(), stamps_.begin() + static_cast<std::ptrdiff_t>(k));
    base_ += k;
    return std::exchange(out_, {});
}

std::optional<int64_t> ReplyArbiter::deadlineUs() const {
    std::optional<int64_t> t;
    const auto consider = [&t](int64_t at) { t = t ? std::min(*t, at) : at; };
    if (provisional_) consider(provisional_->untilUs);
    if (shownPending_) consider(shownUntilUs_);
    if (state_ == ArbiterState::Holding) consider(holdUntilUs_);
    return t;
}

std::size_t ReplyArbiter::bytesWanted() const {
    // Anything at all may decide a held or provisional frame.
    if (provisional_ || shownPending_ || state_ == ArbiterState::Holding) return 1;
    std::optional<std::size_t> want;
    for (std::size_t p = 0; p < buf_.size(); ++p) {
        if (buf_[p] != kReplyStart || classify(p).shape != Shape::Pending) continue;
        const ReplyScan s = CheckFrameAt(buf_, p);
        // Its header first, then the rest.
        const std::size_t whole = s.length != 0 ? s.length : kLengthAt + 1;
        const std::size_t have = buf_.size() - p;
        const std::size_t missing = whole > have ? whole - have : 1;
        want = want ? std::min(*want, missing) : missing;
    }
    if (want) return *want;
    return std::max<std::size_t>(1, q_.replyLength);
}

// ---------------------------------------------------------------------------------------------
// The stream

ReplyArbiter::Classified ReplyArbiter::classify(std::size_t i) const {
    const ReplyScan s = CheckFrameAt(buf_, i);
    switch (s.check) {
        case ReplyCheck::Ok:
            return {Shape::Valid, s.length};
        case ReplyCheck::NeedMore:
            return {Shape::Pending, 0};
        case ReplyCheck::BadChecksum:
            return {Shape::BadChecksum, s.length};
        case ReplyCheck::BadAddress:
            // The receiver is looked at before the checksum; its extent is known once whole,
            // and until then the bytes wait with it.
            if (s.length < kOverhead || i + s.length > buf_.size()) return {Shape::Pending, 0};
            return {Shape::OtherReceiver, s.length};
        case ReplyCheck::Malformed:
        case ReplyCheck::NoStart:
            break;
    }
    return {Shape::Malformed, 0};
}

std::size_t ReplyArbiter::nextStart(std::size_t from, std::size_t to) const {
    for (std::size_t j = from; j < to; ++j) {
        if (buf_[j] == kReplyStart) return j;
    }
    return to;
}

void ReplyArbiter::resolve() {
    for (;;) {
        // The earliest whole frame that checks out decides everything before it: a frame
        // begun earlier and not whole by then is cut short.
        std::optional<std::size_t> v;
        std::size_t n = 0;
        for (std::size_t p = 0; p < buf_.size() && !v; ++p) {
            if (buf_[p] != kReplyStart) continue;
            const Classified c = classify(p);
            if (c.shape == Shape::Valid) {
                v = p;
                n = c.length;
            }
        }
        std::size_t done = 0;
        if (v) {
            passOverUnits(0, *v, true);
            judge(*v, n);
            done = *v + n;
        } else {
            // Up to the first frame that may still become whole, nothing can change.
            std::size_t pending = buf_.size();
            for (std::size_t p = 0; p < buf_.size(); ++p) {
                if (buf_[p] == kReplyStart && classify(p).shape == Shape::Pending) {
                    pending = p;
                    break;
                }
            }
            done = passOverUnits(0, pending, false);
        }
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(done));
        stamps_.erase(stamps_.begin(), stamps_.begin() + static_cast<std::ptrdiff_t>(done));
        base_ += done;
        if (!v) return;
    }
}

std::size_t ReplyArbiter::passOverUnits(std::size_t from, std::size_t to, bool cut) {
    std::size_t i = from;
    while (i < to) {
        if (buf_[i] != kReplyStart) {
            const std::size_t j = nextStart(i + 1, to);
            unit(Reason::Noise, i, j - i);
            i = j;
            continue;
        }
        const Classified c = classify(i);
        if ((c.shape == Shape::OtherReceiver || c.shape == Shape::BadChecksum) &&
            i + c.length <= to) {
            unit(c.shape == Shape::OtherReceiver ? Reason::OtherReceiver : Reason::BadChecksum, i,
                 c.length);
            i += c.length;
            continue;
        }
        // Reaches into what is still undecided: it waits with it.
        if (!cut && c.shape != Shape::Malformed) return i;
        const std::size_t j = nextStart(i + 1, to);
        unit(Reason::Damaged, i, j - i);
        i = j;
    }
    return i;
}

void ReplyArbiter::unit(Reason r, std::size_t i, std::size_t n) {
    const uint64_t at = base_ + i;
    if (provisional_ && at >= provisional_->at + provisional_->length) {
        const Provisional p = *provisional_;
        provisional_.reset();
        retract(p, Reason::SomethingFollowed);
    }
    if (awaiting_ && stamps_[i] >= writtenUs_) seenSinceWrite_ = true;
    // A damaged frame after the request may be the reply itself: no repeat is confirmed by
    // this asking.
    if (awaiting_ && stamps_[i] >= writtenUs_ &&
        (r == Reason::Damaged || r == Reason::BadChecksum)) {
        spoiled_ = true;
    }
    decide(Action::PassOver, r, at, n);
}

// ---------------------------------------------------------------------------------------------
// Frames

void ReplyArbiter::judge(std::size_t i, std::size_t n) {
    const std::span<const uint8_t> frame = std::span(buf_).subspan(i, n);
    const int64_t first = stamps_[i];
    // How long this transport may keep silent inside a frame (pieces, packets, gaps): a frame
    // behind a held one may be that long in coming.
    int64_t gap = 0;
    for (std::size_t k = i + 1; k < i + n; ++k) gap = std::max(gap, stamps_[k] - stamps_[k - 1]);
    innerGapsUs_.push_back(gap);
    if (innerGapsUs_.size() > kFirstDelaysKept) innerGapsUs_.pop_front();
    if (provisional_ && base_ + i >= provisional_->at + provisional_->length) {
        // The first thing after a provisional block decides it. The next reply, taken and
        // coming when replies come, shows that nothing stood behind the block: a reply a copy
        // stood in front of would have followed it back to back, or at least before the next.
        // Anything else may be, or may stand in front of, that reply.
        const Provisional before = *provisional_;
        provisional_.reset();
        const bool afterRequest = awaiting_ && first >= writtenUs_;
        if (afterRequest && onTime(i, n, false)) {
            tookNow_ = false;
            judgeForQuestion(i, n, false);
            if (tookNow_) {
                decideFor(Action::Commit, Reason::NextAnswerOnTime, before.question, before.at,
                          before.length);
            } else {
                retract(before, Reason::SomethingFollowed);
            }
            return;
        }
        retract(before, Reason::SomethingFollowed);
        if (awaiting_) {
            judgeForQuestion(i, n, afterRequest);
            return;
        }
    }
    if (!awaiting_) {
        // After the time-out a live reading is still shown, unless it repeats an older one.
        if (timedOutLive_ && frame[kCodeAt] == kCodeLive &&
            (fresh(frame) || Equal(frame, shown_))) {
            take(Action::Take, Reason::NotAwaited, i, n);
            timedOutLive_ = false;
            return;
        }
        decide(Action::PassOver, Reason::NotAwaited, base_ + i, n);
        remember(frame, {}, first);
        return;
    }
    judgeForQuestion(i, n, false);
}

void ReplyArbiter::judgeForQuestion(std::size_t i, std::size_t n, bool suspect) {
    const bool after = stamps_[i] >= writtenUs_;
    judgeFrame(i, n, suspect || tainted_);
    if (after) seenSinceWrite_ = true;
}

void ReplyArbiter::judgeFrame(std::size_t i, std::size_t n, bool suspect) {
    const std::span<const uint8_t> frame = std::span(buf_).subspan(i, n);
    const int64_t first = stamps_[i];
    const uint8_t code = frame[kCodeAt];
    if (first < writtenUs_) {
        decide(Action::PassOver, Reason::Stale, base_ + i, n);
        remember(frame, {}, first);
        return;
    }
    // A notice answers whatever was asked; any other reply carries the code of its request.
    if (code != q_.code && code != kCodeNotice) {
        decide(Action::PassOver, Reason::NotAnAnswer, base_ + i, n);
        remember(frame, {}, first);
        return;
    }
    if (!CarriesData(code)) {
        take(Action::Take, Reason::Answer, i, n);
        endQuestion();
        return;
    }
    const bool isFresh = !suspect && fresh(frame);
    if (code == kCodeLive && shownPending_) {
        // Behind a reading equal to the shown one, only a fresh one changes the panel.
        if (isFresh) {
            take(Action::Take, Reason::Fresh, i, n);
            endQuestion();
        } else {
            decide(Action::PassOver, Reason::Repeat, base_ + i, n);
            remember(frame, {}, first);
        }
        return;
    }
    if (isFresh) {
        passHeld(Reason::Superseded);
        take(Action::Take, Reason::Fresh, i, n);
        endQuestion();
        return;
    }
    if (code == kCodeLive && !suspect && state_ == ArbiterState::Listening &&
        Equal(frame, shown_)) {
        // Showing it changes nothing; a fresh reading behind it is still shown.
        take(Action::TakeProvisionally, Reason::SameAsShown, i, n);
        shownPending_ = true;
        shownUntilUs_ = stamps_[i + n - 1] + settleUs();
        return;
    }
    const bool retracted = std::any_of(retracted_.begin(), retracted_.end(),
                                       [this](const Question& r) { return r.sameAs(q_); });
    if (code == kCodeHistory && !suspect && !retracted && state_ == ArbiterState::Listening &&
        asks_ == 1 && !spoiled_ && i + n == buf_.size() && onTime(i, n, true)) {
        take(Action::TakeProvisionally, Reason::RepeatOnTime, i, n);
        // Silence behind it as long as a reply takes, and the settle, shows that no reply
        // stood behind it: that reply would follow it back to back, though its first piece may
        // come only when the piece is whole.
        provisional_ =
            Provisional{q_, base_ + i, n,
                        stamps_[i + n - 1] + LineTimeUs(static_cast<int64_t>(n)) + holdSettleUs()};
        endQuestion();
        return;
    }
    hold(suspect ? Reason::MayAnswerPrevious : Reason::Repeat, i, n);
}

void ReplyArbiter::take(Action a, Reason r, std::size_t i, std::size_t n) {
    const std::span<const uint8_t> frame = std::span(buf_).subspan(i, n);
    if (awaiting_) noteTiming(i, n);  // a reply after its time-out tells nothing of the pace
    remember(frame, q_, stamps_[i]);
    if (frame[kCodeAt] == kCodeLive) shown_.assign(frame.begin(), frame.end());
    std::erase_if(retracted_, [this](const Question& q) { return q.sameAs(q_); });
    Decision d;
    d.action = a;
    d.reason = r;
    d.question = q_;
    d.at = base_ + i;
    d.length = n;
    d.frame.assign(frame.begin(), frame.end());
    publish(std::move(d), {frame, stamps_[i + n - 1]});
    tookNow_ = true;
}

void ReplyArbiter::hold(Reason r, std::size_t i, std::size_t n) {
    Held h;
    h.at = base_ + i;
    h.frame.assign(buf_.begin() + static_cast<std::ptrdiff_t>(i),
                   buf_.begin() + static_cast<std::ptrdiff_t>(i + n));
    h.firstUs = stamps_[i];
    h.lastUs = stamps_[i + n - 1];
    h.firstDelayUs = h.firstUs - writtenUs_;
    if (n >= kPacedMinimum && paced(i, n)) h.paceDelayUs = paceDelayUs(i, n);
    h.reason = r;
    h.firstInAsk = !seenSinceWrite_;
    // Another copy of what is held already changes nothing about what may still come.
    const bool again =
        std::any_of(held_.begin(), held_.end(), [&](const Held& e) { return e.frame == h.frame; });
    held_.push_back(std::move(h));
    const bool first = state_ != ArbiterState::Holding;
    state_ = ArbiterState::Holding;
    if (first || !again) {
        // Until the reply a copy may stand in front of would have come, and some silence
        // after: a reply behind a copy follows it back to back.
        const int64_t maxFirst = firstDelaysUs_.empty() ? 0 : typicalMaxFirstDelayUs();
        const int64_t settle = holdSettleUs();
        holdUntilUs_ = std::min(std::max(held_.back().lastUs, writtenUs_ + maxFirst) + settle,
                                held_.back().lastUs + kMaxSettleUs);
    }
    decideFor(Action::HoldUntil, r, q_, held_.back().at, n, holdUntilUs_);
}

void ReplyArbiter::decideHeld(int64_t nowUs) {
    // A frame still arriving may be the reply: wait for it while bytes keep coming.
    const bool arriving = arrivingSince(writtenUs_);
    if (arriving) {
        const int64_t until = lastStampUs() + settleUs();
        if (nowUs < until) {
            holdUntilUs_ = until;
            decideFor(Action::HoldUntil, Reason::Repeat, q_, 0, 0, until);
            return;
        }
        spoiled_ = true;  // it stopped short where the reply may be
    }
    std::vector<std::vector<uint8_t>> contents;
    for (const Held& h : held_) {
        if (std::none_of(contents.begin(), contents.end(),
                         [&](const std::vector<uint8_t>& c) { return c == h.frame; })) {
            contents.push_back(h.frame);
        }
    }
    // The same again, and nothing else where the reply would be; and it came when replies
    // come, as the instrument's own answer does: a copy can confirm nothing unless it stands
    // just where a lost reply would have.
    const auto inWindow = std::find_if(held_.rbegin(), held_.rend(),
                                       [this](const Held& h) { return inReplyWindow(h); });
    const bool alone = contents.size() == 1 && !spoiled_ && inWindow != held_.rend();
    // The same alone again and again, but never when the line's timing says replies come: the
    // timing is what is wrong (learnt from replies held up behind copies); forget it.
    if (contents.size() == 1 && !spoiled_ && inWindow == held_.rend() &&
        std::find(earlier_.begin(), earlier_.end(), contents[0]) != earlier_.end() &&
        ++windowMisses_ >= 2) {
        paceDelaysUs_.clear();
        windowMisses_ = 0;
    }
    const bool confirmed =
        alone && std::find(earlier_.begin(), earlier_.end(), contents[0]) != earlier_.end();
    // Asked again, a live reading is a reading of a new moment, so it cannot confirm the one
    // before: a repeated reading with nothing else where the reply would be is shown.
    if (confirmed || (alone && q_.code == kCodeLive)) {
        Held chosen = std::move(*inWindow);
        held_.erase(std::next(inWindow).base());
        passHeld(Reason::Superseded);
        firstDelaysUs_.push_back(chosen.firstDelayUs);
        if (firstDelaysUs_.size() > kFirstDelaysKept) firstDelaysUs_.pop_front();
        // Its timing tells of the line only if nothing came before it in its asking: a reply
        // that waited behind a copy came late by the copy.
        if (chosen.paceDelayUs && chosen.firstInAsk) {
            paceDelaysUs_.push_back(*chosen.paceDelayUs);
            if (paceDelaysUs_.size() > kPaceDelaysKept) paceDelaysUs_.pop_front();
        } else if (!chosen.paceDelayUs && chosen.frame.size() >= kPacedMinimum) {
            paceDelaysUs_.clear();
        }
        remember(chosen.frame, q_, chosen.firstUs);
        if (chosen.frame[kCodeAt] == kCodeLive) shown_ = chosen.frame;
        Decision d;
        d.action = Action::Take;
        d.reason = confirmed ? Reason::RepeatConfirmed : Reason::Silence;
        d.question = q_;
        d.at = chosen.at;
        d.length = chosen.frame.size();
        d.frame = std::move(chosen.frame);
        publish(std::move(d), {{}, chosen.lastUs});
        endQuestion();
        return;
    }
    const Reason why = alone ? Reason::Unconfirmed : Reason::Ambiguous;
    for (auto& c : contents) {
        if (std::find(earlier_.begin(), earlier_.end(), c) == earlier_.end()) {
            earlier_.push_back(std::move(c));
        }
    }
    passHeld(why);
    state_ = ArbiterState::Listening;
    decideFor(Action::AskAgain, why, q_);
}

void ReplyArbiter::retract(const Provisional& p, Reason r) {
    // The block's own reply may still be on its way, in front of the next one, and both would
    // look fresh: nothing in this asking is taken without being confirmed.
    if (awaiting_) tainted_ = true;
    retracted_.push_back(p.question);
    if (retracted_.size() > kRetractedKept) retracted_.erase(retracted_.begin());
    decideFor(Action::Retract, r, p.question, p.at, p.length);
}

void ReplyArbiter::passHeld(Reason r) {
    for (const Held& h : held_) {
        decideFor(Action::PassOver, r, q_, h.at, h.frame.size(), 0, {h.frame, h.lastUs});
        remember(h.frame, {}, h.firstUs);
    }
    held_.clear();
    if (state_ == ArbiterState::Holding) state_ = ArbiterState::Listening;
}

void ReplyArbiter::endQuestion() {
    awaiting_ = false;
    state_ = ArbiterState::Idle;
    held_.clear();
    earlier_.clear();
    asks_ = 0;
    spoiled_ = false;
    tainted_ = false;
    shownPending_ = false;
    timedOutLive_ = false;
}

// ---------------------------------------------------------------------------------------------
// Content and timing

bool ReplyArbiter::fresh(std::span<const uint8_t> frame) const {
    // A frame held meanwhile has been seen too: a copy of it is no fresh answer.
    if (std::any_of(held_.begin(), held_.end(),
                    [&](const Held& h) { return Equal(h.frame, frame); })) {
        return false;
    }
    const int64_t since = lastStampUs() - kMemoryUs;
    return std::none_of(memory_.begin(), memory_.end(), [&](const Seen& s) {
        const bool forAnother = s.question.code == 0 || !s.question.sameAs(q_);
        return s.atUs >= since && forAnother && Equal(s.frame, frame);
    });
}

void ReplyArbiter::remember(std::span<const uint8_t> frame, const Question& q, int64_t atUs) {
    if (!CarriesData(frame[kCodeAt])) return;
    while (!memory_.empty() &&
           (memory_.size() >= kMemoryKept || memory_.front().atUs < atUs - kMemoryUs)) {
        memory_.pop_front();
    }
    memory_.push_back(Seen{{frame.begin(), frame.end()}, q, atUs});
}

bool ReplyArbiter::inReplyWindow(const Held& h) const {
    // Only a steady paced line tells when replies come, and only of a frame that shows its
    // pace; elsewhere content decides alone.
    if (!steady() || !h.paceDelayUs) return true;
    const auto [lo, hi] = std::minmax_element(paceDelaysUs_.begin(), paceDelaysUs_.end());
    // Its bytes may all have waited in an adapter's packet: later by that, at most.
    return *h.paceDelayUs >= *lo - kReplyWindowMarginUs &&
           *h.paceDelayUs <= *hi + kReplyWindowMarginUs + kMaxLateUs;
}

int64_t ReplyArbiter::typicalMaxFirstDelayUs() const {
    std::vector<int64_t> d(firstDelaysUs_.begin(), firstDelaysUs_.end());
    std::sort(d.begin(), d.end());
    return d[d.size() - 1 - d.size() / 4];
}

bool ReplyArbiter::arrivingSince(int64_t sinceUs) const {
    for (std::size_t p = 0; p < buf_.size(); ++p) {
        if (buf_[p] == kReplyStart && stamps_[p] >= sinceUs &&
            classify(p).shape == Shape::Pending) {
            return true;
        }
    }
    return false;
}

int64_t ReplyArbiter::lastStampUs() const {
    int64_t t = stamps_.empty() ? 0 : stamps_.back();
    for (const Held& h : held_) t = std::max(t, h.lastUs);
    return t;
}

bool ReplyArbiter::paced(std::size_t i, std::size_t n) const {
    // Some start S fits every byte: no sooner than a fast line brings it, no later than a slow
    // line and the transport's lateness allow.
    int64_t latest = INT64_MAX, earliest = INT64_MIN;
    for (std::size_t k = 0; k < n; ++k) {
        const auto bytes = static_cast<int64_t>(k + 1);
        latest = std::min(latest, stamps_[i + k] - FastLineTimeUs(bytes));
        earliest = std::max(earliest, stamps_[i + k] - SlowLineTimeUs(bytes) - kMaxLateUs);
    }
    return earliest <= latest;
}

int64_t ReplyArbiter::paceDelayUs(std::size_t i, std::size_t n) const {
    int64_t began = INT64_MAX;
    for (std::size_t k = 0; k < n; ++k) {
        began = std::min(began, stamps_[i + k] - LineTimeUs(static_cast<int64_t>(k + 1)));
    }
    return began - (writtenUs_ + LineTimeUs(static_cast<int64_t>(q_.requestLength)));
}

bool ReplyArbiter::steady() const {
    if (paceDelaysUs_.size() < kSteadyReplies) return false;
    // Arrival times are only ever late: a reply taken in late by a busy moment says nothing
    // against the line. The soonest of them tell its pace, and they must agree.
    std::vector<int64_t> d(paceDelaysUs_.begin(), paceDelaysUs_.end());
    std::sort(d.begin(), d.end());
    return d[kSteadyReplies - 1] - d.front() <= kSteadySpreadUs;
}

bool ReplyArbiter::onTime(std::size_t i, std::size_t n, bool lateToo) const {
    if (n < kPacedMinimum || !steady() || !paced(i, n)) return false;
    const int64_t d = paceDelayUs(i, n);
    const auto [lo, hi] = std::minmax_element(paceDelaysUs_.begin(), paceDelaysUs_.end());
    // Never sooner than replies begin; later only a little, as a busy moment of the window
    // stamps bytes late.
    return d >= *lo - kOnTimeUs && (!lateToo || d <= *hi + kOnTimeLateUs);
}

void ReplyArbiter::noteTiming(std::size_t i, std::size_t n) {
    firstDelaysUs_.push_back(stamps_[i] - writtenUs_);
    if (firstDelaysUs_.size() > kFirstDelaysKept) firstDelaysUs_.pop_front();
    if (n < kPacedMinimum) return;
    if (!paced(i, n)) {
        paceDelaysUs_.clear();  // a burst: this transport does not show a line's pace
        return;
    }
    paceDelaysUs_.push_back(paceDelayUs(i, n));
    if (paceDelaysUs_.size() > kPaceDelaysKept) paceDelaysUs_.pop_front();
}

int64_t ReplyArbiter::holdSettleUs() const {
    // At least the longest silence recent frames had inside them: the first piece of a frame
    // behind a held one may be that long in coming.
    const int64_t longestGap =
        innerGapsUs_.empty() ? 0 : *std::max_element(innerGapsUs_.begin(), innerGapsUs_.end());
    return std::max(settleUs(), longestGap + kSettleMarginUs);
}

int64_t ReplyArbiter::settleUs() const {
    if (firstDelaysUs_.size() < kSteadyReplies) {
        return std::min(kMaxSettleUs,
                        LineTimeUs(static_cast<int64_t>(q_.replyLength)) + kFirstSettleUs);
    }
    // The spread of recent reply times, leaving out the latest quarter: one reply held up
    // once (or a late copy taken after confirmation) does not slow every exchange after it.
    std::vector<int64_t> d(firstDelaysUs_.begin(), firstDelaysUs_.end());
    std::sort(d.begin(), d.end());
    const int64_t spread = d[d.size() - 1 - d.size() / 4] - d.front();
    return std::clamp(spread + kSettleMarginUs, kMinSettleUs, kMaxSettleUs);
}

}  // namespace ck::link
