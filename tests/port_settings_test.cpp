// SPDX-License-Identifier: MIT
// 串口设置 under the offscreen platform: what the dialog lists, the pins it writes and removes
// in a private configuration home, what it refuses, and its place in the window.

#include <gtest/gtest.h>

#include "temp_config_home.h"

#include "qt_environment.h"
#include "seen_messages.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "app/main_window.h"
#include "app/port_settings_dialog.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"

namespace ck::app {
namespace {

namespace fs = std::filesystem;
using app::Control;

[[maybe_unused]] auto* const kQtEnvironment = ck::testing::AddQtEnvironment<QApplication>(
    "port_settings_test", ck::testing::Settings::TestMode);

using ck::testing::SeenMessages;

// A private configuration home, stand-in devices and a stand-in /dev/serial/by-id.
class Machine {
public:
    Machine() : home_("ck-port-settings-", "config"), root_(home_.root()) {
        fs::create_directories(root_ / "by-id");
        for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0"}) {
            std::ofstream(root_ / name).put('x');
        }
        // The first adapter has a stable name; the others do not.
        fs::create_symlink(root_ / "ttyUSB0", root_ / "by-id" / "usb-FTDI_FT232R_A1B2-if00");
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    QString device(const char* name) const {
        return QString::fromStdString((root_ / name).string());
    }
    fs::path ports() const { return home_.ports(); }
    fs::path pin(int n) const { return ports() / ("COM" + std::to_string(n)); }
    std::string byId() const { return (root_ / "by-id").string(); }
    std::string stableName() const {
        return (root_ / "by-id" / "usb-FTDI_FT232R_A1B2-if00").string();
    }

    // COM number -> what its link names; "file" for anything else there.
    std::map<int, std::string> pins() const {
        std::map<int, std::string> out;
        for (int n = 1; n <= 16; ++n) {
            std::error_code ec;
            const fs::file_status st = fs::symlink_status(pin(n), ec);
            if (ec || !fs::exists(st)) continue;
            out[n] = fs::is_symlink(st) ? fs::read_symlink(pin(n)).string() : "file";
        }
        return out;
    }

    PortSettingsSources sources(std::function<bool()> busy = {}) const {
        PortSettingsSources s;
        s.ports = [this] {
            return std::vector<SerialPortEntry>{
                {device("ttyUSB0"), "FT232R USB UART", "FTDI", "A1B2"},
                {device("ttyUSB1"), "CP2102 USB to UART", "Silicon Labs", "0001"},
                {device("ttyACM0"), "", "", ""},
            };
        };
        s.busy = std::move(busy);
        s.byIdFolder = byId();
        return s;
    }

private:
    ck::testing::TempConfigHome home_;
    fs::path root_;
};

QString cell(const PortSettingsDialog& d, int row, int col) {
    const QTableWidgetItem* item = d.table().item(row, col);
    return item ? item->text() : QString();
}

// Chooses the row and the COM number, then presses a button.
void act(PortSettingsDialog& d, int row, int com, QPushButton& button) {
    d.table().selectRow(row);
    d.comNumber().setCurrentIndex(com - 1);
    button.click();
}

TEST(PortSettingsDialog, ListsEachPortWithTheComNumberItHasToday) {
    Machine m;
    fs::create_directories(m.ports());
    fs::create_symlink(m.device("ttyUSB1").toStdString(), m.pin(4));
    fs::create_symlink(m.device("ttyUSB1").toStdString(), m.pin(9));
    fs::create_symlink("/nonexistent/ttyUSB7", m.pin(12));
    SeenMessages messages;
    PortSettingsDialog d(m.sources(), messages);
    ASSERT_EQ(d.table().rowCount(), 3);
    ASSERT_EQ(d.table().columnCount(), 5);
    const std::vector<std::vector<QString>> expected = {
        {m.device("ttyUSB0"), "FT232R USB UART", "FTDI", "A1B2", ""},
        {m.device("ttyUSB1"), "CP2102 USB to UART", "Silicon Labs", "0001",
         "COM4（固定）、COM9（固定）"},
        {m.device("ttyACM0"), "", "", "", ""},
    };
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 5; ++col) {
            EXPECT_EQ(cell(d, row, col), expected[row][col]) << row << "," << col;
        }
    }
    // The numbers say where each pin goes, also one whose adapter is not plugged in.
    EXPECT_EQ(d.comNumber().count(), 16);
    EXPECT_EQ(d.comNumber().itemText(0), "COM1");
    EXPECT_EQ(d.comNumber().itemText(3), "COM4（已固定：" + m.device("ttyUSB1") + "）");
    EXPECT_EQ(d.comNumber().itemText(11), "COM12（已固定：/nonexistent/ttyUSB7，未连接）");
    // Choosing a port chooses the number it has, ready to be unpinned.
    d.table().selectRow(1);
    EXPECT_EQ(d.comNumber().currentText().left(4), "COM4");
    EXPECT_TRUE(d.pinButton().isEnabled());
}

TEST(PortSettingsDialog, PinsAndUnpinsAsTheUserChooses) {
    struct Step {
        int row;  // -1: none chosen
        int com;
        bool pin;  // else unpin
        std::map<int, std::string> after;
        int messages;
    };
    Machine m;
    const std::string usb1 = m.device("ttyUSB1").toStdString();
    const std::vector<Step> steps = {
        // The adapter's stable name goes into the pin.
        {0, 3, true, {{3, m.stableName()}}, 0},
        // Without one, the device itself.
        {1, 16, true, {{3, m.stableName()}, {16, usb1}}, 0},
        // A device moves to the number chosen.
        {0, 5, true, {{5, m.stableName()}, {16, usb1}}, 0},
        // Another device takes a number that was pinned.
        {1, 5, true, {{5, usb1}}, 0},
        {1, 5, false, {}, 0},
        // Unpinning a number without a pin changes nothing and says nothing.
        {0, 7, false, {}, 0},
        // Pinning without a port chosen asks for one.
        {-1, 2, true, {}, 1},
    };
    SeenMessages messages;
    PortSettingsDialog d(m.sources(), messages);
    int told = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        const Step& s = steps[i];
        if (s.row < 0) d.table().setCurrentCell(-1, -1);
        act(d, s.row, s.com, s.pin ? d.pinButton() : d.unpinButton());
        EXPECT_EQ(m.pins(), s.after);
        told += s.messages;
        EXPECT_EQ(static_cast<int>(messages.boxes.size()), told);
    }
    // The table follows the pins at once.
    act(d, 2, 8, d.pinButton());
    EXPECT_EQ(cell(d, 2, PortSettingsDialog::kComNumbers), "COM8（固定）");
}

TEST(PortSettingsDialog, ChangesNothingWhenItMayNot) {
    struct Case {
        const char* what;
        std::function<void(const Machine&)> arrange;
        bool busy;
        bool canPin;
        bool controlsEnabled;
        std::map<int, std::string> before;  // what the pins are, and stay
        QString noteHas;
        int messages;  // for a pin and an unpin attempt
    };
    const auto pinFile = [](int n) {
        return [n](const Machine& m) {
            fs::create_directories(m.ports());
            std::ofstream(m.pin(n)).put('x');
        };
    };
    const auto pinLink = [](int n) {
        return [n](const Machine& m) {
            fs::create_directories(m.ports());
            fs::create_symlink("/dev/ttyS0", m.pin(n));
        };
    };
    const std::vector<Case> cases = {
        {"a download runs", pinLink(3), true, true, true, {{3, "/dev/ttyS0"}}, "", 2},
        {"a plain file at the number", pinFile(3), false, true, true, {{3, "file"}}, "", 2},
        {"list only", pinLink(3), false, false, false, {{3, "/dev/ttyS0"}}, "只列出", 0},
        {"the pins cannot be read",
         [](const Machine& m) {
             fs::create_directories(m.ports().parent_path());
             std::ofstream(m.ports()).put('x');
         },
         false,
         true,
         false,
         {},
         "无法读取串口固定设置",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Machine m;
        c.arrange(m);
        PortSettingsSources sources = m.sources([&] { return c.busy; });
        sources.canPin = c.canPin;
        sources.listOnlyReason = "这里只列出本机的串口。";
        SeenMessages messages;
        PortSettingsDialog d(std::move(sources), messages);
        EXPECT_EQ(d.table().rowCount(), 3);  // the list is always there
        EXPECT_EQ(d.pinButton().isEnabled(), c.controlsEnabled);
        EXPECT_EQ(d.pinButton().isHidden(), !c.canPin);
        if (!c.noteHas.isEmpty()) {
            EXPECT_TRUE(d.note().text().contains(c.noteHas)) << d.note().text().toStdString();
        }
        // Also called directly, as a click that slipped through would.
        d.table().selectRow(0);
        d.comNumber().setCurrentIndex(2);
        d.pinSelected();
        d.unpinChosen();
        EXPECT_EQ(static_cast<int>(messages.boxes.size()), c.messages);
        for (const SeenMessages::Box& b : messages.boxes) {
            EXPECT_EQ(b.title, "串口设置");
            EXPECT_EQ(b.style, platform::kStyleExclamation);
        }
        if (c.busy) {
            EXPECT_NE(messages.boxes.at(0).text.find("正在读取历史记录"), std::string::npos);
        }
        EXPECT_EQ(m.pins(), c.before);
    }
}

// The window: the entry's place, the dialog it opens, and a download that keeps it shut.
struct Rig {
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    SeenMessages messages;
    MainWindow w{port, clock};

    explicit Rig(const Machine& m) {
        instrument.setStoredGroups(sim::MakeStoredHistory(60, 3));
        instrument.setLinePacing(true);
        w.setUserMessages(messages.forWindow());
        w.setPortSettings(m.sources());
        w.setQuit([] {});
        w.start();
    }
};

TEST(PortSettingsWindow, EntryBeforeCloseInTheFileMenu) {
    Machine m;
    Rig r(m);
    const QMenu* file = r.w.menuBar()->findChild<QMenu*>(QStringLiteral("menufile"));
    ASSERT_NE(file, nullptr);
    QStringList entries;
    for (const QAction* a : file->actions()) {
        if (!a->isSeparator()) entries << a->text();
    }
    EXPECT_EQ(entries, (QStringList{"读取", "保存", "核相报告...", "串口设置...", "关闭"}));
    EXPECT_EQ(&r.w.menuAction(Control::menuports), file->actions().at(3));
}

TEST(PortSettingsWindow, OpensBesideARunningLinkAndNeverDuringADownload) {
    Machine m;
    Rig r(m);
    // Discovery goes on while the dialog is open.
    r.w.menuAction(Control::menuports).trigger();
    PortSettingsDialog* d = r.w.portSettingsDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->table().rowCount(), 3);
    r.clock.advance(2400);
    EXPECT_TRUE(r.w.link().state().linkok);
    // What the dialog has to say, the window tells.
    d->table().setCurrentCell(-1, -1);
    d->pinSelected();
    ASSERT_EQ(r.messages.boxes.size(), 1u);
    EXPECT_EQ(r.messages.boxes[0].text, "请先在列表中选择一个串口。");
    d->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(r.w.portSettingsDialog(), nullptr);

    // A download disables the entry until it ends; a click that slipped through opens nothing.
    r.w.TabStrip1().setCurrentIndex(1);
    r.w.Button_read_Click();
    ASSERT_TRUE(r.w.link().downloading());
    EXPECT_FALSE(r.w.menuAction(Control::menuports).isEnabled());
    r.w.menuports_Click();
    EXPECT_EQ(r.w.portSettingsDialog(), nullptr);
    ASSERT_EQ(r.messages.boxes.size(), 2u);
    EXPECT_NE(r.messages.boxes[1].text.find("正在读取历史记录"), std::string::npos);
    r.clock.advance(20000);
    ASSERT_FALSE(r.w.link().downloading());
    EXPECT_TRUE(r.w.menuAction(Control::menuports).isEnabled());
    r.w.menuAction(Control::menuports).trigger();
    EXPECT_NE(r.w.portSettingsDialog(), nullptr);
}

}  // namespace
}  // namespace ck::app
