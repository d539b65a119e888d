// SPDX-License-Identifier: MIT
// From the last byte of a live reply written to the line to the live panel showing it: the
// real window, the real serial-port backend and the event loop, over a pseudo-terminal. The
// bench plays the instrument itself so that it knows when the reply is complete; it answers
// no sooner than a 9600-baud line would let it (the link takes nothing sooner), with a new
// reading every time (a reading that repeats a recent one is held back a little). Each figure
// is given up to the link handing the reading over, and up to the panel painted with it; the
// processor time beside it is this one thread's, the program's and the bench's, which other
// work on the machine does not stretch.
//
// Then the program's time in each receive event of 200-group downloads: the real window on the
// simulated instrument in-process, on virtual time, each event timed with the drawing it
// causes (the window's pending paint is done before the clock stops).

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"
#include "views/history_grid.h"
#include "views/live_panel.h"

namespace {

constexpr int16_t kCom = 1;

bool readRequest(int master, std::vector<uint8_t>& out, std::size_t want) {
    out.clear();
    const QDeadlineTimer deadline(2000);
    while (out.size() < want && !deadline.hasExpired()) {
        QCoreApplication::processEvents();  // the window writes from the event loop
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 1) <= 0) continue;
        uint8_t buf[64];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) out.insert(out.end(), buf, buf + n);
    }
    return out.size() >= want;
}

// The q-quantile of sorted figures.
double at(const std::vector<double>& sorted, double q) {
    return sorted[std::min(sorted.size() - 1,
                           static_cast<std::size_t>(q * static_cast<double>(sorted.size())))];
}

// Counts the paints of a widget.
class PaintCounter final : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

// Wall and processor time of pieces of work, in milliseconds. The processor time is this
// thread's own: a machine that others share stretches the wall time, not it.
class Spent {
public:
    void start() {
        wall_.start();
        cpu0_ = cpuNs();
    }
    void stop() {
        wall.push_back(static_cast<double>(wall_.nsecsElapsed()) / 1e6);
        cpu.push_back(static_cast<double>(cpuNs() - cpu0_) / 1e6);
    }
    void sort() {
        std::sort(wall.begin(), wall.end());
        std::sort(cpu.begin(), cpu.end());
    }
    // "median 0.300 ms, p99 ... (processor time: median ...)"
    std::string summary(const char* middle) const {
        char line[200];
        std::snprintf(line, sizeof line,
                      "%s %.3f ms, p99 %.3f ms, max %.3f ms (processor time: %s %.3f ms, p99 "
                      "%.3f ms)",
                      middle, at(wall, 0.5), at(wall, 0.99), wall.back(), middle, at(cpu, 0.5),
                      at(cpu, 0.99));
        return line;
    }

    std::vector<double> wall;
    std::vector<double> cpu;

private:
    static int64_t cpuNs() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
    }
    QElapsedTimer wall_;
    int64_t cpu0_ = 0;
};

// The window's own time for each of `samples` live readings, the paint it causes included: the
// reading handed over as the link hands it, without the port and the event loop around it.
Spent windowPerReading(int samples) {
    ck::platform::VirtualClock clock;
    ck::sim::Instrument instrument;
    ck::sim::SimPort port(clock, instrument, 1);
    ck::app::MainWindow window(port, clock);
    window.start();
    window.show();
    QCoreApplication::processEvents();
    Spent spent;
    for (int i = 0; i < samples; ++i) {
        ck::measure::MeasurementGroup g =
            ck::sim::DefaultLiveSequence()[static_cast<std::size_t>(i) % 8];
        g.voltages[0] = static_cast<uint8_t>(1 + i % 250);
        g.pairAngles[0] = static_cast<int16_t>(i / 250 % 360);
        spent.start();
        window.ShowReal(g);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        spent.stop();
    }
    window.link().stop();
    spent.sort();
    return spent;
}

// The program's time in each receive event of `runs` downloads of 200 groups, each with the
// paint it causes.
Spent downloadEvents(int runs) {
    ck::platform::VirtualClock clock;
    ck::sim::Instrument instrument;
    instrument.setStoredGroups(ck::sim::MakeStoredHistory(200, 11));
    instrument.setLinePacing(true);
    ck::sim::SimPort port(clock, instrument, 1);
    ck::app::MainWindow window(port, clock);
    Spent spent;
    bool timing = false;
    port.setReceiveHandler([&, linkHandler = port.receiveHandler()] {
        if (timing) spent.start();
        linkHandler();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        if (timing) spent.stop();
    });
    window.start();
    window.show();
    QCoreApplication::processEvents();
    const auto& s = window.link().state();
    const auto runUntil = [&](const std::function<bool()>& done) {
        for (int steps = 0; !done() && steps < 1000000; ++steps) {
            if (!clock.step()) return false;
        }
        return done();
    };
    if (!runUntil([&] { return s.linkok && window.link().Timer_real().enabled(); })) return {};
    window.TabStrip1().setCurrentIndex(1);
    QCoreApplication::processEvents();
    for (int run = 0; run < runs; ++run) {
        window.Button_clear_Click();
        runUntil([&] { return s.commstate != ck::link::kCommAwaiting; });
        timing = true;
        window.Button_read_Click();
        const bool done = runUntil([&] {
            return !window.link().downloading() && window.DataGrid().TextMatrix(200, 0) == " 200";
        });
        timing = false;
        if (!done) return {};
    }
    spent.sort();
    return spent;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int samples = argc > 1 ? std::atoi(argv[1]) : 2000;

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    const char* slave = ptsname(master);
    const int hold = ::open(slave, O_RDWR | O_NOCTTY);  // keeps the line up between opens
    termios tio{};
    tcgetattr(hold, &tio);
    cfmakeraw(&tio);
    tcsetattr(hold, TCSANOW, &tio);
    QDir().mkpath(config.filePath(QStringLiteral("checkkorvelt/ports")));
    QFile::link(QString::fromLocal8Bit(slave),
                config.filePath(QStringLiteral("checkkorvelt/ports/COM1")));

    ck::platform::QtTimerService timers;
    ck::platform::QtSerialPort port;
    ck::app::MainWindow window(port, timers);
    window.show();
    ck::sim::Instrument instrument;
    std::vector<ck::measure::MeasurementGroup> readings(static_cast<std::size_t>(samples));
    for (std::size_t i = 0; i < readings.size(); ++i) {
        readings[i] = ck::sim::DefaultLiveSequence()[i % 8];
        readings[i].voltages[0] = static_cast<uint8_t>(1 + i % 250);
        readings[i].pairAngles[0] = static_cast<int16_t>(i / 250 % 360);
    }
    instrument.setLiveSequence(readings);
    bool shown = false;
    QObject::connect(&window, &ck::app::MainWindow::liveReadingShown, [&] { shown = true; });
    PaintCounter panelPaints;
    window.Frame_realtime().installEventFilter(&panelPaints);

    Spent updated;  // from the reply's last byte on the line
    Spent painted;
    std::vector<uint8_t> request;
    for (int i = 0; i < samples; ++i) {
        window.link().ComOpen(kCom);
        window.link().ComSend(1, 6, 0, 0, 0);
        QElapsedTimer line;  // the request has been written: the line's time counts from here
        line.start();
        if (!readRequest(master, request, 6)) return 2;
        const auto replies = instrument.feed(request, 0);
        const std::vector<uint8_t>& reply = replies.at(0).bytes;
        shown = false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        const int paintsBefore = panelPaints.paints;
        // The reply but its last byte, then the last byte: the clock starts when the reply is
        // complete on the line. Each goes once the line could have carried it.
        const auto waitForLine = [&](std::size_t bytes) {
            const int64_t due = ck::protocol::LineTimeUs(static_cast<int64_t>(bytes));
            const int64_t left = due - line.nsecsElapsed() / 1000;
            if (left > 0) usleep(static_cast<useconds_t>(left));
        };
        waitForLine(request.size() + reply.size() - 1);
        if (::write(master, reply.data(), reply.size() - 1) < 0) return 3;
        QCoreApplication::processEvents();
        waitForLine(request.size() + reply.size());
        if (::write(master, &reply.back(), 1) != 1) return 3;
        updated.start();
        painted.start();
        const QDeadlineTimer deadline(2000);
        QTimer guard;  // wakes the loop at the deadline if the reply never shows
        guard.start(2000);
        while (!shown && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (!shown) return 4;
        updated.stop();
        while (panelPaints.paints == paintsBefore && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        if (panelPaints.paints == paintsBefore) return 5;
        painted.stop();
    }
    ::close(hold);
    ::close(master);
    updated.sort();
    painted.sort();
    std::printf("reply complete to panel updated, %zu replies: %s; to panel painted: %s\n",
                updated.wall.size(), updated.summary("p50").c_str(),
                painted.summary("p50").c_str());
    std::fflush(stdout);

    const Spent own = windowPerReading(samples);
    std::printf(
        "the window's own time per live reading (in-process, the paint it causes included), %zu "
        "readings: %s\n",
        own.wall.size(), own.summary("p50").c_str());
    std::fflush(stdout);

    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    const Spent events = downloadEvents(runs);
    if (events.wall.empty()) return 6;
    std::printf(
        "the program's time in each receive event of %d downloads of 200 groups (in-process "
        "simulator, the paint it causes included), %zu events: %s\n",
        runs, events.wall.size(), events.summary("median").c_str());
    return 0;
}
