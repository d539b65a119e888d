#include "app/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QVBoxLayout>

#include "measure/measurement.h"

namespace ck::app {
namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

void ShowMessageBox(QWidget* parent, const QString& title, const QString& text, int style) {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    QMessageBox box(style == link::kMbInformation ? QMessageBox::Information
                                                  : QMessageBox::Warning,
                    title, text, QMessageBox::Ok, parent);
    box.exec();
}

MainWindow::MainWindow(platform::SerialPort& port, platform::TimerService& timers,
                       QWidget* parent)
    : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Check Korvelt"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    LabComsta_ = new QLabel(QStringLiteral("串口状态"), central);
    LabComsta_->setObjectName(QStringLiteral("LabComsta"));
    Lab_rtsta_ = new QLabel(QStringLiteral("连接失败"), central);
    Lab_rtsta_->setObjectName(QStringLiteral("Lab_rtsta"));
    live_ = new QLabel(central);
    live_->setObjectName(QStringLiteral("live"));
    live_->setTextFormat(Qt::PlainText);
    Progress_read_ = new QProgressBar(central);
    Progress_read_->setObjectName(QStringLiteral("Progress_read"));
    Progress_read_->hide();
    layout->addWidget(LabComsta_);
    layout->addWidget(Lab_rtsta_);
    layout->addWidget(live_);
    layout->addWidget(Progress_read_);
    setCentralWidget(central);
    controls_[static_cast<std::size_t>(link::Control::Progress_read)] = Progress_read_;

    link_ = std::make_unique<link::Link>(port, timers, *this);
}

MainWindow::~MainWindow() {
    link_->MSComm1().close();
}

void MainWindow::Form_Load() { link_->Form_Load(); }

QString MainWindow::comStatusText() const { return LabComsta_->text(); }
QString MainWindow::linkStatusText() const { return Lab_rtsta_->text(); }
QString MainWindow::liveText() const { return live_->text(); }

void MainWindow::setEnabled(link::Control c, bool on) {
    if (QWidget* w = controls_[static_cast<std::size_t>(c)]) w->setEnabled(on);
}

void MainWindow::setVisible(link::Control c, bool on) {
    if (QWidget* w = controls_[static_cast<std::size_t>(c)]) w->setVisible(on);
}

void MainWindow::setComStatus(const std::string& text) { LabComsta_->setText(q(text)); }
void MainWindow::setLinkStatus(const std::string& text) { Lab_rtsta_->setText(q(text)); }
void MainWindow::setProgressRange(int min, int max) { Progress_read_->setRange(min, max); }
void MainWindow::setProgressValue(int value) { Progress_read_->setValue(value); }

void MainWindow::ShowReal(const link::RxFrame& rxframe) {
    using namespace measure;
    const auto g = DecodeGroup(rxframe, 5, Source::Live);
    if (!g) return;
    QStringList parts;
    for (Input i : LiveInputOrder) parts << q(FormatLiveVoltage(g->voltages[idx(i)]));
    for (std::size_t k = 0; k < 6; ++k) {
        const int a = g->pairAngles[k];
        const auto verdict = k < 3 ? ClassifyPhase(static_cast<float>(a))
                                   : ClassifySequence(static_cast<float>(a));
        parts << q(FormatAngle(a)) + QLatin1Char(' ') + q(std::string(verdict));
    }
    live_->setText(parts.join(QStringLiteral("  ")));
}

void MainWindow::FillHist(const link::RxFrame&, uint8_t, uint8_t) {}

void MainWindow::showMessage(const std::string& text, int style) {
    ShowMessageBox(this, QString(), q(text), style);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the window releases the port at once, like the close command.
    link_->MSComm1().close();
    event->accept();
}

}  // namespace ck::app
