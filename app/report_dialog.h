// SPDX-License-Identifier: MIT
#pragma once
// 核相报告...: the job's fields, remembered between runs; what the report will hold; and the
// report saved as a PDF or printed. The report is made from typed readings, never widgets.

#include <QDialog>
#include <QSettings>

#include <array>
#include <functional>

#include "app/report_readings.h"
#include "platform/common_dialog.h"
#include "platform/services.h"
#include "views/phasing_report.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QWidget;

namespace ck::app {

inline constexpr const char* kReportTitle = "核相报告";
inline constexpr const char* kReportSettingsGroup = "report";

// The machine services the report's commands use: the window's, or a test's.
struct ReportServices {
    platform::DialogService* dialogs = nullptr;
    platform::FileSystem* files = nullptr;
    platform::UserMessages* messages = nullptr;
    QPrinter* printer = nullptr;  // none: printing says so
    std::function<QDateTime()> now;
};

// "核相报告-YYYYMMDD-HHMMSS.pdf" for a report made at `t`.
QString DefaultReportFileName(const QDateTime& t);

// The save dialog, opening on the default name in the data folder, then the PDF written whole
// or not at all. A failure is told in one message. Returns the path written, or nothing.
QString SaveReportPdf(const ReportServices& s, platform::CommonDialog& dialog,
                      const views::PhasingReport& report);
// The print dialog on an A4 page, then the report on the chosen printer; the printer's page
// layout is put back afterwards. A failure is told. True when printed.
bool PrintReport(const ReportServices& s, platform::CommonDialog& dialog,
                 const views::PhasingReport& report);

// The fields as last typed, and remembering them.
std::array<QString, views::kReportFieldCount> LoadReportFields(QSettings& settings);
void StoreReportField(QSettings& settings, views::ReportField f, const QString& text);

class ReportDialog final : public QDialog {
    Q_OBJECT
public:
    // `settings` and the services outlive the dialog; `dialog` holds the report's own file and
    // print dialog properties, apart from the window's shared one.
    ReportDialog(ReportContent content, ReportServices services, QSettings& settings,
                 platform::CommonDialog& dialog, QWidget* parent = nullptr);

    QString fieldText(views::ReportField f) const;
    void setFieldText(views::ReportField f, const QString& text);
    // The readings the report holds now, in the order it prints them.
    const std::vector<views::ReportReading>& readings() const { return readings_; }
    // The report as it would be saved now.
    views::PhasingReport report() const;

    // What the report holds, or why it holds nothing.
    QLabel& summary() const { return *summary_; }
    // Offered in the history view when no row is selected and rows have been downloaded.
    QCheckBox& useAll() const { return *useAll_; }
    QPushButton& saveButton() const { return *save_; }
    QPushButton& printButton() const { return *print_; }

    // The two commands, as the buttons run them.
    void savePdf();
    void print();

private:
    void chooseReadings();

    ReportContent content_;
    ReportServices services_;
    QSettings& settings_;
    platform::CommonDialog& dialog_;
    std::vector<views::ReportReading> readings_;
    std::array<QWidget*, views::kReportFieldCount> fields_{};
    QLabel* summary_ = nullptr;
    QCheckBox* useAll_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* print_ = nullptr;
};

}  // namespace ck::app
