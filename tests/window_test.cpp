// SPDX-License-Identifier: MIT
// The real window on virtual time, under the offscreen platform.

#include <gtest/gtest.h>

#include "qt_environment.h"
#include "seen_messages.h"
#include "wall_clock_at.h"

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include <QFile>
#include <QTemporaryDir>
#include "app/main_window.h"
#include "generated/version.h"
#include "link/frames.h"
#include "link_fakes.h"
#include "output/column_writer.h"
#include "output/reports.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"
#include "views/history_grid.h"
#include "views/live_panel.h"
#include "views/twips.h"

namespace ck::app {
namespace {

using app::Control;

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QApplication>("window_test", ck::testing::Settings::TestMode);

struct Rig {
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    ck::testing::SeenMessages messages;
    MainWindow w{port, clock};
    int quits = 0;
    const QDateTime fixedNow{QDate(2026, 12, 7), QTime(9, 5, 7)};

    explicit Rig(std::size_t stored = 7) {
        instrument.setStoredGroups(sim::MakeStoredHistory(stored, 3));
        instrument.setLinePacing(true);
        w.setClock(std::make_unique<ck::testing::WallClockAt>(fixedNow));
        w.setQuit([this] { ++quits; });
        w.setUserMessages(messages.forWindow());
        w.start();
    }
    const link::LinkState& s() { return w.link().state(); }
    void selectTab(int index) {  // 1-based, as the tab strip reports it
        if (w.TabStrip1().currentIndex() == index - 1) {
            w.TabStrip1_Click();
        } else {
            w.TabStrip1().setCurrentIndex(index - 1);
        }
    }
    QString cell(int r, int c) { return w.DataGrid().TextMatrix(r, c); }
};

TEST(Window, StartUpState) {
    Rig r;
    const MainWindow& w = r.w;
    EXPECT_EQ(w.windowTitle(), "Check Korvelt");
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(r.w.LabComsta().text(), "串口状态");
    EXPECT_EQ(r.w.Lab_rtsta().text(), "连接失败");
    EXPECT_EQ(r.w.TabStrip1().currentIndex(), 0);
    EXPECT_EQ(r.w.TabStrip1().tabText(0), "实时监控");
    EXPECT_EQ(r.w.TabStrip1().tabText(1), "历史记录");
    EXPECT_TRUE(r.s().realmode);
    EXPECT_FALSE(w.controlVisible(Control::DataGrid));
    EXPECT_TRUE(w.controlVisible(Control::Frame_realtime));
    EXPECT_FALSE(w.controlVisible(Control::Progress_read));
    EXPECT_EQ(r.w.Progress_read().minimum(), 0);
    EXPECT_EQ(r.w.Progress_read().maximum(), 100);
    for (int n = 1; n <= 6; ++n) EXPECT_TRUE(r.w.Frame_realtime().shape(n)->isHidden()) << n;
    // Start-up set over the design-time states.
    struct Case {
        Control c;
        bool enabled;
    };
    const Case cases[] = {
        {Control::Button_read, false},  {Control::menuread, false},    {Control::Button_save, true},
        {Control::Button_clear, false}, {Control::Button_print, true}, {Control::Button_help, true},
        {Control::Button_close, true},  {Control::menusave, true},     {Control::menuclose, true},
        {Control::menuclear, true},     {Control::menuprint, true},    {Control::menuhelp, true},
        {Control::TabStrip1, true},
    };
    for (const auto& c : cases) EXPECT_EQ(w.controlEnabled(c.c), c.enabled) << int(c.c);
    const char* captions[] = {"读取", "保存", "清空", "打印", "帮助", "关闭"};
    const Control buttons[] = {Control::Button_read,  Control::Button_save, Control::Button_clear,
                               Control::Button_print, Control::Button_help, Control::Button_close};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(w.button(buttons[i]).text(), QString::fromUtf8(captions[i]));
        EXPECT_FALSE(w.button(buttons[i]).icon().isNull());
    }
    // The clock has run once; the middle panel is the instrument's name.
    const QLocale locale = QLocale::system();
    EXPECT_EQ(w.statusPanel(1).text(), locale.toString(r.fixedNow.date(), QLocale::ShortFormat));
    EXPECT_EQ(w.statusPanel(2).text(), "Zandrel");
    EXPECT_TRUE(w.statusPanel(3).text().contains("05")) << w.statusPanel(3).text().toStdString();
    EXPECT_TRUE(w.statusPanel(3).text().contains("07")) << w.statusPanel(3).text().toStdString();
    // Row 0 of the table holds the headers, the rest is empty.
    EXPECT_EQ(r.cell(0, 0), "NO.");
    EXPECT_EQ(r.cell(0, 18), "C1A2定性相序");
    EXPECT_EQ(r.cell(1, 0), "");
}

TEST(Window, MenusMirrorTheButtons) {
    Rig r;
    QStringList menus;
    for (QAction* a : r.w.menuBar()->actions()) menus << a->text();
    // The view menu goes before help; the command menus keep their entries and order.
    EXPECT_EQ(menus, (QStringList{"文件", "操作", "视图", "帮助"}));
    EXPECT_EQ(r.w.menuAction(Control::menuread).text(), "读取");
    EXPECT_EQ(r.w.menuAction(Control::menusave).text(), "保存");
    EXPECT_EQ(r.w.menuAction(Control::menuclose).text(), "关闭");
    EXPECT_EQ(r.w.menuAction(Control::menuclear).text(), "清空");
    EXPECT_EQ(r.w.menuAction(Control::menuprint).text(), "打印");
    EXPECT_EQ(r.w.menuabout().text(), "关于软件");
    // menuclear is enabled at design while its button is not; it clears all the same.
    r.w.FillHist(4, std::span(r.instrument.storedGroups()).first(1));
    ASSERT_EQ(r.cell(5, 0), " 5");
    r.w.menuAction(Control::menuclear).trigger();
    EXPECT_EQ(r.cell(5, 0), "");
    EXPECT_EQ(r.cell(0, 0), "NO.");
    // The about entry shows the help box.
    r.w.menuabout().trigger();
    ASSERT_EQ(r.messages.boxes.size(), 1u);
    EXPECT_EQ(r.messages.boxes[0].title, "欢迎使用我们公司产品");
    // Its own text unchanged, then the version on a line of its own.
    EXPECT_EQ(r.messages.boxes[0].text,
              std::string("Zandrel数据上传软件(CN)\r   如需帮助请联系我们!\r版本 ") + ck::kVersion +
                  "\r");
    EXPECT_EQ(r.messages.boxes[0].style, 64);
    // menuread is ignored in the live view even when enabled.
    r.clock.advance(2400);
    ASSERT_TRUE(r.w.controlEnabled(Control::menuread));
    r.w.menuAction(Control::menuread).trigger();
    EXPECT_FALSE(r.w.link().Timer_read().enabled());
    // Close from the menu releases the port and ends the program.
    r.clock.advance(1505);  // a poll is outstanding: the port is open
    ASSERT_TRUE(r.port.isOpen());
    r.w.menuAction(Control::menuclose).trigger();
    EXPECT_FALSE(r.port.isOpen());
    EXPECT_EQ(r.quits, 1);
    EXPECT_FALSE(r.w.link().Timer_real().enabled());
    EXPECT_FALSE(r.w.Timer_date().enabled());
}

TEST(Window, TabSwitchSets) {
    struct Case {
        const char* what;
        bool linked;
        int tab;
        bool read, menuread, clear, menuclear;
    };
    const Case cases[] = {
        {"history before the link", false, 2, false, false, true, true},
        {"history with the link", true, 2, true, true, true, true},
        {"live with the link", true, 1, false, false, false, false},
        {"live before the link", false, 1, false, false, false, false},
    };
    for (const auto& c : cases) {
        Rig r;
        if (c.linked) {
            r.clock.advance(2400);
            // A download is what stops polling once the link is up.
            r.selectTab(2);
            r.w.Button_read_Click();
        }
        ASSERT_EQ(r.s().linkok, c.linked);
        ASSERT_FALSE(r.w.link().Timer_real().enabled());
        r.selectTab(c.tab);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(r.s().realmode, c.tab == 1);
        EXPECT_EQ(r.w.controlVisible(Control::DataGrid), c.tab == 2);
        EXPECT_EQ(r.w.controlVisible(Control::Frame_realtime), c.tab == 1);
        EXPECT_TRUE(r.w.link().Timer_real().enabled());
        EXPECT_EQ(r.w.controlEnabled(Control::Button_read), c.read);
        EXPECT_EQ(r.w.controlEnabled(Control::menuread), c.menuread);
        EXPECT_EQ(r.w.controlEnabled(Control::Button_clear), c.clear);
        EXPECT_EQ(r.w.controlEnabled(Control::menuclear), c.menuclear);
        for (Control on : {Control::Button_save, Control::Button_print, Control::Button_help,
                           Control::menusave, Control::menuprint, Control::menuhelp}) {
            EXPECT_TRUE(r.w.controlEnabled(on)) << int(on);
        }
    }
}

TEST(Window, LiveTabHidesTheProgressBarHistoryTabNeverShowsIt) {
    Rig r;
    r.selectTab(2);
    r.w.setVisible(Control::Progress_read, true);
    r.selectTab(2);  // the tab already selected: its set again
    EXPECT_TRUE(r.w.controlVisible(Control::Progress_read));
    r.selectTab(1);
    EXPECT_FALSE(r.w.controlVisible(Control::Progress_read));
    r.selectTab(2);
    EXPECT_FALSE(r.w.controlVisible(Control::Progress_read));
}

TEST(Window, LinkControlSetsReachTheRealWidgets) {
    Rig r;
    r.clock.advance(2400);
    r.selectTab(2);
    ASSERT_TRUE(r.w.controlEnabled(Control::menureport));
    r.w.Button_read_Click();  // download asked
    for (Control c :
         {Control::Button_read, Control::menuread, Control::Button_clear, Control::menuclear,
          Control::Button_save, Control::menusave, Control::Button_print, Control::menuprint,
          Control::Button_help, Control::menuhelp, Control::TabStrip1, Control::menureport}) {
        EXPECT_FALSE(r.w.controlEnabled(c)) << int(c);
    }
    EXPECT_TRUE(r.w.controlEnabled(Control::Button_close));
    EXPECT_TRUE(r.w.controlEnabled(Control::menuclose));
    EXPECT_FALSE(r.w.menuabout().isEnabled() && r.w.menuAction(Control::menuhelp).isEnabled());
    r.clock.advance(100);  // the count has come back: the bar shows while blocks arrive
    EXPECT_TRUE(r.w.controlVisible(Control::Progress_read));
    r.clock.advance(2000);  // download ended
    for (Control c : {Control::Button_read, Control::menuread, Control::Button_clear,
                      Control::TabStrip1, Control::menuhelp, Control::menureport}) {
        EXPECT_TRUE(r.w.controlEnabled(c)) << int(c);
    }
    EXPECT_FALSE(r.w.controlVisible(Control::Progress_read));
}

TEST(Window, PermissionAdviceNamesTheDeviceTheGroupAndTheAccount) {
    struct Case {
        const char* what;
        platform::OpenFailure failure;
        std::string expected;
    };
    const Case cases[] = {
        {"everything known",
         {"/dev/ttyUSB0", "alice", "dialout", "Permission denied"},
         "没有打开串口 /dev/ttyUSB0（COM3）的权限。\r\n请在终端中执行：\r\n"
         "sudo usermod -aG dialout alice\r\n然后注销并重新登录，新的组才生效。"},
        {"the device's own group",
         {"/dev/ttyS0", "bob", "uucp", ""},
         "没有打开串口 /dev/ttyS0（COM3）的权限。\r\n请在终端中执行：\r\n"
         "sudo usermod -aG uucp bob\r\n然后注销并重新登录，新的组才生效。"},
        {"nothing known: the shell names the user",
         {},
         "没有打开串口 COM3 的权限。\r\n请在终端中执行：\r\n"
         "sudo usermod -aG dialout $USER\r\n然后注销并重新登录，新的组才生效。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PermissionAdvice(3, c.failure), c.expected);
    }
}

// A refused port is told in a box of the window's own wording, once.
TEST(Window, RefusedPermissionShowsTheAdviceOnce) {
    platform::VirtualClock clock;
    ck::testing::ScriptedPort port{clock};
    port.refused = {1, 2};
    ck::testing::SeenMessages messages;
    MainWindow w{port, clock};
    w.setUserMessages(messages.forWindow());
    w.setQuit([] {});
    w.start();
    clock.advance(600 * 2 + 1);
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].title, "");
    EXPECT_EQ(messages.boxes[0].text,
              PermissionAdvice(1, {"/dev/ttyUSB1", "alice", "dialout", "Permission denied"}));
    EXPECT_EQ(messages.boxes[0].style, platform::kStyleExclamation);
    EXPECT_EQ(w.LabComsta().text(), "COM2无权限");
}

TEST(Window, WholeRunFindsReadsAndDownloads) {
    Rig r(7);
    r.clock.advance(1799);
    EXPECT_EQ(r.w.LabComsta().text(), "COM2无效");
    r.clock.advance(2400 - 1799);
    EXPECT_EQ(r.w.Lab_rtsta().text(), "通讯成功");
    r.clock.advance(1500 + 100);
    EXPECT_EQ(r.w.LabComsta().text(), "COM3已打开");
    const auto& live = r.instrument.liveSequence()[0];
    EXPECT_EQ(r.w.Frame_realtime().caption(11),
              QString::fromStdString(measure::FormatLiveVoltage(live.voltages[0])));
    EXPECT_EQ(r.w.Frame_realtime().caption(21),
              QString::fromStdString(measure::FormatAngle(live.pairAngles[0])));

    r.selectTab(2);
    r.w.button(Control::Button_read).click();
    r.clock.advance(2000);
    const auto& stored = r.instrument.storedGroups();
    for (int row = 1; row <= 7; ++row) {
        EXPECT_EQ(r.cell(row, 0), QStringLiteral(" %1").arg(row));
        EXPECT_EQ(r.cell(row, 1), QString::fromStdString(measure::FormatStoredVoltage(
                                      stored[row - 1].voltages[measure::idx(measure::Input::A1)])));
        EXPECT_EQ(r.cell(row, 3),
                  QString::fromStdString(measure::FormatAngle(stored[row - 1].pairAngles[0])));
    }
    EXPECT_EQ(r.cell(8, 0), "");
    EXPECT_EQ(r.w.Progress_read().value(), 7);

    // Clear empties the table but keeps the count.
    r.w.button(Control::Button_clear).click();
    EXPECT_EQ(r.cell(1, 0), "");
    EXPECT_EQ(r.cell(0, 0), "NO.");
    EXPECT_EQ(r.s().histcount, 7);
}

// Captions of Label1..Label39 and the six lamps, as the panel shows them.
std::vector<QString> panelShows(const views::LivePanel& p) {
    std::vector<QString> shown;
    for (int n = 1; n <= 39; ++n) shown.push_back(p.caption(n));
    for (int n = 1; n <= 6; ++n) shown.push_back(p.shape(n)->isHidden() ? "off" : "on");
    return shown;
}

TEST(Window, ReadingThatDoesNotDecodeLeavesThePanelAsItWas) {
    Rig r;
    int readings = 0;
    QObject::connect(&r.w, &MainWindow::liveReadingShown, [&] { ++readings; });
    const measure::MeasurementGroup good = r.instrument.liveSequence()[3];
    std::vector<measure::MeasurementGroup> sequence = {good};
    for (std::size_t k = 0; k < 6; ++k) {
        measure::MeasurementGroup bad{{}, {true, false, true, false, true, false}, {99, 0, 99}};
        bad.pairAngles[k] = -1;  // sent as 0xFFFF: not an angle
        sequence.push_back(bad);
    }
    r.instrument.setLiveSequence(sequence);
    r.clock.advance(2400 + 1500 + 200);
    ASSERT_EQ(readings, 1);
    const auto shown = panelShows(r.w.Frame_realtime());
    ASSERT_EQ(shown[20], QString::fromStdString(measure::FormatAngle(good.pairAngles[0])));
    r.clock.advance(1500 * 6);
    EXPECT_EQ(r.instrument.requests().size(), 1u + 7u);  // the link test, then 7 readings
    EXPECT_EQ(readings, 1);
    EXPECT_EQ(panelShows(r.w.Frame_realtime()), shown);
    EXPECT_EQ(r.w.Lab_rtsta().text(), "通讯成功");
}

TEST(Window, TimeOutMidDownloadKeepsItsRows) {
    Rig r(9);
    r.clock.advance(2400);
    r.selectTab(2);
    sim::FaultRule silent;
    silent.kind = sim::Fault::Silence;
    silent.onlyCode = 1;
    silent.skip = 2;
    silent.times = 1;
    r.instrument.addFault(silent);
    r.w.Button_read_Click();
    r.clock.advance(3000);
    EXPECT_EQ(r.w.Lab_rtsta().text(), "通讯失败");
    EXPECT_EQ(r.cell(6, 0), " 6");
    EXPECT_EQ(r.cell(7, 0), "");
    EXPECT_FALSE(r.w.controlVisible(Control::Progress_read));
    EXPECT_TRUE(r.w.controlEnabled(Control::Button_read));
    EXPECT_TRUE(r.w.controlEnabled(Control::TabStrip1));
}

TEST(Window, ZeroHistoryShowsTheMessage) {
    Rig r(0);
    r.clock.advance(2400);
    r.selectTab(2);
    r.w.Button_read_Click();
    r.clock.advance(200);
    ASSERT_EQ(r.messages.boxes.size(), 1u);
    EXPECT_EQ(r.messages.boxes[0].title, "");
    EXPECT_EQ(r.messages.boxes[0].text, "设备的测量历史记录组数为0！");
    EXPECT_EQ(r.messages.boxes[0].style, 48);
}

TEST(Window, Geometry) {
    Rig r;
    using views::twipsRect;
    EXPECT_EQ(r.w.centralWidget()->size(), QSize(956, 634));
    EXPECT_EQ(r.w.TabStrip1().geometry(), twipsRect(480, 240, 11775, 8415));
    EXPECT_EQ(r.w.Frame_realtime().geometry(), twipsRect(600, 600, 11535, 7695));
    EXPECT_EQ(r.w.DataGrid().geometry(), twipsRect(1000, 1440, 10900, 7075));
    EXPECT_EQ(r.w.Progress_read().geometry(), twipsRect(4200, 4080, 3855, 225));
    EXPECT_EQ(r.w.button(Control::Button_print).geometry(), twipsRect(12720, 4080, 1095, 855));
    EXPECT_EQ(r.w.button(Control::Button_close).geometry(), twipsRect(12720, 6240, 1095, 855));
    EXPECT_EQ(r.w.LabComsta().geometry(), twipsRect(12600, 7560, 1455, 375));
    EXPECT_EQ(r.w.Lab_rtsta().geometry(), twipsRect(12600, 8160, 1455, 375));
    EXPECT_EQ(r.w.StatusBar1().geometry(), twipsRect(0, 9015, 14340, 495));
    EXPECT_EQ(r.w.minimumSize(), r.w.maximumSize());  // fixed size
    EXPECT_FALSE(r.w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
}

// The user picks a type and a name; the rest is the program's own.
struct PickFile final : platform::DialogService {
    int type;
    std::string name;
    std::vector<platform::CommonDialog> seen;
    PickFile(int t, std::string n) : type(t), name(std::move(n)) {}
    platform::DialogResult ShowSave(platform::CommonDialog& d) override {
        seen.push_back(d);
        d.FilterIndex = type;
        d.FileName = name;
        return {};
    }
    platform::DialogResult ShowPrinter(platform::CommonDialog& d) override {
        seen.push_back(d);
        return {platform::kErrCancel, "Cancel"};
    }
};

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(Window, SaveWritesWhatTheViewsShow) {
    QTemporaryDir tmp;
    Rig r(5);
    r.clock.advance(2400 + 1600);  // found, and a reading shown
    const std::string liveFile = tmp.filePath("live.jpg").toStdString();  // text type chosen
    auto pick = std::make_unique<PickFile>(2, liveFile);
    PickFile* dialog = pick.get();
    r.w.setDialogService(std::move(pick));
    r.w.button(Control::Button_save).click();
    // The panel shows the reading the file is written from.
    for (int row = 0; row < measure::kPanelRows; ++row) {
        for (const auto col : {measure::PanelColumn::Voltage, measure::PanelColumn::Phase,
                               measure::PanelColumn::Sequence}) {
            EXPECT_EQ(r.w.Frame_realtime().caption(11 + 10 * static_cast<int>(col) + row),
                      QString::fromUtf8(r.w.liveReading().text(row, col)));
        }
    }
    const auto live = output::ToGbk(output::LiveText(r.w.liveReading()));
    EXPECT_EQ(fileBytes(QString::fromStdString(liveFile)), QByteArray::fromStdString(*live));
    EXPECT_NE(live->find(*output::ToGbk(
                  measure::FormatLiveVoltage(r.instrument.liveSequence()[0].voltages[0]))),
              std::string::npos);
    EXPECT_EQ(dialog->seen.at(0).DefaultExt, ".jpg");

    r.selectTab(2);
    r.w.Button_read_Click();
    r.clock.advance(2000);
    const std::string histFile = tmp.filePath("hist.txt").toStdString();
    r.w.setDialogService(std::make_unique<PickFile>(1, histFile));
    r.w.menuAction(Control::menusave).trigger();
    // The grid shows the table the file is written from.
    for (int row = 0; row <= measure::kHistoryRows; ++row) {
        for (int c = 0; c < measure::kHistoryCols; ++c) {
            ASSERT_EQ(r.cell(row, c), QString::fromUtf8(r.w.historyTable().cell(row, c)));
        }
    }
    const auto hist = output::ToGbk(output::HistoryText(r.w.historyTable()));
    EXPECT_EQ(fileBytes(QString::fromStdString(histFile)), QByteArray::fromStdString(*hist));
    EXPECT_NE(hist->find("\r\n 5"), std::string::npos);
    EXPECT_TRUE(r.messages.boxes.empty());

    // A cancelled print dialog says nothing.
    r.w.setDialogService(std::make_unique<PickFile>(1, ""));
    r.w.button(Control::Button_print).click();
    EXPECT_TRUE(r.messages.boxes.empty());
}

}  // namespace
}  // namespace ck::app
