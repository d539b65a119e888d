#pragma once
// The application's one window: owns the controls and the link, wires the platform's timers
// and serial port to the link's handlers, and is the link's view of the controls.

#include <QMainWindow>

#include <array>
#include <memory>

#include "link/link.h"

class QLabel;
class QProgressBar;

namespace ck::app {

class MainWindow final : public QMainWindow, public link::LinkControls {
    Q_OBJECT
public:
    MainWindow(platform::SerialPort& port, platform::TimerService& timers,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up, once the window exists.
    void Form_Load();

    link::Link& link() { return *link_; }
    QString comStatusText() const;
    QString linkStatusText() const;
    QString liveText() const;

    // link::LinkControls
    void setEnabled(link::Control c, bool on) override;
    void setVisible(link::Control c, bool on) override;
    void setComStatus(const std::string& text) override;
    void setLinkStatus(const std::string& text) override;
    void setProgressRange(int min, int max) override;
    void setProgressValue(int value) override;
    void ShowReal(const link::RxFrame& rxframe) override;
    void FillHist(const link::RxFrame& rxframe, uint8_t start, uint8_t count) override;
    void showMessage(const std::string& text, int style) override;

    using QMainWindow::setEnabled;
    using QMainWindow::setVisible;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* LabComsta_ = nullptr;
    QLabel* Lab_rtsta_ = nullptr;
    QLabel* live_ = nullptr;
    QProgressBar* Progress_read_ = nullptr;
    std::array<QWidget*, link::kControlCount> controls_{};
    std::unique_ptr<link::Link> link_;
};

// Shows a message box and waits for it; returns at once where no one can see it (offscreen).
void ShowMessageBox(QWidget* parent, const QString& title, const QString& text, int style);

}  // namespace ck::app
