// SPDX-License-Identifier: MIT
#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimeZone>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include "app/pictures.h"
#include "app/trace_recorder.h"
#include "app/trace_window.h"
#include "generated/version.h"
#include "platform/qt/qt_log_services.h"
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_printer.h"
#include "views/fonts.h"
#include "views/history_grid.h"
#include "views/live_panel.h"
#include "views/phasor_window.h"
#include "views/twips.h"

namespace ck::app {
namespace {

using views::twipsRect;

struct ButtonDef {
    Control control;
    const char* name;
    const char* caption;
    int top;
    bool enabled;
    Picture picture;
};
constexpr ButtonDef kButtons[] = {
    {Control::Button_read, "Button_read", "读取", 720, true, Picture::Read},
    {Control::Button_save, "Button_save", "保存", 1920, true, Picture::Save},
    {Control::Button_clear, "Button_clear", "清空", 3000, false, Picture::Clear},
    {Control::Button_print, "Button_print", "打印", 4080, true, Picture::Print},
    {Control::Button_help, "Button_help", "帮助", 5160, true, Picture::Help},
    {Control::Button_close, "Button_close", "关闭", 6240, true, Picture::Close},
};

// Tabs low enough to stay clear of the live panel, which starts 360 twips below their top,
// in the platform's own look.
class TabHeightStyle final : public QProxyStyle {
public:
    TabHeightStyle(int height, QObject* owner) : height_(height) { setParent(owner); }
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override {
        QSize s = QProxyStyle::sizeFromContents(type, option, size, widget);
        if (type == CT_TabBarTab) s.setHeight(std::min(s.height(), height_));
        return s;
    }

private:
    int height_;
};

QString q(const std::string& s) { return QString::fromStdString(s); }

// The instrument's name in the middle panel of the status bar, and what it says while the
// session log is on.
constexpr const char* kStatusInstrument = "Zandrel";
constexpr const char* kStatusLogging = "Zandrel  记录中";

// The system's time format with hours, minutes and seconds, without the time zone.
QString timeOfDayFormat(const QLocale& locale) {
    QString f = locale.timeFormat(QLocale::LongFormat);
    f.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    if (!f.contains(QLatin1Char('s')))
        f = locale.timeFormat(QLocale::ShortFormat) + QStringLiteral(":ss");
    return f.trimmed();
}

}  // namespace

std::string PermissionAdvice(int16_t comport, const platform::OpenFailure& failure) {
    const std::string com = "COM" + std::to_string(comport);
    const std::string device =
        failure.device.empty() ? com + " " : failure.device + "（" + com + "）";
    const std::string group = failure.group.empty() ? "dialout" : failure.group;
    // The shell fills in $USER where the account is not known.
    const std::string account = failure.account.empty() ? "$USER" : failure.account;
    return "没有打开串口 " + device + "的权限。\r\n" + "请在终端中执行：\r\n" +
           "sudo usermod -aG " + group + " " + account + "\r\n" +
           "然后注销并重新登录，新的组才生效。";
}

QString MessageBoxText(const QString& text) {
    QString shown = text;
    // CR LF is one break, as a lone CR is: the texts come from both kinds of source.
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

void ShowMessageBox(QWidget* parent, const QString& title, const QString& text, int style) {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    const QString shown = MessageBoxText(text);
    QMessageBox box(
        style == platform::kStyleInformation ? QMessageBox::Information : QMessageBox::Warning,
        title, shown, QMessageBox::Ok, parent);
    box.exec();
}

MainWindow::MainWindow(platform::SerialPort& port, platform::TimerService& timers, QWidget* parent)
    : QMainWindow(parent), timers_(timers) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Check Korvelt"));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    buildMenus();
    buildViewMenu();
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(views::px(14340), views::px(9510));
    setCentralWidget(client);
    buildControls(client);
    client_ = client;
    designSize_ = sizeHint();
    setFixedSize(designSize_);

    date_ = platform::makeTimer(timers, kDateMs, [this] { onClockTick(); });
    clock_ = std::make_unique<platform::QtWallClock>();
    link_ = std::make_unique<link::Link>(port, timers, *this);
    quit_ = [this] {
        close();
        QCoreApplication::quit();
    };

    recorder_ = std::make_unique<SessionRecorder>();
    portSources_ = MachinePortSettings();
    buildTraceMenu();
}

MainWindow::~MainWindow() { link_->stop(); }

// "视图" after the three menus of the commands and before help, which users expect last.
void MainWindow::buildViewMenu() {
    auto* view = new QMenu(QStringLiteral("视图"), this);
    view->setObjectName(QStringLiteral("menuview"));
    menuBar()->insertMenu(&menuAction(Control::menuhelp), view);
    menuphasor_ = view->addAction(QStringLiteral("相量图"));
    menuphasor_->setObjectName(QStringLiteral("menuphasor"));
    connect(menuphasor_, &QAction::triggered, this, [this] { menuphasor_Click(); });
    menulog_ = view->addAction(QStringLiteral("记录实时数据"));
    menulog_->setObjectName(QStringLiteral("menulog"));
    menulog_->setCheckable(true);
    connect(menulog_, &QAction::triggered, this, [this](bool on) { menulog_Click(on); });
}

views::PhasorWindow& MainWindow::phasorWindow() {
    if (!phasor_) {
        phasor_ = std::make_unique<views::PhasorWindow>();
        if (live_.time()) phasor_->showReading(live_.values());
    }
    return *phasor_;
}

output::OutputServices MainWindow::outputServices() {
    if (!printer_) printer_ = std::make_unique<platform::QtPrinterService>(views::MonoCjkFont(10));
    if (!dialogs_) {
        // The print dialog configures the printer the reports go to, when it is Qt's.
        auto* qtPrinter = dynamic_cast<platform::QtPrinterService*>(printer_.get());
        dialogs_ = std::make_unique<platform::QtDialogService>(
            this, qtPrinter ? &qtPrinter->printer() : nullptr);
    }
    if (!files_) files_ = std::make_unique<platform::QtFileSystem>();
    if (!capture_) capture_ = std::make_unique<platform::QtScreenCapture>(this);
    return {dialog_, *dialogs_, *files_, *capture_, *printer_, messages()};
}

platform::UserMessages& MainWindow::messages() {
    if (!messages_) {
        messages_ = std::make_unique<platform::QtUserMessages>(
            [this](const QString& title, const QString& text, int style) {
                ShowMessageBox(this, title, text, style);
            });
    }
    return *messages_;
}

void MainWindow::menuphasor_Click() {
    views::PhasorWindow& phasor = phasorWindow();
    if (!phasorPlaced_) {
        // The first time beside the main window, where the screen has room for it.
        phasorPlaced_ = true;
        const QScreen* screen = this->screen();
        const QRect free = screen ? screen->availableGeometry() : QRect();
        QPoint at = frameGeometry().topRight() + QPoint(8, 0);
        if (free.isValid() && at.x() + phasor.width() > free.right()) {
            at.setX(std::max(free.left(), free.right() - phasor.width()));
        }
        phasor.move(at);
    }
    phasor.setWindowState(phasor.windowState() & ~Qt::WindowMinimized);
    phasor.show();
    phasor.raise();
    phasor.activateWindow();
}

void MainWindow::menuports_Click() {
    if (link_->downloading()) {
        // The entry is disabled then; a click that slipped through changes nothing either.
        ShowBusyRefusal(messages());
        return;
    }
    if (portDialog_) {
        portDialog_->raise();
        portDialog_->activateWindow();
        return;
    }
    PortSettingsSources sources = portSources_;
    sources.busy = [this] { return link_->downloading(); };
    portDialog_ = new PortSettingsDialog(std::move(sources), messages(), this);
    portDialog_->setAttribute(Qt::WA_DeleteOnClose);
    // Window-modal without a nested event loop: discovery and polling go on meanwhile.
    portDialog_->open();
}

void MainWindow::menureport_Click() {
    if (reportDialog_) {
        reportDialog_->raise();
        reportDialog_->activateWindow();
        return;
    }
    std::vector<int> selected;
    for (const QModelIndex& i : grid_->selectionModel()->selectedIndexes()) {
        selected.push_back(i.row() + 1);  // the table's row 0 is grid row 1
    }
    const auto& s = link_->state();
    ReportContent content = ReportContentOf(live_, history_, s.realmode, selected, s.histcount);
    if (!reportSettings_) {
        reportSettings_ = std::make_unique<QSettings>(QString::fromLatin1(kSettingsOrganisation),
                                                      QString::fromLatin1(kSettingsApplication));
    }
    // The window's services, made now if no save or print has made them yet.
    const output::OutputServices out = outputServices();
    auto* qtPrinter = dynamic_cast<platform::QtPrinterService*>(&out.printer);
    ReportServices services{&out.dialogs, &out.files, &out.messages,
                            qtPrinter ? &qtPrinter->printer() : nullptr, [this] { return now(); }};
    reportDialog_ = new ReportDialog(std::move(content), std::move(services), *reportSettings_,
                                     reportFileDialog_, this);
    reportDialog_->setAttribute(Qt::WA_DeleteOnClose);
    // Window-modal without a nested event loop: the link goes on meanwhile, and the report
    // keeps what it held when it opened.
    reportDialog_->open();
}

void MainWindow::menulog_Click(bool on) {
    recorder_->setOn(on);
    showLogState();
}

void MainWindow::showLogState() {
    menulog_->setChecked(recorder_->isOn());
    panels_[1]->setText(QString::fromUtf8(recorder_->isOn() ? kStatusLogging : kStatusInstrument));
}

void MainWindow::onLiveReading() {
    if (phasor_) phasor_->showReading(live_.values());
    const std::optional<QString> failure = recorder_->record(live_);
    if (!failure) return;
    showLogState();
    // Told once the reading's handling is over: a box opened inside it would run the link's
    // next events in the middle of this one.
    timers_.post([self = QPointer<MainWindow>(this), text = *failure] {
        if (self) {
            self->messages().show(kLogFailureTitle, text.toStdString(),
                                  platform::kStyleExclamation);
        }
    });
}

void MainWindow::buildMenus() {
    auto entry = [this](QMenu* menu, const char* name, const char* caption,
                        void (MainWindow::*handler)()) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };
    auto add = [this, entry](QMenu* menu, Control c, const char* name, const char* caption,
                             void (MainWindow::*handler)()) {
        controls_[static_cast<std::size_t>(c)].action = entry(menu, name, caption, handler);
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
    file->setObjectName(QStringLiteral("menufile"));
    add(file, Control::menuread, "menuread", "读取", &MainWindow::menuread_Click);
    add(file, Control::menusave, "menusave", "保存", &MainWindow::menusave_Click);
    add(file, Control::menureport, "menureport", "核相报告...", &MainWindow::menureport_Click);
    // Before close, which users expect last.
    add(file, Control::menuports, "menuports", "串口设置...", &MainWindow::menuports_Click);
    file->addSeparator();
    add(file, Control::menuclose, "menuclose", "关闭", &MainWindow::menuclose_Click);
    QMenu* oprate = menuBar()->addMenu(QStringLiteral("操作"));
    oprate->setObjectName(QStringLiteral("menuoprate"));
    add(oprate, Control::menuclear, "menuclear", "清空", &MainWindow::menuclear_Click);
    add(oprate, Control::menuprint, "menuprint", "打印", &MainWindow::menuprint_Click);
    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助"));
    help->setObjectName(QStringLiteral("menuhelp"));
    help->menuAction()->setObjectName(QStringLiteral("menuhelp"));
    menuabout_ = entry(help, "menuabout", "关于软件", &MainWindow::menuabout_Click);
    // Disabling the help menu's own action greys its title and keeps it from opening.
    controls_[static_cast<std::size_t>(Control::menuhelp)].action = help->menuAction();

    // The usual keys, on the entries themselves: they work exactly when the entry does, and
    // the captions stay as they are (the key shows beside them).
    const std::pair<QAction*, QKeySequence> keys[] = {
        {&menuAction(Control::menusave), QKeySequence(Qt::CTRL | Qt::Key_S)},
        {&menuAction(Control::menuprint), QKeySequence(Qt::CTRL | Qt::Key_P)},
        {menuabout_, QKeySequence(Qt::Key_F1)},
        {&menuAction(Control::menureport), QKeySequence(Qt::CTRL | Qt::Key_R)},
        {&menuAction(Control::menuclose), QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    for (const auto& [action, key] : keys) action->setShortcut(key);
    // An entry in a disabled menu is out of reach with the mouse; its key must be too.
    connect(help->menuAction(), &QAction::changed, this,
            [this, help] { menuabout_->setEnabled(help->menuAction()->isEnabled()); });
}

void MainWindow::buildControls(QWidget* client) {
    buildTabs(client);
    frame_ = new views::LivePanel(client);
    frame_->setGeometry(twipsRect(600, 600, 11535, 7695));
    controls_[static_cast<std::size_t>(Control::Frame_realtime)].widget = frame_;
    grid_ = new views::HistoryGrid(history_, client);
    grid_->setGeometry(twipsRect(3080, 4840, 3375, 2295));
    grid_->hide();  // until the history tab is chosen
    controls_[static_cast<std::size_t>(Control::DataGrid)].widget = grid_;
    buildProgress(client);
    buildButtons(client);
    buildStatus(client);
    setFocusOrder();
}

void MainWindow::buildTabs(QWidget* client) {
    tabs_ = new QTabWidget(client);
    tabs_->setObjectName(QStringLiteral("TabStrip1"));
    tabs_->setGeometry(twipsRect(480, 240, 11775, 8415));
    tabs_->tabBar()->setFont(views::SongFont(12, true));
    tabs_->tabBar()->setStyle(new TabHeightStyle(views::px(600 - 240) - 2, tabs_));
    tabs_->addTab(new QWidget, QStringLiteral("实时监控"));
    tabs_->addTab(new QWidget, QStringLiteral("历史记录"));
    connect(tabs_, &QTabWidget::currentChanged, this, [this] { TabStrip1_Click(); });
    // A click on the tab already selected applies its set again.
    connect(tabs_, &QTabWidget::tabBarClicked, this, [this](int index) {
        if (index == tabs_->currentIndex()) TabStrip1_Click();
    });
    controls_[static_cast<std::size_t>(Control::TabStrip1)].widget = tabs_;
}

void MainWindow::buildProgress(QWidget* client) {
    progress_ = new QProgressBar(client);
    progress_->setObjectName(QStringLiteral("Progress_read"));
    progress_->setGeometry(twipsRect(4200, 4080, 3855, 225));
    progress_->setRange(0, 100);
    // What it counts, in the groups the instrument reported: "45 / 200".
    progress_->setFormat(QStringLiteral("%v / %m"));
    progress_->setAlignment(Qt::AlignCenter);
    QFont small = progress_->font();
    small.setPixelSize(std::max(8, views::px(225) - 4));
    progress_->setFont(small);
    progress_->setAccessibleName(QStringLiteral("读取进度"));
    const auto describeProgress = [this] {
        progress_->setAccessibleDescription(progress_->text());
    };
    connect(progress_, &QProgressBar::valueChanged, this, describeProgress);
    describeProgress();
    progress_->hide();
    controls_[static_cast<std::size_t>(Control::Progress_read)].widget = progress_;
}

void MainWindow::buildButtons(QWidget* client) {
    for (const ButtonDef& b : kButtons) {
        auto* button = new QToolButton(client);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setText(QString::fromUtf8(b.caption));
        const QPixmap picture = ButtonPicture(b.picture);
        button->setIcon(QIcon(picture));
        button->setIconSize(picture.size());
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setGeometry(twipsRect(12720, b.top, 1095, 855));
        button->setEnabled(b.enabled);
        controls_[static_cast<std::size_t>(b.control)].widget = button;
    }
    auto click = [this](Control c, void (MainWindow::*handler)()) {
        connect(&button(c), &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    click(Control::Button_read, &MainWindow::Button_read_Click);
    click(Control::Button_save, &MainWindow::Button_save_Click);
    click(Control::Button_clear, &MainWindow::Button_clear_Click);
    click(Control::Button_print, &MainWindow::Button_print_Click);
    click(Control::Button_help, &MainWindow::Button_help_Click);
    click(Control::Button_close, &MainWindow::Button_close_Click);
}

void MainWindow::buildStatus(QWidget* client) {
    auto statusLabel = [client](const char* name, const char* caption, int top) {
        auto* l = new QLabel(QString::fromUtf8(caption), client);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(twipsRect(12600, top, 1455, 375));
        l->setFont(views::SongFont(12));
        return l;
    };
    LabComsta_ = statusLabel("LabComsta", "串口状态", 7560);
    Lab_rtsta_ = statusLabel("Lab_rtsta", "连接失败", 8160);

    status_ = new QStatusBar(client);
    status_->setObjectName(QStringLiteral("StatusBar1"));
    status_->setSizeGripEnabled(false);
    status_->setGeometry(twipsRect(0, 9015, 14340, 495));
    const std::pair<const char*, int> panels[] = {
        {"date", 2200}, {"Zandrel", 10000}, {"time", 2200}};
    for (std::size_t i = 0; i < 3; ++i) {
        auto* l = new QLabel(QString::fromLatin1(panels[i].first), status_);
        l->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        l->setFixedWidth(views::px(panels[i].second) - 6);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setIndent(4);
        status_->addWidget(l);
        panels_[i] = l;
    }
}

void MainWindow::setFocusOrder() {
    // The design's tab order: the grid, the buttons from read to close, then the tabs. At
    // start the grid is hidden and read disabled, so focus starts on save.
    QWidget* const order[] = {grid_,
                              &button(Control::Button_read),
                              &button(Control::Button_save),
                              &button(Control::Button_clear),
                              &button(Control::Button_print),
                              &button(Control::Button_help),
                              &button(Control::Button_close),
                              tabs_->tabBar()};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    // The tabs take focus through their bar alone, which now comes last: the tab widget,
    // still first in the chain, would hand the focus on to it at start.
    tabs_->setFocusProxy(nullptr);
    tabs_->setFocusPolicy(Qt::NoFocus);
}

void MainWindow::start() {
    link_->start();
    recorder_->restore();
    showLogState();
    onClockTick();
    date_->setEnabled(true);
    grid_->InitGrid();
    grid_->hide();
    frame_->show();
    for (int n = 1; n <= 6; ++n) frame_->shape(n)->hide();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    // Nobody sees an offscreen window, and its screen is a stand-in: it keeps its design size.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) fitOwnScreen();
}

void MainWindow::fitScreen(const QRect& available, const QMargins& frame) {
    const QSize room(available.width() - frame.left() - frame.right(),
                     available.height() - frame.top() - frame.bottom());
    const bool fits = designSize_.width() <= room.width() && designSize_.height() <= room.height();
    if (fits) {
        if (scroll_ != nullptr) {
            scroll_->takeWidget();
            setCentralWidget(client_);  // the scroll area goes with it
            client_->show();
            scroll_ = nullptr;
        }
        setFixedSize(designSize_);
        return;
    }
    if (scroll_ == nullptr) {
        takeCentralWidget();
        scroll_ = new QScrollArea(this);
        scroll_->setObjectName(QStringLiteral("clientScroll"));
        scroll_->setFrameShape(QFrame::NoFrame);
        scroll_->setWidget(client_);  // not resizable: the controls keep their design places
        setCentralWidget(scroll_);
        client_->show();
    }
    setFixedSize(designSize_.boundedTo(room));
    // The frame's top left corner inside the area, the window centred where there is room.
    const QSize outer = size().grownBy(frame);
    move(available.left() + std::max(0, (available.width() - outer.width()) / 2),
         available.top() + std::max(0, (available.height() - outer.height()) / 2));
}

void MainWindow::fitOwnScreen() {
    const QScreen* screen = this->screen();
    if (screen == nullptr) return;
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                   outer.right() - inner.right(), outer.bottom() - inner.bottom());
    if (frame.isNull()) {
        // Not shown yet: a title bar as window managers draw them at this scale, thin borders.
        constexpr int kBorder = 4;
        constexpr int kTitleBar = 36;
        frame = QMargins(kBorder, kTitleBar, kBorder, kBorder);
    }
    fitScreen(screen->availableGeometry(), frame);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    // Once shown, the real frame is known, and a move to another screen fits anew.
    QTimer::singleShot(0, this, [this] { fitOwnScreen(); });
    if (!screenWatched_ && windowHandle() != nullptr) {
        screenWatched_ = true;
        connect(windowHandle(), &QWindow::screenChanged, this, [this] { fitOwnScreen(); });
    }
}

QLabel& MainWindow::statusPanel(int i) const {
    return *panels_.at(static_cast<std::size_t>(i - 1));
}

QToolButton& MainWindow::button(Control c) const {
    return *static_cast<QToolButton*>(controls_[static_cast<std::size_t>(c)].widget);
}

QAction& MainWindow::menuAction(Control c) const {
    return *controls_[static_cast<std::size_t>(c)].action;
}

bool MainWindow::controlEnabled(Control c) const {
    const Slot& s = controls_[static_cast<std::size_t>(c)];
    return s.action ? s.action->isEnabled() : s.widget->isEnabled();
}

bool MainWindow::controlVisible(Control c) const {
    const Slot& s = controls_[static_cast<std::size_t>(c)];
    return s.action ? s.action->isVisible() : !s.widget->isHidden();
}

void MainWindow::TabStrip1_Click() {
    const link::View view = tabs_->currentIndex() + 1 == 1 ? link::View::Live : link::View::History;
    link_->setView(view);
    ApplySet(SetFor(view), link_->state(), *this);
}

QDateTime MainWindow::now() const {
    const platform::LocalTime t = clock_->now();
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second),
                     QTimeZone(t.utcOffsetMinutes * 60));
}

void MainWindow::onClockTick() {
    const QDateTime t = now();
    const QLocale locale = QLocale::system();
    panels_[0]->setText(locale.toString(t.date(), QLocale::ShortFormat));
    panels_[2]->setText(locale.toString(t.time(), timeOfDayFormat(locale)));
}

void MainWindow::Button_read_Click() { link_->requestDownload(); }

output::Shown MainWindow::shown() const {
    return {link_->state().realmode, live_, history_, link_->state().histcount};
}

void MainWindow::Button_save_Click() {
    output::OutputServices out = outputServices();
    output::Save(out, shown());
}

void MainWindow::Button_print_Click() {
    output::OutputServices out = outputServices();
    output::Print(out, shown());
}

void MainWindow::Button_clear_Click() {
    history_.clear();
    grid_->InitGrid();
}

void MainWindow::Button_help_Click() {
    // The box's own text, then one more line: the version.
    messages().show(kHelpTitle, std::string(kHelpText) + "版本 " + kVersion + "\r",
                    platform::kStyleInformation);
}

void MainWindow::Button_close_Click() {
    // No handler of this window may run once it has been told to end.
    link_->stop();
    date_->setEnabled(false);
    if (quit_) quit_();
}

void MainWindow::setEnabled(Control c, bool on) {
    Slot& s = controls_[static_cast<std::size_t>(c)];
    if (s.action) s.action->setEnabled(on);
    if (s.widget) s.widget->setEnabled(on);
}

void MainWindow::setVisible(Control c, bool on) {
    Slot& s = controls_[static_cast<std::size_t>(c)];
    if (s.action) s.action->setVisible(on);
    if (s.widget) s.widget->setVisible(on);
}

void MainWindow::setComStatus(const std::string& text) { LabComsta_->setText(q(text)); }
void MainWindow::setLinkStatus(const std::string& text) { Lab_rtsta_->setText(q(text)); }
void MainWindow::phaseChanged(link::Phase phase, const link::LinkState& state) {
    ApplySet(SetFor(phase), state, *this);
}
void MainWindow::setProgress(int done, int total) {
    // A progress bar repaints at once when its text changes; it is drawn with the rest of the
    // window once the event has been handled instead.
    progress_->setUpdatesEnabled(false);
    const bool newTotal = progress_->minimum() != 0 || progress_->maximum() != total;
    if (newTotal) progress_->setRange(0, total);
    progress_->setValue(done);
    progress_->setUpdatesEnabled(true);
    if (newTotal) progress_->setAccessibleDescription(progress_->text());
}
void MainWindow::ShowReal(const measure::MeasurementGroup& reading) {
    live_ = measure::LiveReading(reading, clock_->now(), link_->state().portno);
    frame_->ShowReal(live_);
    onLiveReading();
    emit liveReadingShown();
}
void MainWindow::FillHist(int firstGroupNumber, std::span<const measure::MeasurementGroup> groups) {
    grid_->showRows(history_.fill(firstGroupNumber, groups,
                                  measure::Downloaded{clock_->now(), link_->state().portno}));
}

void MainWindow::noHistory() { messages().show({}, kTextNoHistory, platform::kStyleExclamation); }

void MainWindow::permissionRefused(int16_t comport, const platform::OpenFailure& failure) {
    messages().show({}, PermissionAdvice(comport, failure), platform::kStyleExclamation);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window's own close box releases the port like the close command, and nothing of the
    // link goes on behind a window that is gone.
    link_->stop();
    if (phasor_) phasor_->close();
    if (traceWindow_) traceWindow_->close();
    event->accept();
}

void MainWindow::buildTraceMenu() {
    trace_ = std::make_unique<TraceRecorder>(*link_, timers_);
    trace_->setFailureHandler([this](const QString& text) {
        messages().show(kTraceTitle, text.toStdString(), platform::kStyleExclamation);
    });
    QAction* about = menuabout_;
    menutrace_ = new QAction(QStringLiteral("通讯记录..."), about->parent());
    menutrace_->setObjectName(QStringLiteral("menutrace"));
    // Before the about box, which users expect last.
    if (auto* help = qobject_cast<QMenu*>(about->parent())) help->insertAction(about, menutrace_);
    connect(menutrace_, &QAction::triggered, this, [this] { menutrace_Click(); });
}

void MainWindow::setTraceFile(const QString& path) {
    const std::optional<QString> failure = trace_->openFile(path);
    if (!failure) return;
    timers_.post([self = QPointer<MainWindow>(this), text = *failure] {
        if (self)
            self->messages().show(kTraceTitle, text.toStdString(), platform::kStyleExclamation);
    });
}

void MainWindow::menutrace_Click() {
    if (!traceWindow_) {
        traceWindow_ = std::make_unique<TraceWindow>([this] {
            const output::OutputServices s = outputServices();
            return TraceWindow::SaveServices{s.dialogs, s.files, s.messages};
        });
        // Closed, the window wants no more lines; the file keeps its own.
        connect(traceWindow_.get(), &TraceWindow::closed, this, [this] { trace_->setViewer({}); });
        connect(traceWindow_.get(), &TraceWindow::cleared, this, [this] { trace_->clearRecent(); });
    }
    TraceWindow& w = *traceWindow_;
    if (!w.isVisible()) {
        w.setLines(trace_->recent());
        trace_->setViewer([&w](const QStringList& lines) { w.appendLines(lines); });
    }
    w.setWindowState(w.windowState() & ~Qt::WindowMinimized);
    w.show();
    w.raise();
    w.activateWindow();
}

}  // namespace ck::app
