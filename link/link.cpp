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
    for (platform::Timer* t : {findcom_.get(), real_.get(), read_.get(), timeout_.get()}) {
        t->setEnabled(false);
    }
}

void Link::ComOpen(int16_t comport) {
    if (port_.isOpen()) port_.close();
    port_.setCommPort(comport);
    const int err = port_.open();
    const std::string com = "COM" + std::to_string(comport);
    switch (err) {
        case platform::kPortOk: controls_.setComStatus(com + kTextPortOpened); break;
        case platform::kErrPortInUse: controls_.setComStatus(com + kTextPortInUse); break;
        case platform::kErrNoSuchPort: controls_.setComStatus(com + kTextNoSuchPort); break;
        case platform::kErrPermissionDenied:
            controls_.setComStatus(com + kTextNoPermission);
            tellPermissionRefused(comport);
            break;
        // A failure is never shown as an opened port.
        default: controls_.setComStatus(com + kTextOpenFailed); break;
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
    if (request) {
        s_.replylen = request->replylen;
        port_.setRThreshold(s_.replylen);
        port_.output(request->bytes);  // a refused write ends in the time-out
    }
    s_.commstate = kCommAwaiting;
    s_.reqcode = request ? code : 0;
    port_.purgeInput();
    port_.purgeOutput();
    s_.rxcount = 0;
    awaitingRest_ = false;
    timeout_->setEnabled(true);
}

void Link::onDiscoveryTick() {
    if (!s_.linkok) {
        ComOpen(s_.portno);
        if (port_.isOpen()) ComSend(kAddress, kCodeLinkTest, 0, 0, 0);
        s_.portno = s_.portno >= kPortCount ? int16_t{1} : static_cast<int16_t>(s_.portno + 1);
        return;
    }
    findcom_->setEnabled(false);
    controls_.setLinkStatus(kTextLinkOk);
    s_.portno = s_.portno == 1 ? kPortCount : static_cast<int16_t>(s_.portno - 1);
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
    std::vector<uint8_t> bytes = port_.input();
    if (awaitingRest_) {
        // The earlier part of this reply came with the previous event.
        bytes.insert(bytes.begin(), s_.rxbuf.begin(), s_.rxbuf.end());
        awaitingRest_ = false;
    }
    s_.rxcount = static_cast<uint8_t>(std::min(bytes.size(), kMaxRxCount));
    s_.rxbuf = std::move(bytes);
    controls_.setLinkStatus(kTextLinkOk);
    if (s_.rxcount < s_.replylen) return;

    // Noise in front of the start byte means the threshold was met before the frame was
    // whole: keep the port open for the rest rather than reject a good reply. On a real line
    // the bytes trickle in, so the cut may fall before the length byte: then wait for the
    // header first.
    const auto held = std::span(s_.rxbuf).first(s_.rxcount);
    const ReplyScan scan = ScanReply(held);
    const std::size_t whole = scan.start + (scan.length > 0 ? scan.length : kReplyHeaderLen);
    if (scan.check == ReplyCheck::NeedMore && port_.isOpen() && whole <= kMaxRxCount) {
        awaitingRest_ = true;
        port_.setRThreshold(static_cast<int>(whole - held.size()));
        return;
    }
    port_.purgeInput();
    port_.purgeOutput();
    port_.close();
    ComParse();
}

void Link::ComParse() {
    const auto held = std::span(s_.rxbuf).first(std::min<std::size_t>(s_.rxcount, s_.rxbuf.size()));
    const ReplyScan scan = ScanReply(held);
    if (scan.check == ReplyCheck::NoStart) return;
    const auto frame = held.subspan(scan.start);
    std::copy_n(frame.begin(), std::min(frame.size(), s_.rxframe.size()), s_.rxframe.begin());
    switch (scan.check) {
        case ReplyCheck::Ok: break;
        case ReplyCheck::BadChecksum: s_.commstate = kCommBadChecksum; return;
        default: return;
    }

    const bool awaited = s_.commstate == kCommAwaiting;
    s_.commstate = kCommAccepted;
    const std::size_t n = scan.length;
    switch (s_.rxframe[kCodeAt]) {
        case kCodeHistory:
            // Only while a block request is outstanding: a late block has no rows of its own.
            if (awaited && s_.reqcode == kCodeHistory) onHistoryBlock(n);
            break;
        case kCodeCount:
            if (awaited && s_.reqcode == kCodeCount) onHistoryCount(n);
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
        controls_.setProgressRange(0, std::min<int>(s_.histcount, kMaxHistRows));
        controls_.setProgressValue(0);
        controls_.setVisible(Control::Progress_read, true);
        requestBlock();
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
    controls_.FillHist(s_.histnext, HistoryGroups(s_.rxframe, static_cast<std::size_t>(g)));
    s_.histnext = static_cast<int16_t>(s_.histnext + g);
    if (s_.histnext < std::min<int>(s_.histcount, kMaxHistRows)) {
        controls_.setProgressValue(s_.histnext);
        requestBlock();
    } else {
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
