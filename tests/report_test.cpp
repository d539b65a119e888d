// SPDX-License-Identifier: MIT
// The phasing report: its PDF read back with poppler (text, fonts, pages, where every word
// lies), printed through the printer path to a PDF, the bad inputs a technician can give it,
// the dialog that makes it, and the window that hands it the readings, on virtual time.

#include <gtest/gtest.h>

#include "qt_environment.h"
#include "seen_messages.h"
#include "wall_clock_at.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/report_dialog.h"
#include "app/report_readings.h"
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_printer.h"
#include "platform/virtual_clock.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"
#include "views/fonts.h"
#include "views/history_grid.h"
#include "views/phasing_report.h"

namespace ck::app {
namespace {

using views::ReportField;
using views::ReportReading;

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QApplication>("report_test", ck::testing::Settings::TestMode);

const QDateTime kShown(QDate(2026, 12, 7), QTime(23, 30, 15));

measure::MeasurementGroup group(std::array<int16_t, 6> angles, std::array<uint8_t, 6> kv) {
    measure::MeasurementGroup g;
    g.pairAngles = angles;
    g.voltages = kv;
    return g;
}

// The three connections of the demo: B and C crossed, in phase, and A1 dead.
const measure::MeasurementGroup kCrossed =
    group({0, 120, 240, 240, 0, 120}, {10, 10, 10, 11, 11, 11});
const measure::MeasurementGroup kInPhase =
    group({2, 0, 358, 120, 119, 121}, {35, 35, 35, 36, 36, 36});
const measure::MeasurementGroup kMissing =
    group({360, 1, 1, 360, 119, 119}, {0, 10, 10, 10, 10, 10});

views::PhasingReport sampleReport(std::vector<ReportReading> readings) {
    views::PhasingReport r;
    const char* fields[] = {"示例供电公司", "110kV 东郊变电站", "10kV I段母线", "10kV II段母线",
                            "10kV",         "ZD-0042",          "王工",         "赵工",
                            "核相前已验电"};
    for (std::size_t i = 0; i < r.fields.size(); ++i) r.fields[i] = QString::fromUtf8(fields[i]);
    r.readings = std::move(readings);
    r.made = kShown.addSecs(60);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Reading a PDF back with poppler.

struct Tool {
    bool ok = false;
    std::string out, err;
};

Tool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    Tool t;
    t.ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    t.out = p.readAllStandardOutput().toStdString();
    t.err = p.readAllStandardError().toStdString();
    return t;
}

// The text without any blank: how words are spaced is poppler's guess, not the report's.
QString flat(const std::string& s) {
    return QString::fromStdString(s).remove(QRegularExpression(QStringLiteral("\\s")));
}

// Page `page` (from 1), or all pages, in the order it was drawn; poppler must read the file
// without a complaint.
QString pdfText(const QString& path, int page = 0) {
    QStringList args{"-raw"};
    if (page > 0) args << "-f" << QString::number(page) << "-l" << QString::number(page);
    const Tool t = run("pdftotext", args << path << "-");
    EXPECT_TRUE(t.ok && t.err.empty()) << t.err;
    return flat(t.out);
}

int pageCount(const QString& path) {
    const Tool t = run("pdfinfo", {path});
    EXPECT_TRUE(t.ok && t.err.empty()) << t.err;
    EXPECT_NE(t.out.find(" pts (A4)"), std::string::npos) << t.out;
    const auto m =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromStdString(t.out));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// Every font of the document, and whether it is embedded.
std::vector<std::pair<std::string, bool>> fonts(const QString& path) {
    const Tool t = run("pdffonts", {path});
    EXPECT_TRUE(t.ok && t.err.empty()) << t.err;
    std::vector<std::pair<std::string, bool>> out;
    const QStringList lines = QString::fromStdString(t.out).split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = 2; i < lines.size(); ++i) {  // after the heading and its rule
        const QStringList cols = lines[i].split(' ', Qt::SkipEmptyParts);
        if (cols.size() < 6) continue;
        out.emplace_back(cols.front().toStdString(), cols[cols.size() - 5] == "yes");
    }
    return out;
}

void expectEveryFontEmbedded(const QString& path) {
    const auto all = fonts(path);
    EXPECT_FALSE(all.empty());
    for (const auto& [name, embedded] : all) EXPECT_TRUE(embedded) << name;
}

bool havePoppler() {
    for (const char* tool : {"pdftotext", "pdfinfo", "pdffonts"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) return false;
    }
    return true;
}

class ReportPdf : public ::testing::Test {
protected:
    QTemporaryDir dir;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        if (havePoppler()) return;
        const char* require = std::getenv("CK_REQUIRE_PDFTOTEXT");
        if (require && std::string(require) == "1") {
            FAIL() << "pdftotext/pdfinfo/pdffonts (poppler-utils) not found, and "
                      "CK_REQUIRE_PDFTOTEXT=1";
        }
        GTEST_SKIP() << "poppler-utils not found: cannot read the PDF back";
    }
    QString write(const views::PhasingReport& report, const QString& name = "report.pdf") {
        QString why;
        const QByteArray pdf = views::PhasingReportPdf(report, &why);
        EXPECT_FALSE(pdf.isEmpty()) << why.toStdString();
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(pdf);
        return f.fileName();
    }
};

TEST_F(ReportPdf, EachConclusionWithTheFieldsValuesAndVerdictsInItsWords) {
    struct Case {
        measure::MeasurementGroup g;
        std::vector<const char*> want;
    };
    const Case cases[] = {
        {kCrossed,
         {"结论：相位不一致", "B1B2、C1C2异相", "10kV10kV10kV11kV11kV11kV", "000120240240000120",
          "同相异相异相逆相序------顺相序", "A1B2逆相序B1C2------C1A2顺相序"}},
        {kInPhase,
         {"结论：相位一致", "A1A2、B1B2、C1C2均同相", "35kV", "002000358120119121",
          "同相同相同相顺相序顺相序顺相序"}},
        {kMissing,
         {"结论：无法判定", "A1A2无定性结果（------）", "--kV10kV", "------001001------119119",
          "------同相同相------顺相序顺相序"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want[0]);
        const QString path = write(sampleReport({{c.g, 0, kShown, 3}}));
        const QString text = pdfText(path);
        for (const char* s : c.want) EXPECT_TRUE(text.contains(QString::fromUtf8(s))) << s;
        // The fields as typed (一, 人, 页 and 母 read as themselves, not as radicals), the
        // time, the port, the signatures and the page number.
        for (const char* s :
             {"核相报告", "工作单位示例供电公司", "第一组（A1B1C1）10kVI段母线",
              "第二组（A2B2C2）10kVII段母线", "仪器编号ZD-0042", "操作人王工", "监护人赵工",
              "备注核相前已验电", "实时读数", "读数时间2026-12-0723:30:15", "串口COM3",
              "操作人（签字）", "监护人（签字）", "日期：", "第1页/共1页"}) {
            EXPECT_TRUE(text.contains(QString::fromUtf8(s))) << s;
        }
        EXPECT_EQ(pageCount(path), 1);
        expectEveryFontEmbedded(path);
    }
}

TEST_F(ReportPdf, HistoryRowsEachASectionWholeOnItsPageNumberedOfAll) {
    const auto stored = sim::MakeStoredHistory(9, 5);
    std::vector<ReportReading> rows;
    for (int n : {2, 3, 5, 6, 7, 8, 9}) {
        rows.push_back({stored[static_cast<std::size_t>(n - 1)], n, kShown, 3});
    }
    const QString path = write(sampleReport(rows));
    const int pages = pageCount(path);
    ASSERT_GE(pages, 2);
    std::vector<int> order;
    for (int p = 1; p <= pages; ++p) {
        const QString text = pdfText(path, p);
        EXPECT_TRUE(text.contains(QStringLiteral("第%1页/共%2页").arg(p).arg(pages))) << p;
        static const QRegularExpression head(QStringLiteral("历史记录第(\\d+)组"));
        int here = 0;
        for (auto m = head.globalMatch(text); m.hasNext(); ++here) {
            order.push_back(m.next().captured(1).toInt());
        }
        // A section's heading, values and conclusion never part on different pages.
        EXPECT_EQ(text.count(QStringLiteral("结论：")), here) << p;
        EXPECT_EQ(text.count(QStringLiteral("读取时间2026-12-0723:30:15")), here) << p;
        // As many to a page as fit: only the first page (the fields) and the last hold fewer.
        if (p > 1 && p < pages) {
            EXPECT_GE(here, 3) << p;
        }
    }
    EXPECT_EQ(order, (std::vector<int>{2, 3, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(pdfText(path, pages).contains(QStringLiteral("监护人（签字）")));
    expectEveryFontEmbedded(path);
}

TEST_F(ReportPdf, LongFieldsWrapInsideThePageAndLoseNothing) {
    // Nine fields of 2,000 characters: one unbroken Latin word, the rest each a Chinese
    // character no fixed text of the report uses.
    views::PhasingReport r = sampleReport({{kCrossed, 0, kShown, 3}});
    const QString marks = QStringLiteral("甲乙丙丁戊己庚辛");
    r.fields[0] = QString(2000, QLatin1Char('Q'));
    for (std::size_t i = 1; i < r.fields.size(); ++i) r.fields[i] = QString(2000, marks[i - 1]);
    const QString path = write(r);
    const int pages = pageCount(path);
    EXPECT_GE(pages, 3);
    const QString text = pdfText(path);
    EXPECT_EQ(text.count(QLatin1Char('Q')), 2000);
    for (const QChar c : marks) EXPECT_EQ(text.count(c), 2000) << QString(c).toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("第%1页/共%1页").arg(pages)));
    EXPECT_TRUE(text.contains(QStringLiteral("结论：相位不一致")));

    // Every word inside the printable area: 15 mm from each edge.
    const Tool boxes = run("pdftotext", {"-bbox", path, "-"});
    ASSERT_TRUE(boxes.ok) << boxes.err;
    static const QRegularExpression page(
        QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\""));
    static const QRegularExpression word(QStringLiteral(
        "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">"));
    const QString xml = QString::fromStdString(boxes.out);
    const auto size = page.match(xml);
    ASSERT_TRUE(size.hasMatch());
    const double margin = 15 / 25.4 * 72 - 1;
    int words = 0;
    for (auto m = word.globalMatch(xml); m.hasNext(); ++words) {
        const auto w = m.next();
        EXPECT_GE(w.captured(1).toDouble(), margin);
        EXPECT_GE(w.captured(2).toDouble(), margin);
        EXPECT_LE(w.captured(3).toDouble(), size.captured(1).toDouble() - margin);
        EXPECT_LE(w.captured(4).toDouble(), size.captured(2).toDouble() - margin);
    }
    EXPECT_GT(words, 100);
}

TEST_F(ReportPdf, CharactersTheFontsLackStillComeOut) {
    views::PhasingReport r = sampleReport({{kInPhase, 0, kShown, 3}});
    // Georgian and Armenian from a fallback font; an emoji, a private-use and an unassigned
    // code point that no font here has; a lone combining mark, right-to-left text, controls.
    r.fields[0] = QStringLiteral("ქართული Հայերեն");
    r.fields[8] = QString::fromUtf8("😀 \xee\x80\x80 \xcd\xb8 \xcc\x81 שלום \t\a\x01 end");
    const QString path = write(r);
    const QString text = pdfText(path);
    EXPECT_TRUE(text.contains(QStringLiteral("结论：相位一致")));
    EXPECT_TRUE(text.contains(QStringLiteral("end")));
    expectEveryFontEmbedded(path);
    if (QFontDatabase::families(QFontDatabase::Georgian).isEmpty() ||
        QFontDatabase::families(QFontDatabase::Armenian).isEmpty()) {
        GTEST_SKIP() << "no font for Georgian or Armenian on this machine to fall back on";
    }
    EXPECT_TRUE(text.contains(QStringLiteral("ქართულიՀայերեն")));
    EXPECT_GE(fonts(path).size(), 3u);  // the two faces and at least one fallback
}

// ---------------------------------------------------------------------------------------------
// The commands, with the dialogs answered for the user.

struct Answering : platform::DialogService {
    QString saveAs;                 // empty: cancel
    platform::DialogResult result;  // a dialog that fails
    QPrinter* printer = nullptr;
    QString printTo;
    std::vector<platform::CommonDialog> seen;
    platform::DialogResult ShowSave(platform::CommonDialog& d) override {
        seen.push_back(d);
        if (result.error) return result;
        if (saveAs.isEmpty()) return {platform::kErrCancel, "Cancel"};
        d.FileName = saveAs.toStdString();
        return {};
    }
    platform::DialogResult ShowPrinter(platform::CommonDialog& d) override {
        seen.push_back(d);
        if (result.error) return result;
        if (printTo.isEmpty()) return {platform::kErrCancel, "Cancel"};
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printTo);
        return {};
    }
};

// The real files, under a data folder of the test's own.
struct FilesIn : platform::FileSystem {
    std::string dir;
    platform::QtFileSystem real;
    std::string dataDir() const override { return dir; }
    bool dirExists(const std::string& p) const override { return real.dirExists(p); }
    bool makeDir(const std::string& p) override { return real.makeDir(p); }
    std::string writeFile(const std::string& p, const std::vector<uint8_t>& b) override {
        return real.writeFile(p, b);
    }
};

struct Commands {
    QTemporaryDir home;
    Answering dialogs;
    FilesIn files;
    ck::testing::SeenMessages told;
    platform::QtPrinterService printer{views::MonoCjkFont(10)};
    platform::CommonDialog dialog;
    ReportServices services{&dialogs, &files, &told, &printer.printer(), [] { return kShown; }};
    Commands() {
        files.dir = home.filePath("Trandel").toStdString();
        dialogs.printer = &printer.printer();
    }
};

TEST_F(ReportPdf, SavedUnderItsDefaultNameInTheDataFolder) {
    Commands c;
    const QString want = c.home.filePath("Trandel/核相报告-20261207-233015.pdf");
    c.dialogs.saveAs = want;
    EXPECT_EQ(SaveReportPdf(c.services, c.dialog, sampleReport({{kCrossed, 0, kShown, 3}})), want);
    ASSERT_EQ(c.dialogs.seen.size(), 1u);
    EXPECT_EQ(c.dialogs.seen[0].FileName, want.toStdString());  // offered before the user chose
    EXPECT_EQ(c.dialogs.seen[0].InitDir, c.files.dir);
    EXPECT_EQ(c.dialogs.seen[0].DefaultExt, ".pdf");
    EXPECT_TRUE(c.told.boxes.empty());
    EXPECT_TRUE(pdfText(want).contains(QStringLiteral("结论：相位不一致")));
}

TEST(ReportSave, AnUnwritableFolderIsToldOnceAndLeavesNothing) {
    struct Case {
        const char* what;
        const char* folder;  // under the test's home
        bool folderIsAFile;
    };
    const Case cases[] = {{"a file in place of the folder", "notafolder", true},
                          {"a folder that does not exist", "gone", false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Commands c;
        if (k.folderIsAFile) {
            QFile f(c.home.filePath(k.folder));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("keep");
        }
        const QString target = c.home.filePath(QString(k.folder) + "/report.pdf");
        c.dialogs.saveAs = target;
        const QStringList before = QDir(c.home.path()).entryList(QDir::AllEntries | QDir::Hidden);
        EXPECT_TRUE(SaveReportPdf(c.services, c.dialog, sampleReport({{kCrossed, 0, kShown, 3}}))
                        .isEmpty());
        ASSERT_EQ(c.told.boxes.size(), 1u);
        EXPECT_EQ(c.told.boxes[0].title, "保存失败");
        EXPECT_NE(c.told.boxes[0].text.find("核相报告未能保存：" + target.toStdString()),
                  std::string::npos);
        EXPECT_FALSE(QFile::exists(target));
        // Nothing half-written beside it: only the data folder the command made.
        QStringList after = QDir(c.home.path()).entryList(QDir::AllEntries | QDir::Hidden);
        after.removeAll("Trandel");
        EXPECT_EQ(after, before);
        if (k.folderIsAFile) {
            QFile f(c.home.filePath(k.folder));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), "keep");
        }
    }
}

TEST_F(ReportPdf, PrintedThroughThePrinterOnA4AndThePrinterPutBack) {
    Commands c;
    c.dialogs.printTo = dir.filePath("printed.pdf");
    QPrinter& printer = c.printer.printer();
    printer.setPageOrientation(QPageLayout::Landscape);
    const QPageLayout before = printer.pageLayout();
    EXPECT_TRUE(PrintReport(c.services, c.dialog, sampleReport({{kCrossed, 0, kShown, 3}})));
    EXPECT_TRUE(c.told.boxes.empty());
    EXPECT_EQ(pageCount(c.dialogs.printTo), 1);
    // Qt's own PDF output names a few ideographs by their radicals; normalised, they agree.
    auto normal = [](const QString& s) { return s.normalized(QString::NormalizationForm_KC); };
    const QString text = normal(pdfText(c.dialogs.printTo));
    for (const char* s : {"结论：相位不一致", "B1B2、C1C2异相", "10kVI段母线", "串口COM3"}) {
        EXPECT_TRUE(text.contains(normal(QString::fromUtf8(s)))) << s;
    }
    expectEveryFontEmbedded(c.dialogs.printTo);
    EXPECT_TRUE(printer.pageLayout().isEquivalentTo(before));

    // A cancelled dialog prints nothing and says nothing; a failing one beeps and says why.
    QFile::remove(c.dialogs.printTo);
    c.dialogs.printTo.clear();
    EXPECT_FALSE(PrintReport(c.services, c.dialog, sampleReport({{kCrossed, 0, kShown, 3}})));
    EXPECT_TRUE(c.told.boxes.empty());
    c.dialogs.result = {1, "no printer driver"};
    EXPECT_FALSE(PrintReport(c.services, c.dialog, sampleReport({{kCrossed, 0, kShown, 3}})));
    ASSERT_EQ(c.told.boxes.size(), 1u);
    EXPECT_EQ(c.told.boxes[0].title, "Printing Error!");
    EXPECT_EQ(c.told.beeps, 1);
}

// ---------------------------------------------------------------------------------------------
// The readings the window keeps, and the dialog.

TEST(ReportReadings, WhatEachViewOffers) {
    const platform::LocalTime at{2026, 12, 7, 21, 3, 4, 480};
    const platform::LocalTime later{2026, 12, 7, 21, 3, 6, 480};
    measure::HistoryTable history;
    const auto stored = sim::MakeStoredHistory(12, 2);
    EXPECT_TRUE(ReportContentOf({}, history, true, {}, 0).chosen.empty());  // nothing shown yet
    const measure::LiveReading live(kInPhase, later, 4);
    history.fill(0, std::span(stored).first(3), measure::Downloaded{at, 3});  // rows 1..3
    history.fill(198, std::span(stored).subspan(3, 3));  // 199, 200, past the table
    struct Case {
        bool live;
        std::vector<int> selected;
        int histcount;
        std::vector<int> chosen, downloaded;  // group numbers, 0 the live reading
    };
    const Case cases[] = {
        {true, {2}, 3, {0}, {}},
        {false, {3, 1, 3, 50}, 3, {1, 3}, {1, 2, 3}},  // in row order, once, empty rows left out
        {false, {}, 200, {}, {1, 2, 3, 199, 200}},
        {false, {}, 2, {}, {1, 2}},  // rows past the reported count are not "all downloaded"
    };
    for (const Case& c : cases) {
        const ReportContent got = ReportContentOf(live, history, c.live, c.selected, c.histcount);
        std::vector<int> chosen, downloaded;
        for (const auto& r : got.chosen) chosen.push_back(r.groupNumber);
        for (const auto& r : got.downloaded) downloaded.push_back(r.groupNumber);
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(downloaded, c.downloaded);
    }
    // The reading with its own time and port; a row with when and where it was downloaded.
    const auto shown = ReportContentOf(live, history, true, {}, 0).chosen.at(0);
    EXPECT_EQ(shown.group, kInPhase);
    EXPECT_EQ(shown.port, 4);
    EXPECT_EQ(shown.time, ToQDateTime(later));
    EXPECT_EQ(shown.time.toString(Qt::ISODate), QStringLiteral("2026-12-07T21:03:06+08:00"));
    const auto row = ReportContentOf(live, history, false, {2}, 3).chosen.at(0);
    EXPECT_EQ(row.group, stored[1]);
    EXPECT_EQ(row.port, 3);
    EXPECT_EQ(row.time, ToQDateTime(at));
    EXPECT_EQ(ReportContentOf(live, history, false, {200}, 200).chosen.at(0).group, stored[4]);
    history.clear();
    EXPECT_TRUE(ReportContentOf(live, history, false, {1}, 200).downloaded.empty());
}

struct DialogRig {
    Commands c;
    QString ini = c.home.filePath("settings.ini");
    std::unique_ptr<QSettings> settings = std::make_unique<QSettings>(ini, QSettings::IniFormat);
    std::unique_ptr<ReportDialog> open(ReportContent content) {
        return std::make_unique<ReportDialog>(std::move(content), c.services, *settings, c.dialog);
    }
};

TEST(ReportDialog, FieldsRememberedBetweenRuns) {
    DialogRig r;
    {
        auto d = r.open({true, {{kCrossed, 0, kShown, 3}}, {}});
        d->setFieldText(ReportField::Place, "110kV 东郊变电站");
        d->setFieldText(ReportField::Remarks, "第一行\n第二行");
        EXPECT_EQ(d->report().fields[static_cast<std::size_t>(ReportField::Place)],
                  "110kV 东郊变电站");
    }
    r.settings.reset();  // the program ends
    r.settings = std::make_unique<QSettings>(r.ini, QSettings::IniFormat);
    auto d = r.open({true, {}, {}});
    EXPECT_EQ(d->fieldText(ReportField::Place), "110kV 东郊变电站");
    EXPECT_EQ(d->fieldText(ReportField::Remarks), "第一行\n第二行");
    EXPECT_EQ(d->fieldText(ReportField::Operator), "");
}

TEST(ReportDialog, SaysWhatItHoldsAndOffersOnlyWhatThereIs) {
    const ReportReading live{kCrossed, 0, kShown, 3};
    const ReportReading row2{kInPhase, 2, kShown, 3};
    const ReportReading row5{kMissing, 5, kShown, 3};
    struct Case {
        const char* what;
        ReportContent content;
        bool useAllOffered;
        std::vector<int> holds;  // group numbers, 0 the live reading
        const char* says;
    };
    const Case cases[] = {
        {"live", {true, {live}, {}}, false, {0}, "串口 COM3：相位不一致（B1B2、C1C2 异相）"},
        {"live, no reading", {true, {}, {}}, false, {}, "尚无实时读数"},
        {"rows selected", {false, {row5}, {row2, row5}}, false, {5}, "第 5 组：无法判定"},
        {"none selected", {false, {}, {row2, row5}}, true, {}, "没有选中"},
        {"nothing downloaded", {false, {}, {}}, false, {}, "尚未读取历史记录"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        DialogRig r;
        auto d = r.open(k.content);
        EXPECT_EQ(!d->useAll().isHidden(), k.useAllOffered);
        std::vector<int> holds;
        for (const auto& x : d->readings()) holds.push_back(x.groupNumber);
        EXPECT_EQ(holds, k.holds);
        EXPECT_TRUE(d->summary().text().contains(QString::fromUtf8(k.says)))
            << d->summary().text().toStdString();
        EXPECT_EQ(d->saveButton().isEnabled(), !k.holds.empty());
        EXPECT_EQ(d->printButton().isEnabled(), !k.holds.empty());
        d->savePdf();  // nothing to save: no dialog either
        if (k.holds.empty()) {
            EXPECT_TRUE(r.c.dialogs.seen.empty());
        }
        if (k.useAllOffered) {
            d->useAll().setChecked(true);
            EXPECT_EQ(d->readings().size(), 2u);
            EXPECT_TRUE(d->saveButton().isEnabled());
            EXPECT_TRUE(d->summary().text().contains("全部已下载的 2 组"));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The window on virtual time, against the simulated instrument.

struct WindowRig {
    QTemporaryDir home;
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port{clock, instrument, 3};
    ck::testing::SeenMessages messages;
    MainWindow w{port, clock};
    QDateTime now = kShown;
    std::size_t shown = 0;

    WindowRig() {
        instrument.setStoredGroups(sim::MakeStoredHistory(7, 3));
        instrument.setLiveSequence({kCrossed, kInPhase, kMissing});
        instrument.setLinePacing(true);
        w.setClock(std::make_unique<ck::testing::WallClockAt>(now));
        w.setQuit([] {});
        w.setUserMessages(messages.forWindow());
        w.setReportSettings(
            std::make_unique<QSettings>(home.filePath("settings.ini"), QSettings::IniFormat));
        QObject::connect(&w, &MainWindow::liveReadingShown, [this] { ++shown; });
        w.start();
    }
    // Runs the link until `n` more live readings have been shown.
    void readings(std::size_t n) {
        const std::size_t want = shown + n;
        const int64_t giveUp = clock.nowMs() + 60000;
        while (shown < want && clock.nowMs() < giveUp && clock.step()) {
        }
        ASSERT_EQ(shown, want) << "no live reading within a minute";
    }
    ReportDialog& openReport() {
        w.menureport().trigger();
        EXPECT_NE(w.reportDialog(), nullptr);
        return *w.reportDialog();
    }
};

// The reading shown, kept as it was with its time and port; then the selected history rows,
// and none once the table is cleared.
TEST(ReportWindow, WhatTheViewsShowAndNothingElse) {
    WindowRig r;
    const QMenu* file = r.w.menuBar()->findChild<QMenu*>(QStringLiteral("menufile"));
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->actions().contains(&r.w.menureport()));
    EXPECT_EQ(r.w.menureport().text(), "核相报告...");
    EXPECT_EQ(r.w.menureport().shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    r.readings(1);
    r.now = kShown.addSecs(30);
    r.readings(1);
    ReportDialog& d = r.openReport();
    ASSERT_EQ(d.readings().size(), 1u);
    EXPECT_EQ(d.readings()[0].group, kInPhase);
    EXPECT_EQ(d.readings()[0].port, 3);
    EXPECT_EQ(d.readings()[0].time, kShown.addSecs(30));
    r.readings(2);  // readings go on behind the dialog
    EXPECT_EQ(d.report().readings.at(0).group, kInPhase);
    EXPECT_TRUE(d.isVisible());

    d.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    r.w.TabStrip1().setCurrentIndex(1);
    r.w.Button_read_Click();
    r.clock.advance(5000);
    ASSERT_EQ(r.w.link().state().histcount, 7);
    views::HistoryGrid& grid = r.w.DataGrid();
    grid.selectionModel()->select(grid.model()->index(4, 3), QItemSelectionModel::Select);
    grid.selectionModel()->select(grid.model()->index(1, 0), QItemSelectionModel::Select);
    {
        ReportDialog& h = r.openReport();
        ASSERT_EQ(h.readings().size(), 2u);
        EXPECT_EQ(h.readings()[0].groupNumber, 2);
        EXPECT_EQ(h.readings()[1].groupNumber, 5);
        EXPECT_EQ(h.readings()[1].group, r.instrument.storedGroups()[4]);
        h.close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    r.w.Button_clear_Click();
    ReportDialog& none = r.openReport();
    EXPECT_TRUE(none.readings().empty());
    EXPECT_TRUE(none.useAll().isHidden());
    EXPECT_FALSE(none.saveButton().isEnabled());
}

// Opened before anything else has been saved or printed, the report still has the window's
// printer, dialogs and messages: a printer dialog is offered, and a failed save is told.
TEST(ReportWindow, CommandsHaveTheWindowsServicesFromTheStart) {
    WindowRig r;
    auto dialogs = std::make_unique<Answering>();
    Answering& answered = *dialogs;
    auto files = std::make_unique<FilesIn>();
    // A folder that cannot be made: its parent is a file.
    QFile blocker(r.home.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    files->dir = r.home.filePath("blocker/Trandel").toStdString();
    answered.saveAs = r.home.filePath("blocker/Trandel/r.pdf");
    r.w.setDialogService(std::move(dialogs));
    r.w.setFileSystem(std::move(files));
    r.readings(1);
    ReportDialog& d = r.openReport();
    d.print();
    ASSERT_EQ(answered.seen.size(), 1u) << "no printer dialog: the report had no printer";
    d.savePdf();
    ASSERT_EQ(r.messages.boxes.size(), 1u);
    const std::string& told = r.messages.boxes[0].text;
    EXPECT_TRUE(told.starts_with("核相报告未能保存：")) << told;
}

}  // namespace
}  // namespace ck::app
