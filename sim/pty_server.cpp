// SPDX-License-Identifier: MIT
#include "sim/pty_server.h"

#include "link/protocol.h"
#include "platform/com_pins.h"
#include "platform/line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace ck::sim {
namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void SetFlags(int fd, int add) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | add) < 0) ThrowErrno("fcntl");
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void LineQueue::add(int64_t dueUs, std::vector<uint8_t> bytes) {
    if (bytes.empty()) return;
    const auto at = std::upper_bound(chunks_.begin(), chunks_.end(), dueUs,
                                     [](int64_t t, const Chunk& c) { return t < c.dueUs; });
    chunks_.insert(at, Chunk{dueUs, std::move(bytes)});
}

std::optional<int64_t> LineQueue::nextWriteUs() const {
    if (chunks_.empty()) return std::nullopt;
    const Chunk& c = chunks_.front();
    if (!paced_ || !lineFreeUs_) return c.dueUs;
    return std::max(c.dueUs, *lineFreeUs_ + LineTimeUs(static_cast<int64_t>(c.bytes.size())));
}

std::vector<uint8_t> LineQueue::take(int64_t nowUs) {
    // The line is taken from when the piece was due, not from when a late wake-up wrote it:
    // lateness must not pile up over the pieces of a reply. The bytes never run ahead of the
    // line's own timetable.
    const int64_t due = std::min(nowUs, nextWriteUs().value_or(nowUs));
    std::vector<uint8_t> bytes = std::move(chunks_.front().bytes);
    chunks_.pop_front();
    lineFreeUs_ = due;
    return bytes;
}

// ---------------------------------------------------------------------------------------------

PtyServer::PtyServer(Instrument& instrument, Options options)
    : instrument_(instrument),
      options_(options),
      epochNs_(MonotonicNs()),
      transport_(options.transport, options.seed),
      // Only the plain line is held to its pace here: the other transports hand bytes over in
      // bursts, and the transport has timed them already.
      queue_(options.transport == TransportKind::Pty) {
    if (options_.transport == TransportKind::Pty) {
        instrument_.setLinePacing(true, options_.chunkBytes);
    } else {
        transport_.configure(instrument_);
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) ThrowErrno("posix_openpt");
    try {
        if (fcntl(master_, F_SETFD, FD_CLOEXEC) < 0) ThrowErrno("fcntl");
        if (grantpt(master_) != 0) ThrowErrno("grantpt");
        if (unlockpt(master_) != 0) ThrowErrno("unlockpt");
        char name[128] = {};
        if (const int err = ptsname_r(master_, name, sizeof name); err != 0) {
            errno = err;
            ThrowErrno("ptsname_r");
        }
        slavePath_ = name;
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (slave_ < 0) ThrowErrno("open pty slave");
        // Raw, so nothing is echoed back to the instrument or translated on the way; the
        // application sets its own line settings while it has the port open and restores these.
        termios tio{};
        if (tcgetattr(slave_, &tio) != 0) ThrowErrno("tcgetattr");
        cfmakeraw(&tio);
        // The terminal's own speed constant for the port's line speed.
        static_assert(platform::kLineBaud == 9600, "B9600 below is the port's line speed");
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        if (tcsetattr(slave_, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");
        SetFlags(master_, O_NONBLOCK);
    } catch (...) {
        if (slave_ >= 0) ::close(slave_);
        ::close(master_);
        throw;
    }
}

PtyServer::~PtyServer() {
    ::close(slave_);
    ::close(master_);
}

int64_t PtyServer::nowUs() const { return (MonotonicNs() - epochNs_) / 1000; }

bool PtyServer::run(int stopFd) {
    try {
        while (serveOnce(-1, stopFd)) {
        }
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool PtyServer::serveOnce(int maxWaitMs, int stopFd) {
    // Wait for a request, a stop, or the next chunk's time, whichever comes first.
    std::optional<int64_t> waitUs;
    if (maxWaitMs >= 0) waitUs = int64_t{maxWaitMs} * 1000;
    for (const auto next :
         {queue_.nextWriteUs(), transport_.nextEventUs(), instrument_.nextDueUs()}) {
        if (!next) continue;
        const int64_t untilNext = std::max<int64_t>(0, *next - nowUs());
        waitUs = waitUs ? std::min(*waitUs, untilNext) : untilNext;
    }
    timespec timeout{};
    if (waitUs) {
        timeout.tv_sec = static_cast<time_t>(*waitUs / 1'000'000);
        timeout.tv_nsec = static_cast<long>(*waitUs % 1'000'000 * 1000);
    }
    pollfd fds[2] = {{master_, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const nfds_t count = stopFd >= 0 ? 2 : 1;
    if (ppoll(fds, count, waitUs ? &timeout : nullptr, nullptr) < 0) {
        if (errno != EINTR) ThrowErrno("ppoll");
        return true;  // a signal: the caller's stop pipe says whether to go on
    }
    if (stopFd >= 0 && fds[1].revents != 0) return false;
    if ((fds[0].revents & POLLNVAL) != 0) {
        errno = EBADF;
        ThrowErrno("pty master");
    }
    if ((fds[0].revents & POLLIN) != 0) readRequests();
    writeDue();
    return true;
}

void PtyServer::readRequests() {
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;  // EAGAIN: all read; EIO would mean no slave, which we hold
        }
        const int64_t now = nowUs();
        for (const Delivery& d :
             instrument_.feed(std::span(buf, static_cast<std::size_t>(n)), now)) {
            transport_.send(now + d.delayUs, d);
        }
    }
}

void PtyServer::writeDue() {
    const int64_t now = nowUs();
    for (const Delivery& d : instrument_.due(now)) transport_.send(now + d.delayUs, d);
    for (Piece& p : transport_.release(nowUs())) queue_.add(p.atUs, std::move(p.bytes));
    for (auto next = queue_.nextWriteUs(); next && *next <= nowUs(); next = queue_.nextWriteUs()) {
        const int64_t at = nowUs();
        const std::vector<uint8_t> bytes = queue_.take(at);
        ssize_t n = 0;
        do {
            n = ::write(master_, bytes.data(), bytes.size());
        } while (n < 0 && errno == EINTR);
        // A full terminal means nobody has read for a while: on a line without flow control
        // the bytes would be lost too, and waiting for room would hold up every later reply.
        const std::size_t sent = n > 0 ? static_cast<std::size_t>(n) : 0;
        dropped_ += bytes.size() - sent;
        if (observer_ && sent > 0) observer_(at, std::span(bytes).first(sent));
    }
}

// ---------------------------------------------------------------------------------------------

ComPinLink::ComPinLink(int comNumber, const std::string& target) : target_(target) {
    namespace fs = std::filesystem;
    const std::string pin = platform::comPinFileFromEnvironment(comNumber);
    if (pin.empty()) {
        throw std::invalid_argument("neither XDG_CONFIG_HOME nor HOME is an absolute path");
    }
    const fs::path link(pin);
    fs::create_directories(link.parent_path());
    const fs::file_status st = fs::symlink_status(link);
    if (fs::is_symlink(st)) {
        previous_ = fs::read_symlink(link).string();
    } else if (fs::exists(st)) {
        // The application ignores anything but a link there; it is not ours to overwrite.
        throw std::system_error(std::make_error_code(std::errc::file_exists),
                                link.string() + " exists and is not a symbolic link");
    }
    // Made aside and renamed over, so the application never sees COMn missing in between.
    const fs::path tmp = link.parent_path() /
                         (link.filename().string() + ".zandrel-sim." + std::to_string(getpid()));
    fs::remove(tmp);
    fs::create_symlink(target, tmp);
    std::error_code ec;
    fs::rename(tmp, link, ec);
    if (ec) {
        fs::remove(tmp);
        throw std::system_error(ec, "rename to " + link.string());
    }
    path_ = link.string();
}

ComPinLink::~ComPinLink() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path now = fs::read_symlink(path_, ec);
    if (ec || now.string() != target_) return;  // replaced meanwhile: no longer ours
    if (!previous_) {
        fs::remove(path_, ec);
        return;
    }
    const fs::path tmp = path_ + ".zandrel-sim-restore." + std::to_string(getpid());
    fs::remove(tmp, ec);
    fs::create_symlink(*previous_, tmp, ec);
    if (!ec) fs::rename(tmp, path_, ec);
    if (ec) fs::remove(tmp, ec);
}

}  // namespace ck::sim
