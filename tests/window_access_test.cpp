// SPDX-License-Identifier: MIT
// The window for someone who does not use the mouse or does not see it, on a small screen, in
// Chinese throughout: keys, focus order, what a screen reader is told, a window that fits
// the screen, the message boxes' line breaks and Qt's own dialog texts. Offscreen, on
// virtual time.

#include <gtest/gtest.h>

#include "qt_environment.h"
#include "seen_messages.h"

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

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/qt_translations.h"
#include "measure/measurement.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"
#include "views/history_grid.h"
#include "views/live_panel.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace ck::app {
namespace {

using app::Control;

[[maybe_unused]] auto* const kQtEnvironment = ck::testing::AddQtEnvironment<QApplication>(
    "window_access_test", ck::testing::Settings::TestMode);

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
    ck::testing::SeenMessages messages;
    MainWindow w{port, clock};
    int saves = 0, prints = 0, quits = 0;

    Rig() {
        instrument.setStoredGroups(sim::MakeStoredHistory(45, 3));
        instrument.setLinePacing(true);
        w.setDialogService(std::make_unique<CountingDialogs>(&saves, &prints));
        w.setQuit([this] { ++quits; });
        w.setUserMessages(messages.forWindow());
        w.start();
        w.show();
        w.activateWindow();
        // The window system answers an activation with an event, not at once.
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
    }
    int helps() const {
        return static_cast<int>(std::count_if(messages.boxes.begin(), messages.boxes.end(),
                                              [](const auto& b) { return b.title == kHelpTitle; }));
    }
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
         [](const Rig& r) { return r.helps(); }, false},
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
        &r.w.button(Control::Button_read),  &r.w.button(Control::Button_save),
        &r.w.button(Control::Button_clear), &r.w.button(Control::Button_print),
        &r.w.button(Control::Button_help),  &r.w.button(Control::Button_close),
        r.w.TabStrip1().tabBar(),           &r.w.DataGrid()};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next)
            << "got "
            << (QApplication::focusWidget()
                    ? QApplication::focusWidget()->objectName().toStdString()
                    : "none")
            << ", expected " << next->objectName().toStdString();
    }
}

// ---------------------------------------------------------------------------------------------
// What a screen reader is told

QString accessible(QObject* o, QAccessible::Text t) {
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(o);
    return i ? i->text(t) : QStringLiteral("(no interface)");
}

TEST(WindowAccessibility, ValueLabelsAreNamedByRowAndColumnAndSayTheirReading) {
    Rig r;
    struct Named {
        int label;
        const char* name;
    };
    const Named named[] = {
        {11, "A1 电压"},   {12, "A2 电压"},       {13, "B1 电压"},   {14, "B2 电压"},
        {15, "C1 电压"},   {16, "C2 电压"},       {21, "A1A2 相位"}, {22, "A1A2 定性相位"},
        {23, "B1B2 相位"}, {24, "B1B2 定性相位"}, {25, "C1C2 相位"}, {26, "C1C2 定性相位"},
        {31, "A1B2 相位"}, {32, "A1B2 定性相序"}, {33, "B1C2 相位"}, {34, "B1C2 定性相序"},
        {35, "C1A2 相位"}, {36, "C1A2 定性相序"},
    };
    views::LivePanel& panel = r.w.Frame_realtime();
    measure::MeasurementGroup reading;
    reading.pairAngles = {5, 180, 360, 120, 240, 17};
    reading.voltages = {10, 0, 35, 11, 0, 36};
    for (bool read : {false, true}) {
        SCOPED_TRACE(read ? "after a reading" : "at start");
        if (read) r.w.ShowReal(reading);
        for (const Named& n : named) {
            QLabel* l = panel.label(n.label);
            EXPECT_EQ(accessible(l, QAccessible::Name), QString::fromUtf8(n.name));
            // The label still shows the reading, and the reader hears it too.
            EXPECT_EQ(accessible(l, QAccessible::Description), l->text()) << n.name;
        }
    }
    EXPECT_EQ(panel.caption(11), "10 kV");
    EXPECT_EQ(accessible(panel.label(11), QAccessible::Description), "10 kV");
    EXPECT_EQ(accessible(panel.label(22), QAccessible::Description), "同相");
    EXPECT_EQ(accessible(panel.label(34), QAccessible::Description), "逆相序");
    // The heads and the input names keep their own texts as names.
    EXPECT_EQ(accessible(panel.label(37), QAccessible::Name), "电压");
    EXPECT_EQ(accessible(panel.label(1), QAccessible::Name), "A1");
}

TEST(WindowAccessibility, LampsSayWhetherTheyAreLitAndStayInViewWhenDark) {
    Rig r;
    views::LivePanel& panel = r.w.Frame_realtime();
    const char* names[] = {"A1 指示灯", "A2 指示灯", "B1 指示灯",
                           "B2 指示灯", "C1 指示灯", "C2 指示灯"};
    // Indicator bytes by input (A1, B1, C1, A2, B2, C2), lamps by Shape number (A1, A2, B1, ...).
    struct Case {
        const char* what;
        std::array<uint8_t, 6> indicators;
        std::array<bool, 6> lit;
    };
    const Case cases[] = {
        {"start", {0, 0, 0, 0, 0, 0}, {false, false, false, false, false, false}},
        {"A1 only", {1, 0, 0, 0, 0, 0}, {true, false, false, false, false, false}},
        {"A2 and B1", {0, 1, 0, 1, 0, 0}, {false, true, true, false, false, false}},
        {"dark again", {0, 0, 0, 0, 0, 0}, {false, false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.what) != "start") {
            measure::MeasurementGroup g;
            for (std::size_t i = 0; i < 6; ++i) g.indicators[i] = c.indicators[i];
            r.w.ShowReal(g);
        }
        for (int n = 1; n <= 6; ++n) {
            QWidget* lamp = panel.shape(n);
            const bool lit = c.lit[static_cast<std::size_t>(n - 1)];
            EXPECT_EQ(!lamp->isHidden(), lit) << n;  // the design's Visible is untouched
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(lamp);
            ASSERT_NE(i, nullptr);
            EXPECT_EQ(i->text(QAccessible::Name), QString::fromUtf8(names[n - 1]));
            EXPECT_EQ(i->text(QAccessible::Description), lit ? "亮" : "灭") << n;
            EXPECT_FALSE(i->state().invisible) << n;
            // Where it is drawn when lit, also when dark.
            EXPECT_EQ(i->rect().size(), lamp->size()) << n;
            EXPECT_EQ(i->rect().topLeft(), panel.mapToGlobal(lamp->geometry().topLeft())) << n;
        }
    }
}

TEST(WindowAccessibility, ProgressBarCountsGroupsAndSaysSo) {
    Rig r;
    QProgressBar& bar = r.w.Progress_read();
    EXPECT_EQ(accessible(&bar, QAccessible::Name), "读取进度");
    r.linkUpInHistoryView();
    r.w.Button_read_Click();
    // 45 groups: the count, then blocks of three, each some 80 ms on the line.
    r.clock.advance(400);
    ASSERT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.maximum(), 45);
    EXPECT_GT(bar.value(), 0);
    EXPECT_LT(bar.value(), 45);
    const QString midway = QStringLiteral("%1 / 45").arg(bar.value());
    EXPECT_EQ(bar.text(), midway);
    EXPECT_TRUE(bar.isTextVisible());
    EXPECT_EQ(accessible(&bar, QAccessible::Description), midway);
    r.clock.advance(5000);
    ASSERT_FALSE(r.w.link().downloading());
    EXPECT_EQ(bar.text(), "45 / 45");
    EXPECT_EQ(accessible(&bar, QAccessible::Description), "45 / 45");
}

// ---------------------------------------------------------------------------------------------
// Message boxes

TEST(MessageBoxText, EachKindOfLineEndIsOneBreak) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"Printing Error!\r\nno printer", "Printing Error!\nno printer"},
        {"a\rb\r", "a\nb\n"},
        {"a\nb", "a\nb"},
        {"a\r\n\r\nb", "a\n\nb"},  // a blank line written as one stays one
        {"a\r\rb", "a\n\nb"},
        {"a\n\rb", "a\n\nb"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MessageBoxText(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
    }
}

// ---------------------------------------------------------------------------------------------
// A screen too small for the window

TEST(WindowOnSmallScreens, FitsTheScreenWithEveryControlReachable) {
    struct Case {
        const char* what;
        QRect available;
        QMargins frame;
        bool scrolls;
    };
    const QMargins frame(4, 36, 4, 4);
    const Case cases[] = {
        {"1920 x 1080 at 100 %", QRect(0, 0, 1920, 1040), frame, false},
        {"1366 x 768 at 100 %", QRect(0, 0, 1366, 728), frame, false},
        {"exactly enough", QRect(0, 0, 956 + 8, 0), frame, false},  // height filled in below
        {"1920 x 1080 at 200 %", QRect(0, 27, 960, 513), frame, true},
        {"1920 x 1080 at 200 %, taskbar on the left", QRect(48, 0, 912, 540), frame, true},
        {"1280 x 720 at 150 %, no frame reported", QRect(0, 0, 853, 480), QMargins(), true},
        {"back on a large screen", QRect(0, 0, 1920, 1040), frame, false},
    };
    Rig r;
    const QSize design = r.w.size();
    ASSERT_EQ(r.w.centralWidget()->size(), QSize(956, 634));
    QWidget* const client = r.w.centralWidget();
    for (Case c : cases) {
        SCOPED_TRACE(c.what);
        if (c.available.height() == 0) c.available.setHeight(design.height() + 40);
        r.w.fitScreen(c.available, c.frame);
        EXPECT_EQ(r.w.clientScroll() != nullptr, c.scrolls);
        if (!c.scrolls) {
            // Nothing changes where the window fits.
            EXPECT_EQ(r.w.size(), design);
            EXPECT_EQ(r.w.centralWidget(), client);
            continue;
        }
        // The window and its frame inside the area.
        const QRect outer(r.w.pos(), r.w.size().grownBy(c.frame));
        EXPECT_TRUE(c.available.contains(outer))
            << outer.x() << "," << outer.y() << " " << outer.width() << "x" << outer.height();
        EXPECT_EQ(r.w.minimumSize(), r.w.maximumSize());  // still a fixed window
        QScrollArea* scroll = r.w.clientScroll();
        ASSERT_EQ(scroll->widget(), client);
        EXPECT_EQ(client->size(), QSize(956, 634));  // the controls keep their places
        QCoreApplication::processEvents();
        // Every control can be brought into view, and Tab brings the one it reaches.
        views::LivePanel& panel = r.w.Frame_realtime();
        std::vector<QWidget*> controls = {
            r.w.TabStrip1().tabBar(), &r.w.LabComsta(),    &r.w.Lab_rtsta(), &r.w.statusPanel(1),
            &r.w.statusPanel(2),      &r.w.statusPanel(3), panel.label(37),  panel.label(16),
            panel.label(36),          panel.shape(6)};
        for (Control b : {Control::Button_read, Control::Button_save, Control::Button_clear,
                          Control::Button_print, Control::Button_help, Control::Button_close}) {
            controls.push_back(&r.w.button(b));
        }
        const QRect view = scroll->viewport()->rect();
        for (QWidget* w : controls) {
            scroll->ensureWidgetVisible(w, 0, 0);
            const QRect at(w->mapTo(scroll->viewport(), QPoint(0, 0)), w->size());
            EXPECT_TRUE(view.contains(at)) << w->objectName().toStdString();
        }
        scroll->verticalScrollBar()->setValue(0);
        scroll->horizontalScrollBar()->setValue(0);
        r.w.button(Control::Button_help).setFocus();
        QTest::keyClick(&r.w.button(Control::Button_help), Qt::Key_Tab);
        QWidget* close = &r.w.button(Control::Button_close);
        ASSERT_EQ(QApplication::focusWidget(), close);
        EXPECT_TRUE(
            view.contains(QRect(close->mapTo(scroll->viewport(), QPoint(0, 0)), close->size())));
    }
}

// ---------------------------------------------------------------------------------------------
// Qt's own texts

TEST(QtTranslations, StandardDialogsSpeakChinese) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(folder + QStringLiteral("/") + QString::fromLatin1(kQtCatalogue) +
                       QStringLiteral(".qm"))) {
        const char* require = std::getenv("CK_REQUIRE_QT_TRANSLATIONS");
        if (require != nullptr && std::string(require) == "1") {
            FAIL() << kQtCatalogue << ".qm not in " << folder.toStdString()
                   << " (qt6-translations-l10n), and CK_REQUIRE_QT_TRANSLATIONS=1";
        }
        GTEST_SKIP() << kQtCatalogue << ".qm not in " << folder.toStdString()
                     << ": install qt6-translations-l10n";
    }
    EXPECT_FALSE(
        InstallQtTranslations(*QCoreApplication::instance(), QStringLiteral("/nonexistent")));
    ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
    struct Text {
        const char* context;
        const char* source;
        const char* chinese;  // what the translation must contain
    };
    const Text texts[] = {
        {"QPlatformTheme", "OK", "确定"},        {"QPlatformTheme", "Cancel", "取消"},
        {"QPlatformTheme", "Save", "保存"},      {"QFileDialog", "Save As", "另存为"},
        {"QFileDialog", "Look in:", "查找范围"}, {"QPrintDialog", "Print", "打印"},
    };
    for (const Text& t : texts) {
        const QString shown = QCoreApplication::translate(t.context, t.source);
        EXPECT_TRUE(shown.contains(QString::fromUtf8(t.chinese)))
            << t.context << " " << t.source << " -> " << shown.toStdString();
    }
    // The save dialog as the save command shows it.
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    const auto* box = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    QStringList buttons;
    for (QAbstractButton* b : box->buttons()) buttons << b->text();
    EXPECT_TRUE(buttons.join(' ').contains(QStringLiteral("保存")))
        << buttons.join(' ').toStdString();
    EXPECT_TRUE(buttons.join(' ').contains(QStringLiteral("取消")))
        << buttons.join(' ').toStdString();
}

}  // namespace
}  // namespace ck::app
