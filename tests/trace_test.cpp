// SPDX-License-Identifier: MIT
// The communication trace: its line format, the lines a scripted exchange gives, the file's
// limit and its failures, the window's line limit, and the trace in the real window.

#include <gtest/gtest.h>

#include "qt_environment.h"
#include "seen_messages.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>

#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>

#include "app/main_window.h"
#include "app/trace_recorder.h"
#include "app/trace_window.h"
#include "link/link.h"
#include "link/trace.h"
#include "link_fakes.h"
#include "output/trace_file.h"
#include "platform/append_file.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"

namespace ck::testing {
namespace {

using link::Action;
using link::Reason;
using link::TraceEvent;
using link::TraceKind;

[[maybe_unused]] auto* const kQtEnvironment =
    AddQtEnvironment<QApplication>("trace_test", Settings::TestMode);

// 2026-12-07T21:03:04.123+08:00
constexpr int64_t kUnixMs = 1796648584123;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            out.push_back(text.substr(at) + "<unfinished>");
            break;
        }
        out.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return out;
}

TEST(TraceLine, Format) {
    struct Case {
        TraceKind kind;
        int16_t com;
        int64_t unixMs;
        int offset;
        Bytes bytes;
        Action action;
        Reason reason;
        const char* want;
    };
    const Bytes linkTest = {0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    const Bytes answer = {0xB1, 0x01, 0x00, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    const Case cases[] = {
        {TraceKind::Sent, 3, kUnixMs, 480, linkTest, Action::PassOver, Reason::Noise,
         "2026-12-07T21:03:04.123+08:00 COM3 TX A1 00 01 06 05 55 AA FD"},
        {TraceKind::Received, 3, kUnixMs + 18, 480, answer, Action::Take, Reason::Answer,
         "2026-12-07T21:03:04.141+08:00 COM3 RX B1 01 00 06 05 55 AA FD 接受"},
        {TraceKind::Received,
         16,
         kUnixMs,
         480,
         {0x00, 0x0F, 0xF0},
         Action::PassOver,
         Reason::Noise,
         "2026-12-07T21:03:04.123+08:00 COM16 RX 00 0F F0 杂波"},
        {TraceKind::Received, 1, kUnixMs, 480, answer, Action::PassOver, Reason::BadChecksum,
         "2026-12-07T21:03:04.123+08:00 COM1 RX B1 01 00 06 05 55 AA FD 校验错"},
        {TraceKind::Received, 1, kUnixMs, 480, answer, Action::PassOver, Reason::Stale,
         "2026-12-07T21:03:04.123+08:00 COM1 RX B1 01 00 06 05 55 AA FD 过时"},
        {TraceKind::Received, 1, kUnixMs, 480, answer, Action::PassOver, Reason::Repeat,
         "2026-12-07T21:03:04.123+08:00 COM1 RX B1 01 00 06 05 55 AA FD 重复"},
        {TraceKind::Received, 1, kUnixMs, 480, answer, Action::TakeProvisionally,
         Reason::RepeatOnTime,
         "2026-12-07T21:03:04.123+08:00 COM1 RX B1 01 00 06 05 55 AA FD 暂收"},
        {TraceKind::Decided,
         1,
         kUnixMs,
         480,
         {},
         Action::AskAgain,
         Reason::Ambiguous,
         "2026-12-07T21:03:04.123+08:00 COM1 再问"},
        {TraceKind::Decided,
         1,
         kUnixMs,
         480,
         {},
         Action::Retract,
         Reason::SomethingFollowed,
         "2026-12-07T21:03:04.123+08:00 COM1 撤回"},
        {TraceKind::NotSent,
         2,
         kUnixMs,
         480,
         {0xA1},
         Action::PassOver,
         Reason::Noise,
         "2026-12-07T21:03:04.123+08:00 COM2 TX A1 未发出"},
        {TraceKind::PortOpened,
         3,
         kUnixMs,
         480,
         {},
         {},
         {},
         "2026-12-07T21:03:04.123+08:00 COM3 已打开"},
        {TraceKind::NoSuchPort,
         4,
         kUnixMs,
         480,
         {},
         {},
         {},
         "2026-12-07T21:03:04.123+08:00 COM4 无效"},
        {TraceKind::PortInUse,
         3,
         kUnixMs,
         480,
         {},
         {},
         {},
         "2026-12-07T21:03:04.123+08:00 COM3 被占用"},
        {TraceKind::NoPermission,
         3,
         kUnixMs,
         480,
         {},
         {},
         {},
         "2026-12-07T21:03:04.123+08:00 COM3 无权限"},
        {TraceKind::OpenFailed,
         3,
         kUnixMs,
         480,
         {},
         {},
         {},
         "2026-12-07T21:03:04.123+08:00 COM3 打开失败"},
        {TraceKind::PortClosed,
         3,
         kUnixMs,
         480,
         {},
         {},
         {},
         "2026-12-07T21:03:04.123+08:00 COM3 关闭"},
        {TraceKind::TimedOut,
         3,
         kUnixMs,
         480,
         {},
         {},
         {},
         "2026-12-07T21:03:04.123+08:00 COM3 超时"},
        // The clock's edges: a whole second, west of UTC, a quarter-hour offset, before 1970.
        {TraceKind::PortClosed,
         1,
         1796648584000,
         0,
         {},
         {},
         {},
         "2026-12-07T13:03:04.000+00:00 COM1 关闭"},
        {TraceKind::PortClosed,
         1,
         1796648584999,
         -300,
         {},
         {},
         {},
         "2026-12-07T08:03:04.999-05:00 COM1 关闭"},
        {TraceKind::PortClosed,
         1,
         1700000000007,
         345,
         {},
         {},
         {},
         "2023-11-15T03:58:20.007+05:45 COM1 关闭"},
        {TraceKind::PortClosed, 1, -1, 0, {}, {}, {}, "1969-12-31T23:59:59.999+00:00 COM1 关闭"},
    };
    for (const Case& c : cases) {
        TraceEvent e;
        e.kind = c.kind;
        e.comport = c.com;
        e.wall = {c.unixMs, c.offset};
        e.bytes = c.bytes;
        e.action = c.action;
        e.reason = c.reason;
        EXPECT_EQ(link::FormatTraceLine(e), c.want);
    }
}

// Each reason a pass gives has a word of its own, never the catch-all; a hold has no line.
TEST(TraceLine, EveryPassReasonHasItsOwnWord) {
    const Reason passes[] = {Reason::Stale,       Reason::NotAnAnswer, Reason::OtherReceiver,
                             Reason::BadChecksum, Reason::Damaged,     Reason::Noise,
                             Reason::NotAwaited,  Reason::Repeat,      Reason::Superseded,
                             Reason::Unconfirmed, Reason::Ambiguous};
    std::set<std::string_view> words;
    for (const Reason r : passes) words.insert(link::TraceVerdict(Action::PassOver, r));
    EXPECT_EQ(words.size(), std::size(passes));
    EXPECT_FALSE(words.contains(link::TraceVerdict(Action::PassOver, Reason::Fresh)));
    EXPECT_FALSE(words.contains(""));
    EXPECT_EQ(link::TraceVerdict(Action::HoldUntil, Reason::Repeat), "");
}

// Lines as the sink gets them, on a user's clock that runs with the virtual one.
class RecordingSink final : public link::TraceSink {
public:
    explicit RecordingSink(const platform::VirtualClock& clock) : clock_(clock) {}
    link::TraceTime wallNow() const override { return {kUnixMs + clock_.nowMs(), 480}; }
    void trace(const TraceEvent& e) override { lines.push_back(link::FormatTraceLine(e)); }
    std::vector<std::string> lines;
    // Without the time: what the exchange table compares.
    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& l : lines) out.push_back(l.substr(l.find(' ') + 1));
        return out;
    }

private:
    const platform::VirtualClock& clock_;
};

struct Rig {
    platform::VirtualClock clock;
    ScriptedPort port{clock};
    RecordingWindow ui;
    link::Link link{port, clock, ui};
    RecordingSink sink{clock};
    Rig() {
        clock.advance(2600);  // past the start-up time-out, so nothing else runs
        link.setTrace(&sink);
    }
    // Opens COM1 and writes a request for `code` (history: groups `start` to `start` + 3).
    void ask(uint8_t code, int16_t start = 0) {
        port.present.insert(1);
        link.ComOpen(1);
        link.ComSend(1, code, start, code == protocol::kCodeHistory ? 3 : 0, 0);
    }
};

std::string hex(const Bytes& b) { return link::TraceHex(b); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(TraceLines, ScriptedExchanges) {
    const Bytes linkTest = {0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA, 0xFD};
    const Bytes answer = Reply(protocol::kCodeLinkTest, {0x55, 0xAA});
    Bytes badSum = answer;
    badSum.back() ^= 0x01;
    const Bytes elsewhere = Reply(protocol::kCodeLinkTest, {0x55, 0xAA}, 0x07);
    const Bytes otherCode = Reply(9, {0x55, 0xAA});
    const Bytes block0 = Reply(protocol::kCodeHistory, Bytes(3 * measure::kGroupSize, 0x11));
    const Bytes block3 = Reply(protocol::kCodeHistory, Bytes(3 * measure::kGroupSize, 0x22));
    const std::string tx = "COM1 TX " + hex(linkTest);
    struct Case {
        const char* what;
        std::function<void(Rig&)> run;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"an answer, then the port closed",
         [&](Rig& r) {
             r.ask(protocol::kCodeLinkTest);
             r.port.inject(answer);
             r.clock.advance(1);
         },
         {"COM1 已打开", tx, "COM1 RX " + hex(answer) + " 接受", "COM1 关闭"}},
        {"noise before the answer",
         [&](Rig& r) {
             r.ask(protocol::kCodeLinkTest);
             r.port.inject(concat({{0x00, 0xFF}, answer}));
             r.clock.advance(1);
         },
         {"COM1 已打开", tx, "COM1 RX 00 FF 杂波", "COM1 RX " + hex(answer) + " 接受",
          "COM1 关闭"}},
        {"a bad checksum, then the time-out",
         [&](Rig& r) {
             r.ask(protocol::kCodeLinkTest);
             r.port.inject(badSum);
             r.clock.advance(link::kTimeoutMs);
         },
         {"COM1 已打开", tx, "COM1 RX " + hex(badSum) + " 校验错", "COM1 超时"}},
        {"for another receiver, and not an answer",
         [&](Rig& r) {
             r.ask(protocol::kCodeLinkTest);
             r.port.inject(concat({elsewhere, otherCode}));
             r.clock.advance(link::kTimeoutMs);
         },
         {"COM1 已打开", tx, "COM1 RX " + hex(elsewhere) + " 地址不符",
          "COM1 RX " + hex(otherCode) + " 非本问应答", "COM1 超时"}},
        {"a reply that began before the request",
         [&](Rig& r) {
             r.ask(protocol::kCodeLinkTest);
             r.port.injectAt(answer, r.port.nowUs() - 1000);
             r.clock.advance(link::kTimeoutMs);
         },
         {"COM1 已打开", tx, "COM1 RX " + hex(answer) + " 过时", "COM1 超时"}},
        {"a copy of the last block held, then passed over for its successor",
         [&](Rig& r) {
             r.ask(protocol::kCodeHistory, 0);
             r.port.inject(block0);
             r.clock.advance(1);
             r.sink.lines.clear();
             r.ask(protocol::kCodeHistory, 3);
             r.port.inject(concat({block0, block3}));
             r.clock.advance(1);
         },
         {"COM1 已打开", "COM1 TX A1 00 01 08 01 00 03 00 03 08",
          "COM1 RX " + hex(block0) + " 被取代", "COM1 RX " + hex(block3) + " 接受", "COM1 关闭"}},
        {"every way a port fails to open",
         [&](Rig& r) {
             r.port.present = {3};
             r.port.busy = {4};
             r.port.refused = {5};
             r.port.failing = {6};
             for (const int n : {3, 4, 5, 6, 7}) r.link.ComOpen(static_cast<int16_t>(n));
         },
         {"COM3 已打开", "COM3 关闭", "COM4 被占用", "COM5 无权限", "COM6 打开失败", "COM7 无效"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        c.run(r);
        EXPECT_EQ(r.sink.events(), c.want);
    }
}

TEST(TraceLines, StampedWhenTheBytesCameNotWhenTheyWereDecided) {
    Rig r;
    const Bytes answer = Reply(protocol::kCodeLinkTest, {0x55, 0xAA});
    r.ask(protocol::kCodeLinkTest);
    r.clock.advance(18);
    r.port.injectAt(answer, r.port.nowUs());
    r.clock.advance(7);  // handled later than it came
    ASSERT_EQ(r.sink.lines.size(), 4u);
    EXPECT_EQ(r.sink.lines[1].substr(0, 29), "2026-12-07T21:03:06.723+08:00");  // + 2600 ms
    EXPECT_EQ(r.sink.lines[2].substr(0, 29), "2026-12-07T21:03:06.741+08:00");
}

// With the trace off the link hands nothing out, so nothing is copied or formatted.
TEST(TraceLines, OffTheLinkCallsNothing) {
    Rig r;
    r.link.setTrace(nullptr);
    r.port.present = {3};
    r.port.responder = [](const Bytes&) -> std::vector<Bytes> {
        return {Reply(protocol::kCodeLinkTest, {0x55, 0xAA})};
    };
    r.link.start();
    r.clock.advance(5000);
    EXPECT_TRUE(r.link.state().linkok);
    EXPECT_TRUE(r.sink.lines.empty());
}

TEST(TraceFile, StopsAtItsLimitWithOneLastLineAndEveryLineWhole) {
    QTemporaryDir dir;
    struct Case {
        const char* what;
        std::string before;  // in the file from an earlier run
        uint64_t limit;
    };
    const Case cases[] = {
        {"a new file", "", 2000},
        {"an earlier run's unfinished line", "2026 COM1 TX A1 0", 2000},
        {"a file already full", std::string(1994, 'x') + "\r\n", 2000},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.filePath(QString::number(++n)).toStdString();
        std::ofstream(path, std::ios::binary) << c.before;
        auto opened = platform::OpenAppendFile(path, {.syncEachRecord = false});
        ASSERT_TRUE(opened.file) << opened.error;
        output::TraceFile f(path, std::move(opened), c.limit);
        int lastLines = 0;
        for (int i = 0; i < 200; ++i) {
            const auto failure = f.append("line " + std::to_string(i), [&] {
                ++lastLines;
                return std::string("full");
            });
            EXPECT_FALSE(failure);
        }
        EXPECT_TRUE(f.full());
        const std::string text = slurp(path);
        EXPECT_LE(text.size(), c.limit);
        ASSERT_TRUE(text.starts_with(c.before));
        const auto lines = splitLines(text.substr(c.before.size()));
        if (c.before.size() + 6 > c.limit) {
            EXPECT_TRUE(lines.empty());  // nothing fits, not even the last line
            continue;
        }
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lastLines, 1);
        EXPECT_EQ(lines.back(), "full");
        const std::size_t skip = c.before.empty() ? 0 : 1;  // the earlier run's line ended
        if (skip) {
            EXPECT_EQ(lines[0], "");
        }
        for (std::size_t i = skip; i + 1 < lines.size(); ++i) {
            EXPECT_EQ(lines[i], "line " + std::to_string(i - skip));
        }
    }
}

// The file's writes fail once the process may write no more than this.
struct FileSizeLimit {
    rlimit old{};
    void (*oldSignal)(int) = nullptr;
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old);
        oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldSignal);
    }
};

// A small file system of its own (root only).
struct SmallDisk {
    QTemporaryDir dir;
    QByteArray where = dir.path().toLocal8Bit();
    bool mounted = mount("tmpfs", where.constData(), "tmpfs", 0, "size=8k") == 0;
    ~SmallDisk() {
        if (mounted) {
            EXPECT_EQ(umount(where.constData()), 0) << "still in use";
        }
    }
};

// The recorder on a link polling the simulated instrument.
struct RecorderRig {
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    RecordingWindow ui;
    link::Link link{port, clock, ui};
    app::TraceRecorder recorder{link, clock};
    std::vector<QString> told;
    RecorderRig() {
        recorder.setWallClock([this] { return link::TraceTime{kUnixMs + clock.nowMs(), 480}; });
        recorder.setFailureHandler([this](const QString& t) { told.push_back(t); });
        link.start();
    }
    std::size_t shown() const { return ui.shown.size(); }
};

TEST(TraceRecorder, AFileThatCannotBeWrittenIsToldOnceAndTheLinkGoesOn) {
    QTemporaryDir dir;
    SmallDisk disk;
    struct Case {
        const char* what;
        std::function<QString()> path;  // empty: skipped here
        const char* reason;
        bool failsAtOpen;
    };
    const Case cases[] = {
        {"a folder that does not exist", [&] { return dir.filePath("none/trace.txt"); },
         "No such file", true},
        {"a folder, not a file", [&] { return dir.path(); }, "Is a directory", true},
        {"a file size limit reached", [&] { return dir.filePath("limited.txt"); }, "too large",
         false},
        {"a disk that fills",
         [&] { return disk.mounted ? disk.dir.filePath("trace.txt") : QString(); }, "No space",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = c.path();
        if (path.isEmpty()) continue;
        RecorderRig r;
        std::optional<FileSizeLimit> limit;
        if (std::string_view(c.reason) == "too large") limit.emplace(3000);
        const std::optional<QString> atOpen = r.recorder.openFile(path);
        ASSERT_EQ(atOpen.has_value(), c.failsAtOpen);
        // Long enough for the limits and the disk to be reached many times over.
        for (int i = 0; i < 80 && r.recorder.fileOn(); ++i) r.clock.advance(1500);
        const std::size_t before = r.shown();
        r.clock.advance(15'000);
        std::vector<QString> told = r.told;
        if (atOpen) told.push_back(*atOpen);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_TRUE(told[0].contains(QDir::toNativeSeparators(path))) << told[0].toStdString();
        EXPECT_TRUE(told[0].contains(QString::fromUtf8(c.reason))) << told[0].toStdString();
        EXPECT_FALSE(r.recorder.fileOn());
        EXPECT_FALSE(r.link.tracing());    // nothing wants the lines any more
        EXPECT_GE(r.shown(), before + 5);  // polling went on
        if (c.failsAtOpen) continue;
        // What is in the file is whole lines, up to the one that failed.
        const std::string text = slurp(path.toStdString());
        ASSERT_FALSE(text.empty());
        EXPECT_TRUE(text.ends_with("\r\n"));
        for (const std::string& line : splitLines(text)) {
            EXPECT_TRUE(line.starts_with("2026-12-07T")) << line;
        }
    }
}

QString topLine(app::TraceWindow& w) {
    return w.text().cursorForPosition(QPoint(4, 4)).block().text();
}

TEST(TraceWindow, KeepsTheLast2000AndFollowsUnlessScrolledUp) {
    app::TraceWindow w([]() -> app::TraceWindow::SaveServices { std::abort(); });
    w.show();
    std::deque<std::string> many;
    for (int i = 0; i < 2100; ++i) many.push_back("line " + std::to_string(i));
    w.setLines(many);
    EXPECT_EQ(w.lines().size(), 2000);
    EXPECT_EQ(w.lines().front(), "line 100");
    EXPECT_TRUE(w.following());

    for (int i = 2100; i < 2150; ++i) w.appendLines({QStringLiteral("line %1").arg(i)});
    EXPECT_EQ(w.lines().size(), 2000);
    EXPECT_EQ(w.lines().front(), "line 150");
    EXPECT_EQ(w.lines().back(), "line 2149");
    EXPECT_TRUE(w.following());

    // Scrolled up, the lines looked at stay in view while new ones come and old ones go.
    QScrollBar* bar = w.text().verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const QString looked = topLine(w);
    QStringList ten;
    for (int i = 2150; i < 2160; ++i) ten << QStringLiteral("line %1").arg(i);
    w.appendLines(ten);
    EXPECT_FALSE(w.following());
    EXPECT_EQ(topLine(w), looked);
    EXPECT_EQ(w.lines().back(), "line 2159");
    // Back at the bottom, it follows again.
    bar->setValue(bar->maximum());
    w.appendLines({QStringLiteral("line 2160")});
    EXPECT_TRUE(w.following());
    EXPECT_EQ(topLine(w).isEmpty(), false);

    // More in one go than it keeps: the newest of them.
    QStringList burst;
    for (int i = 0; i < 2500; ++i) burst << QStringLiteral("burst %1").arg(i);
    w.appendLines(burst);
    EXPECT_EQ(w.lines().size(), 2000);
    EXPECT_EQ(w.lines().front(), "burst 500");
    EXPECT_TRUE(w.following());

    w.clear();
    EXPECT_TRUE(w.lines().isEmpty());
}

// 保存...: the lines shown, UTF-8 with CR LF, to the file chosen; a cancel writes nothing, a
// failure is told once, naming the file and the reason.
TEST(TraceWindow, SavesTheLinesShown) {
    struct Services final : platform::DialogService, platform::FileSystem, platform::UserMessages {
        int dialogError = 0;
        std::string writeError;
        std::string offered, dir;
        std::vector<std::pair<std::string, std::string>> written, shown;
        platform::DialogResult ShowSave(platform::CommonDialog& d) override {
            offered = d.FileName;
            dir = d.InitDir;
            d.FileName = "/chosen/trace.txt";
            return {dialogError, dialogError ? "refused" : ""};
        }
        platform::DialogResult ShowPrinter(platform::CommonDialog&) override { return {}; }
        std::string dataDir() const override { return "/data"; }
        bool dirExists(const std::string&) const override { return true; }
        bool makeDir(const std::string&) override { return true; }
        std::string writeFile(const std::string& p, const std::vector<uint8_t>& b) override {
            written.emplace_back(p, std::string(b.begin(), b.end()));
            return writeError;
        }
        void show(const std::string& t, const std::string& x, int) override {
            shown.emplace_back(t, x);
        }
        void beep() override {}
    };
    struct Case {
        const char* what;
        int dialogError;
        std::string writeError;
        bool writes;
        bool tells;
    };
    const Case cases[] = {
        {"saved", 0, "", true, false},
        {"cancelled", platform::kErrCancel, "", false, false},
        {"the dialog failed", 1, "", false, true},
        {"the write failed", 0, "No space left on device", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Services s;
        s.dialogError = c.dialogError;
        s.writeError = c.writeError;
        app::TraceWindow w([&] { return app::TraceWindow::SaveServices{s, s, s}; });
        w.setLines({"2026 COM3 TX A1", "2026 COM3 RX B1 接受"});
        w.save();
        EXPECT_TRUE(s.offered.starts_with("/data/通讯记录-") && s.offered.ends_with(".txt"))
            << s.offered;
        ASSERT_EQ(s.written.size(), c.writes ? 1u : 0u);
        if (c.writes) {
            EXPECT_EQ(s.written[0].first, "/chosen/trace.txt");
            EXPECT_EQ(s.written[0].second, "2026 COM3 TX A1\r\n2026 COM3 RX B1 接受\r\n");
        }
        ASSERT_EQ(s.shown.size(), c.tells ? 1u : 0u);
        if (c.tells) {
            EXPECT_NE(s.shown[0].second.find("/chosen/trace.txt"), std::string::npos);
            EXPECT_NE(s.shown[0].second.find(c.writes ? c.writeError : "refused"),
                      std::string::npos);
        }
    }
}

// The real window: 帮助 → 通讯记录... shows the link's lines live, and closing it turns the
// trace off and changes nothing else.
TEST(TraceWindow, InTheMainWindow) {
    QTemporaryDir home;
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    ck::testing::SeenMessages seen;
    app::MainWindow w(port, clock);
    // --trace with a file that cannot be opened: one box, once the window runs, from the
    // messages set by then.
    const QString bad = home.filePath("none/trace.txt");
    w.setTraceFile(bad);
    w.setUserMessages(seen.forWindow());
    EXPECT_TRUE(seen.boxes.empty());
    w.start();
    clock.advance(1);
    ASSERT_EQ(seen.boxes.size(), 1u);
    EXPECT_EQ(seen.boxes[0].title, "通讯记录");
    EXPECT_EQ(seen.boxes[0].style, platform::kStyleExclamation);
    EXPECT_NE(seen.boxes[0].text.find(QDir::toNativeSeparators(bad).toStdString()),
              std::string::npos);
    QMenu* help = qobject_cast<QMenu*>(w.menutrace().parent());
    ASSERT_TRUE(help);
    QStringList entries;
    for (QAction* a : help->actions()) {
        if (!a->isSeparator()) entries << a->text();
    }
    EXPECT_TRUE(entries.indexOf("通讯记录...") >= 0 &&
                entries.indexOf("通讯记录...") < entries.indexOf("关于软件"))
        << entries.join(',').toStdString();

    EXPECT_FALSE(w.link().tracing());
    w.menutrace().trigger();
    app::TraceWindow* t = w.traceWindow();
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->isVisible());
    EXPECT_TRUE(t->isWindow());
    EXPECT_TRUE(w.link().tracing());
    clock.advance(4000);
    const QStringList lines = t->lines();
    EXPECT_TRUE(lines.filter(" COM3 已打开").size() >= 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.filter(" COM3 TX A1 00 01 06 05 55 AA FD").size() >= 1);
    EXPECT_TRUE(lines.filter(QRegularExpression(" COM3 RX B1 .* 接受$")).size() >= 2);

    t->close();
    EXPECT_FALSE(t->isVisible());
    EXPECT_FALSE(w.link().tracing());
    const qsizetype before = t->lines().size();
    clock.advance(3000);
    EXPECT_EQ(t->lines().size(), before);
    EXPECT_TRUE(w.link().state().linkok);
    // Opened again, it goes on with the link's lines from then.
    w.menutrace().trigger();
    clock.advance(1500);
    EXPECT_GT(t->lines().size(), 0);
    w.close();
    EXPECT_FALSE(t->isVisible());
}

TEST(TraceWindow, TheFileFromTheCommandLineGoesOnWhileTheWindowOpensAndCloses) {
    QTemporaryDir home;
    const QString path = home.filePath("trace.txt");
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    qsizetype shownAtClose = 0;
    {
        app::MainWindow w(port, clock);
        w.setTraceFile(path);
        w.start();
        clock.advance(2000);
        w.menutrace().trigger();
        // Opened later, the window shows what the file got so far.
        const QStringList early = w.traceWindow()->lines();
        ASSERT_FALSE(early.isEmpty());
        EXPECT_TRUE(early.front().endsWith(" COM1 无效")) << early.front().toStdString();
        shownAtClose = w.traceWindow()->lines().size();
        w.traceWindow()->close();
        EXPECT_TRUE(w.link().tracing());
        clock.advance(3000);
        w.close();
    }
    const auto lines = splitLines(slurp(path.toStdString()));
    ASSERT_GE(lines.size(), 8u);
    EXPECT_TRUE(lines.front().ends_with(" COM1 无效"));
    EXPECT_TRUE(lines.back().ends_with(" COM3 关闭")) << lines.back();
    // The lines after the window closed went on to the file: the first live reading.
    EXPECT_GT(lines.size(), static_cast<std::size_t>(shownAtClose));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.ends_with(" 接受"); }),
              2);
}

}  // namespace
}  // namespace ck::testing
