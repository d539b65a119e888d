// SPDX-License-Identifier: MIT
#include "app/report_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include "measure/conclusion.h"
#include "output/commands.h"

namespace ck::app {
namespace {

using views::ReportField;

using platform::kStyleExclamation;
// Readings listed in the dialog before the rest are only counted.
constexpr std::size_t kListedReadings = 12;

QString u(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString settingKey(ReportField f) {
    return QString::fromLatin1(kReportSettingsGroup) + QLatin1Char('/') + views::ReportFieldKey(f);
}

// What the dialog's placeholders suggest.
QString example(ReportField f) {
    switch (f) {
        case ReportField::FirstGroup:
            return QStringLiteral("例如 10kV I段母线");
        case ReportField::SecondGroup:
            return QStringLiteral("例如 10kV II段母线");
        case ReportField::VoltageLevel:
            return QStringLiteral("例如 10kV");
        default:
            return {};
    }
}

QString summaryLine(const views::ReportReading& r) {
    const measure::PhasingConclusion c = measure::Conclude(r.group);
    const QString finding = u(measure::FindingText(c.finding)) + QStringLiteral("（") +
                            u(measure::ConclusionDetail(c)) + QStringLiteral("）");
    if (r.stored()) return QStringLiteral("第 %1 组：").arg(r.groupNumber) + finding;
    return QStringLiteral("实时读数，读数时间 %1，串口 %2：")
               .arg(r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                    r.port > 0 ? QStringLiteral("COM%1").arg(r.port) : QStringLiteral("未知")) +
           finding;
}

void tell(const ReportServices& s, const std::string& title, const QString& text) {
    if (s.messages) s.messages->show(title, text.toStdString(), kStyleExclamation);
}

}  // namespace

QString DefaultReportFileName(const QDateTime& t) {
    return QStringLiteral("核相报告-") + t.toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           QStringLiteral(".pdf");
}

QString SaveReportPdf(const ReportServices& s, platform::CommonDialog& d,
                      const views::PhasingReport& report) {
    // The data folder, made if missing; the dialog still opens where it can if it cannot be.
    const std::string dir = s.files->dataDir();
    if (!s.files->dirExists(dir)) s.files->makeDir(dir);
    d.Filter = "PDF文件 (*.pdf)|*.pdf|";
    d.FilterIndex = 1;
    d.DefaultExt = ".pdf";
    d.InitDir = dir;
    d.CancelError = true;
    const QDateTime now = s.now ? s.now() : QDateTime::currentDateTime();
    d.FileName =
        QDir(QString::fromStdString(dir)).filePath(DefaultReportFileName(now)).toStdString();
    const platform::DialogResult r = s.dialogs->ShowSave(d);
    if (r.error == platform::kErrCancel) return {};
    const QString path = QString::fromStdString(d.FileName);
    auto fail = [&](const QString& why) {
        tell(s, output::kSaveErrorTitle,
             QStringLiteral("核相报告未能保存：") + path + QLatin1Char('\r') + why);
        return QString();
    };
    if (r.error != 0) return fail(QString::fromStdString(r.description));
    QString why;
    const QByteArray pdf = views::PhasingReportPdf(report, &why);
    if (pdf.isEmpty()) return fail(why);
    const std::string error =
        s.files->writeFile(d.FileName, std::vector<uint8_t>(pdf.begin(), pdf.end()));
    if (!error.empty()) return fail(QString::fromStdString(error));
    return path;
}

bool PrintReport(const ReportServices& s, platform::CommonDialog& d,
                 const views::PhasingReport& report) {
    auto fail = [&](const QString& why) {
        if (s.messages) s.messages->beep();
        tell(s, output::kPrintErrorTitle,
             why + QStringLiteral("\r\n") + QString::fromUtf8(output::kPrintErrorText));
        return false;
    };
    if (s.printer == nullptr) return fail(QStringLiteral("没有可用的打印机"));
    // The other reports choose their own orientation and margins on the same printer.
    const QPageLayout before = s.printer->pageLayout();
    const auto restore = qScopeGuard([&] { s.printer->setPageLayout(before); });
    views::UseReportPageLayout(*s.printer);
    d.CancelError = true;
    const platform::DialogResult r = s.dialogs->ShowPrinter(d);
    if (r.error == platform::kErrCancel) return false;
    if (r.error != 0) return fail(QString::fromStdString(r.description));
    const QString why = views::PaintPhasingReport(*s.printer, report);
    if (!why.isEmpty()) return fail(why);
    return true;
}

std::array<QString, views::kReportFieldCount> LoadReportFields(QSettings& settings) {
    std::array<QString, views::kReportFieldCount> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i] = settings.value(settingKey(static_cast<ReportField>(i))).toString();
    }
    return fields;
}

void StoreReportField(QSettings& settings, ReportField f, const QString& text) {
    settings.setValue(settingKey(f), text);
}

ReportDialog::ReportDialog(ReportContent content, ReportServices services, QSettings& settings,
                           platform::CommonDialog& dialog, QWidget* parent)
    : QDialog(parent),
      content_(std::move(content)),
      services_(std::move(services)),
      settings_(settings),
      dialog_(dialog) {
    setObjectName(QStringLiteral("ReportDialog"));
    setWindowTitle(QString::fromUtf8(kReportTitle));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    const auto remembered = LoadReportFields(settings_);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const auto f = static_cast<ReportField>(i);
        QWidget* w = nullptr;
        if (f == ReportField::Remarks) {
            auto* e = new QPlainTextEdit(remembered[i], this);
            e->setTabChangesFocus(true);
            e->setFixedHeight(e->fontMetrics().lineSpacing() * 4);
            connect(e, &QPlainTextEdit::textChanged, this,
                    [this, f, e] { StoreReportField(settings_, f, e->toPlainText()); });
            w = e;
        } else {
            auto* e = new QLineEdit(remembered[i], this);
            e->setPlaceholderText(example(f));
            connect(e, &QLineEdit::textChanged, this,
                    [this, f](const QString& t) { StoreReportField(settings_, f, t); });
            w = e;
        }
        w->setObjectName(views::ReportFieldKey(f));
        w->setAccessibleName(views::ReportFieldLabel(f));
        form->addRow(views::ReportFieldLabel(f) + QStringLiteral("："), w);
        fields_[i] = w;
    }
    layout->addLayout(form);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    layout->addWidget(rule);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("reportSummary"));
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary_);
    useAll_ = new QCheckBox(
        QStringLiteral("改用全部已下载的 %1 组").arg(content_.downloaded.size()), this);
    useAll_->setObjectName(QStringLiteral("reportUseAll"));
    useAll_->setVisible(!content_.live && content_.chosen.empty() && !content_.downloaded.empty());
    connect(useAll_, &QCheckBox::toggled, this, [this] { chooseReadings(); });
    layout->addWidget(useAll_);

    auto* buttons = new QDialogButtonBox(this);
    save_ = buttons->addButton(QStringLiteral("保存PDF..."), QDialogButtonBox::ActionRole);
    print_ = buttons->addButton(QStringLiteral("打印..."), QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    save_->setObjectName(QStringLiteral("reportSave"));
    print_->setObjectName(QStringLiteral("reportPrint"));
    connect(save_, &QPushButton::clicked, this, [this] { savePdf(); });
    connect(print_, &QPushButton::clicked, this, [this] { print(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
    chooseReadings();
    resize(std::max(560, sizeHint().width()), sizeHint().height());
}

void ReportDialog::chooseReadings() {
    QStringList lines;
    auto list = [&lines](const std::vector<views::ReportReading>& readings) {
        for (std::size_t i = 0; i < readings.size() && i < kListedReadings; ++i) {
            lines << summaryLine(readings[i]);
        }
        if (readings.size() > kListedReadings) {
            lines << QStringLiteral("……共 %1 组").arg(readings.size());
        }
    };
    if (content_.live) {
        readings_ = content_.chosen;
        if (readings_.empty()) {
            lines << QStringLiteral("尚无实时读数，没有可保存或打印的内容。");
        } else {
            lines << QStringLiteral("报告包括打开本窗口时显示的读数：");
            list(readings_);
        }
    } else if (!content_.chosen.empty()) {
        readings_ = content_.chosen;
        lines << QStringLiteral("报告包括历史记录中选中的 %1 组：").arg(readings_.size());
        list(readings_);
    } else if (content_.downloaded.empty()) {
        readings_.clear();
        lines << QStringLiteral("尚未读取历史记录，没有可保存或打印的内容。");
    } else {
        const bool all = useAll_->isChecked();
        readings_ = all ? content_.downloaded : std::vector<views::ReportReading>{};
        lines << QStringLiteral("历史记录中没有选中有读数的行。");
        if (all) {
            lines << QStringLiteral("报告包括全部已下载的 %1 组：").arg(readings_.size());
            list(readings_);
        } else {
            lines << QStringLiteral("选中表格中的行，或勾选下面一项改用全部已下载的行。");
        }
    }
    summary_->setText(lines.join(QLatin1Char('\n')));
    save_->setEnabled(!readings_.empty());
    print_->setEnabled(!readings_.empty());
}

QString ReportDialog::fieldText(ReportField f) const {
    QWidget* w = fields_[static_cast<std::size_t>(f)];
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return e->toPlainText();
    return {};
}

void ReportDialog::setFieldText(ReportField f, const QString& text) {
    QWidget* w = fields_[static_cast<std::size_t>(f)];
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(text);
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) e->setPlainText(text);
}

views::PhasingReport ReportDialog::report() const {
    views::PhasingReport r;
    for (std::size_t i = 0; i < r.fields.size(); ++i) {
        r.fields[i] = fieldText(static_cast<ReportField>(i));
    }
    r.readings = readings_;
    r.made = services_.now ? services_.now() : QDateTime::currentDateTime();
    return r;
}

void ReportDialog::savePdf() {
    if (readings_.empty()) return;
    SaveReportPdf(services_, dialog_, report());
}

void ReportDialog::print() {
    if (readings_.empty()) return;
    PrintReport(services_, dialog_, report());
}

}  // namespace ck::app
