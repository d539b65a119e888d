// SPDX-License-Identifier: MIT
#include "link/link.h"

#include <algorithm>
#include <string>

#include "link/control_sets.h"
#include "link/frames.h"
#include "link/protocol.h"

namespace ck::link {
namespace {

using namespace protocol;

constexpr uint8_t kAddress = kInstrumentAddress;
constexpr int kBlockGroups = 3;
constexpr std::size_t kMaxRxCount = 255;  // rxcount is 8-bit
// Start byte, sender, receiver, length: what tells how long the frame is.
constexpr std::size_t kReplyHeaderLen = kLengthAt + 1;
// Replies whose delays tell how soon this instrument answers.
constexpr std::size_t kDelaysKept = 9;
// A question no request asks: what a passed-over reply is remembered as answering.
constexpr uint32_t kNoQuestion = 0;
// Replies whose content ends up in the window; only these are held against repeats.
constexpr bool CarriesData(uint8_t code) {
    return code == kCodeHistory || code == kCodeCount || code == kCodeLive;
}
// What a request asks: the same code and group index ask the same, every live request asks
// about a new moment.
uint32_t QuestionOf(uint8_t code, int16_t start, uint32_t poll) {
    const uint32_t detail = code == kCodeHistory ? static_cast<uint16_t>(start)
                            : code == kCodeLive  ? (poll & 0xFFFFFF)
                                                 : 0;
    return uint32_t{code} << 24 | detail;
}

}  // namespace

std::string PermissionAdvice(int16_t comport, const platform::OpenFailure& failure) {
    const std::string com = "COM" + std::to_string(comport);
    const std::string device =
        failure.device.empty() ? com + " " : failure.device + "（" + com + "）";
    const std::string group = failure.group.empty() ? "dialout" : failure.group;
    // The shell fills in $USER where the account is not known.
    const std::string account = failure.account.empty() ? "$USER" : failure.account;
    return "没有打开串口 " + device + "的权限。\r\n" + "请在终端中执行：\r\n" +
           "sudo usermod -aG " + group + " " + account + "\r\n" +
           "然后注销并重新登录，新的组才生效。";
}

Link::Link(platform::SerialPort& port, platform::TimerService& timers, LinkControls& controls)
    : port_(port), timers_(timers), controls_(controls) {
    findcom_ = platform::makeTimer(timers, kFindcomMs, [this] { onDiscoveryTick(); });
    real_ = platform::makeTimer(timers, kRealMs, [this] { onPollTick(); });
    read_ = platform::makeTimer(timers, kReadMs, [this] { onDownloadTick(); });
    timeout_ = platform::makeTimer(timers, kTimeoutMs, [this] { onReplyTimeout(); });
    hold_ = platform::makeTimer(timers, 0, [this] { onHoldExpired(); });
    port_.setReceiveHandler([this] { onBytesReceived(); });
}

Link::~Link() { port_.setReceiveHandler({}); }

void Link::start() {
    timeout_->setEnabled(true);  // armed from the start: no answer within 2.5 s is a failure
    s_.realmode = true;
    s_.linkok = false;
    s_.portno = 1;
    s_.commstate = kCommIdle;
    s_.histcount = 0;
    s_.blocksread = 0;
    ApplySet(kStartupSet, s_.realmode, s_.linkok, controls_);
    findcom_->setEnabled(true);
}

void Link::setView(View view) {
    s_.realmode = view == View::Live;
    ApplySet(s_.realmode ? kLiveTabSet : kHistoryTabSet, s_.realmode, s_.linkok, controls_);
    real_->setEnabled(true);
}

void Link::requestDownload() {
    if (s_.realmode || !s_.linkok) return;
    downloading_ = true;
    ApplySet(kBusySet, s_.realmode, s_.linkok, controls_);
    real_->setEnabled(false);
    read_->setEnabled(true);
}

void Link::stop() {
    stopped_ = true;
    downloading_ = false;
    if (port_.isOpen()) port_.close();
    for (platform::Timer* t :
         {findcom_.get(), real_.get(), read_.get(), timeout_.get(), hold_.get()}) {
        t->setEnabled(false);
    }
    awaited_ = false;
    dropExchangeBytes();
}

void Link::ComOpen(int16_t comport) {
    if (port_.isOpen()) port_.close();
    // Whatever the exchange had received came on the opening that ends here.
    dropExchangeBytes();
    port_.setCommPort(comport);
    const int err = port_.open();
    const std::string com = "COM" + std::to_string(comport);
    switch (err) {
        case platform::kPortOk:
            controls_.setComStatus(com + kTextPortOpened);
            break;
        case platform::kErrPortInUse:
            controls_.setComStatus(com + kTextPortInUse);
            break;
        case platform::kErrNoSuchPort:
            controls_.setComStatus(com + kTextNoSuchPort);
            break;
        case platform::kErrPermissionDenied:
            controls_.setComStatus(com + kTextNoPermission);
            tellPermissionRefused(comport);
            break;
        // A failure is never shown as an opened port.
        default:
            controls_.setComStatus(com + kTextOpenFailed);
            break;
    }
}

void Link::tellPermissionRefused(int16_t comport) {
    if (permissionTold_) return;
    permissionTold_ = true;
    // A modal box inside ComOpen would run the next ticks in the middle of this one.
    timers_.post([this, alive = std::weak_ptr<const bool>(alive_),
                  text = PermissionAdvice(comport, port_.openFailure())] {
        if (alive.expired() || stopped_) return;
        controls_.showMessage(text, kMbExclamation);
    });
}

void Link::ComSend(uint8_t address, uint8_t code, int16_t start, int16_t count, uint8_t extra) {
    const auto request = BuildRequest(address, code, start, count, extra);
    // Taken before the write: the request cannot leave earlier, so its reply cannot begin
    // before this plus the request's own time on the line.
    const int64_t sentAtUs = port_.nowUs();
    if (request) {
        s_.replylen = request->replylen;
        port_.setRThreshold(s_.replylen);
        port_.output(request->bytes);  // a refused write ends in the time-out
    }
    s_.commstate = kCommAwaiting;
    s_.reqcode = request ? code : 0;
    asked_ = Asked{address, code, start, count, extra};
    confirming_.reset();
    port_.purgeInput();
    port_.purgeOutput();
    s_.rxcount = 0;
    awaited_ = true;
    if (code == kCodeLive) ++polls_;
    question_ = request ? QuestionOf(code, start, polls_) : kNoQuestion;
    exchangePort_ = port_.commPort();
    const auto requestBytes = static_cast<int64_t>(request ? request->bytes.size() : 0);
    earliestReplyUs_ = sentAtUs + requestBytes * kFastByteUs;
    heardUs_ = sentAtUs + LineTimeUs(requestBytes);
    dropExchangeBytes();
    timeout_->setEnabled(true);
}

void Link::onDiscoveryTick() {
    if (!s_.linkok) {
        ComOpen(s_.portno);
        if (port_.isOpen()) ComSend(kAddress, kCodeLinkTest, 0, 0, 0);
        s_.portno = s_.portno >= kPortCount ? int16_t{1} : static_cast<int16_t>(s_.portno + 1);
        return;
    }
    // portno went back to the port that answered with the answer itself (ComParse).
    findcom_->setEnabled(false);
    controls_.setLinkStatus(kTextLinkOk);
    // A download asked for since the answer runs on; its end starts polling and applies the
    // idle set, which the link-found set would only spoil while it is busy.
    if (downloading_) return;
    real_->setEnabled(true);
    ApplySet(kLinkFoundSet, s_.realmode, s_.linkok, controls_);
}

void Link::onPollTick() {
    if (!s_.linkok) return;
    ComOpen(s_.portno);
    ComSend(kAddress, s_.realmode ? kCodeLive : kCodeLinkTest, 0, 0, 0);
}

void Link::onDownloadTick() {
    if (s_.commstate == kCommAwaiting) return;
    read_->setEnabled(false);
    port_.setHold(true);  // the download's exchanges follow each other: keep the device
    ComOpen(s_.portno);
    ComSend(kAddress, kCodeCount, 0, 0, 0);
}

void Link::onReplyTimeout() {
    port_.setHold(false);  // a download, if one ran, has ended
    timeout_->setEnabled(false);
    s_.commstate = kCommTimedOut;
    controls_.setLinkStatus(kTextLinkFailed);
    s_.blocksread = 0;
    s_.histnext = 0;
    // The exchange is over; a reply that still comes is not waited for (a held repeat neither).
    awaited_ = false;
    hold_->setEnabled(false);
    held_.reset();
    // A download waiting for this request to end starts at the next read tick. Polling and
    // the tab strip stay off until it ends: a poll sent in the middle of it would take the
    // place of its block request and stop it silently, its progress bar left showing.
    if (read_->enabled()) return;
    downloading_ = false;
    ApplySet(kTimeoutSet, s_.realmode, s_.linkok, controls_);
    real_->setEnabled(true);
    controls_.setVisible(Control::Progress_read, false);
}

void Link::onBytesReceived() {
    if (port_.commEvent() != platform::kEvReceive) return;
    absorb(port_.inputWithArrivals());
}

void Link::onHoldExpired() {
    hold_->setEnabled(false);
    // Bytes the device already holds decide first: the reply a copy stood in front of may be
    // there, its own event not handled yet.
    port_.pollInput();
    absorb(port_.inputWithArrivals());
    if (!held_) return;  // taken or given up meanwhile
    if (!partial_.empty()) {
        // Another copy of it is still arriving; only after it can silence be told.
        hold_->setEnabled(true);
        return;
    }
    // Nothing but silence after it.
    std::vector<uint8_t> frame = std::move(*held_);
    held_.reset();
    if (frame[kCodeAt] == kCodeLive ||
        (confirming_ &&
         std::equal(frame.begin(), frame.end(), confirming_->begin(), confirming_->end()))) {
        // A reading that repeats a recent one shows the same; a block or count the instrument
        // gave twice for the same request is what it holds.
        take(std::move(frame));
    } else if (!confirming_) {
        // A block or count that repeats another, alone in the time its reply would take: it is
        // that reply, or a late copy in the place of one that was lost. Asked again, the
        // instrument tells: the same again, or the reply of its own.
        const Asked again = asked_;
        ComOpen(exchangePort_);
        ComSend(again.address, again.code, again.start, again.count, again.extra);
        confirming_ = std::move(frame);
    } else {
        spoilHold();  // asked again, something else repeated: nothing is taken
    }
}

void Link::dropExchangeBytes() {
    rxBase_ += rx_.size();
    rx_.clear();
    rxArrivedUs_.clear();
    scanned_ = rxBase_;
    partial_.clear();
    held_.reset();
    spoiled_ = false;
    hold_->setEnabled(false);
}

void Link::absorb(platform::SerialPort::Received in) {
    if (in.bytes.empty()) return;
    rx_.insert(rx_.end(), in.bytes.begin(), in.bytes.end());
    rxArrivedUs_.insert(rxArrivedUs_.end(), in.arrivedUs.begin(), in.arrivedUs.end());
    rxArrivedUs_.resize(rx_.size(), port_.nowUs());  // a backend that stamped nothing: now
    s_.rxbuf = rx_;
    s_.rxcount = static_cast<uint8_t>(std::min(rx_.size(), kMaxRxCount));
    controls_.setLinkStatus(kTextLinkOk);  // any bytes from the instrument count as contact
    const bool holding = held_.has_value();
    examine();
    // The line is still busy: the reply a held repeat may stand in front of can be queued
    // behind whatever else is coming, so the hold counts from the last bytes.
    if (holding && held_) restartHold();
}

void Link::examine() {
    const std::span<const uint8_t> bytes(rx_);
    const auto local = [this](std::size_t absolute) { return absolute - rxBase_; };

    // Frames begun earlier first: they come whole in the order they began.
    std::vector<std::size_t> stillPartial;
    std::vector<std::size_t> found;  // frames, by where they begin, that have become whole
    for (const std::size_t at : partial_) {
        const ReplyScan f = CheckFrameAt(bytes, local(at));
        if (f.check == ReplyCheck::NeedMore) {
            stillPartial.push_back(at);
        } else {
            found.push_back(at);
        }
    }
    partial_ = std::move(stillPartial);
    // Then start bytes not looked at yet. A frame still arriving may be noise that happens to
    // begin with a start byte, so the bytes inside it are looked at too.
    for (std::size_t i = local(scanned_); i < bytes.size(); ++i) {
        if (bytes[i] != kReplyStart) continue;
        const ReplyScan f = CheckFrameAt(bytes, i);
        if (f.check == ReplyCheck::NeedMore) {
            partial_.push_back(rxBase_ + i);
        } else {
            found.push_back(rxBase_ + i);
        }
    }
    scanned_ = rxBase_ + bytes.size();

    std::size_t checkedUpTo = 0;  // a whole frame that checks out is not looked into for another
    for (const std::size_t at : found) {
        if (at < checkedUpTo) continue;
        const ReplyScan f = CheckFrameAt(bytes, local(at));
        const auto frame = bytes.subspan(
            local(at), std::min(bytes.size() - local(at), f.length ? f.length : kOverhead));
        std::copy_n(frame.begin(), std::min(frame.size(), s_.rxframe.size()), s_.rxframe.begin());
        if (f.check == ReplyCheck::BadChecksum) s_.commstate = kCommBadChecksum;
        if (f.check != ReplyCheck::Ok) continue;
        checkedUpTo = at + f.length;
        std::erase_if(partial_, [&](std::size_t p) { return p > at && p < checkedUpTo; });
        int64_t delayUs = 0;
        switch (judge(local(at), f.length, delayUs)) {
            case Verdict::Answer:
                if (awaited_) {
                    // What this instrument's replies take, for telling a late copy by.
                    delaysUs_.push_back(delayUs);
                    if (delaysUs_.size() > kDelaysKept) delaysUs_.pop_front();
                }
                take(std::vector<uint8_t>(frame.begin(), frame.end()));
                return;
            case Verdict::Repeat:
                hold(frame, at);
                break;
            case Verdict::Stale:
            case Verdict::NotAnAnswer:
                if (CarriesData(frame[kCodeAt])) remember(frame, kNoQuestion);
                break;
        }
    }

    // A held repeat is the reply only if nothing but further copies of it follows: anything
    // else after it, a frame, a damaged one, noise, shows the line was not silent where the
    // reply would have been.
    if (held_) {
        const std::size_t n = held_->size();
        for (std::size_t i = heldEnd_; i < rxBase_ + bytes.size(); ++i) {
            if (bytes[local(i)] != (*held_)[(i - heldEnd_) % n]) {
                spoilHold();
                break;
            }
        }
    }

    // Bytes no frame still arriving needs are done with.
    std::size_t keep = scanned_;
    for (const std::size_t at : partial_) keep = std::min(keep, at);
    if (held_) keep = std::min(keep, heldEnd_);
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(local(keep)));
    rxArrivedUs_.erase(rxArrivedUs_.begin(),
                       rxArrivedUs_.begin() + static_cast<std::ptrdiff_t>(local(keep)));
    rxBase_ = keep;

    // Raise the next receive event when the frame nearest to whole could be: its header
    // first, then the rest. With none begun, when a whole reply could be there.
    std::size_t missing = s_.replylen;
    for (const std::size_t at : partial_) {
        const ReplyScan f = CheckFrameAt(rx_, local(at));
        const std::size_t want = f.length ? f.length : kReplyHeaderLen;
        missing = std::min(missing, want - (rx_.size() - local(at)));
    }
    port_.setRThreshold(static_cast<int>(std::max<std::size_t>(1, missing)));
}

Link::Verdict Link::judge(std::size_t at, std::size_t n, int64_t& delayUs) const {
    const std::span<const uint8_t> frame = std::span(rx_).subspan(at, n);
    const uint8_t code = frame[kCodeAt];
    // A notice answers whatever was asked; any other reply carries the code of its request.
    if (code != s_.reqcode && code != kCodeNotice) return Verdict::NotAnAnswer;
    // Arrival times are only ever late, so byte i arrived no sooner than the frame's first
    // byte began plus i + 1 byte times: the latest the frame can have begun. Before the
    // request could be heard whole, it was already on its way.
    int64_t began = rxArrivedUs_[at];
    int64_t beganAtPace = began;  // the same on a line at its nominal pace
    for (std::size_t i = 0; i < n; ++i) {
        const int64_t arrived = rxArrivedUs_[at + i];
        began = std::min(began, arrived - static_cast<int64_t>(i + 1) * kFastByteUs);
        beganAtPace = std::min(beganAtPace, arrived - LineTimeUs(static_cast<int64_t>(i + 1)));
    }
    if (began < earliestReplyUs_) return Verdict::Stale;
    // How long the instrument took, as near as the arrival times tell, comparable between
    // replies of any length.
    delayUs = beganAtPace - heardUs_;
    // After the time-out a reply is no longer waited for: it is taken, and nothing acts on a
    // block or count then.
    if (!awaited_ || !CarriesData(code) || !isRepeat(frame)) return Verdict::Answer;
    // Asked again, the instrument confirms a repeated block or count only by giving it again
    // when its replies come: a copy arriving sooner or later than that is not its answer.
    if (confirming_ &&
        std::equal(frame.begin(), frame.end(), confirming_->begin(), confirming_->end())) {
        std::vector<int64_t> d(delaysUs_.begin(), delaysUs_.end());
        std::sort(d.begin(), d.end());
        if (!d.empty() &&
            (delayUs < d.front() - kRepeatEarlyUs || delayUs > d[d.size() / 2] + kRepeatLateUs)) {
            return Verdict::Stale;
        }
    }
    return Verdict::Repeat;
}

bool Link::isRepeat(std::span<const uint8_t> frame) const {
    const int64_t since = port_.nowUs() - kRepeatMemoryUs;
    return std::any_of(remembered_.begin(), remembered_.end(), [&](const Remembered& r) {
        return r.atUs >= since && r.question != question_ &&
               std::equal(r.frame.begin(), r.frame.end(), frame.begin(), frame.end());
    });
}

void Link::remember(std::span<const uint8_t> frame, uint32_t question) {
    constexpr std::size_t kMaxRemembered = 256;
    const int64_t now = port_.nowUs();
    while (!remembered_.empty() && (remembered_.size() >= kMaxRemembered ||
                                    remembered_.front().atUs < now - kRepeatMemoryUs)) {
        remembered_.pop_front();
    }
    remembered_.push_back(Remembered{{frame.begin(), frame.end()}, question, now});
}

void Link::hold(std::span<const uint8_t> frame, std::size_t at) {
    if (spoiled_) return;
    if (held_ && !std::equal(held_->begin(), held_->end(), frame.begin(), frame.end())) {
        // Two different repeats: either could be the reply, so neither is taken.
        spoilHold();
        return;
    }
    held_.emplace(frame.begin(), frame.end());
    heldEnd_ = at + frame.size();
    restartHold();
}

void Link::spoilHold() {
    held_.reset();
    spoiled_ = true;  // the time-out reports the request unless a reply that repeats nothing comes
    hold_->setEnabled(false);
}

void Link::restartHold() {
    // Time for the reply that may stand behind it to cross the line, and some to spare.
    const auto lineMs = static_cast<int>((LineTimeUs(s_.replylen) + 999) / 1000);
    hold_->setEnabled(false);
    hold_->setInterval(lineMs + kRepeatAllowanceMs);
    hold_->setEnabled(true);
}

void Link::take(std::vector<uint8_t> frame) {
    const bool awaited = awaited_;
    awaited_ = false;
    dropExchangeBytes();
    std::copy_n(frame.begin(), std::min(frame.size(), s_.rxframe.size()), s_.rxframe.begin());
    port_.purgeInput();
    port_.purgeOutput();
    port_.close();
    if (CarriesData(frame[kCodeAt])) remember(frame, question_);
    ComParse(frame.size(), awaited);
}

void Link::ComParse(std::size_t n, bool awaited) {
    s_.commstate = kCommAccepted;
    switch (s_.rxframe[kCodeAt]) {
        case kCodeHistory:
            // Only while its request is outstanding: a late block has no rows of its own.
            if (awaited) onHistoryBlock(n);
            break;
        case kCodeCount:
            if (awaited) onHistoryCount(n);
            break;
        case kCodeQuery:
        case kCodeCommand:
        case kCodeNotice:
            timeout_->setEnabled(false);
            break;
        case kCodeLinkTest:
            if (n < kLinkTestLength) break;  // no room for the test pattern: not an answer
            timeout_->setEnabled(false);
            if (s_.rxframe[kPayloadAt] == kLinkPattern[0] &&
                s_.rxframe[kPayloadAt + 1] == kLinkPattern[1]) {
                if (!s_.linkok) {
                    // From this answer on every request goes to the port that gave it; the
                    // scan had already moved on to the next one.
                    s_.portno = exchangePort_;
                }
                s_.linkok = true;
                controls_.setLinkStatus(kTextLinkOk);
            }
            break;
        case kCodeLive:
            // A reading must come from this reply, not from an older one's bytes.
            if (n < kLiveReplyLength) break;
            timeout_->setEnabled(false);
            // A reading that does not decode leaves the panel as it was.
            if (const auto reading = LiveReading(s_.rxframe)) controls_.ShowReal(*reading);
            break;
        default:
            break;
    }
}

void Link::onHistoryCount(std::size_t n) {
    int reported;
    if (n == kCountReplyLength) {
        reported = s_.rxframe[kCountAt];
    } else if (n == kLongCountReplyLength) {
        reported = s_.rxframe[kCountAt] * 256 + s_.rxframe[kCountAt + 1];
    } else {
        return;  // not a count: the time-out ends the download
    }
    timeout_->setEnabled(false);
    // A count beyond 16 bits signed is held as the largest count the record can hold.
    s_.histcount = static_cast<int16_t>(std::min(reported, 0x7FFF));
    s_.blocksread = 0;
    s_.histnext = 0;
    if (s_.histcount != 0) {
        // The request first: the line need not wait while the window draws (a progress bar
        // repaints at once when its text changes, some milliseconds).
        requestBlock();
        controls_.setProgressRange(0, std::min<int>(s_.histcount, kMaxHistRows));
        controls_.setProgressValue(0);
        controls_.setVisible(Control::Progress_read, true);
        return;
    }
    port_.setHold(false);  // the download has ended
    downloading_ = false;
    ApplySet(kIdleSet, s_.realmode, s_.linkok, controls_);
    controls_.setVisible(Control::Progress_read, false);
    controls_.showMessage(kTextNoHistory, kMbExclamation);
    real_->setEnabled(true);
}

void Link::onHistoryBlock(std::size_t n) {
    timeout_->setEnabled(false);
    if (s_.blocksread < 0xFF) ++s_.blocksread;
    // Only whole groups inside this frame, and never more than were asked for.
    const std::size_t asked = GroupsIn(s_.replylen);
    const auto g = static_cast<int>(std::min(GroupsIn(n), asked));
    if (g == 0) {
        // Asking again would get the same empty answer: the download has failed.
        onReplyTimeout();
        return;
    }
    const int16_t first = s_.histnext;
    const auto groups = HistoryGroups(s_.rxframe, static_cast<std::size_t>(g));
    s_.histnext = static_cast<int16_t>(s_.histnext + g);
    if (s_.histnext < std::min<int>(s_.histcount, kMaxHistRows)) {
        // The next request first, then the table and the progress bar while it is answered.
        requestBlock();
        controls_.FillHist(first, groups);
        controls_.setProgressValue(s_.histnext);
    } else {
        controls_.FillHist(first, groups);
        endDownload();
    }
}

void Link::requestBlock() {
    const int remaining = std::min<int>(s_.histcount, kMaxHistRows) - s_.histnext;
    ComOpen(s_.portno);
    ComSend(kAddress, kCodeHistory, s_.histnext,
            static_cast<int16_t>(std::min(kBlockGroups, remaining)), 0);
}

void Link::endDownload() {
    port_.setHold(false);  // the download has ended
    downloading_ = false;
    controls_.setProgressValue(std::min<int>(s_.histcount, kMaxHistRows));
    controls_.setVisible(Control::Progress_read, false);
    ApplySet(kIdleSet, s_.realmode, s_.linkok, controls_);
    s_.blocksread = 0;
    s_.histnext = 0;
    real_->setEnabled(true);
}

}  // namespace ck::link
