// SPDX-License-Identifier: MIT
#include "app/port_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>
#include <filesystem>
#include <map>
#include <utility>

#include "platform/com_pins.h"
#include "platform/qt/com_resolver.h"
#include "platform/services.h"

namespace ck::app {
namespace {

constexpr const char* kTitle = "串口设置";

QString q(const std::string& s) { return QString::fromStdString(s); }

// A device by its real path, so that /dev/serial/by-id/... and /dev/ttyUSB0 compare equal;
// a name that is no path (COM3 on Windows) stands for itself.
std::string realName(const std::string& device) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(device, ec);
    return ec ? device : real.string();
}

}  // namespace

PortSettingsSources MachinePortSettings() {
    PortSettingsSources s;
    s.ports = [] {
        std::vector<SerialPortEntry> out;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
            // "COM3", as the resolver names it, rather than the location "\\.\COM3".
            const QString device = info.portName();
#else
            const QString device = info.systemLocation();
#endif
            out.push_back({device, info.description(), info.manufacturer(), info.serialNumber()});
        }
        return out;
    };
#ifdef Q_OS_WIN
    s.canPin = false;
    s.listOnlyReason =
        QStringLiteral("Windows 的串口号由系统分配（在设备管理器中更改），这里只列出本机的串口。");
#endif
    return s;
}

void ShowBusyRefusal(platform::UserMessages& messages) {
    messages.show(kTitle, "正在读取历史记录，读取结束后才能更改串口设置。",
                  platform::kStyleExclamation);
}

PortSettingsDialog::PortSettingsDialog(PortSettingsSources sources,
                                       platform::UserMessages& messages, QWidget* parent)
    : QDialog(parent), sources_(std::move(sources)), messages_(messages) {
    setObjectName(QStringLiteral("PortSettings"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setModal(true);

    auto* intro = new QLabel(
        QStringLiteral("本机的串口，以及程序寻找仪器时各串口对应的串口号。"
                       "把转换器固定到一个串口号后，无论插在哪个 USB 口，它都是这个串口号。"),
        this);
    intro->setWordWrap(true);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("ports"));
    table_->setAccessibleName(QStringLiteral("本机串口"));
    table_->setHorizontalHeaderLabels({QStringLiteral("设备"), QStringLiteral("描述"),
                                       QStringLiteral("制造商"), QStringLiteral("序列号"),
                                       QStringLiteral("串口号")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableWidget::currentCellChanged, this, [this] { showRowNumber(); });

    auto* comLabel = new QLabel(QStringLiteral("串口号(&N):"), this);
    com_ = new QComboBox(this);
    com_->setObjectName(QStringLiteral("comNumber"));
    comLabel->setBuddy(com_);
    for (int n = platform::kFirstPinnedCom; n <= platform::kLastPinnedCom; ++n) {
        com_->addItem(QStringLiteral("COM%1").arg(n), n);
    }
    pin_ = new QPushButton(QStringLiteral("固定所选串口(&P)"), this);
    pin_->setObjectName(QStringLiteral("pin"));
    unpin_ = new QPushButton(QStringLiteral("取消固定(&U)"), this);
    unpin_->setObjectName(QStringLiteral("unpin"));
    connect(pin_, &QPushButton::clicked, this, [this] { pinSelected(); });
    connect(unpin_, &QPushButton::clicked, this, [this] { unpinChosen(); });
    auto* pinRow = new QHBoxLayout;
    pinRow->addWidget(comLabel);
    pinRow->addWidget(com_, 1);
    pinRow->addWidget(pin_);
    pinRow->addWidget(unpin_);

    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("note"));
    note_->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    auto* again = buttons->addButton(QStringLiteral("刷新(&R)"), QDialogButtonBox::ActionRole);
    connect(again, &QPushButton::clicked, this, [this] { refresh(); });
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(table_, 1);
    layout->addLayout(pinRow);
    layout->addWidget(note_);
    layout->addWidget(buttons);

    if (!sources_.canPin) {
        for (QWidget* w : {static_cast<QWidget*>(comLabel), static_cast<QWidget*>(com_),
                           static_cast<QWidget*>(pin_), static_cast<QWidget*>(unpin_)}) {
            w->hide();
        }
    }
    resize(720, 400);
    refresh();
}

void PortSettingsDialog::refresh() {
    const QString selected =
        table_->currentRow() >= 0 && table_->currentRow() < static_cast<int>(ports_.size())
            ? ports_[static_cast<std::size_t>(table_->currentRow())].device
            : QString();
    ports_ = sources_.ports ? sources_.ports() : std::vector<SerialPortEntry>{};

    // Which device each COM number opens today, by the link's own resolver, and which
    // numbers are pinned.
    const std::string home = platform::comPinDirectoryFromEnvironment();
    std::multimap<std::string, int> numbersOf;
    std::string unreadable;
    std::array<bool, platform::kLastPinnedCom + 1> pinned{};
    const int chosen = com_->currentIndex();
    for (int n = platform::kFirstPinnedCom; n <= platform::kLastPinnedCom; ++n) {
        const platform::ComRoute route = platform::routeComOnThisMachine(n);
        if (!route.pinsUnreadable.empty()) unreadable = route.pinsUnreadable;
        if (route.device) numbersOf.emplace(realName(*route.device), n);
        QString item = QStringLiteral("COM%1").arg(n);
        const std::string pinFile = platform::comPinFile(home, n);
        const platform::PinReading pin = platform::readComPin(home, n);
        pinned[static_cast<std::size_t>(n)] = pin.kind == platform::PinReading::Kind::Pinned;
        if (pinned[static_cast<std::size_t>(n)]) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(pinFile, ec).string();
            item +=
                QStringLiteral("（已固定：%1%2）")
                    .arg(q(target), pin.target.empty() ? QStringLiteral("，未连接") : QString());
        }
        com_->setItemText(n - platform::kFirstPinnedCom, item);
    }
    com_->setCurrentIndex(chosen);

    table_->setRowCount(static_cast<int>(ports_.size()));
    int reselect = -1;
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const SerialPortEntry& p = ports_[i];
        const int row = static_cast<int>(i);
        QStringList numbers;
        int firstNumber = 0;
        const auto [first, last] = numbersOf.equal_range(realName(p.device.toStdString()));
        for (auto it = first; it != last; ++it) {
            numbers << QStringLiteral("COM%1%2")
                           .arg(it->second)
                           .arg(pinned[static_cast<std::size_t>(it->second)]
                                    ? QStringLiteral("（固定）")
                                    : QString());
            if (firstNumber == 0) firstNumber = it->second;
        }
        const QString cells[kColumns] = {p.device, p.description, p.manufacturer, p.serialNumber,
                                         numbers.join(QStringLiteral("、"))};
        for (int c = 0; c < kColumns; ++c) table_->setItem(row, c, new QTableWidgetItem(cells[c]));
        table_->item(row, kComNumbers)->setData(Qt::UserRole, firstNumber);
        if (p.device == selected) reselect = row;
    }
    table_->resizeColumnsToContents();
    if (reselect >= 0) table_->selectRow(reselect);

    const bool canChange = sources_.canPin && unreadable.empty();
    pin_->setEnabled(canChange);
    unpin_->setEnabled(canChange);
    com_->setEnabled(canChange);
    QStringList notes;
    if (!sources_.canPin) notes << sources_.listOnlyReason;
    if (!unreadable.empty()) {
        notes << QStringLiteral("无法读取串口固定设置（%1），在它能被读取之前不会打开任何串口。")
                     .arg(q(unreadable));
    }
    if (ports_.empty()) notes << QStringLiteral("本机没有找到串口。");
    note_->setText(notes.join(QLatin1Char('\n')));
    note_->setVisible(!notes.isEmpty());
}

void PortSettingsDialog::showRowNumber() {
    const QTableWidgetItem* numbers = table_->item(table_->currentRow(), kComNumbers);
    // The first number the port has today, so that unpinning it is one click away.
    const int n = numbers ? numbers->data(Qt::UserRole).toInt() : 0;
    if (n >= platform::kFirstPinnedCom && n <= platform::kLastPinnedCom) {
        com_->setCurrentIndex(n - platform::kFirstPinnedCom);
    }
}

bool PortSettingsDialog::refuseWhileBusy() {
    if (!sources_.busy || !sources_.busy()) return false;
    ShowBusyRefusal(messages_);
    return true;
}

void PortSettingsDialog::pinSelected() {
    if (!sources_.canPin || refuseWhileBusy()) return;
    const int row = table_->currentRow();
    if (row < 0 || row >= static_cast<int>(ports_.size())) {
        messages_.show(kTitle, "请先在列表中选择一个串口。", platform::kStyleExclamation);
        return;
    }
    const int n = com_->currentData().toInt();
    const QString device = ports_[static_cast<std::size_t>(row)].device;
    const std::string why = platform::pinCom(platform::comPinDirectoryFromEnvironment(), n,
                                             device.toStdString(), sources_.byIdFolder);
    if (!why.empty()) {
        messages_.show(kTitle,
                       QStringLiteral("无法把 %1 固定为 COM%2：\r\n%3")
                           .arg(device)
                           .arg(n)
                           .arg(q(why))
                           .toStdString(),
                       platform::kStyleExclamation);
    }
    refresh();
}

void PortSettingsDialog::unpinChosen() {
    if (!sources_.canPin || refuseWhileBusy()) return;
    const int n = com_->currentData().toInt();
    const std::string why = platform::unpinCom(platform::comPinDirectoryFromEnvironment(), n);
    if (!why.empty()) {
        messages_.show(kTitle, "无法取消 COM" + std::to_string(n) + " 的固定：\r\n" + why,
                       platform::kStyleExclamation);
    }
    refresh();
}

}  // namespace ck::app
