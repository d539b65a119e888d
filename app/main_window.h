// SPDX-License-Identifier: MIT
#pragma once
// The application's one window, Form1: owns every control and the link, wires the platform's
// timers and serial port to the handlers, takes the link's events into the model, and sets
// its controls for each phase of the link and each tab from the tables of control_sets.h.

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>

#include "app/control_sets.h"
#include "app/port_settings_dialog.h"
#include "app/report_dialog.h"
#include "app/report_readings.h"
#include "app/session_recorder.h"
#include "link/link.h"
#include "measure/history_table.h"
#include "measure/live_reading.h"
#include "measure/measurement.h"
#include "output/commands.h"
#include "platform/common_dialog.h"
#include "platform/services.h"
#include "platform/wall_clock.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QScrollArea;
class QStatusBar;
class QTabWidget;
class QToolButton;

namespace ck::views {
class HistoryGrid;
class LivePanel;
class PhasorWindow;
}  // namespace ck::views

namespace ck::app {

class TraceRecorder;
class TraceWindow;

inline constexpr int kDateMs = 1000;
inline constexpr const char* kHelpTitle = "欢迎使用我们公司产品";
inline constexpr const char* kHelpText = "Zandrel数据上传软件(CN)\r   如需帮助请联系我们!\r";
inline constexpr const char* kTextNoHistory = "设备的测量历史记录组数为0！";

// The message that tells the user how to get the right to open a port the system refused:
// the device, the command that adds the account to the port's group, and that it counts
// only from the next login. Lines end in CR LF.
std::string PermissionAdvice(int16_t comport, const platform::OpenFailure& failure);

class MainWindow final : public QMainWindow, public link::LinkEvents, public ControlSink {
    Q_OBJECT
public:
    MainWindow(platform::SerialPort& port, platform::TimerService& timers,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, once the window exists.
    void start();
    // The status-bar clock: the date in panel 1, the time of day in panel 3.
    void onClockTick();

    // Handlers, named after their control and event.
    void TabStrip1_Click();
    void Button_read_Click();
    void Button_save_Click();
    void Button_clear_Click();
    void Button_print_Click();
    void Button_help_Click();
    void Button_close_Click();
    void menuread_Click() { Button_read_Click(); }
    void menusave_Click() { Button_save_Click(); }
    void menuclose_Click() { Button_close_Click(); }
    void menuclear_Click() { Button_clear_Click(); }
    void menuprint_Click() { Button_print_Click(); }
    void menuabout_Click() { Button_help_Click(); }
    // 串口设置...: the serial ports and their COM numbers; nothing changes during a download.
    void menuports_Click();
    // The view menu: the phasor window, and the session log on or off.
    void menuphasor_Click();
    void menulog_Click(bool on);
    // 核相报告...: the report of the reading shown or of the selected history rows.
    void menureport_Click();
    // 帮助 > 通讯记录...: the communication trace live, in a window of its own.
    void menutrace_Click();
    QAction& menutrace() const { return *menutrace_; }
    TraceWindow* traceWindow() const { return traceWindow_.get(); }
    TraceRecorder& traceRecorder() { return *trace_; }
    // --trace FILE: the trace appended to the file from start-up; a file that cannot be opened
    // is told once the window runs.
    void setTraceFile(const QString& path);

    link::Link& link() { return *link_; }
    views::LivePanel& Frame_realtime() { return *frame_; }
    views::HistoryGrid& DataGrid() { return *grid_; }
    QTabWidget& TabStrip1() { return *tabs_; }
    QProgressBar& Progress_read() { return *progress_; }
    QStatusBar& StatusBar1() { return *status_; }
    QLabel& LabComsta() { return *LabComsta_; }
    QLabel& Lab_rtsta() { return *Lab_rtsta_; }
    QLabel& statusPanel(int i) const;  // 1..3
    QToolButton& button(Control c) const;
    QAction& menuAction(Control c) const;
    QAction& menuabout() const { return *menuabout_; }
    platform::Timer& Timer_date() { return *date_; }
    QAction& menuphasor() const { return *menuphasor_; }
    // Where the settings dialog finds the ports (the machine's unless set; the demo lists
    // only); the window itself says when a download runs.
    void setPortSettings(PortSettingsSources s) { portSources_ = std::move(s); }
    // The settings dialog while it is open.
    PortSettingsDialog* portSettingsDialog() const { return portDialog_; }
    QAction& menulog() const { return *menulog_; }
    // Made when first asked for, showing the last reading; from then on it follows each one.
    views::PhasorWindow& phasorWindow();
    // Tests put their own settings and files into it before start-up.
    SessionRecorder& sessionRecorder() { return *recorder_; }
    QAction& menureport() const { return menuAction(Control::menureport); }
    // The report's dialog while it is open.
    ReportDialog* reportDialog() const { return reportDialog_; }
    // Where the report's fields are remembered (the program's settings unless set).
    void setReportSettings(std::unique_ptr<QSettings> s) { reportSettings_ = std::move(s); }

    // Keeps the whole window inside the screen area `available`, given the margins of the
    // window's frame: at sizes that fit nothing changes; otherwise the client area scrolls in
    // a window that fits, so every control stays reachable (200 % scaling on a 1920 x 1080
    // screen leaves 960 x 540 for a window of 956 x 657).
    void fitScreen(const QRect& available, const QMargins& frame);
    // The scroll area around the client area while it has one.
    QScrollArea* clientScroll() const { return scroll_; }

    // Read back what the control sets made of them; the controls keep the state.
    bool controlEnabled(Control c) const;
    bool controlVisible(Control c) const;

    // The user's clock: the status bar shows it, readings and reports are stamped with it
    // (tests put their own in).
    void setClock(std::unique_ptr<platform::WallClock> clock) { clock_ = std::move(clock); }
    // What ends the application (tests watch it instead).
    void setQuit(std::function<void()> quit) { quit_ = std::move(quit); }

    // The shared file and print dialog's properties.
    platform::CommonDialog& CommonDialog1() { return dialog_; }
    // The machine services the save and print commands use, made at the first command (the
    // printer is slow to set up); tests put fakes in.
    void setDialogService(std::unique_ptr<platform::DialogService> s) { dialogs_ = std::move(s); }
    void setFileSystem(std::unique_ptr<platform::FileSystem> s) { files_ = std::move(s); }
    void setScreenCapture(std::unique_ptr<platform::ScreenCapture> s) { capture_ = std::move(s); }
    void setPrinterService(std::unique_ptr<platform::PrinterService> s) { printer_ = std::move(s); }
    // Set before a dialog that tells the user opens: the dialogs hold on to it.
    void setUserMessages(std::unique_ptr<platform::UserMessages> s) { messages_ = std::move(s); }
    // Where every message box and beep of the window and its dialogs goes: the one set, else
    // the real boxes, made now.
    platform::UserMessages& messages();
    // What the window shows, as the save and print commands write it.
    output::Shown shown() const;
    // The last live reading accepted, and the history table; the views draw them.
    const measure::LiveReading& liveReading() const { return live_; }
    const measure::HistoryTable& historyTable() const { return history_; }

    // ControlSink
    void setEnabled(Control c, bool on) override;
    void setVisible(Control c, bool on) override;

    // link::LinkEvents
    void phaseChanged(link::Phase phase, const link::LinkState& state) override;
    void setComStatus(const std::string& text) override;
    void setLinkStatus(const std::string& text) override;
    void setProgress(int done, int total) override;
    void ShowReal(const measure::MeasurementGroup& reading) override;
    void FillHist(int firstGroupNumber, std::span<const measure::MeasurementGroup> groups) override;
    void noHistory() override;
    void permissionRefused(int16_t comport, const platform::OpenFailure& failure) override;

    using QMainWindow::setEnabled;
    using QMainWindow::setVisible;

signals:
    // A live reading has been handed to the panel.
    void liveReadingShown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildMenus();
    void buildControls(QWidget* client);
    void buildTabs(QWidget* client);
    void buildProgress(QWidget* client);
    void buildButtons(QWidget* client);
    // The two status labels under the buttons, and the status bar.
    void buildStatus(QWidget* client);
    void setFocusOrder();
    void buildViewMenu();
    // 帮助 > 通讯记录... and the trace it shows.
    void buildTraceMenu();
    // Everything beyond the live panel that follows each accepted live reading.
    void onLiveReading();
    void showLogState();
    // The user's clock, as Qt reads dates and times.
    QDateTime now() const;
    // The save and print commands' services, the missing ones made now.
    output::OutputServices outputServices();
    // fitScreen() on the window's screen, with the frame the window system reports once it
    // has shown the window and an allowance for one until then.
    void fitOwnScreen();

    struct Slot {
        QWidget* widget = nullptr;
        QAction* action = nullptr;
    };
    std::array<Slot, kControlCount> controls_{};

    QTabWidget* tabs_ = nullptr;
    views::LivePanel* frame_ = nullptr;
    views::HistoryGrid* grid_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QStatusBar* status_ = nullptr;
    std::array<QLabel*, 3> panels_{};
    QLabel* LabComsta_ = nullptr;
    QLabel* Lab_rtsta_ = nullptr;
    QAction* menuabout_ = nullptr;
    std::unique_ptr<platform::Timer> date_;
    std::unique_ptr<link::Link> link_;
    measure::LiveReading live_;
    measure::HistoryTable history_;
    std::unique_ptr<platform::WallClock> clock_;
    std::function<void()> quit_;
    platform::CommonDialog dialog_;
    std::unique_ptr<platform::PrinterService> printer_;
    std::unique_ptr<platform::DialogService> dialogs_;
    std::unique_ptr<platform::FileSystem> files_;
    std::unique_ptr<platform::ScreenCapture> capture_;
    std::unique_ptr<platform::UserMessages> messages_;

    platform::TimerService& timers_;
    QAction* menuphasor_ = nullptr;
    QAction* menulog_ = nullptr;
    std::unique_ptr<views::PhasorWindow> phasor_;
    std::unique_ptr<SessionRecorder> recorder_;
    bool phasorPlaced_ = false;
    QWidget* client_ = nullptr;
    QSize designSize_;
    QScrollArea* scroll_ = nullptr;
    bool screenWatched_ = false;
    PortSettingsSources portSources_;
    QPointer<PortSettingsDialog> portDialog_;
    std::unique_ptr<QSettings> reportSettings_;
    platform::CommonDialog reportFileDialog_;
    QPointer<ReportDialog> reportDialog_;
    QAction* menutrace_ = nullptr;
    // After the link: it lets the link go first. The window, which it feeds, goes before it.
    std::unique_ptr<TraceRecorder> trace_;
    std::unique_ptr<TraceWindow> traceWindow_;
};

// Shows a modal message box (style 48 exclamation, 64 information) with one OK button and
// returns when it is closed; returns at once on the offscreen platform, where nobody could
// close it (the demo takes its pictures there when there is no display). Carriage returns in
// the text break lines.
void ShowMessageBox(QWidget* parent, const QString& title, const QString& text, int style);
// The text as the box shows it: a CR, an LF and a CR LF are each one line break.
QString MessageBoxText(const QString& text);

}  // namespace ck::app
