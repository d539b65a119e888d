// SPDX-License-Identifier: MIT
#include "link/link.h"

#include <algorithm>
#include <string>

#include "link/frames.h"
#include "link/protocol.h"

namespace ck::link {
namespace {

using namespace protocol;

constexpr uint8_t kAddress = kInstrumentAddress;
constexpr int kBlockGroups = 3;
constexpr std::size_t kMaxRxCount = 255;  // rxcount is 8-bit

TraceKind OpenEvent(int err) {
    switch (err) {
        case platform::kPortOk:
            return TraceKind::PortOpened;
        case platform::kErrPortInUse:
            return TraceKind::PortInUse;
        case platform::kErrNoSuchPort:
            return TraceKind::NoSuchPort;
        case platform::kErrPermissionDenied:
            return TraceKind::NoPermission;
        default:
            return TraceKind::OpenFailed;
    }
}

}  // namespace

Link::Link(platform::SerialPort& port, platform::TimerService& timers, LinkEvents& events)
    : port_(port), timers_(timers), events_(events) {
    findcom_ = platform::makeTimer(timers, kFindcomMs, [this] { onDiscoveryTick(); });
    real_ = platform::makeTimer(timers, kRealMs, [this] { onPollTick(); });
    read_ = platform::makeTimer(timers, kReadMs, [this] { onDownloadTick(); });
    timeout_ = platform::makeTimer(timers, kTimeoutMs, [this] { onReplyTimeout(); });
    hold_ = platform::makeTimer(timers, 0, [this] { onHoldExpired(); });
    port_.setReceiveHandler([this] { onBytesReceived(); });
    // Bytes the port drops unread are seen all the same: they may be the very copy that tells
    // a repeat from a reply.
    port_.setDiscardHandler([this](platform::SerialPort::Received r) {
        feed(arbiter_.received(r.bytes, r.arrivedUs));
    });
}

Link::~Link() {
    port_.setReceiveHandler({});
    port_.setDiscardHandler({});
}

void Link::start() {
    timeout_->setEnabled(true);  // armed from the start: no answer within 2.5 s is a failure
    s_.realmode = true;
    s_.linkok = false;
    s_.portno = 1;
    s_.commstate = kCommIdle;
    s_.histcount = 0;
    s_.blocksread = 0;
    enter(Phase::Searching);
    findcom_->setEnabled(true);
}

void Link::setView(View view) {
    s_.realmode = view == View::Live;
    real_->setEnabled(true);
}

void Link::requestDownload() {
    if (s_.realmode || !s_.linkok) return;
    downloading_ = true;
    downloadOpenFromUs_ = -1;
    enter(Phase::DownloadAsked);
    real_->setEnabled(false);
    read_->setEnabled(true);
}

void Link::stop() {
    stopped_ = true;
    downloading_ = false;
    awaited_ = false;
    if (port_.isOpen()) closePort();
    for (platform::Timer* t :
         {findcom_.get(), real_.get(), read_.get(), timeout_.get(), hold_.get()}) {
        t->setEnabled(false);
    }
    feed(arbiter_.abandon());
    pending_.clear();
}

void Link::ComOpen(int16_t comport) {
    const int result = openPort(comport);
    reportOpening(comport, result);
    settle();
}

int Link::openPort(int16_t comport) {
    // A new request is on its way: whatever the one before still waits for is given up.
    feed(arbiter_.abandon());
    current_ = Question{};
    if (port_.isOpen()) closePort();
    port_.setCommPort(comport);
    const int result = port_.open();
    // Every attempt is traced, also a download's first opening tried again while refused.
    if (trace_) traceEvent(OpenEvent(result), comport, port_.nowUs());
    return result;
}

void Link::reportOpening(int16_t comport, int result) {
    const std::string com = "COM" + std::to_string(comport);
    switch (result) {
        case platform::kPortOk:
            events_.setComStatus(com + kTextPortOpened);
            break;
        case platform::kErrPortInUse:
            events_.setComStatus(com + kTextPortInUse);
            break;
        case platform::kErrNoSuchPort:
            events_.setComStatus(com + kTextNoSuchPort);
            break;
        case platform::kErrPermissionDenied:
            events_.setComStatus(com + kTextNoPermission);
            tellPermissionRefused(comport);
            break;
        // A failure is never shown as an opened port.
        default:
            events_.setComStatus(com + kTextOpenFailed);
            break;
    }
}

void Link::enter(Phase phase) { events_.phaseChanged(phase, s_); }

void Link::tellPermissionRefused(int16_t comport) {
    if (permissionTold_) return;
    permissionTold_ = true;
    timers_.post(
        [this, alive = std::weak_ptr<const bool>(alive_), comport, failure = port_.openFailure()] {
            if (alive.expired() || stopped_) return;
            events_.permissionRefused(comport, failure);
        });
}

void Link::ComSend(uint8_t address, uint8_t code, int16_t start, int16_t count, uint8_t extra) {
    send(Asked{address, code, start, count, extra}, false);
}

void Link::send(const Asked& a, bool again) {
    const auto request = BuildRequest(a.address, a.code, a.start, a.count, a.extra);
    // Bytes the device holds already are read now, so that they carry a time before the
    // request's: nothing that came before it is taken for its reply.
    port_.pollInput();
    const int64_t writtenUs = port_.nowUs();
    if (request) {
        s_.replylen = request->replylen;
        port_.setRThreshold(s_.replylen);
        // Output that earlier writes left queued goes first (the control's OutBufferCount :=
        // 0); the request itself always leaves whole, and nothing here waits for the line.
        const bool written = port_.output(request->bytes);  // if refused, the time-out ends it
        if (trace_) {
            traceEvent(written ? TraceKind::Sent : TraceKind::NotSent, port_.commPort(), writtenUs,
                       request->bytes);
        }
    }
    s_.commstate = kCommAwaiting;
    s_.reqcode = request ? a.code : 0;
    if (a.code == kCodeLive && !again) ++polls_;
    Question q;
    if (request) {
        q.code = a.code;
        q.start = a.code == kCodeHistory ? a.start : int16_t{0};
        q.count = a.code == kCodeHistory ? a.count : int16_t{0};
        q.replyLength = request->replylen;
        q.requestLength = request->bytes.size();
        // Each poll asks about a new moment, each download's blocks about what is stored now.
        // How many are stored is one question across downloads: an older count can cost rows
        // or end a download early, but never put one group's values in another's row.
        q.serial = a.code == kCodeLive ? polls_ : a.code == kCodeHistory ? downloads_ : 0;
    }
    current_ = q;
    asked_ = a;
    awaited_ = true;
    exchangePort_ = port_.commPort();
    feed(arbiter_.asked(q, writtenUs));
    // InBufferCount := 0: what was waiting came before the request; the arbiter sees it so.
    port_.purgeInput();
    s_.rxcount = 0;
    timeout_->setEnabled(true);
    settle();
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
    events_.setLinkStatus(kTextLinkOk);
    // A download asked for since the answer runs on; its end starts polling and ends its
    // phase, which the linked phase would only spoil while it is busy.
    if (downloading_) return;
    real_->setEnabled(true);
    enter(Phase::Linked);
}

void Link::onPollTick() {
    if (!s_.linkok) return;
    ComOpen(s_.portno);
    ComSend(kAddress, s_.realmode ? kCodeLive : kCodeLinkTest, 0, 0, 0);
}

void Link::onDownloadTick() {
    if (s_.commstate == kCommAwaiting) return;
    const int64_t nowUs = port_.nowUs();
    if (downloadOpenFromUs_ < 0) {
        downloadOpenFromUs_ = nowUs;
        port_.setHold(true);  // the download's exchanges follow each other: keep the device
        ++downloads_;         // what is stored now is asked about anew
        inFlight_.reset();
        provisionalRows_.clear();
        askAgain_.clear();
    }
    const int result = openPort(s_.portno);
    if (result == platform::kErrPortInUse &&
        nowUs - downloadOpenFromUs_ < int64_t{kDownloadOpenRetryMs} * 1000) {
        // Refused right after a close of our own, as some drivers do for a moment: the next
        // read tick tries again, and only the opening that stands is shown.
        settle();
        return;
    }
    read_->setEnabled(false);
    reportOpening(s_.portno, result);
    settle();
    ComSend(kAddress, kCodeCount, 0, 0, 0);
}

void Link::onReplyTimeout() {
    if (trace_) {
        traceEvent(TraceKind::TimedOut, exchangePort_ != 0 ? exchangePort_ : port_.commPort(),
                   port_.nowUs());
    }
    port_.setHold(false);  // a download, if one ran, has ended
    timeout_->setEnabled(false);
    s_.commstate = kCommTimedOut;
    events_.setLinkStatus(kTextLinkFailed);
    s_.blocksread = 0;
    s_.histnext = 0;
    // The exchange is over; a reply that still comes is not waited for.
    awaited_ = false;
    feed(arbiter_.timedOut());
    inFlight_.reset();
    provisionalRows_.clear();
    askAgain_.clear();
    // A download waiting for this request to end starts at the next read tick. Polling and
    // the tab strip stay off until it ends: a poll sent in the middle of it would take the
    // place of its block request and stop it silently, its progress bar left showing.
    if (!read_->enabled()) {
        downloading_ = false;
        enter(Phase::TimedOut);
        real_->setEnabled(true);
    }
    settle();
}

void Link::onBytesReceived() {
    if (port_.commEvent() != platform::kEvReceive) return;
    platform::SerialPort::Received in = port_.inputWithArrivals();
    if (in.bytes.empty()) return;
    s_.rxcount = static_cast<uint8_t>(std::min(in.bytes.size(), kMaxRxCount));
    events_.setLinkStatus(kTextLinkOk);  // any bytes from the instrument count as contact
    feed(arbiter_.received(in.bytes, in.arrivedUs));
    settle();
    // The next event when the next decision can be made: the header of the frame nearest to
    // whole, then its rest; with nothing begun, a whole reply; anything at all while a frame
    // waits to see what follows it.
    if (port_.isOpen()) port_.setRThreshold(static_cast<int>(arbiter_.bytesWanted()));
}

void Link::onHoldExpired() {
    hold_->setEnabled(false);
    // Bytes the device already holds decide first: the reply a copy stood in front of may be
    // there, its own event not handled yet.
    pullInput();
    feed(arbiter_.at(port_.nowUs()));
    settle();
}

void Link::pullInput() {
    if (!port_.isOpen()) return;
    port_.pollInput();
    platform::SerialPort::Received in = port_.inputWithArrivals();
    if (!in.bytes.empty()) feed(arbiter_.received(in.bytes, in.arrivedUs));
}

void Link::feed(std::vector<Decision> decisions) {
    for (Decision& d : decisions) pending_.push_back(std::move(d));
}

void Link::settle() {
    if (acting_) return;  // the outer call acts on what was queued meanwhile
    acting_ = true;
    while (!pending_.empty() && !stopped_) {
        const Decision d = std::move(pending_.front());
        pending_.pop_front();
        act(d);
    }
    pending_.clear();
    acting_ = false;
    armHold();
}

void Link::armHold() {
    const std::optional<int64_t> due = stopped_ ? std::nullopt : arbiter_.deadlineUs();
    if (!due) {
        hold_->setEnabled(false);
        return;
    }
    const int64_t ms = std::max<int64_t>(1, (*due - port_.nowUs() + 999) / 1000);
    hold_->setEnabled(false);
    hold_->setInterval(static_cast<int>(std::min<int64_t>(ms, kTimeoutMs)));
    hold_->setEnabled(true);
}

void Link::act(const Decision& d) {
    switch (d.action) {
        case Action::Take:
            onTake(d, false);
            break;
        case Action::TakeProvisionally:
            onTake(d, true);
            break;
        case Action::Commit:
            onCommit(d);
            break;
        case Action::Retract:
            onRetract(d);
            break;
        case Action::AskAgain:
            // The same request once more, on the port it went to; the time-out keeps running.
            if (awaited_ && d.question.sameAs(current_)) {
                const Asked again = asked_;
                ComOpen(exchangePort_);
                send(again, true);
            }
            break;
        case Action::PassOver:
            if (d.reason == Reason::BadChecksum && awaited_) s_.commstate = kCommBadChecksum;
            break;
        case Action::HoldUntil:
            break;
    }
}

void Link::onTake(const Decision& d, bool provisional) {
    // A question given up is over; once answered, only a live reading may still replace the
    // one taken (a fresh one behind a reading equal to the shown one, or one after the
    // time-out).
    if (!d.question.sameAs(current_)) return;
    if (!awaited_ && d.question.code != kCodeLive) return;
    const bool awaited = awaited_ && d.reason != Reason::NotAwaited;
    awaited_ = false;
    std::copy_n(d.frame.begin(), std::min(d.frame.size(), s_.rxframe.size()), s_.rxframe.begin());
    // The port is given up with the reply, except while a fresh reading may still come behind
    // one equal to the shown one.
    if (!(provisional && d.question.code == kCodeLive)) closeAfterReply();
    ComParse(d.frame.size(), awaited, provisional);
}

void Link::closeAfterReply() {
    if (!port_.isOpen()) return;
    port_.purgeInput();
    closePort();
}

void Link::closePort() {
    port_.close();
    if (trace_) traceEvent(TraceKind::PortClosed, port_.commPort(), port_.nowUs());
}

void Link::setTrace(TraceSink* sink) {
    trace_ = sink;
    watchDecisions();
}

void Link::watchDecisions() {
    if (!trace_ && !decisionObserver_) {
        arbiter_.setObserver({});
        return;
    }
    arbiter_.setObserver([this](const Decision& d, const DecidedBytes& covered) {
        if (decisionObserver_) decisionObserver_(d, covered);
        if (trace_) traceDecision(d, covered);
    });
}

void Link::traceDecision(const Decision& d, const DecidedBytes& covered) {
    // A hold is not final: the frame gets its line when it is decided.
    if (d.action == Action::HoldUntil) return;
    if (!covered.bytes.empty()) {
        traceEvent(TraceKind::Received, port_.commPort(), covered.lastUs, covered.bytes, d.action,
                   d.reason);
    } else {
        traceEvent(TraceKind::Decided, port_.commPort(), port_.nowUs(), {}, d.action, d.reason);
    }
}

void Link::traceEvent(TraceKind kind, int16_t comport, int64_t stampUs,
                      std::span<const uint8_t> bytes, Action action, Reason reason) {
    TraceEvent e;
    e.kind = kind;
    e.comport = comport;
    e.stampUs = stampUs;
    // The user's clock at the moment the stamp names: now, less the time since.
    e.wall = trace_->wallNow();
    e.wall.unixMs -= (port_.nowUs() - stampUs) / 1000;
    e.bytes.assign(bytes.begin(), bytes.end());
    e.action = action;
    e.reason = reason;
    trace_->trace(e);
}

void Link::onCommit(const Decision& d) {
    if (d.question.code == kCodeLive) {
        // Nothing fresh came behind the reading shown: the exchange is over.
        if (d.question.sameAs(current_) && !awaited_) closeAfterReply();
        return;
    }
    const auto rows = provisionalRows_.find(d.question.start);
    if (!downloading_ || d.question.serial != downloads_ || rows == provisionalRows_.end()) return;
    const std::vector<measure::MeasurementGroup> groups = std::move(rows->second);
    provisionalRows_.erase(rows);
    events_.FillHist(d.question.start, groups);
    if (!endDownloadIfDone()) events_.setProgress(s_.histnext, tableCount());
}

void Link::onRetract(const Decision& d) {
    if (!downloading_ || d.question.serial != downloads_ ||
        provisionalRows_.erase(d.question.start) == 0) {
        return;
    }
    // Asked again once the exchange in flight has its answer; its rows stay empty until then.
    askAgain_.push_back(Block{d.question.start, d.question.count, true});
    if (!inFlight_ && !awaited_) requestNextBlock();
}

void Link::ComParse(std::size_t n, bool awaited, bool provisional) {
    s_.commstate = kCommAccepted;
    switch (s_.rxframe[kCodeAt]) {
        case kCodeHistory:
            // Only while its request is outstanding: a late block has no rows of its own.
            if (awaited) onHistoryBlock(n, provisional);
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
                events_.setLinkStatus(kTextLinkOk);
            }
            break;
        case kCodeLive:
            // A reading must come from this reply, not from an older one's bytes.
            if (n < kLiveReplyLength) break;
            timeout_->setEnabled(false);
            // A reading that does not decode leaves the panel as it was.
            if (const auto reading = LiveReading(s_.rxframe)) events_.ShowReal(*reading);
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
        requestNextBlock();
        events_.setProgress(0, tableCount());
        enter(Phase::Downloading);
        return;
    }
    port_.setHold(false);  // the download has ended
    downloading_ = false;
    enter(Phase::DownloadEnded);
    events_.noHistory();
    real_->setEnabled(true);
}

void Link::onHistoryBlock(std::size_t n, bool provisional) {
    timeout_->setEnabled(false);
    if (s_.blocksread < 0xFF) ++s_.blocksread;
    const Block b = inFlight_.value_or(Block{s_.histnext, kBlockGroups, false});
    inFlight_.reset();
    // Only whole groups inside this frame, and never more than were asked for.
    const std::size_t asked = GroupsIn(s_.replylen);
    const auto g = static_cast<int>(std::min(GroupsIn(n), asked));
    if (g == 0) {
        // Asking again would get the same empty answer: the download has failed.
        onReplyTimeout();
        return;
    }
    auto groups = HistoryGroups(s_.rxframe, static_cast<std::size_t>(g));
    // A block with fewer groups than asked continues after the last one received.
    if (!b.again) s_.histnext = static_cast<int16_t>(b.start + g);
    // The next request first, then the table and the progress bar while it is answered.
    requestNextBlock();
    if (provisional) {
        provisionalRows_[b.start] = std::move(groups);
        return;
    }
    events_.FillHist(b.start, groups);
    if (!endDownloadIfDone()) events_.setProgress(s_.histnext, tableCount());
}

bool Link::requestNextBlock() {
    if (!askAgain_.empty()) {
        const Block b = askAgain_.front();
        askAgain_.pop_front();
        requestBlock(b);
        return true;
    }
    const int remaining = tableCount() - s_.histnext;
    if (remaining <= 0) return false;
    requestBlock(
        Block{s_.histnext, static_cast<int16_t>(std::min(kBlockGroups, remaining)), false});
    return true;
}

void Link::requestBlock(const Block& b) {
    inFlight_ = b;
    ComOpen(s_.portno);
    ComSend(kAddress, kCodeHistory, b.start, b.count, 0);
}

bool Link::endDownloadIfDone() {
    if (!downloading_ || inFlight_ || !provisionalRows_.empty() || !askAgain_.empty()) return false;
    if (s_.histnext < tableCount()) return false;
    endDownload();
    return true;
}

void Link::endDownload() {
    port_.setHold(false);  // the download has ended
    downloading_ = false;
    events_.setProgress(tableCount(), tableCount());
    enter(Phase::DownloadEnded);
    s_.blocksread = 0;
    s_.histnext = 0;
    real_->setEnabled(true);
}

}  // namespace ck::link
