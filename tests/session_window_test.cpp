// SPDX-License-Identifier: MIT
// The view menu of the real window on virtual time: the phasor window following the link, and
// the session log over a simulated hour across midnight, remembered between runs, and failing
// on a disk that fills up or a folder it cannot write to.

#include <gtest/gtest.h>

#include "qt_environment.h"
#include "seen_messages.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main_window.h"
#include "link/protocol.h"
#include "measure/phasors.h"
#include "output/session_log.h"
#include "platform/append_file.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"
#include "views/live_panel.h"
#include "views/phasor_window.h"

namespace ck::app {
namespace {

using platform::LocalTime;

[[maybe_unused]] auto* const kQtEnvironment = ck::testing::AddQtEnvironment<QApplication>(
    "session_window_test", ck::testing::Settings::TestMode);

// 2026-12-07 23:30:00 in China (+08:00): half an hour before midnight.
constexpr int64_t kStartUnixMs = 1796657400000;
constexpr int kOffset = 480;

// The user's clock, running with the virtual one.
class VirtualWallClock final : public platform::WallClock {
public:
    VirtualWallClock(const platform::VirtualClock& clock, int64_t startUnixMs)
        : clock_(clock), start_(startUnixMs) {}
    LocalTime now() const override {
        return platform::LocalTimeAt(start_ + clock_.nowMs(), kOffset);
    }

private:
    const platform::VirtualClock& clock_;
    int64_t start_;
};

// The real append-only files, under a data folder of the test's own.
class FilesIn final : public platform::AppendFileSystem {
public:
    explicit FilesIn(std::string dir) : dir_(std::move(dir)) {}
    std::string dataDir() const override { return dir_; }
    platform::OpenedAppendFile openForAppend(const std::string& path) override {
        ++opens;
        return platform::OpenAppendFile(path);
    }
    int opens = 0;

private:
    std::string dir_;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A small file system of its own on a fresh folder, while the test runs (root only). Declared
// before the window, so that its files are closed when it goes.
struct SmallDisk {
    QTemporaryDir dir;
    QByteArray where = dir.path().toLocal8Bit();
    bool mounted = false;
    SmallDisk(unsigned long flags, const char* options)
        : mounted(mount("tmpfs", where.constData(), "tmpfs", flags, options) == 0) {}
    ~SmallDisk() {
        if (mounted) {
            EXPECT_EQ(umount(where.constData()), 0) << "still in use";
        }
    }
    std::string path(const char* sub = "") const { return dir.filePath(sub).toStdString(); }
};

std::string headerLine() { return std::string(output::kUtf8Bom) + output::LogHeader() + "\r\n"; }

struct Rig {
    QTemporaryDir home;  // settings and data folder
    std::string data;
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    ck::testing::SeenMessages messages;  // of every window opened
    std::unique_ptr<MainWindow> w;
    FilesIn* files = nullptr;
    std::vector<int64_t> shownAt;  // virtual time of each live reading shown
    int quits = 0;

    explicit Rig(const QString& settingsDir = {}, std::string dataDir = {}) {
        instrument.setLinePacing(true);
        data = dataDir.empty() ? home.filePath("Trandel").toStdString() : dataDir;
        open(settingsDir.isEmpty() ? home.path() : settingsDir);
    }

    void open(const QString& settingsDir) {
        w = std::make_unique<MainWindow>(port, clock);
        w->setQuit([this] { ++quits; });
        w->setUserMessages(messages.forWindow());
        w->sessionRecorder().setSettings(
            std::make_unique<QSettings>(settingsDir + "/checkkorvelt.ini", QSettings::IniFormat));
        auto f = std::make_unique<FilesIn>(data);
        files = f.get();
        w->sessionRecorder().setFileSystem(std::move(f));
        w->setClock(std::make_unique<VirtualWallClock>(clock, kStartUnixMs));
        QObject::connect(w.get(), &MainWindow::liveReadingShown,
                         [this] { shownAt.push_back(clock.nowMs()); });
        w->start();
    }
    // Runs the link until `n` more live readings have been shown.
    void readings(std::size_t n) {
        const std::size_t want = shownAt.size() + n;
        while (shownAt.size() < want && clock.step()) {
        }
    }
    void setLogging(bool on) {
        if (w->menulog().isChecked() != on) w->menulog().trigger();
    }
    QString middlePanel() const { return w->statusPanel(2).text(); }
    std::string logFile(const char* day) const {
        return data + "/log/checkkorvelt-" + day + ".csv";
    }
};

// The lines of a log file after its header.
std::vector<std::string> linesOf(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t at = headerLine().size();
    while (at < content.size()) {
        const std::size_t end = content.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(content.substr(at) + "<unfinished>");
            break;
        }
        lines.push_back(content.substr(at, end + 2 - at));
        at = end + 2;
    }
    return lines;
}

TEST(ViewMenu, BeforeHelpWithThePhasorWindowAndTheLog) {
    Rig r;
    QStringList menus;
    for (QAction* a : r.w->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"文件", "操作", "视图", "帮助"}));
    QMenu* view = r.w->findChild<QMenu*>("menuview");
    ASSERT_TRUE(view);
    QStringList entries;
    for (QAction* a : view->actions()) entries << a->text();
    EXPECT_EQ(entries, (QStringList{"相量图", "记录实时数据"}));
    EXPECT_FALSE(r.w->menuphasor().isCheckable());
    EXPECT_TRUE(r.w->menulog().isCheckable());
    EXPECT_FALSE(r.w->menulog().isChecked());  // off by default
    EXPECT_EQ(r.middlePanel(), "Zandrel");
}

TEST(ViewMenu, ThePhasorWindowFollowsTheLinkAndClosingItChangesNothingElse) {
    Rig r;
    views::PhasorWindow& p = r.w->phasorWindow();
    EXPECT_FALSE(p.isVisible());
    r.w->menuphasor().trigger();
    EXPECT_TRUE(p.isVisible());
    EXPECT_NE(&p, static_cast<QWidget*>(r.w.get()));
    EXPECT_TRUE(p.isWindow());
    r.readings(3);
    const auto& seq = r.instrument.liveSequence();
    auto last = [&] { return seq[(r.shownAt.size() - 1) % seq.size()]; };
    EXPECT_EQ(p.diagram().diagram()->phasors[1].angleDeg,
              measure::PhasorGeometry(last()).phasors[1].angleDeg);
    EXPECT_EQ(p.angleLabel(measure::Pair::C1A2).text(), r.w->Frame_realtime().caption(35));
    EXPECT_EQ(p.verdictLabel(measure::Pair::C1A2).text(), r.w->Frame_realtime().caption(36));

    // Closed: the main window, its polling and the log go on; the window still follows.
    r.setLogging(true);
    p.close();
    EXPECT_FALSE(p.isVisible());
    const std::size_t before = r.shownAt.size();
    r.readings(3);
    EXPECT_EQ(r.shownAt.size(), before + 3);
    EXPECT_TRUE(r.w->menulog().isChecked());
    EXPECT_EQ(r.quits, 0);
    EXPECT_EQ(linesOf(slurp(r.logFile("20261207"))).size(), 3u);
    for (std::size_t k = 0; k < 6; ++k) {
        const auto pair = static_cast<measure::Pair>(k);
        const int n = std::array{21, 23, 25, 31, 33, 35}[k];
        EXPECT_EQ(p.angleLabel(pair).text(), r.w->Frame_realtime().caption(n)) << k;
        EXPECT_EQ(p.verdictLabel(pair).text(), r.w->Frame_realtime().caption(n + 1)) << k;
    }
    r.w->menuphasor().trigger();
    EXPECT_TRUE(p.isVisible());
    // Closing the main window takes the phasor window with it.
    r.w->close();
    EXPECT_FALSE(p.isVisible());
}

// The phasor window is made when first opened; opened after readings, it shows the last one.
TEST(ViewMenu, ThePhasorWindowOpenedLateShowsTheLastReading) {
    Rig r;
    r.readings(2);
    r.w->menuphasor().trigger();
    const views::PhasorWindow& p = r.w->phasorWindow();
    for (std::size_t k = 0; k < 6; ++k) {
        const auto pair = static_cast<measure::Pair>(k);
        const int n = std::array{21, 23, 25, 31, 33, 35}[k];
        EXPECT_EQ(p.angleLabel(pair).text(), r.w->Frame_realtime().caption(n)) << k;
    }
}

TEST(SessionLog, RememberedBetweenRunsAndShownInTheStatusBar) {
    QTemporaryDir settings;
    {
        Rig r(settings.path());
        EXPECT_FALSE(r.w->menulog().isChecked());
        r.w->menulog().trigger();
        EXPECT_TRUE(r.w->menulog().isChecked());
        EXPECT_EQ(r.middlePanel(), "Zandrel  记录中");
    }
    {
        Rig r(settings.path());
        EXPECT_TRUE(r.w->menulog().isChecked());
        EXPECT_EQ(r.middlePanel(), "Zandrel  记录中");
        r.readings(1);
        EXPECT_EQ(linesOf(slurp(r.logFile("20261207"))).size(), 1u);
        r.w->menulog().trigger();
        EXPECT_FALSE(r.w->menulog().isChecked());
        EXPECT_EQ(r.middlePanel(), "Zandrel");
        r.readings(4);
        EXPECT_EQ(linesOf(slurp(r.logFile("20261207"))).size(), 1u);  // nothing while off
    }
    Rig r(settings.path());
    EXPECT_FALSE(r.w->menulog().isChecked());
    EXPECT_EQ(r.middlePanel(), "Zandrel");
}

TEST(SessionLog, AnHourOfPollingAcrossMidnightEveryLineChecked) {
    // Each line waits for the disk; on a memory file system when one can be had, so that 2400
    // of those waits do not make the test slow.
    const SmallDisk disk(0, "size=1m");
    Rig r({}, disk.path("Trandel"));
    r.setLogging(true);
    r.clock.advance(3600 * 1000);

    // Every reading the window showed, at the link's cadence, answered by the instrument.
    const std::size_t n = r.shownAt.size();
    std::size_t live = 0;
    for (const auto& q : r.instrument.requests()) live += q.code == protocol::kCodeLive;
    EXPECT_EQ(n, live);
    EXPECT_GE(n, 2395u);
    for (std::size_t i = 1; i < n; ++i) ASSERT_EQ(r.shownAt[i] - r.shownAt[i - 1], 1500) << i;

    const std::string before = slurp(r.logFile("20261207"));
    const std::string after = slurp(r.logFile("20261208"));
    ASSERT_TRUE(before.starts_with(headerLine()));
    ASSERT_TRUE(after.starts_with(headerLine()));
    std::vector<std::string> lines = linesOf(before);
    const std::size_t beforeMidnight = lines.size();
    for (std::string& l : linesOf(after)) lines.push_back(std::move(l));
    ASSERT_EQ(lines.size(), n);

    const auto& seq = r.instrument.liveSequence();
    std::size_t changedSecondBy[3] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const LocalTime t = platform::LocalTimeAt(kStartUnixMs + r.shownAt[i], kOffset);
        // The day's file holds exactly that day's readings.
        EXPECT_EQ(i < beforeMidnight, t.day == 7) << i;
        EXPECT_EQ(lines[i], output::LogLine(measure::LiveReading(seq[i % seq.size()], t, 3))) << i;
        if (i > 0) {
            const auto secondOf = [](const std::string& l) { return std::stoi(l.substr(17, 2)); };
            ++changedSecondBy[(secondOf(lines[i]) - secondOf(lines[i - 1]) + 60) % 60];
        }
    }
    // 1.5 s apart: the seconds advance by 1 and 2 in turn.
    EXPECT_EQ(changedSecondBy[0], 0u);
    EXPECT_NEAR(static_cast<double>(changedSecondBy[1]), static_cast<double>(changedSecondBy[2]),
                1);
    // Half an hour on either side of midnight.
    EXPECT_NEAR(static_cast<double>(beforeMidnight), 1198, 2);
    EXPECT_TRUE(lines[beforeMidnight - 1].starts_with("2026-12-07T23:59:5"));
    EXPECT_TRUE(lines[beforeMidnight].starts_with("2026-12-08T00:00:0"));
    EXPECT_EQ(r.files->opens, 2);
    EXPECT_TRUE(r.messages.boxes.empty());
}

// After a failure to write: logging is off, remembered off, one message naming the file, the
// earlier lines whole, and polling going on.
void expectStoppedCleanly(Rig& r, const std::string& file, const char* reason) {
    ASSERT_EQ(r.messages.boxes.size(), 1u);
    const auto& [title, text, style] = r.messages.boxes[0];
    EXPECT_EQ(title, "记录实时数据");
    EXPECT_EQ(style, 48);
    EXPECT_NE(text.find(file), std::string::npos) << text;
    EXPECT_NE(text.find(reason), std::string::npos) << text;
    EXPECT_FALSE(r.w->menulog().isChecked());
    EXPECT_EQ(r.middlePanel(), "Zandrel");
    EXPECT_FALSE(r.w->sessionRecorder().isOn());
    const std::size_t shown = r.shownAt.size();
    r.clock.advance(1500 * 10);
    EXPECT_EQ(r.shownAt.size(), shown + 10);  // polling never noticed
    EXPECT_EQ(r.messages.boxes.size(), 1u);
}

void expectWholeLinesOfTheFirstReadings(Rig& r, const std::string& content, std::size_t atLeast) {
    ASSERT_TRUE(content.starts_with(headerLine()));
    const std::vector<std::string> lines = linesOf(content);
    EXPECT_GE(lines.size(), atLeast);
    ASSERT_LE(lines.size(), r.shownAt.size());
    const auto& seq = r.instrument.liveSequence();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LocalTime t = platform::LocalTimeAt(kStartUnixMs + r.shownAt[i], kOffset);
        EXPECT_EQ(lines[i], output::LogLine(measure::LiveReading(seq[i % seq.size()], t, 3))) << i;
    }
}

TEST(SessionLog, AFileSizeLimitStopsTheLogWithOneMessageAndLosesNothingEarlier) {
    // The kernel cuts the write that crosses the limit short and refuses the rest, as a disk
    // that fills up does: the same short write and failed write the log meets on a full disk.
    Rig r;
    r.setLogging(true);
    r.readings(3);
    const std::string file = r.logFile("20261207");
    ASSERT_EQ(linesOf(slurp(file)).size(), 3u);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = slurp(file).size() + 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    r.readings(20);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    expectStoppedCleanly(r, file, "too large");
    expectWholeLinesOfTheFirstReadings(r, slurp(file), 10);
}

TEST(SessionLog, AFullDiskStopsTheLogWithOneMessageAndLosesNothingEarlier) {
    const SmallDisk disk(0, "size=16k");
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    Rig r({}, disk.path());
    r.setLogging(true);
    r.readings(400);  // more than 16 KiB of lines
    const std::string file = r.logFile("20261207");
    const std::string content = slurp(file);
    expectStoppedCleanly(r, file, "No space");
    expectWholeLinesOfTheFirstReadings(r, content, 50);
}

TEST(SessionLog, AFolderItCannotWriteStopsTheLogWithOneMessage) {
    struct Case {
        const char* name;
        std::function<void(const std::string& data)> spoil;
        const char* reason;
        bool needsUnprivileged;
    };
    const Case cases[] = {
        {"a file where the log folder goes",
         [](const std::string& data) {
             std::filesystem::create_directories(data);
             std::ofstream(data + "/log") << "not a folder";
         },
         "Not a directory", false},
        {"a read-only data folder",
         [](const std::string& data) {
             std::filesystem::create_directories(data);
             std::filesystem::permissions(
                 data, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
         },
         "Permission denied", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsUnprivileged && geteuid() == 0) continue;  // the unprivileged run checks it
        Rig r;
        c.spoil(r.data);
        r.setLogging(true);
        r.readings(3);
        expectStoppedCleanly(r, r.logFile("20261207"), c.reason);
        std::filesystem::permissions(r.data, std::filesystem::perms::owner_all);
    }
}

TEST(SessionLog, AReadOnlyDiskStopsTheLogWithOneMessage) {
    const SmallDisk disk(MS_RDONLY, "size=16k");
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    Rig r({}, disk.path());
    r.setLogging(true);
    r.readings(3);
    expectStoppedCleanly(r, r.logFile("20261207"), "Read-only");
}

}  // namespace
}  // namespace ck::app
