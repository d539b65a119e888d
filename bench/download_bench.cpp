// SPDX-License-Identifier: MIT
// The real program against zandrel-sim on a pseudo-terminal: a full 200-group download from
// the read click to the download's end, against the time a 9600-baud line itself needs, with varied
// stored groups (also with the communication trace on, to a file and its window) and with every
// group alike on the paced line, over the simulated radio link,
// and with varied groups while another process keeps the disk busy; every row checked against
// the simulator's. Then polling a reading that never changes: how soon after its last byte each
// repeated reading is on the panel, and what polling costs (CPU share of one core, resident
// memory over time).
//
//   download_bench [RUNS [POLL_SECONDS]]
//   download_bench --disk-load FILE   (the disk load itself: writes and syncs FILE for ever)

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/trace_recorder.h"
#include "app/trace_window.h"
#include "link/protocol.h"
#include "measure/history_table.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "sim/instrument.h"
#include "views/history_grid.h"

namespace {

constexpr int kGroups = 200;
constexpr int kTurnaroundMs = 10;
constexpr uint64_t kHistorySeed = 7;

// Runs the event loop until done() holds, looking every 5 ms; false after ms.
bool runUntil(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    QTimer look;
    look.start(5);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for ms, adding no events of its own.
void idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// What the line needs for a download of n groups: every request and reply byte at 10 bit
// times, and the instrument's turnaround before each reply.
int exchangesFor(int n) { return 1 + (n + 2) / 3; }  // the count, then blocks of three

double lineLimitMs(int n) {
    int64_t bytes = 6 + (n < 256 ? 7 : 8);  // count request and reply
    for (int start = 0; start < n; start += 3) {
        bytes += 10 + 24 * std::min(3, n - start) + 6;
    }
    return static_cast<double>(ck::protocol::LineTimeUs(bytes)) / 1000.0 +
           exchangesFor(n) * kTurnaroundMs;
}

// Rows of the table that differ from what the simulator holds.
int wrongRows(ck::app::MainWindow& window,
              const std::vector<ck::measure::MeasurementGroup>& truth) {
    ck::measure::HistoryTable expected;
    const ck::measure::RowSpan rows = expected.fill(
        0, std::span(truth).first(std::min<std::size_t>(truth.size(), std::size_t{kGroups})));
    int wrong = 0;
    for (int r = rows.first; r < rows.first + rows.count; ++r) {
        for (int c = 0; c < ck::measure::kHistoryCols; ++c) {
            if (window.DataGrid().TextMatrix(r, c).toStdString() != expected.cell(r, c)) {
                ++wrong;
                break;
            }
        }
    }
    return wrong;
}

// zandrel-sim as the instrument on COM1, with these options besides the history.
bool startSim(QProcess& sim, const QStringList& extra) {
    if (sim.state() != QProcess::NotRunning) {
        sim.terminate();
        sim.waitForFinished(3000);
    }
    const QStringList args = {"--as",           "COM1",
                              "--groups",       QString::number(kGroups),
                              "--history-seed", QString::number(kHistorySeed),
                              "--turnaround",   QString::number(kTurnaroundMs),
                              "--print-path"};
    sim.start(QStringLiteral(CK_ZANDREL_SIM), args + extra);
    return sim.waitForReadyRead(5000);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Keeps the disk busy as another program writing a log or a backup would: 1 MiB written and
// synced to disk, again and again, the file started over at 64 MiB. Ends with its parent.
int diskLoad(const char* path) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) return 0;
    setpriority(PRIO_PROCESS, 0, 0);  // an ordinary program, whatever the bench was given
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path);
        return 1;
    }
    const std::vector<char> block(1 << 20, 'x');
    for (long written = 0;; written += static_cast<long>(block.size())) {
        if (written >= 64L << 20) {
            if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) return 1;
            written = 0;
        }
        if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) return 1;
        if (fdatasync(fd) != 0) return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--disk-load") return diskLoad(argv[2]);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const int pollSeconds = argc > 2 ? std::atoi(argv[2]) : 60;

    QProcess sim;
    if (!startSim(sim, {})) {
        std::fprintf(stderr, "zandrel-sim did not start\n");
        return 1;
    }

    ck::platform::QtTimerService timers;
    ck::platform::QtSerialPort port;
    ck::app::MainWindow window(port, timers);
    // The program's time in each receive event. The link writes the next request first and
    // then draws the table and the progress bar while the instrument answers, so this is
    // not time the line waits; the margin over the line per exchange is printed with each
    // download.
    std::vector<double> ownMs;
    bool timing = false;
    // When reply bytes were last taken in, for the repeated live readings.
    QElapsedTimer sinceStart;
    sinceStart.start();
    int64_t lastReceivedNs = 0;
    port.setReceiveHandler([&, linkHandler = port.receiveHandler()] {
        lastReceivedNs = sinceStart.nsecsElapsed();
        QElapsedTimer h;
        h.start();
        linkHandler();
        if (timing) ownMs.push_back(static_cast<double>(h.nsecsElapsed()) / 1e6);
    });
    window.start();
    window.show();
    auto& s = window.link().state();
    if (!runUntil([&] { return s.linkok && window.link().Timer_real().enabled(); }, 5000)) {
        std::fprintf(stderr, "the instrument was not found\n");
        return 2;
    }

    window.TabStrip1().setCurrentIndex(1);
    const double limit = lineLimitMs(kGroups);
    // The simulator started anew: the next poll's answer.
    const auto answeredAgain = [&] {
        window.Lab_rtsta().setText(QString());
        return runUntil([&] { return window.Lab_rtsta().text() == QStringLiteral("通讯成功"); },
                        10000) &&
               runUntil([&] { return s.commstate != ck::link::kCommAwaiting; }, 3000);
    };
    const auto downloads = [&](const char* label, int count,
                               const std::vector<ck::measure::MeasurementGroup>& truth) {
        for (int run = 0; run < count; ++run) {
            window.DataGrid().InitGrid();
            runUntil([&] { return s.commstate != ck::link::kCommAwaiting; }, 3000);
            timing = true;
            const double cpu0 = cpuSeconds();
            QElapsedTimer t;
            t.start();
            window.Button_read_Click();
            const bool done = runUntil(
                [&] {
                    return window.Progress_read().isHidden() &&
                           window.link().Timer_real().enabled() &&
                           !window.DataGrid().TextMatrix(kGroups, 0).isEmpty();
                },
                60000);
            const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
            timing = false;
            if (!done) {
                std::fprintf(stderr, "download %d%s did not finish\n", run + 1, label);
                return false;
            }
            const int wrong = wrongRows(window, truth);
            std::printf(
                "download of %d groups%s: %.0f ms, line limit %.0f ms, %.3fx the line, "
                "%.2f ms over it per exchange (CPU %.0f ms), %d of %d rows right\n",
                kGroups, label, ms, limit, ms / limit, (ms - limit) / exchangesFor(kGroups),
                (cpuSeconds() - cpu0) * 1000.0, kGroups - wrong, kGroups);
            std::fflush(stdout);
            if (wrong != 0) return false;
        }
        return true;
    };
    const auto varied = ck::sim::MakeStoredHistory(kGroups, kHistorySeed);
    if (!downloads("", runs, varied)) return 3;
    std::sort(ownMs.begin(), ownMs.end());
    if (!ownMs.empty()) {
        const auto at = [&](double q) {
            return ownMs[std::min(ownMs.size() - 1,
                                  static_cast<std::size_t>(q * static_cast<double>(ownMs.size())))];
        };
        std::printf(
            "the program's time in each receive event (the next request written first, "
            "then the window drawn), %zu replies: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
            ownMs.size(), at(0.5), at(0.99), ownMs.back());
    }

    // With the communication trace on, to a file and to its window: every request and reply
    // formatted, written and shown. Once the link has forgotten the replies above, so that the
    // first of these is a first download too.
    idle(static_cast<int>(ck::link::ReplyArbiter::kMemoryUs / 1000) + 1000);
    {
        const QString tracePath = config.filePath("trace.txt");
        window.setTraceFile(tracePath);
        window.menutrace_Click();
        const bool traced = downloads(" traced", runs, varied);
        window.traceRecorder().closeFile();
        if (window.traceWindow()) window.traceWindow()->close();
        QFile trace(tracePath);
        std::printf("the trace of those downloads: %lld bytes\n",
                    static_cast<long long>(trace.size()));
        if (!traced || trace.size() == 0) return 3;
    }

    // Every stored group alike: every block reply byte for byte the one before.
    if (!startSim(sim, {"--identical"}) || !answeredAgain()) return 5;
    if (!downloads(" all alike", runs, ck::sim::MakeIdenticalHistory(kGroups, kHistorySeed))) {
        return 3;
    }
    // Over the simulated radio link: replies 20 to 100 ms late, in pieces.
    if (!startSim(sim, {"--transport", "radio"}) || !answeredAgain()) return 5;
    if (!downloads(" over radio", 1, varied)) return 3;
    if (!startSim(sim, {}) || !answeredAgain()) return 5;

    // The same while another process writes and syncs a file in the build folder.
    const QString loadFile = QCoreApplication::applicationDirPath() + "/disk-load.tmp";
    QProcess load;
    load.start(QCoreApplication::applicationFilePath(), {"--disk-load", loadFile});
    if (!load.waitForStarted(5000)) {
        std::fprintf(stderr, "the disk load did not start\n");
        return 4;
    }
    idle(2000);  // let it fill the disk's queue
    const bool loaded = downloads(" while the disk is busy", runs, varied);
    load.kill();
    load.waitForFinished(3000);
    QFile::remove(loadFile);
    if (!loaded) return 3;

    // Polling in the live view on a reading that never changes: each reply repeats the one
    // shown, and the panel shows it as soon as it is in; and what polling costs while the
    // engineer watches.
    if (!startSim(sim, {"--live", "steady"})) return 5;
    window.TabStrip1().setCurrentIndex(0);
    if (!answeredAgain()) return 5;
    idle(3000);  // settle
    std::vector<double> shownMs;
    const auto shown = QObject::connect(&window, &ck::app::MainWindow::liveReadingShown, [&] {
        shownMs.push_back(static_cast<double>(sinceStart.nsecsElapsed() - lastReceivedNs) / 1e6);
    });
    const long rssStart = rssKiB();
    const double cpuStart = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    long rssMax = rssStart;
    for (int i = 0; i < pollSeconds / 10; ++i) {
        idle(10000);
        rssMax = std::max(rssMax, rssKiB());
    }
    const double cpu = cpuSeconds() - cpuStart;
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    QObject::disconnect(shown);
    std::sort(shownMs.begin(), shownMs.end());
    if (!shownMs.empty()) {
        std::printf(
            "a live reading equal to the one shown, its last bytes in to the panel showing it, "
            "%zu readings: median %.2f ms, max %.2f ms\n",
            shownMs.size(), shownMs[shownMs.size() / 2], shownMs.back());
    }
    std::printf(
        "polling for %.0f s: CPU %.2f %% of one core, resident memory %.1f MB at start, "
        "%.1f MB at most, %.1f MB at the end\n",
        seconds, cpu / seconds * 100.0, static_cast<double>(rssStart) / 1024.0,
        static_cast<double>(rssMax) / 1024.0, static_cast<double>(rssKiB()) / 1024.0);
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
