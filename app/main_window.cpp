#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "app/pictures.h"
#include "generated/version.h"
#include "link/control_sets.h"
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_printer.h"
#include "views/fonts.h"
#include "views/history_grid.h"
#include "views/live_panel.h"
#include "views/twips.h"

namespace ck::app {
namespace {

using link::Control;
using link::ControlRow;
using link::Rule;
using views::twipsRect;
constexpr link::Property E = link::Property::Enabled;
constexpr link::Property V = link::Property::Visible;

// The tab switch, as the rows applied before and after polling is enabled.
constexpr ControlRow kLiveViews[] = {{Control::Frame_realtime, V, Rule::On},
                                     {Control::DataGrid, V, Rule::Off}};
constexpr ControlRow kLiveCommands[] = {
    {Control::Button_read, E, Rule::Off},  {Control::menuread, E, Rule::Off},
    {Control::Button_save, E, Rule::On},   {Control::Button_clear, E, Rule::Off},
    {Control::Button_print, E, Rule::On},  {Control::Button_help, E, Rule::On},
    {Control::menusave, E, Rule::On},      {Control::menuclear, E, Rule::Off},
    {Control::menuprint, E, Rule::On},     {Control::menuhelp, E, Rule::On},
    {Control::Progress_read, V, Rule::Off},
};
constexpr ControlRow kHistoryViews[] = {{Control::Frame_realtime, V, Rule::Off},
                                        {Control::DataGrid, V, Rule::On}};
constexpr ControlRow kHistoryCommands[] = {
    {Control::menuread, E, Rule::OnIfLinked}, {Control::Button_read, E, Rule::OnIfLinked},
    {Control::Button_save, E, Rule::On},      {Control::Button_clear, E, Rule::On},
    {Control::Button_print, E, Rule::On},     {Control::Button_help, E, Rule::On},
    {Control::menusave, E, Rule::On},         {Control::menuclear, E, Rule::On},
    {Control::menuprint, E, Rule::On},        {Control::menuhelp, E, Rule::On},
};

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

std::function<void(const QString&, const QString&, int)>& observer() {
    static std::function<void(const QString&, const QString&, int)> o;
    return o;
}

QString q(const std::string& s) { return QString::fromStdString(s); }

// The system's time format with hours, minutes and seconds, without the time zone.
QString timeOfDayFormat(const QLocale& locale) {
    QString f = locale.timeFormat(QLocale::LongFormat);
    f.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    if (!f.contains(QLatin1Char('s'))) f = locale.timeFormat(QLocale::ShortFormat) + QStringLiteral(":ss");
    return f.trimmed();
}

}  // namespace

void SetMessageBoxObserver(std::function<void(const QString&, const QString&, int)> o) {
    observer() = std::move(o);
}

void ShowMessageBox(QWidget* parent, const QString& title, const QString& text, int style) {
    if (observer()) observer()(title, text, style);
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(style == link::kMbInformation ? QMessageBox::Information
                                                  : QMessageBox::Warning,
                    title, shown, QMessageBox::Ok, parent);
    box.exec();
}

MainWindow::MainWindow(platform::SerialPort& port, platform::TimerService& timers,
                       QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Check Korvelt"));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    buildMenus();
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(views::px(14340), views::px(9510));
    setCentralWidget(client);
    buildControls(client);
    setFixedSize(sizeHint());

    date_ = platform::makeTimer(timers, kDateMs, [this] { Timer_date_Timer(); });
    link_ = std::make_unique<link::Link>(port, timers, *this);
    quit_ = [this] {
        close();
        QCoreApplication::quit();
    };

    auto printer = std::make_unique<platform::QtPrinterService>(views::MonoCjkFont(10));
    dialogs_ = std::make_unique<platform::QtDialogService>(this, &printer->printer());
    printer_ = std::move(printer);
    files_ = std::make_unique<platform::QtFileSystem>();
    capture_ = std::make_unique<platform::QtScreenCapture>(this);
    messages_ = std::make_unique<platform::QtUserMessages>(
        [this](const QString& title, const QString& text, int style) {
            ShowMessageBox(this, title, text, style);
        });
}

MainWindow::~MainWindow() { link_->MSComm1().close(); }

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
}

void MainWindow::buildControls(QWidget* client) {
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

    frame_ = new views::LivePanel(client);
    frame_->setGeometry(twipsRect(600, 600, 11535, 7695));
    controls_[static_cast<std::size_t>(Control::Frame_realtime)].widget = frame_;

    grid_ = new views::HistoryGrid(client);
    grid_->setObjectName(QStringLiteral("DataGrid"));
    grid_->setGeometry(twipsRect(3080, 4840, 3375, 2295));
    controls_[static_cast<std::size_t>(Control::DataGrid)].widget = grid_;

    progress_ = new QProgressBar(client);
    progress_->setObjectName(QStringLiteral("Progress_read"));
    progress_->setGeometry(twipsRect(4200, 4080, 3855, 225));
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->hide();
    controls_[static_cast<std::size_t>(Control::Progress_read)].widget = progress_;

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
    const std::pair<const char*, int> panels[] = {{"date", 2200}, {"Zandrel", 10000}, {"time", 2200}};
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

void MainWindow::Form_Load() {
    link_->Form_Load();
    Timer_date_Timer();
    date_->setEnabled(true);
    grid_->InitGrid();
    grid_->hide();
    frame_->show();
    for (int n = 1; n <= 6; ++n) frame_->shape(n)->hide();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

QLabel& MainWindow::statusPanel(int i) const { return *panels_.at(static_cast<std::size_t>(i - 1)); }

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

void MainWindow::applyTabSet(bool live) {
    link::LinkState& s = link_->state();
    s.realmode = live;
    link::ApplySet(live ? link::ControlSet(kLiveViews) : link::ControlSet(kHistoryViews),
                   s.realmode, s.linkok, *this);
    link_->Timer_real().setEnabled(true);
    link::ApplySet(live ? link::ControlSet(kLiveCommands) : link::ControlSet(kHistoryCommands),
                   s.realmode, s.linkok, *this);
}

void MainWindow::TabStrip1_Click() { applyTabSet(tabs_->currentIndex() + 1 == 1); }

void MainWindow::Timer_date_Timer() {
    const QDateTime t = now_ ? now_() : QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    panels_[0]->setText(locale.toString(t.date(), QLocale::ShortFormat));
    panels_[2]->setText(locale.toString(t.time(), timeOfDayFormat(locale)));
}

void MainWindow::Button_read_Click() { link_->Button_read_Click(); }

output::ViewTexts MainWindow::viewTexts() const {
    output::ViewTexts v;
    v.realmode = link_->state().realmode;
    v.histcount = link_->state().histcount;
    v.caption = [this](int n) { return frame_->caption(n).toStdString(); };
    v.cell = [this](int r, int c) -> std::optional<std::string> {
        if (r < 0 || r >= grid_->Rows() || c < 0 || c >= grid_->Cols()) return std::nullopt;
        return grid_->TextMatrix(r, c).toStdString();
    };
    return v;
}

void MainWindow::Button_save_Click() {
    output::OutputServices out{dialog_, *dialogs_, *files_, *capture_, *printer_, *messages_};
    output::Save(out, viewTexts());
}

void MainWindow::Button_print_Click() {
    output::OutputServices out{dialog_, *dialogs_, *files_, *capture_, *printer_, *messages_};
    output::Print(out, viewTexts());
}

void MainWindow::Button_clear_Click() { grid_->InitGrid(); }

void MainWindow::Button_help_Click() {
    // The box's own text, then one more line: the version.
    ShowMessageBox(this, QString::fromUtf8(kHelpTitle),
                   QString::fromUtf8(kHelpText) + QStringLiteral("版本 ") +
                       QString::fromUtf8(kVersion) + QLatin1Char('\r'),
                   link::kMbInformation);
}

void MainWindow::Button_close_Click() {
    if (link_->MSComm1().isOpen()) link_->MSComm1().close();
    // No handler of this window may run once it has been told to end.
    for (platform::Timer* t : {&link_->Timer_findcom(), &link_->Timer_real(), &link_->Timer_read(),
                               &link_->Timer_timeout(), date_.get()}) {
        t->setEnabled(false);
    }
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
void MainWindow::setProgressRange(int min, int max) { progress_->setRange(min, max); }
void MainWindow::setProgressValue(int value) { progress_->setValue(value); }
void MainWindow::ShowReal(const link::RxFrame& rxframe) {
    frame_->ShowReal(rxframe);
    emit liveReadingShown();
}
void MainWindow::FillHist(const link::RxFrame& rxframe, uint8_t start, uint8_t count) {
    grid_->FillHist(rxframe, start, count);
}

void MainWindow::showMessage(const std::string& text, int style) {
    ShowMessageBox(this, QString(), q(text), style);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The window's own close box releases the port like the close command.
    if (link_->MSComm1().isOpen()) link_->MSComm1().close();
    event->accept();
}

}  // namespace ck::app
