// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "qt_environment.h"

#include "event_loop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"
#include "link_fakes.h"
#include "platform/qt/com_resolver.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "sim/instrument.h"

namespace ck::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QCoreApplication>("platform_qt_test");

using ck::testing::runUntil;

Bytes iota(std::size_t n, uint8_t first) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// ---------------------------------------------------------------------------------------------
// COM number resolution, pure part

struct ResolveCase {
    const char* name;
    int n;
    std::optional<ComPin> pin;
    std::vector<std::string> devices;
    std::optional<std::string> expected;
};

const std::vector<std::string> kMixedPorts = {
    "/dev/ttyS10",  "/dev/ttyS2",   "/dev/ttyACM0", "/dev/ttyUSB10", "/dev/ttymxc0",
    "/dev/ttyUSB9", "/dev/ttyAMA0", "/dev/rfcomm0", "/dev/ttyUSB0",  "/dev/ttyS0",
};

TEST(ComResolver, ResolvesByPinThenByPosition) {
    const std::vector<ResolveCase> cases = {
        {"pin wins over position", 1, ComPin{"/dev/pts/7", true}, kMixedPorts, "/dev/pts/7"},
        {"dangling pin is no port", 1, ComPin{"", false}, kMixedPorts, std::nullopt},
        {"USB adapter first", 1, std::nullopt, kMixedPorts, "/dev/ttyUSB0"},
        {"USB by number, 9 before 10", 2, std::nullopt, kMixedPorts, "/dev/ttyUSB9"},
        {"ACM after USB", 4, std::nullopt, kMixedPorts, "/dev/ttyACM0"},
        {"ttyS0 after USB", 5, std::nullopt, kMixedPorts, "/dev/ttyS0"},
        {"ttyS2 before ttyS10", 6, std::nullopt, kMixedPorts, "/dev/ttyS2"},
        {"ttyAMA after ttyS", 8, std::nullopt, kMixedPorts, "/dev/ttyAMA0"},
        {"other kinds by name: rfcomm", 9, std::nullopt, kMixedPorts, "/dev/rfcomm0"},
        {"other kinds by name: ttymxc", 10, std::nullopt, kMixedPorts, "/dev/ttymxc0"},
        {"beyond the list", 11, std::nullopt, kMixedPorts, std::nullopt},
        {"far beyond the list", INT_MAX, std::nullopt, kMixedPorts, std::nullopt},
        {"zero", 0, std::nullopt, kMixedPorts, std::nullopt},
        {"negative", -1, std::nullopt, kMixedPorts, std::nullopt},
        {"no ports at all", 1, std::nullopt, {}, std::nullopt},
        {"duplicates count once",
         2,
         std::nullopt,
         {"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyS0"},
         "/dev/ttyS0"},
        {"digits only in the middle", 1, std::nullopt, {"/dev/ttyS1a", "/dev/ttyS1"}, "/dev/ttyS1"},
    };
    for (const ResolveCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(resolveCom(c.n, ComLookup{c.pin, c.devices}), c.expected);
    }
}

TEST(ComResolver, OrdersWholeListAndHugeNumbersSafely) {
    const std::vector<std::string> ordered = orderSerialPorts(
        {"/dev/ttyS99999999999999999999", "/dev/ttyS3", "/dev/ttyUSB", "/dev/ttyUSB1"});
    EXPECT_EQ(ordered, (std::vector<std::string>{"/dev/ttyUSB", "/dev/ttyUSB1", "/dev/ttyS3",
                                                 "/dev/ttyS99999999999999999999"}));
}

TEST(ComResolver, PinDirectoryFollowsXdgRules) {
    struct Case {
        const char* xdg;
        const char* home;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"/cfg", "/home/op", "/cfg"},
        {nullptr, "/home/op", "/home/op/.config"},
        {"", "/home/op", "/home/op/.config"},
        {"relative/cfg", "/home/op/", "/home/op/.config"},
        {nullptr, nullptr, ""},
        {nullptr, "relative", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.xdg ? c.xdg : "(unset)") + " " + (c.home ? c.home : "(unset)"));
        EXPECT_EQ(comPinDirectory(c.xdg, c.home), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Pins on the real file system

// A temporary configuration home; restores the environment afterwards.
class PinHome {
public:
    PinHome() {
        char tmpl[] = "/tmp/ck-qt-test-XXXXXX";
        const char* made = mkdtemp(tmpl);
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = made;
        for (const char* var : {"XDG_CONFIG_HOME", "HOME"}) {
            const char* v = std::getenv(var);
            saved_.emplace_back(var, v ? std::optional<std::string>(v) : std::nullopt);
        }
        useXdg(root_ / "config");
    }
    ~PinHome() {
        for (const auto& [var, value] : saved_) {
            if (value) {
                setenv(var.c_str(), value->c_str(), 1);
            } else {
                unsetenv(var.c_str());
            }
        }
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    PinHome(const PinHome&) = delete;
    PinHome& operator=(const PinHome&) = delete;

    void useXdg(const fs::path& dir) {
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        ports_ = dir / "checkkorvelt" / "ports";
        fs::create_directories(ports_);
    }
    void useHomeDefault() {
        unsetenv("XDG_CONFIG_HOME");
        setenv("HOME", (root_ / "home").c_str(), 1);
        ports_ = root_ / "home" / ".config" / "checkkorvelt" / "ports";
        fs::create_directories(ports_);
    }
    void pin(int n, const fs::path& target) {
        const fs::path link = ports_ / ("COM" + std::to_string(n));
        fs::remove(link);
        fs::create_symlink(target, link);
    }
    const fs::path& root() const { return root_; }
    const fs::path& ports() const { return ports_; }

private:
    fs::path root_;
    fs::path ports_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ComResolverOnMachine, ReadsPinsFromTheConfigurationHome) {
    PinHome home;
    const fs::path device = home.root() / "device";
    std::ofstream(device).put('x');
    const std::string real = fs::canonical(device).string();

    home.pin(3, device);
    home.pin(4, home.root() / "gone");
    home.pin(5, "../../../device");                 // relative to the link's directory
    home.pin(6, home.ports() / "COM3");             // a link to a link
    std::ofstream(home.ports() / "COM7").put('x');  // not a link: ignored

    EXPECT_EQ(resolveComOnThisMachine(3), real);
    EXPECT_EQ(resolveComOnThisMachine(4), std::nullopt);
    EXPECT_EQ(resolveComOnThisMachine(5), real);
    EXPECT_EQ(resolveComOnThisMachine(6), real);

    // An ignored pin and no pin at all resolve alike (by position on this machine).
    const auto byPosition7 = resolveComOnThisMachine(7);
    fs::remove(home.ports() / "COM7");
    EXPECT_EQ(byPosition7, resolveComOnThisMachine(7));

    home.useHomeDefault();
    EXPECT_NE(resolveComOnThisMachine(3), real);
    home.pin(3, device);
    EXPECT_EQ(resolveComOnThisMachine(3), real);
}

// ---------------------------------------------------------------------------------------------
// QtSerialPort over a pseudo-terminal: the test plays the instrument on the master side.

class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
        path_ = name;
        // Held open so that bytes sent before the port opens wait in the terminal.
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) throw std::runtime_error("slave open");
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() {
        ::close(slave_);
        ::close(master_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return path_; }
    int slaveFd() const { return slave_; }

    void send(const Bytes& b) const {
        ASSERT_EQ(::write(master_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }

    // What the instrument side received, waiting up to ms for want bytes.
    Bytes receive(std::size_t want, int ms = 2000) const {
        Bytes got;
        const QDeadlineTimer deadline(ms);
        while (got.size() < want && !deadline.hasExpired()) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(deadline.remainingTime())) <= 0) break;
            uint8_t buf[512];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // Waits until the terminal holds n unread bytes on the port's side.
    bool waitQueued(int n, int ms = 2000) const {
        const QDeadlineTimer deadline(ms);
        int queued = 0;
        while (ioctl(slave_, FIONREAD, &queued) == 0 && queued < n) {
            if (deadline.hasExpired()) return false;
            pollfd p{slave_, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(deadline.remainingTime()));
        }
        return queued >= n;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

class QtSerialPortTest : public ::testing::Test {
protected:
    static constexpr int16_t kCom = 3;

    void SetUp() override {
        home_.pin(kCom, pty_.path());
        port_.setCommPort(kCom);
        port_.setReceiveHandler([this] {
            ++events_;
            received_.push_back(port_.inputWithArrivals().bytes);
            if (onEvent_) onEvent_();
        });
    }

    PinHome home_;
    Pty pty_;
    QtSerialPort port_;
    int events_ = 0;
    std::vector<Bytes> received_;
    std::function<void()> onEvent_;
};

TEST_F(QtSerialPortTest, ReplyInChunksRaisesOneEventWithAllBytes) {
    ASSERT_EQ(port_.open(), kPortOk);
    port_.setRThreshold(30);
    const Bytes reply = iota(30, 0xB1);
    for (std::size_t sent = 10; sent <= 30; sent += 10) {
        pty_.send(Bytes(reply.begin() + static_cast<long>(sent) - 10,
                        reply.begin() + static_cast<long>(sent)));
        if (sent < 30) {
            ASSERT_TRUE(runUntil([&] { return port_.inBufferCount() == sent; }));
            QCoreApplication::processEvents();
            EXPECT_EQ(events_, 0) << "event raised after only " << sent << " bytes";
        }
    }
    ASSERT_TRUE(runUntil([&] { return events_ > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(events_, 1);
    ASSERT_EQ(received_.size(), 1u);
    EXPECT_EQ(received_[0], reply);
    EXPECT_EQ(port_.commEvent(), kEvReceive);
}

// An adapter that stops taking output (here the terminal's output suspended, as flow control
// or a stalled USB adapter would) holds up no call: writing and closing each return within
// 20 ms on the monotonic clock (one call of the 82 may be late by the scheduler of a busy
// machine, none by waiting: a drain would hold every one of them), the exchange ends in its
// time-out as always, and once output flows again the next request goes out alone (the
// requests queued meanwhile are discarded, not sent late) and its reply is taken.
TEST_F(QtSerialPortTest, StalledOutputHoldsUpNoCallAndTheLinkRecovers) {
    QtTimerService timers;
    ck::testing::RecordingWindow ui;
    ck::link::Link lk(port_, timers, ui);
    constexpr int64_t kLimitUs = 20'000;
    std::vector<int64_t> tookUs;
    const auto timed = [&](const std::function<void()>& call) {
        const int64_t t0 = MonotonicNowUs();
        call();
        tookUs.push_back(MonotonicNowUs() - t0);
    };
    const auto late = [&] {
        return std::count_if(tookUs.begin(), tookUs.end(), [](int64_t t) { return t >= kLimitUs; });
    };
    ASSERT_EQ(tcflow(pty_.slaveFd(), TCOOFF), 0);
    // Requests pile up in the stalled terminal, each written as the link does; each poll
    // closes the port first. (Opening itself waits on nothing of the line: lock files.)
    for (int i = 0; i < 40; ++i) {
        lk.ComOpen(kCom);
        ASSERT_TRUE(port_.isOpen());
        timed([&] { lk.ComSend(1, ck::protocol::kCodeLinkTest, 0, 0, 0); });
        timed([&] { port_.close(); });
    }
    lk.ComOpen(kCom);
    timed([&] { lk.ComSend(1, ck::protocol::kCodeLinkTest, 0, 0, 0); });
    ASSERT_TRUE(runUntil([&] { return lk.state().commstate == ck::link::kCommTimedOut; }, 4000));
    EXPECT_EQ(ui.linkStatus.back(), "通讯失败");

    // The next poll's opening gives up what the stalled terminal still holds.
    timed([&] { port_.close(); });
    lk.ComOpen(kCom);
    ASSERT_EQ(tcflow(pty_.slaveFd(), TCOON), 0);
    timed([&] { lk.ComSend(1, ck::protocol::kCodeLinkTest, 0, 0, 0); });
    EXPECT_LE(late(), 1) << "of " << tookUs.size() << " calls, longest "
                         << *std::max_element(tookUs.begin(), tookUs.end()) << " us";
    // Only the request just written reaches the instrument; nothing of what was queued.
    const Bytes request = {0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    EXPECT_EQ(pty_.receive(request.size() + 1, 300), request);
    pty_.send({0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD});
    ASSERT_TRUE(runUntil([&] { return lk.state().linkok; }));
    EXPECT_EQ(ui.linkStatus.back(), "通讯成功");
}

// The link itself on the real port: a live reply that trickles in, as fast as a 9600-baud line
// brings it, reaches its receive handler once, whole, and is shown.
TEST_F(QtSerialPortTest, LinkGetsAReplyInChunksWholeInOneEvent) {
    QtTimerService timers;
    ck::testing::RecordingWindow ui;
    ck::link::Link lk(port_, timers, ui);
    lk.ComOpen(kCom);
    ASSERT_TRUE(port_.isOpen());
    QElapsedTimer line;  // started no later than the request: the line's time counts from it
    line.start();
    lk.ComSend(1, 6, 0, 0, 0);
    const Bytes request = pty_.receive(6);
    ASSERT_EQ(request, (Bytes{0xA1, 0x00, 0x01, 0x04, 0x06, 0x03}));

    ck::sim::Instrument instrument;
    const auto replies = instrument.feed(request, 0);
    ASSERT_EQ(replies.size(), 1u);
    const Bytes& reply = replies[0].bytes;
    ASSERT_EQ(reply.size(), 30u);
    const std::size_t statusBefore = ui.linkStatus.size();
    for (std::size_t at = 0; at < reply.size(); at += 12) {
        const std::size_t end = std::min(reply.size(), at + 12);
        // The instrument's side: a piece goes once the line could have carried it.
        const int64_t dueUs =
            ck::protocol::LineTimeUs(std::ssize(request) + static_cast<int64_t>(end));
        QTimer look;  // wakes the loop to look at the time
        look.start(1);
        ASSERT_TRUE(runUntil([&] { return line.nsecsElapsed() / 1000 >= dueUs; }));
        pty_.send(
            Bytes(reply.begin() + static_cast<long>(at), reply.begin() + static_cast<long>(end)));
        if (end < reply.size()) {
            ASSERT_TRUE(runUntil([&] { return port_.inBufferCount() == end; }));
            QCoreApplication::processEvents();
            EXPECT_EQ(ui.linkStatus.size(), statusBefore) << "handled after " << end << " bytes";
        }
    }
    ASSERT_TRUE(runUntil([&] { return !ui.shown.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(ui.linkStatus.size(), statusBefore + 1);  // one receive event
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0], instrument.liveSequence()[0]);
    EXPECT_EQ(lk.state().rxcount, 30);
    EXPECT_FALSE(port_.isOpen());
    EXPECT_FALSE(lk.Timer_timeout().enabled());
}

// What the device held before the opening is not input of this opening, but it is not lost
// unseen either: it goes to the discard handler, stamped before anything written after.
TEST_F(QtSerialPortTest, OpenHandsBytesSentBeforeToTheDiscardHandler) {
    Bytes dropped;
    std::vector<int64_t> droppedUs;
    port_.setDiscardHandler([&](SerialPort::Received r) {
        dropped.insert(dropped.end(), r.bytes.begin(), r.bytes.end());
        droppedUs.insert(droppedUs.end(), r.arrivedUs.begin(), r.arrivedUs.end());
    });
    pty_.send({0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
    ASSERT_TRUE(pty_.waitQueued(5));
    ASSERT_EQ(port_.open(), kPortOk);
    const int64_t opened = port_.nowUs();
    EXPECT_EQ(dropped, Bytes(5, 0xEE));
    for (const int64_t t : droppedUs) EXPECT_LE(t, opened);
    port_.setRThreshold(4);
    const Bytes fresh = {0xB1, 0x01, 0x00, 0x05};
    pty_.send(fresh);
    ASSERT_TRUE(runUntil([&] { return events_ > 0; }));
    EXPECT_EQ(received_.at(0), fresh);
}

// A written frame is in the driver when output() returns, without a turn of the event loop
// and without waiting for the line.
TEST_F(QtSerialPortTest, WrittenFrameLeavesWholeWithoutTheEventLoop) {
    for (const std::size_t size : {std::size_t{8}, std::size_t{246}, std::size_t{1000}}) {
        SCOPED_TRACE(size);
        ASSERT_EQ(port_.open(), kPortOk);
        const Bytes frame = iota(size, 0xA1);
        ASSERT_TRUE(port_.output(frame));
        EXPECT_EQ(pty_.receive(size), frame);
        port_.close();
    }
    EXPECT_FALSE(port_.output(Bytes{0xA1}));  // a closed port refuses
}

TEST_F(QtSerialPortTest, CloseInsideTheHandlerStopsDelivery) {
    ASSERT_EQ(port_.open(), kPortOk);
    port_.setRThreshold(8);
    onEvent_ = [this] {
        port_.purgeInput();
        port_.close();
    };
    pty_.send(iota(8, 1));
    ASSERT_TRUE(runUntil([&] { return events_ > 0; }));
    EXPECT_FALSE(port_.isOpen());

    // Bytes on a closed port are neither buffered nor announced.
    pty_.send(iota(8, 9));
    ASSERT_TRUE(pty_.waitQueued(8));
    QCoreApplication::processEvents();
    EXPECT_EQ(port_.inBufferCount(), 0u);
    EXPECT_EQ(events_, 1);

    // Reopened, it starts afresh with the next reply.
    onEvent_ = nullptr;
    ASSERT_EQ(port_.open(), kPortOk);
    pty_.send(iota(8, 17));
    ASSERT_TRUE(runUntil([&] { return events_ > 1; }));
    EXPECT_EQ(received_.at(1), iota(8, 17));
}

TEST_F(QtSerialPortTest, MissingDeviceIsNoSuchPort) {
    home_.pin(4, home_.root() / "no-such-device");
    struct Case {
        const char* name;
        int16_t com;
    };
    for (const Case& c : {Case{"dangling pin", 4}, Case{"beyond the machine's ports", 32767},
                          Case{"zero", 0}, Case{"negative", -1}}) {
        SCOPED_TRACE(c.name);
        port_.setCommPort(c.com);
        EXPECT_EQ(port_.open(), kErrNoSuchPort);
        EXPECT_FALSE(port_.isOpen());
    }
}

TEST_F(QtSerialPortTest, NonTerminalIsAnOtherFailure) {
    const fs::path file = home_.root() / "plain-file";
    std::ofstream(file).put('x');
    home_.pin(5, file);
    port_.setCommPort(5);
    EXPECT_EQ(port_.open(), kErrOpenFailed);
    EXPECT_FALSE(port_.isOpen());
}

// A refusal is told apart from every other failure, with what the user needs to fix it.
TEST_F(QtSerialPortTest, RefusedPermissionIsNoPermissionWithTheDeviceAndTheAccount) {
    if (geteuid() == 0) GTEST_SKIP() << "root is never refused permission";
    ASSERT_EQ(chmod(pty_.path().c_str(), 0), 0);
    EXPECT_EQ(port_.open(), kErrPermissionDenied);
    EXPECT_FALSE(port_.isOpen());
    const OpenFailure& f = port_.openFailure();
    EXPECT_EQ(f.device, pty_.path());
    const passwd* pw = getpwuid(geteuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(f.account, pw->pw_name);
    struct stat st {};
    ASSERT_EQ(stat(pty_.path().c_str(), &st), 0);
    const group* gr = getgrgid(st.st_gid);
    EXPECT_EQ(f.group, st.st_gid == 0 || gr == nullptr ? std::string() : std::string(gr->gr_name));
    EXPECT_FALSE(f.reason.empty());

    // Given the right, the same port opens and forgets the failure.
    ASSERT_EQ(chmod(pty_.path().c_str(), 0600), 0);
    EXPECT_EQ(port_.open(), kPortOk);
    EXPECT_TRUE(port_.openFailure().device.empty());
}

// A pin folder that exists but cannot be read opens no port at all, pinned or not, and says
// why on stderr once; once readable again the pins hold as before.
TEST_F(QtSerialPortTest, PinFolderThatCannotBeReadOpensNothingAndSaysWhyOnce) {
    struct Case {
        const char* what;
        bool needsUnprivileged;
        std::function<void(const fs::path& ports)> spoil;
        std::function<void(const fs::path& ports)> mend;
    };
    const fs::path aside = home_.root() / "ports-aside";
    const Case cases[] = {
        {"a file where the folder was", false,
         [&](const fs::path& ports) {
             fs::rename(ports, aside);
             std::ofstream(ports).put('x');
         },
         [&](const fs::path& ports) {
             fs::remove(ports);
             fs::rename(aside, ports);
         }},
        {"a folder without permission", true,
         [](const fs::path& ports) { fs::permissions(ports, fs::perms::none); },
         [](const fs::path& ports) { fs::permissions(ports, fs::perms::owner_all); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsUnprivileged && geteuid() == 0) {
            std::printf("skipped \"%s\": root reads every folder\n", c.what);
            continue;
        }
        QtSerialPort port;
        c.spoil(home_.ports());
        ::testing::internal::CaptureStderr();
        for (int16_t n = 1; n <= 16; ++n) {
            port.setCommPort(n);
            EXPECT_EQ(port.open(), kErrOpenFailed) << "COM" << n;
            EXPECT_FALSE(port.isOpen());
        }
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(home_.ports().string()), std::string::npos) << said;
        c.mend(home_.ports());
        port.setCommPort(kCom);
        EXPECT_EQ(port.open(), kPortOk);
    }
}

TEST_F(QtSerialPortTest, PortHeldByAnotherOwnerIsInUse) {
    QtSerialPort other;
    other.setCommPort(kCom);
    ASSERT_EQ(other.open(), kPortOk);
    EXPECT_EQ(port_.open(), kErrPortInUse);
    EXPECT_FALSE(port_.isOpen());

    // The holder is undisturbed, and once it lets go the port opens.
    int otherEvents = 0;
    other.setRThreshold(2);
    other.setReceiveHandler([&] { ++otherEvents; });
    pty_.send({1, 2});
    ASSERT_TRUE(runUntil([&] { return otherEvents > 0; }));
    other.close();
    EXPECT_EQ(port_.open(), kPortOk);
}

TEST_F(QtSerialPortTest, ExclusiveOpenByAnotherProgramIsInUse) {
    if (geteuid() == 0) GTEST_SKIP() << "root may open a terminal in exclusive mode anyway";
    ASSERT_EQ(ioctl(pty_.slaveFd(), TIOCEXCL), 0);
    EXPECT_EQ(port_.open(), kErrPortInUse);
    ioctl(pty_.slaveFd(), TIOCNXCL);
    EXPECT_EQ(port_.open(), kPortOk);
}

// Under hold the device stays ours between exchanges: nobody else can take it, what it sent
// while the port was closed is still discarded, and it goes when the hold ends.
TEST_F(QtSerialPortTest, HeldDeviceStaysOursButStartsEachOpeningAfresh) {
    QtSerialPort other;
    other.setCommPort(kCom);
    port_.setHold(true);
    ASSERT_EQ(port_.open(), kPortOk);
    port_.setRThreshold(4);
    port_.close();
    EXPECT_EQ(other.open(), kErrPortInUse);

    // Bytes taken from the device while closed, and bytes still waiting in the driver.
    pty_.send({0xEE, 0xEE, 0xEE});
    ASSERT_TRUE(pty_.waitQueued(3));
    QCoreApplication::processEvents();
    pty_.send({0xEF, 0xEF, 0xEF, 0xEF, 0xEF});
    ASSERT_TRUE(pty_.waitQueued(5));
    ASSERT_EQ(port_.open(), kPortOk);
    const Bytes fresh = {0xB1, 0x01, 0x00, 0x05};
    pty_.send(fresh);
    ASSERT_TRUE(runUntil([&] { return events_ > 0; }));
    EXPECT_EQ(received_.at(0), fresh);
    ASSERT_TRUE(port_.output(Bytes{0xA1, 0x02}));
    EXPECT_EQ(pty_.receive(2), (Bytes{0xA1, 0x02}));

    port_.close();
    port_.setHold(false);
    EXPECT_EQ(other.open(), kPortOk);
}

// A number that leads to another device while the first is kept opens the new one.
TEST_F(QtSerialPortTest, HeldDeviceIsLeftWhenItsNumberNowLeadsElsewhere) {
    port_.setHold(true);
    ASSERT_EQ(port_.open(), kPortOk);
    port_.close();
    Pty second;
    home_.pin(kCom, second.path());
    ASSERT_EQ(port_.open(), kPortOk);
    ASSERT_TRUE(port_.output(Bytes{0xA1, 0x03}));
    EXPECT_EQ(second.receive(2), (Bytes{0xA1, 0x03}));
    QtSerialPort other;  // the first device was let go
    home_.pin(kCom + 1, pty_.path());
    other.setCommPort(kCom + 1);
    EXPECT_EQ(other.open(), kPortOk);
}

// Low-latency mode is asked of the driver at each opening through the ioctl given, on the
// device just opened; whatever the driver answers, the port opens.
TEST_F(QtSerialPortTest, AsksTheDriverForLowLatency) {
    struct Driver {
        const char* name;
        int getResult;  // errno of TIOCGSERIAL, 0 for success
        int flags;      // what TIOCGSERIAL reports
        int setResult;  // errno of TIOCSSERIAL, 0 for success
        LowLatency outcome;
        int setFlags;  // what TIOCSSERIAL must be given (-1: must not be called)
    };
    constexpr int kOther = 0x10000000;  // a driver flag that must be left as it is
    const Driver drivers[] = {
        {"offers it", 0, kOther, 0, LowLatency::Asked, kOther | ASYNC_LOW_LATENCY},
        {"has it on", 0, ASYNC_LOW_LATENCY, 0, LowLatency::AlreadyOn, -1},
        {"has no such setting", ENOTTY, 0, 0, LowLatency::NotOffered, -1},
        {"refuses it", 0, 0, EPERM, LowLatency::Refused, ASYNC_LOW_LATENCY},
    };
    struct stat device {};
    ASSERT_EQ(::stat(pty_.path().c_str(), &device), 0);
    for (const Driver& d : drivers) {
        SCOPED_TRACE(d.name);
        std::vector<std::string> calls;
        int given = -1;
        QtSerialPort port([&](int fd, unsigned long request, void* arg) {
            struct stat st {};
            const bool ours = ::fstat(fd, &st) == 0 && st.st_rdev == device.st_rdev;
            auto* info = static_cast<serial_struct*>(arg);
            if (request == TIOCGSERIAL) {
                calls.push_back(ours ? "get" : "get on another fd");
                info->flags = d.flags;
                errno = d.getResult;
                return d.getResult == 0 ? 0 : -1;
            }
            if (request == TIOCSSERIAL) {
                calls.push_back(ours ? "set" : "set on another fd");
                given = info->flags;
                errno = d.setResult;
                return d.setResult == 0 ? 0 : -1;
            }
            calls.push_back("other request");
            return -1;
        });
        port.setCommPort(kCom);
        ASSERT_EQ(port.open(), kPortOk);
        EXPECT_TRUE(port.isOpen());
        EXPECT_EQ(port.lowLatency(), d.outcome);
        const std::vector<std::string> want = d.setFlags < 0
                                                  ? std::vector<std::string>{"get"}
                                                  : std::vector<std::string>{"get", "set"};
        EXPECT_EQ(calls, want);
        EXPECT_EQ(given, d.setFlags);
        port.close();
    }
    // The system's own call on a pseudo-terminal: no such setting, and the port opens.
    ASSERT_EQ(port_.open(), kPortOk);
    EXPECT_EQ(port_.lowLatency(), LowLatency::NotOffered);
}

// ---------------------------------------------------------------------------------------------
// QtTimerService on the real event loop. Real time is not asserted: each case races the timer
// under test against a reference timer whose due time lies between the two possible outcomes,
// and Qt fires due timers in order of due time even when the loop runs late.

class QtTimerTest : public ::testing::Test {
protected:
    static constexpr int kInterval = 40;

    // Starts the timer under test, calls act() `lead` ms later, and arms the reference
    // halfway between "kept its countdown" and "restarted". Returns the order of the first two
    // ticks, or nothing when the loop ran too late to stage the race.
    std::optional<std::string> race(int lead, const std::function<void(Timer&)>& act) {
        std::string order;
        bool tooLate = false;
        auto timer = makeTimer(service_, kInterval, [&] { order += 't'; });
        QTimer reference;
        reference.setTimerType(Qt::PreciseTimer);
        reference.setSingleShot(true);
        QObject::connect(&reference, &QTimer::timeout, [&] { order += 'r'; });
        QTimer stage;
        stage.setTimerType(Qt::PreciseTimer);
        stage.setSingleShot(true);
        timer->setEnabled(true);
        const int64_t start = service_.nowMs();
        QObject::connect(&stage, &QTimer::timeout, [&] {
            const int64_t elapsed = service_.nowMs() - start;
            if (!order.empty() || elapsed >= kInterval - 10) {
                tooLate = true;
                return;
            }
            act(*timer);
            reference.start(static_cast<int>(kInterval - elapsed / 2));
        });
        stage.start(lead);
        runUntil([&] { return tooLate || order.size() >= 2; }, 4 * kInterval);
        timer->setEnabled(false);
        if (tooLate || order.size() < 2) return std::nullopt;
        return order.substr(0, 2);
    }

    QtTimerService service_;
};

TEST_F(QtTimerTest, ReenablingKeepsTheCountdownAndIntervalChangeRestarts) {
    struct Case {
        const char* name;
        std::function<void(Timer&)> act;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"enable again", [](Timer& t) { t.setEnabled(true); }, "tr"},
        {"same interval again", [](Timer& t) { t.setInterval(kInterval); }, "rt"},
        {"disable and enable", [](Timer& t) { t.setEnabled(false), t.setEnabled(true); }, "rt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<std::string> order;
        for (int attempt = 0; attempt < 3 && !order; ++attempt) order = race(16, c.act);
        if (!order) GTEST_SKIP() << "event loop too slow to stage the race";
        EXPECT_EQ(*order, c.expected);
    }
}

TEST_F(QtTimerTest, ZeroIntervalNeverTicksAndHandlerMayDestroyItsTimer) {
    int zeroTicks = 0;
    auto zero = makeTimer(service_, 0, [&] { ++zeroTicks; });
    zero->setEnabled(true);
    int onceTicks = 0;
    std::unique_ptr<Timer> once;
    once = makeTimer(service_, 1, [&] {
        ++onceTicks;
        once.reset();
    });
    once->setEnabled(true);
    ASSERT_TRUE(runUntil([&] { return onceTicks > 0; }, 1000));
    bool later = false;
    QTimer::singleShot(5, [&] { later = true; });
    ASSERT_TRUE(runUntil([&] { return later; }, 1000));
    EXPECT_EQ(onceTicks, 1);
    EXPECT_EQ(zeroTicks, 0);
    EXPECT_TRUE(zero->enabled());
}

TEST_F(QtTimerTest, PostRunsLaterInOrderAndDiesWithTheService) {
    std::string log;
    service_.post([&] { log += 'a'; });
    service_.post([&] { log += 'b'; });
    EXPECT_EQ(log, "");
    ASSERT_TRUE(runUntil([&] { return log.size() == 2; }, 1000));
    EXPECT_EQ(log, "ab");

    {
        QtTimerService shortLived;
        shortLived.post([&] { log += 'x'; });
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(log, "ab");
}

}  // namespace
}  // namespace ck::platform
