// SPDX-License-Identifier: MIT
// The application as shipped (the real window, the Qt serial port, real timers) against
// zandrel-sim on a pseudo-terminal, started as a separate program. Every wait runs the event
// loop against a deadline.

#include <gtest/gtest.h>

#include "temp_config_home.h"

#include "qt_environment.h"

#include "event_loop.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QSerialPort>
#include <QTabWidget>
#include <QTimer>

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "measure/measurement.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "sim/instrument.h"
#include "sim/live_sequences.h"
#include "views/history_grid.h"
#include "views/live_panel.h"

#ifndef CK_ZANDREL_SIM
#error "CK_ZANDREL_SIM must name the zandrel-sim executable"
#endif

namespace {

namespace fs = std::filesystem;
using ck::app::Control;
using ck::app::MainWindow;
using ck::measure::Input;
using ck::measure::MeasurementGroup;
using ck::measure::Pair;

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QApplication>("e2e_test");

using ck::testing::runUntil;

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A configuration home of our own where every COM number the application scans is pinned to
// a device that does not exist: the machine's own serial ports never take part, and a number
// a simulator gives up goes back to "无效".
class Ports {
public:
    Ports() {
        fs::create_directories(home_.ports());
        for (int n = 1; n <= 16; ++n) {
            fs::create_symlink(absent(n), home_.ports() / ("COM" + std::to_string(n)));
        }
    }
    Ports(const Ports&) = delete;
    Ports& operator=(const Ports&) = delete;

    // Where the pin of COMn points now.
    std::string target(int n) const {
        std::error_code ec;
        return fs::read_symlink(home_.ports() / ("COM" + std::to_string(n)), ec).string();
    }
    std::string absent(int n) const {
        return (home_.root() / ("absent-COM" + std::to_string(n))).string();
    }

private:
    ck::testing::TempConfigHome home_{"ck-e2e-"};
};

// zandrel-sim as a child process, ready once it has printed its terminal's path.
class Sim {
public:
    explicit Sim(QStringList args) {
        args << QStringLiteral("--print-path");
        proc_.setProgram(QStringLiteral(CK_ZANDREL_SIM));
        proc_.setArguments(args);
        // Should this test die, the simulator goes too and takes its link with it.
        proc_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        proc_.start();
        const bool ready = runUntil(
            [&] { return proc_.canReadLine() || proc_.state() == QProcess::NotRunning; }, 10000);
        if (ready && proc_.canReadLine()) path_ = proc_.readLine().trimmed().toStdString();
        if (path_.empty()) {
            ADD_FAILURE() << "zandrel-sim did not start: "
                          << proc_.readAllStandardError().toStdString();
        }
    }
    // Stopped as a user stops it; it must end cleanly (a sanitizer's finding would not).
    ~Sim() {
        if (killed_ || path_.empty()) return;
        if (proc_.state() == QProcess::NotRunning) {
            ADD_FAILURE() << "zandrel-sim ended by itself: "
                          << proc_.readAllStandardError().toStdString();
            return;
        }
        proc_.terminate();
        if (!runUntil([&] { return proc_.state() == QProcess::NotRunning; }, 5000)) {
            ADD_FAILURE() << "zandrel-sim ignored SIGTERM";
            proc_.kill();
            proc_.waitForFinished(2000);
            return;
        }
        EXPECT_EQ(proc_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(proc_.exitCode(), 0) << proc_.readAllStandardError().toStdString();
    }
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    const std::string& path() const { return path_; }
    bool ready() const { return !path_.empty(); }

    // The cable pulled: no goodbye, the link left dangling.
    void kill() {
        killed_ = true;
        proc_.kill();
        runUntil([&] { return proc_.state() == QProcess::NotRunning; }, 5000);
    }

private:
    QProcess proc_;
    std::string path_;
    bool killed_ = false;
};

// The application as main() builds it.
struct App {
    ck::platform::QtTimerService timers;
    ck::platform::QtSerialPort port;
    MainWindow w{port, timers};
    int readings = 0;
    std::vector<QString> comTexts;  // LabComsta as it changed, sampled while waiting

    App() {
        QObject::connect(&w, &MainWindow::liveReadingShown, [this] { ++readings; });
        w.start();
    }
    const ck::link::LinkState& s() { return w.link().state(); }
    QString comStatus() { return w.LabComsta().text(); }
    QString linkStatus() { return w.Lab_rtsta().text(); }

    // Waits, noting every port status text shown meanwhile.
    bool wait(const std::function<bool()>& done, int ms) {
        return runUntil(
            [&] {
                if (comTexts.empty() || comTexts.back() != comStatus())
                    comTexts.push_back(comStatus());
                return done();
            },
            ms);
    }
    bool waitFound(int ms = 8000) {
        return wait([&] { return s().linkok && !w.link().Timer_findcom().enabled(); }, ms);
    }
    void showHistory() { w.TabStrip1().setCurrentIndex(1); }
    void showLive() { w.TabStrip1().setCurrentIndex(0); }
};

// ---------------------------------------------------------------------------------------------
// What the views must show, composed here from the simulator's data with the value texts.

struct Caption {
    int label;
    QString text;
};

std::vector<Caption> LiveCaptions(const MeasurementGroup& g) {
    using ck::measure::idx;
    const std::array<std::pair<Input, int>, 6> voltages = {{{Input::A1, 11},
                                                            {Input::A2, 12},
                                                            {Input::B1, 13},
                                                            {Input::B2, 14},
                                                            {Input::C1, 15},
                                                            {Input::C2, 16}}};
    struct P {
        Pair pair;
        int label;
        bool sequence;
    };
    const std::array<P, 6> pairs = {{{Pair::A1A2, 21, false},
                                     {Pair::B1B2, 23, false},
                                     {Pair::C1C2, 25, false},
                                     {Pair::A1B2, 31, true},
                                     {Pair::B1C2, 33, true},
                                     {Pair::C1A2, 35, true}}};
    std::vector<Caption> out;
    for (const auto& [in, label] : voltages) {
        out.push_back({label, Q(ck::measure::FormatLiveVoltage(g.voltages[idx(in)]))});
    }
    for (const P& p : pairs) {
        const int16_t a = g.pairAngles[idx(p.pair)];
        out.push_back({p.label, Q(ck::measure::FormatAngle(a))});
        const auto f = static_cast<float>(a);
        out.push_back({p.label + 1, Q(p.sequence ? ck::measure::ClassifySequence(f)
                                                 : ck::measure::ClassifyPhase(f))});
    }
    return out;
}

// Empty when the panel shows g, lamps included; else what differs.
std::string LiveDiff(App& app, const MeasurementGroup& g) {
    std::string diff;
    for (const Caption& c : LiveCaptions(g)) {
        const QString shown = app.w.Frame_realtime().caption(c.label);
        if (shown != c.text) {
            diff += "Label" + std::to_string(c.label) + " '" + shown.toStdString() + "' != '" +
                    c.text.toStdString() + "'; ";
        }
    }
    const std::array<Input, 6> lamps = {Input::A1, Input::A2, Input::B1,
                                        Input::B2, Input::C1, Input::C2};
    for (int n = 1; n <= 6; ++n) {
        const bool lit = !app.w.Frame_realtime().shape(n)->isHidden();
        if (lit != g.indicators[ck::measure::idx(lamps[static_cast<std::size_t>(n - 1)])]) {
            diff += "Shape" + std::to_string(n) + (lit ? " lit; " : " dark; ");
        }
    }
    return diff;
}

std::array<QString, 19> HistoryRow(int row, const MeasurementGroup& g) {
    using ck::measure::idx;
    std::array<QString, 19> c;
    c[0] = Q(ck::measure::FormatGroupNumber(row));
    const std::array<std::pair<int, Input>, 6> volts = {{{1, Input::A1},
                                                         {2, Input::A2},
                                                         {5, Input::B1},
                                                         {6, Input::B2},
                                                         {9, Input::C1},
                                                         {10, Input::C2}}};
    for (const auto& [col, in] : volts)
        c[col] = Q(ck::measure::FormatStoredVoltage(g.voltages[idx(in)]));
    const std::array<std::pair<int, Pair>, 6> angles = {{{3, Pair::A1A2},
                                                         {7, Pair::B1B2},
                                                         {11, Pair::C1C2},
                                                         {13, Pair::A1B2},
                                                         {15, Pair::B1C2},
                                                         {17, Pair::C1A2}}};
    for (const auto& [col, pair] : angles) {
        const int16_t a = g.pairAngles[idx(pair)];
        c[col] = Q(ck::measure::FormatAngle(a));
        const auto f = static_cast<float>(a);
        c[col + 1] = Q(col < 13 ? ck::measure::ClassifyPhase(f) : ck::measure::ClassifySequence(f));
    }
    return c;
}

// Rows 1..filledRows as the simulator holds them, the rest empty; the differences found.
std::vector<std::string> HistoryDiffs(App& app, const std::vector<MeasurementGroup>& truth,
                                      int filledRows) {
    std::vector<std::string> diffs;
    for (int r = 1; r <= ck::views::HistoryGrid::kRows - 1; ++r) {
        std::array<QString, 19> want{};
        if (r <= filledRows) want = HistoryRow(r, truth[static_cast<std::size_t>(r - 1)]);
        for (int c = 0; c < 19; ++c) {
            const QString got = app.w.DataGrid().TextMatrix(r, c);
            if (got != want[static_cast<std::size_t>(c)]) {
                diffs.push_back(std::string("(").append(std::to_string(r)) + "," +
                                std::to_string(c) + ") '" + got.toStdString() + "' != '" +
                                want[static_cast<std::size_t>(c)].toStdString() + "'");
            }
        }
    }
    return diffs;
}

int FilledRows(App& app) {
    int n = 0;
    while (n < 200 && !app.w.DataGrid().TextMatrix(n + 1, 0).isEmpty()) ++n;
    return n;
}

::testing::AssertionResult NoDiffs(const std::vector<std::string>& diffs) {
    if (diffs.empty()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << diffs.size() << " cells differ:";
    for (std::size_t i = 0; i < diffs.size() && i < 10; ++i) failure << "\n  " << diffs[i];
    return failure;
}

void Timing(const char* what, qint64 ms) {
    std::printf("[   TIME   ] %s: %lld ms\n", what, static_cast<long long>(ms));
    ::testing::Test::RecordProperty(what, std::to_string(ms));
}

// ---------------------------------------------------------------------------------------------

TEST(EndToEnd, DiscoveryFindsTheInstrumentOnItsComNumber) {
    struct Case {
        int com;
        std::vector<QString> statusesBefore;  // shown by the scan before it gets there
    };
    const std::vector<Case> cases = {
        {1, {}},
        {3, {QStringLiteral("COM1无效"), QStringLiteral("COM2无效")}},
    };
    for (const Case& c : cases) {
        const QString com = QStringLiteral("COM%1").arg(c.com);
        SCOPED_TRACE(com.toStdString());
        Ports ports;
        Sim sim({QStringLiteral("--as"), com});
        ASSERT_TRUE(sim.ready());
        App app;
        QElapsedTimer t;
        t.start();
        ASSERT_TRUE(app.waitFound()) << app.comStatus().toStdString();
        Timing(("found on " + com.toStdString()).c_str(), t.elapsed());
        EXPECT_EQ(app.s().portno, c.com);
        EXPECT_EQ(app.linkStatus(), "通讯成功");
        std::vector<QString> expected = c.statusesBefore;
        expected.push_back(com + QStringLiteral("已打开"));
        std::vector<QString> seen = app.comTexts;
        seen.erase(seen.begin());  // the text from before the first opening
        EXPECT_EQ(seen, expected);
        EXPECT_TRUE(app.w.controlEnabled(Control::menuread));
        // Polling goes on on that port.
        const int before = app.readings;
        ASSERT_TRUE(app.wait([&] { return app.readings > before; }, 4000));
        EXPECT_EQ(app.comStatus(), com + QStringLiteral("已打开"));
    }
}

TEST(EndToEnd, LivePanelShowsTheSimulatorsReadings) {
    Ports ports;
    auto sim = std::make_unique<Sim>(QStringList{"--as", "COM1"});
    ASSERT_TRUE(sim->ready());
    App app;
    ASSERT_TRUE(app.waitFound());
    // A fresh simulator answers its sequence from the start, one group per poll.
    const auto standard = ck::sim::DefaultLiveSequence();
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(app.wait([&] { return app.readings > k; }, 5000));
        EXPECT_EQ(LiveDiff(app, standard[static_cast<std::size_t>(k)]), "");
        EXPECT_EQ(app.linkStatus(), "通讯成功");
    }

    // Another connection: the simulator started again with other readings, same port.
    for (const char* name : {"crossed", "missing"}) {
        SCOPED_TRACE(name);
        const auto seq = ck::sim::LiveSequenceNamed(name);
        ASSERT_TRUE(seq);
        EXPECT_EQ(ports.target(1), sim->path());
        sim.reset();
        EXPECT_EQ(ports.target(1), ports.absent(1)) << "the pin it replaced is back";
        sim = std::make_unique<Sim>(QStringList{"--as", "COM1", "--live", name});
        ASSERT_TRUE(sim->ready());
        ASSERT_TRUE(app.wait([&] { return LiveDiff(app, (*seq)[0]).empty(); }, 8000))
            << LiveDiff(app, (*seq)[0]);
        const int shown = app.readings;
        ASSERT_TRUE(app.wait([&] { return app.readings > shown; }, 5000));
        EXPECT_EQ(LiveDiff(app, (*seq)[1]), "");
    }
}

// Each transport a user meets: found on its COM number, the live panel showing the
// simulator's readings, and a 200-group download landing every row as the simulator holds it;
// on the paced line and on native USB also with every stored group alike (every block reply
// byte for byte the one before).
struct Transport {
    const char* name;
    QStringList simArgs;
    bool identical;
    friend void PrintTo(const Transport& t, std::ostream* os) { *os << t.name; }
};
class OverTransport : public ::testing::TestWithParam<Transport> {};

TEST_P(OverTransport, DiscoveryLiveAndA200GroupDownload) {
    const Transport& tr = GetParam();
    Ports ports;
    QStringList args = {"--as", "COM1", "--groups", "200", "--history-seed", "7"};
    args << tr.simArgs;
    if (tr.identical) args << "--identical";
    Sim sim(args);
    ASSERT_TRUE(sim.ready());
    App app;
    ASSERT_TRUE(app.waitFound()) << app.comStatus().toStdString();
    EXPECT_EQ(app.comStatus(), "COM1已打开");
    EXPECT_EQ(app.linkStatus(), "通讯成功");
    // A fresh simulator answers its live sequence from the start, one reading per poll.
    ASSERT_TRUE(app.wait([&] { return app.readings > 0; }, 5000));
    const auto live = ck::sim::DefaultLiveSequence();
    EXPECT_TRUE(std::any_of(live.begin(), live.end(), [&](const MeasurementGroup& g) {
        return LiveDiff(app, g).empty();
    })) << LiveDiff(app, live[0]);

    app.showHistory();
    QElapsedTimer t;
    t.start();
    app.w.Button_read_Click();
    ASSERT_TRUE(app.w.link().Timer_read().enabled());
    const bool done = app.wait(
        [&] { return FilledRows(app) == 200 && app.w.controlEnabled(Control::Button_read); },
        60000);
    const qint64 ms = t.elapsed();
    ASSERT_TRUE(done) << FilledRows(app) << " rows, " << app.linkStatus().toStdString();
    Timing("download of 200 groups", ms);
    const auto truth =
        tr.identical ? ck::sim::MakeIdenticalHistory(200, 7) : ck::sim::MakeStoredHistory(200, 7);
    EXPECT_TRUE(NoDiffs(HistoryDiffs(app, truth, 200)));
    EXPECT_EQ(app.s().histcount, 200);
    EXPECT_EQ(app.linkStatus(), "通讯成功");
    EXPECT_FALSE(app.w.controlVisible(Control::Progress_read));
    EXPECT_TRUE(app.w.link().Timer_real().enabled());
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, OverTransport,
    ::testing::Values(Transport{"PacedLine", {"--transport", "pty"}, false},
                      Transport{"PacedLineIdentical", {"--transport", "pty"}, true},
                      Transport{"UsbAdapter", {"--transport", "uart"}, false},
                      Transport{"NativeUsb", {"--transport", "usb"}, false},
                      Transport{"NativeUsbIdentical", {"--transport", "usb"}, true},
                      Transport{"Radio", {"--transport", "radio", "--seed", "3"}, false}),
    [](const ::testing::TestParamInfo<Transport>& p) { return p.param.name; });

// Every reply sent twice, back to back or later, as a radio or RS-485 link may: every row is
// the instrument's own or empty, never another group's, and the window is never left busy.
struct Copies {
    const char* name;
    QStringList simArgs;
    friend void PrintTo(const Copies& c, std::ostream* os) { *os << c.name; }
};
class DuplicatedReplies : public ::testing::TestWithParam<Copies> {};

TEST_P(DuplicatedReplies, NoRowShowsAnotherGroup) {
    Ports ports;
    QStringList args = {"--as", "COM1", "--groups", "200", "--history-seed", "5"};
    args << GetParam().simArgs;
    const auto truth = ck::sim::MakeStoredHistory(200, 5);
    Sim sim(args);
    ASSERT_TRUE(sim.ready());
    App app;
    ASSERT_TRUE(app.waitFound());
    app.showHistory();
    QElapsedTimer t;
    t.start();
    app.w.Button_read_Click();
    ASSERT_TRUE(app.w.link().Timer_read().enabled());
    // The end of the download, whole or in the time-out: the read command is back.
    ASSERT_TRUE(app.wait(
        [&] {
            return app.w.controlEnabled(Control::Button_read) &&
                   !app.w.controlVisible(Control::Progress_read);
        },
        90000))
        << FilledRows(app) << " rows, " << app.linkStatus().toStdString();
    Timing("download with every reply twice", t.elapsed());
    std::vector<std::string> shifted;
    int own = 0;
    for (int r = 1; r <= 200; ++r) {
        const auto want = HistoryRow(r, truth[static_cast<std::size_t>(r - 1)]);
        bool same = true;
        bool empty = true;
        for (int c = 0; c < 19; ++c) {
            const QString got = app.w.DataGrid().TextMatrix(r, c);
            same = same && got == want[static_cast<std::size_t>(c)];
            empty = empty && got.isEmpty();
        }
        if (same) ++own;
        if (!same && !empty) shifted.push_back("row " + std::to_string(r));
    }
    EXPECT_TRUE(NoDiffs(shifted));
    std::printf("[   ROWS   ] %d of 200 rows the instrument's own, the rest empty\n", own);
    ::testing::Test::RecordProperty("own rows", own);
    EXPECT_TRUE(app.w.controlEnabled(Control::TabStrip1));
    EXPECT_TRUE(app.w.link().Timer_real().enabled());
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, DuplicatedReplies,
                         ::testing::Values(Copies{"BackToBack", {"--duplicate"}},
                                           Copies{"Late50ms", {"--duplicate-late", "50"}},
                                           Copies{"Late150ms", {"--duplicate-late", "150"}},
                                           Copies{"Late300ms", {"--duplicate-late", "300"}},
                                           Copies{"Late1000ms", {"--duplicate-late", "1000"}}),
                         [](const ::testing::TestParamInfo<Copies>& p) { return p.param.name; });

TEST(EndToEnd, CablePulledMidDownloadKeepsRowsAndRecoversWhenItIsBack) {
    Ports ports;
    const QStringList args = {"--as", "COM1", "--groups", "200", "--history-seed", "11"};
    const auto truth = ck::sim::MakeStoredHistory(200, 11);
    auto sim = std::make_unique<Sim>(args);
    ASSERT_TRUE(sim->ready());
    App app;
    ASSERT_TRUE(app.waitFound());
    app.showHistory();
    app.w.Button_read_Click();
    ASSERT_TRUE(app.wait([&] { return FilledRows(app) >= 30; }, 20000));

    sim->kill();
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(app.wait([&] { return app.linkStatus() == "通讯失败"; }, 5000));
    Timing("failure shown after the cable was pulled", t.elapsed());
    const int kept = FilledRows(app);
    EXPECT_GE(kept, 30);
    EXPECT_LT(kept, 200);
    EXPECT_TRUE(NoDiffs(HistoryDiffs(app, truth, kept)));
    EXPECT_FALSE(app.w.controlVisible(Control::Progress_read));
    EXPECT_TRUE(app.w.controlEnabled(Control::Button_read));
    // Polling goes on, and finds the device gone.
    ASSERT_TRUE(app.wait([&] { return app.comStatus() == "COM1无效"; }, 5000))
        << app.comStatus().toStdString();

    // Plugged in again: polling picks it up by itself.
    sim = std::make_unique<Sim>(args);
    ASSERT_TRUE(sim->ready());
    t.restart();
    ASSERT_TRUE(app.wait(
        [&] { return app.comStatus() == "COM1已打开" && app.linkStatus() == "通讯成功"; }, 6000))
        << app.comStatus().toStdString() << " " << app.linkStatus().toStdString();
    Timing("link back after the simulator restarted", t.elapsed());
    EXPECT_TRUE(NoDiffs(HistoryDiffs(app, truth, kept)));
    app.showLive();
    const int before = app.readings;
    ASSERT_TRUE(app.wait([&] { return app.readings > before; }, 5000));
    EXPECT_EQ(LiveDiff(app, ck::sim::DefaultLiveSequence()[0]), "");
}

// Line noise in front of every reply: on a real line the bytes trickle in, so the receive
// threshold is often met before the frame's own header is in.
TEST(EndToEnd, RepliesBehindLineNoiseAreAccepted) {
    Ports ports;
    Sim sim({"--as", "COM1", "--noise", "5", "--groups", "12", "--history-seed", "3"});
    ASSERT_TRUE(sim.ready());
    App app;
    ASSERT_TRUE(app.waitFound());
    ASSERT_TRUE(app.wait([&] { return app.readings > 0; }, 5000));
    EXPECT_EQ(LiveDiff(app, ck::sim::DefaultLiveSequence()[0]), "");
    app.showHistory();
    app.w.Button_read_Click();
    ASSERT_TRUE(app.wait(
        [&] { return FilledRows(app) == 12 && app.w.controlEnabled(Control::Button_read); }, 10000))
        << FilledRows(app) << " rows";
    EXPECT_TRUE(NoDiffs(HistoryDiffs(app, ck::sim::MakeStoredHistory(12, 3), 12)));
    EXPECT_EQ(app.linkStatus(), "通讯成功");
}

TEST(EndToEnd, PortHeldByAnotherProgramIsInUse) {
    Ports ports;
    Sim held({"--as", "COM1"});
    Sim sim({"--as", "COM2"});
    ASSERT_TRUE(held.ready() && sim.ready());
    // Opened as any program would open it: Qt takes the lock file and the exclusive mode.
    auto holder = std::make_unique<QSerialPort>(QString::fromStdString(held.path()));
    ASSERT_TRUE(holder->open(QIODevice::ReadWrite)) << holder->errorString().toStdString();

    App app;
    ASSERT_TRUE(app.waitFound());
    EXPECT_EQ(app.s().portno, 2);
    ASSERT_GE(app.comTexts.size(), 3u);
    EXPECT_EQ(app.comTexts[1], "COM1被占用");
    EXPECT_EQ(app.comTexts[2], "COM2已打开");

    // Taken while in use: every poll finds it held until it is let go.
    QSerialPort thief(QString::fromStdString(sim.path()));
    ASSERT_TRUE(app.wait([&] { return app.readings > 0; }, 5000));
    ASSERT_TRUE(thief.open(QIODevice::ReadWrite)) << thief.errorString().toStdString();
    ASSERT_TRUE(app.wait([&] { return app.comStatus() == "COM2被占用"; }, 4000));
    ASSERT_TRUE(app.wait([&] { return app.linkStatus() == "通讯失败"; }, 5000));
    thief.close();
    const int before = app.readings;
    ASSERT_TRUE(app.wait(
        [&] {
            return app.readings > before && app.comStatus() == "COM2已打开" &&
                   app.linkStatus() == "通讯成功";
        },
        5000))
        << app.comStatus().toStdString();
}

}  // namespace
