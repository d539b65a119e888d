// SPDX-License-Identifier: MIT
// The window for someone who does not use the mouse: keys and focus order. Offscreen, on
// virtual time.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "measure/measurement.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"
#include "views/history_grid.h"
#include "views/live_panel.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace ck::app {
namespace {

using link::Control;

class QtEnvironment : public ::testing::Environment {
    int argc_ = 1;
    char name_[19] = "window_access_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
    void SetUp() override {
        QStandardPaths::setTestModeEnabled(true);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }
};
[[maybe_unused]] auto* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Counts what the save and print commands ask of their dialogs; the user cancels.
struct CountingDialogs final : platform::DialogService {
    int* saves;
    int* prints;
    CountingDialogs(int* s, int* p) : saves(s), prints(p) {}
    platform::DialogResult ShowSave(platform::CommonDialog&) override {
        ++*saves;
        return {platform::kErrCancel, "Cancel"};
    }
    platform::DialogResult ShowPrinter(platform::CommonDialog&) override {
        ++*prints;
        return {platform::kErrCancel, "Cancel"};
    }
};

struct Rig {
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    MainWindow w{port, clock};
    int saves = 0, prints = 0, helps = 0, quits = 0;

    Rig() {
        instrument.setStoredGroups(sim::MakeStoredHistory(45, 3));
        instrument.setLinePacing(true);
        w.setDialogService(std::make_unique<CountingDialogs>(&saves, &prints));
        w.setQuit([this] { ++quits; });
        SetMessageBoxObserver([this](const QString& title, const QString&, int) {
            if (title == QString::fromUtf8(kHelpTitle)) ++helps;
        });
        w.start();
        w.show();
        w.activateWindow();
        // The window system answers an activation with an event, not at once.
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    ~Rig() { SetMessageBoxObserver({}); }

    void linkUpInHistoryView() {
        clock.advance(2400);
        ASSERT_TRUE(w.link().state().linkok);
        w.TabStrip1().setCurrentIndex(1);
    }
};

// ---------------------------------------------------------------------------------------------
// Keys

TEST(WindowKeys, ShortcutsRunTheirEntriesAndOnlyWhileTheEntriesAreEnabled) {
    struct Key {
        const char* what;
        int key;
        Qt::KeyboardModifiers mods;
        const char* caption;
        std::function<QAction&(MainWindow&)> entry;
        std::function<int(const Rig&)> count;
        bool duringDownload;  // whether the key still works while a download runs
    };
    const std::vector<Key> keys = {
        {"Ctrl+S saves", Qt::Key_S, Qt::ControlModifier, "保存",
         [](MainWindow& w) -> QAction& { return w.menuAction(Control::menusave); },
         [](const Rig& r) { return r.saves; }, false},
        {"Ctrl+P prints", Qt::Key_P, Qt::ControlModifier, "打印",
         [](MainWindow& w) -> QAction& { return w.menuAction(Control::menuprint); },
         [](const Rig& r) { return r.prints; }, false},
        {"F1 shows the help box", Qt::Key_F1, Qt::NoModifier, "关于软件",
         [](MainWindow& w) -> QAction& { return w.menuabout(); },
         [](const Rig& r) { return r.helps; }, false},
        {"Ctrl+Q closes", Qt::Key_Q, Qt::ControlModifier, "关闭",
         [](MainWindow& w) -> QAction& { return w.menuAction(Control::menuclose); },
         [](const Rig& r) { return r.quits; }, true},
    };
    for (const Key& k : keys) {
        SCOPED_TRACE(k.what);
        Rig r;
        QAction& entry = k.entry(r.w);
        EXPECT_EQ(entry.text(), QString::fromUtf8(k.caption));  // the caption is unchanged
        EXPECT_EQ(entry.shortcut(), QKeySequence(static_cast<int>(k.mods) | k.key));
        QTest::keyClick(&r.w, static_cast<Qt::Key>(k.key), k.mods);
        EXPECT_EQ(k.count(r), 1);

        Rig busy;
        busy.linkUpInHistoryView();
        busy.w.Button_read_Click();
        ASSERT_TRUE(busy.w.link().downloading());
        QTest::keyClick(&busy.w, static_cast<Qt::Key>(k.key), k.mods);
        EXPECT_EQ(k.count(busy), k.duringDownload ? 1 : 0);
    }
}

// The keys a screen-reader user moves with: the tab order of the design, from the grid over
// the buttons to the tabs, and focus on save when the window opens.
TEST(WindowKeys, FocusStartsOnSaveAndTabFollowsTheDesignOrder) {
    Rig r;
    EXPECT_EQ(QApplication::focusWidget(), &r.w.button(Control::Button_save))
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString()
                                        : "none");

    r.linkUpInHistoryView();
    r.w.DataGrid().setFocus();
    const std::vector<QWidget*> expected = {
        &r.w.button(Control::Button_read), &r.w.button(Control::Button_save),
        &r.w.button(Control::Button_clear), &r.w.button(Control::Button_print),
        &r.w.button(Control::Button_help), &r.w.button(Control::Button_close),
        r.w.TabStrip1().tabBar(), &r.w.DataGrid()};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next)
            << "got " << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "none")
            << ", expected " << next->objectName().toStdString();
    }
}

}  // namespace
}  // namespace ck::app
