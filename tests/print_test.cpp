// SPDX-License-Identifier: MIT
// The print command end to end on the real printer backend, printing to PDF the way a user
// prints to a file, then reading the pages back with poppler's pdftotext and pdfinfo.

#include <gtest/gtest.h>

#include "qt_environment.h"
#include "seen_messages.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "output/column_writer.h"
#include "output/commands.h"
#include "output/reports.h"
#include "platform/qt/qt_printer.h"
#include "views/fonts.h"

namespace ck {
namespace {

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QGuiApplication>("print_test");

// ---------------------------------------------------------------------------------------------
// Fakes for everything the command touches except the printer.

// The print dialog: records what the command set, points the real printer at a PDF file (as
// "print to file" does) and ends as told.
struct FakeDialogs : platform::DialogService {
    QPrinter* printer = nullptr;
    QString pdfPath;
    platform::DialogResult result;
    int printerShown = 0;
    bool cancelErrorSeen = false;
    int savesShown = 0;

    platform::DialogResult ShowSave(platform::CommonDialog&) override {
        ++savesShown;
        return {platform::kErrCancel, {}};
    }
    platform::DialogResult ShowPrinter(platform::CommonDialog& d) override {
        ++printerShown;
        cancelErrorSeen = d.CancelError;
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdfPath);
        return result;
    }
};

// Printing touches no files and takes no picture; these only count what they are asked.
struct FakeFiles : platform::FileSystem {
    mutable int calls = 0;
    std::string dataDir() const override {
        ++calls;
        return "/nonexistent";
    }
    bool dirExists(const std::string&) const override {
        ++calls;
        return false;
    }
    bool makeDir(const std::string&) override {
        ++calls;
        return false;
    }
    std::string writeFile(const std::string&, const std::vector<uint8_t>&) override {
        ++calls;
        return "no files here";
    }
};

struct FakeCapture : platform::ScreenCapture {
    int calls = 0;
    std::optional<std::vector<uint8_t>> captureWindow() override {
        ++calls;
        return std::nullopt;
    }
    void copyLastCaptureToClipboard() override { ++calls; }
};

// ---------------------------------------------------------------------------------------------
// Reading a PDF back.

struct Word {
    int page;
    double x, y, right;
    std::string text;
};

struct Pdf {
    std::vector<std::pair<double, double>> pageSizes;  // width, height in points, per page
    std::vector<Word> words;                           // in reading order
    std::string layoutText;                            // pdftotext -layout
};

std::string run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString()
                      << " failed: " << p.readAllStandardError().toStdString();
        return {};
    }
    return p.readAllStandardOutput().toStdString();
}

Pdf readPdf(const QString& path) {
    Pdf pdf;
    const QString info = QString::fromStdString(run("pdfinfo", {"-f", "1", "-l", "100000", path}));
    const QRegularExpression sizeRe(R"(Page\s+\d+ size:\s+([\d.]+) x ([\d.]+) pts)");
    for (auto it = sizeRe.globalMatch(info); it.hasNext();) {
        const auto m = it.next();
        pdf.pageSizes.emplace_back(m.captured(1).toDouble(), m.captured(2).toDouble());
    }
    const QString boxes = QString::fromStdString(run("pdftotext", {"-bbox", path, "-"}));
    const QRegularExpression itemRe(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="[\d.]+">([^<]*)</word>)re");
    int page = 0;
    for (auto it = itemRe.globalMatch(boxes); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith("<page")) {
            ++page;
            continue;
        }
        pdf.words.push_back({page, m.captured(1).toDouble(), m.captured(2).toDouble(),
                             m.captured(3).toDouble(), m.captured(4).toStdString()});
    }
    // Reading order: page, then line (same top within a fraction of a point), then left to right.
    std::sort(pdf.words.begin(), pdf.words.end(), [](const Word& a, const Word& b) {
        if (a.page != b.page) return a.page < b.page;
        if (std::abs(a.y - b.y) > 0.5) return a.y < b.y;
        return a.x < b.x;
    });
    pdf.layoutText = run("pdftotext", {"-layout", path, "-"});
    return pdf;
}

// A word of the report text and the column it starts at.
struct TextWord {
    int column;
    std::string text;
};

// The visible lines of a report as the columns compose them (blank lines have no words).
std::vector<std::vector<TextWord>> wordsByLine(const std::string& report) {
    std::vector<std::vector<TextWord>> lines;
    output::ColumnWriter split;
    split.text(report);
    for (const std::string& line : split.lines()) {
        std::vector<TextWord> words;
        int column = 1;
        std::size_t i = 0;
        while (i < line.size()) {
            if (line[i] == ' ') {
                ++column, ++i;
                continue;
            }
            const std::size_t end = std::min(line.find(' ', i), line.size());
            words.push_back({column, line.substr(i, end - i)});
            column += output::TextWidth(words.back().text);
            i = end;
        }
        lines.push_back(std::move(words));
    }
    return lines;
}

// The PDF's words grouped into lines, in reading order.
std::vector<std::vector<Word>> pdfLines(const Pdf& pdf) {
    std::vector<std::vector<Word>> lines;
    for (const Word& w : pdf.words) {
        if (lines.empty() || lines.back().front().page != w.page ||
            std::abs(lines.back().front().y - w.y) > 0.5) {
            lines.emplace_back();
        }
        lines.back().push_back(w);
    }
    return lines;
}

// The column grid the page shows: x = left + (column - 1) * cell.
struct Grid {
    double left = 0, cell = 0;
};

// Checks that the PDF shows exactly the report's visible lines, word for word, each word on
// its column of one grid; returns that grid.
Grid expectSameLinesOnGrid(const Pdf& pdf, const std::string& report) {
    std::vector<std::vector<TextWord>> want = wordsByLine(report);
    std::erase_if(want, [](const auto& l) { return l.empty(); });
    const std::vector<std::vector<Word>> got = pdfLines(pdf);
    EXPECT_EQ(got.size(), want.size());

    std::vector<std::pair<double, double>> points;  // (column - 1, x)
    for (std::size_t l = 0; l < std::min(got.size(), want.size()); ++l) {
        std::vector<std::string> gotTexts, wantTexts;
        for (const Word& w : got[l]) gotTexts.push_back(w.text);
        for (const TextWord& w : want[l]) wantTexts.push_back(w.text);
        EXPECT_EQ(gotTexts, wantTexts) << "line " << l;
        if (gotTexts != wantTexts) continue;
        for (std::size_t k = 0; k < got[l].size(); ++k) {
            points.emplace_back(want[l][k].column - 1, got[l][k].x);
        }
    }
    // Least-squares line through (column, x); every word must sit on it.
    Grid grid;
    const double n = static_cast<double>(points.size());
    double sc = 0, sx = 0, scc = 0, scx = 0;
    for (const auto& [c, x] : points) sc += c, sx += x, scc += c * c, scx += c * x;
    const double det = n * scc - sc * sc;
    EXPECT_GT(det, 0.0) << "too few distinct columns to find the grid";
    if (det <= 0.0) return grid;
    grid.cell = (n * scx - sc * sx) / det;
    grid.left = (sx - grid.cell * sc) / n;
    EXPECT_GT(grid.cell, 1.0);
    for (const auto& [c, x] : points) {
        EXPECT_NEAR(x, grid.left + c * grid.cell, 0.05 * grid.cell) << "column " << c + 1;
    }
    return grid;
}

// The report's non-blank lines with runs of blanks collapsed, as -layout shows them.
std::vector<std::string> collapsed(const std::string& text) {
    std::vector<std::string> out;
    for (const QString& line : QString::fromStdString(text).split(QRegularExpression("\r?\n"))) {
        const QString s = line.simplified();
        if (!s.isEmpty()) out.push_back(s.toStdString());
    }
    return out;
}

bool havePoppler() {
    return !QStandardPaths::findExecutable("pdftotext").isEmpty() &&
           !QStandardPaths::findExecutable("pdfinfo").isEmpty();
}

// ---------------------------------------------------------------------------------------------

// What the window shows, held while a command runs.
struct View {
    bool realmode = true;
    measure::LiveReading live;
    measure::HistoryTable history;
    int histcount = 0;
    output::Shown shown() const { return {realmode, live, history, histcount}; }
};

class PrintTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    platform::QtPrinterService printer{views::MonoCjkFont(10)};
    platform::CommonDialog dialog;
    FakeDialogs dialogs;
    FakeFiles files;
    FakeCapture capture;
    ck::testing::SeenMessages messages;
    output::OutputServices out{dialog, dialogs, files, capture, printer, messages};
    QString pdfPath = dir.filePath("report.pdf");

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        dialogs.printer = &printer.printer();
        dialogs.pdfPath = pdfPath;
    }
    void expectNothingElseTouched() {
        EXPECT_EQ(dialogs.printerShown, 1);
        EXPECT_TRUE(dialogs.cancelErrorSeen);
        EXPECT_EQ(dialogs.savesShown, 0);
        EXPECT_EQ(files.calls, 0);
        EXPECT_EQ(capture.calls, 0);
    }
};

// Tests that read the PDF back need poppler; CI sets CK_REQUIRE_PDFTOTEXT=1 so they never
// skip there.
class PdfTest : public PrintTest {
protected:
    void SetUp() override {
        PrintTest::SetUp();
        if (havePoppler()) return;
        const char* require = std::getenv("CK_REQUIRE_PDFTOTEXT");
        if (require && std::string(require) == "1") {
            FAIL() << "pdftotext/pdfinfo (poppler-utils) not found, and CK_REQUIRE_PDFTOTEXT=1";
        }
        GTEST_SKIP() << "pdftotext/pdfinfo (poppler-utils) not found: cannot read the PDF back";
    }

    // Prints through the command; expects a clean run and returns the pages.
    Pdf printed(const View& view) {
        output::Print(out, view.shown());
        expectNothingElseTouched();
        EXPECT_EQ(messages.beeps, 0);
        EXPECT_TRUE(messages.boxes.empty());
        EXPECT_TRUE(QFile::exists(pdfPath));
        return readPdf(pdfPath);
    }
};

View liveView(const measure::LiveReading& reading) {
    View v;
    v.live = reading;
    return v;
}

// Voltages A1 110, A2 10, B1 35, B2 none, C1 1, C2 36; verdicts in Chinese in both columns.
measure::LiveReading aReading() {
    return measure::LiveReading({{5, 120, 360, 120, 240, 235},
                                 {true, true, true, true, false, true},
                                 {110, 35, 1, 10, 0, 36}},
                                {}, 3);
}

struct LiveCase {
    const char* name;
    measure::LiveReading reading;
};
void PrintTo(const LiveCase& c, std::ostream* os) { *os << c.name; }

class LiveReport : public PdfTest, public ::testing::WithParamInterface<LiveCase> {};

TEST_P(LiveReport, OnePortraitPageWithTheComposedColumns) {
    const View view = liveView(GetParam().reading);
    const std::string report = output::LiveReport(view.live);
    const Pdf pdf = printed(view);

    ASSERT_EQ(pdf.pageSizes.size(), 1u);
    EXPECT_GT(pdf.pageSizes[0].second, pdf.pageSizes[0].first) << "portrait";
    EXPECT_EQ(collapsed(pdf.layoutText), collapsed(report));
    const Grid grid = expectSameLinesOnGrid(pdf, report);
    EXPECT_LE(grid.cell, platform::kMaxReportPoints / 2 + 0.05) << "short report not blown up";

    // The input lines A1..C2 in order; a pair's angle or verdict column starts where the
    // composition puts it, a Chinese character counting two columns.
    const auto lines = pdfLines(pdf);
    ASSERT_EQ(lines.size(), 7u);
    const char* names[] = {"A1", "A2", "B1", "B2", "C1", "C2"};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(lines[i + 1].front().text, names[i]);
        EXPECT_NEAR(lines[i + 1].front().x, lines[1].front().x, 0.01);
    }
}

INSTANTIATE_TEST_SUITE_P(Print, LiveReport,
                         ::testing::Values(LiveCase{"BeforeAReading", measure::LiveReading()},
                                           LiveCase{"ChineseVerdicts", aReading()}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(PdfTest, ChineseVerdictTakesTwoColumnsPerCharacter) {
    const Pdf pdf = printed(liveView(aReading()));
    const auto lines = pdfLines(pdf);
    ASSERT_EQ(lines.size(), 7u);
    // "A2", "10", "kV", "同相", "顺相序": 同相 is four columns, then 15 blanks.
    const auto& a2 = lines[2];
    ASSERT_EQ(a2.size(), 5u);
    EXPECT_EQ(a2[3].text, "同相");
    EXPECT_EQ(a2[4].text, "顺相序");
    const double cell = (a2[2].x - a2[1].x) / 3;  // "10 " before "kV"
    EXPECT_NEAR(a2[4].x - a2[3].x, 19 * cell, 0.05 * cell);
}

// History table: rows 1..filledRows hold a group whose cells carry Chinese verdicts.
View historyView(int filledRows, int histcount) {
    // Voltages A1 10, A2 none, B1 35, B2 36, C1 1, C2 110.
    const measure::MeasurementGroup g{{5, 120, 360, 120, 240, 360}, {}, {10, 35, 1, 0, 36, 110}};
    View v;
    v.realmode = false;
    v.history.fill(0,
                   std::vector<measure::MeasurementGroup>(static_cast<std::size_t>(filledRows), g));
    v.histcount = histcount;
    return v;
}

struct HistoryCase {
    const char* name;
    int filledRows;
    int histcount;
    int rowsShown;  // lines with cell text
    bool severalPages;
};
void PrintTo(const HistoryCase& c, std::ostream* os) { *os << c.name; }

class HistoryReport : public PdfTest, public ::testing::WithParamInterface<HistoryCase> {};

TEST_P(HistoryReport, LandscapeRowsOnTheCellColumns) {
    const HistoryCase& c = GetParam();
    const View view = historyView(c.filledRows, c.histcount);
    const std::string report = output::HistoryReport(view.history, view.histcount);
    const Pdf pdf = printed(view);

    ASSERT_FALSE(pdf.pageSizes.empty());
    EXPECT_EQ(pdf.pageSizes.size() > 1, c.severalPages) << pdf.pageSizes.size() << " pages";
    for (const auto& [w, h] : pdf.pageSizes) EXPECT_GT(w, h) << "landscape on every page";
    EXPECT_EQ(collapsed(pdf.layoutText), collapsed(report));
    const Grid grid = expectSameLinesOnGrid(pdf, report);

    const auto lines = pdfLines(pdf);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(1 + c.rowsShown));
    EXPECT_EQ(lines[0].front().text, "NO.");
    // Rows in order, every row's cells at the same places as the first row's.
    for (std::size_t r = 1; r < lines.size(); ++r) {
        EXPECT_EQ(lines[r].front().text, std::to_string(r));
        ASSERT_EQ(lines[r].size(), lines[1].size()) << "row " << r;
        for (std::size_t k = 0; k < lines[r].size(); ++k) {
            EXPECT_NEAR(lines[r][k].x, lines[1][k].x, 0.01) << "row " << r << " word " << k;
        }
    }
    for (const Word& w : pdf.words) {
        EXPECT_LE(w.right, pdf.pageSizes[static_cast<std::size_t>(w.page - 1)].first - grid.left)
            << w.text << " runs off the page";
    }
    // A new page continues at its top: one line higher than the heading, which has the blank
    // first line above it.
    if (lines.size() < 3) return;
    const double lineHeight = lines[2].front().y - lines[1].front().y;
    for (std::size_t l = 1; l < lines.size(); ++l) {
        if (lines[l].front().page != lines[l - 1].front().page) {
            EXPECT_NEAR(lines[l].front().y, lines[0].front().y - lineHeight, 0.05)
                << "page " << lines[l].front().page;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Print, HistoryReport,
                         ::testing::Values(HistoryCase{"NothingDownloaded", 0, 0, 0, false},
                                           HistoryCase{"FiveGroups", 5, 5, 5, false},
                                           HistoryCase{"CountBeyondTheTable", 200, 250, 200, true},
                                           // Cleared rows print as blank lines: no text, but as
                                           // many lines as the count, onto further sheets.
                                           HistoryCase{"ClearedTable", 0, 200, 0, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// When nothing, or nothing good, comes out.

struct FailureCase {
    const char* name;
    platform::DialogResult dialog;
    bool unwritablePath;
    bool told;  // one beep and one message box
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class PrintFailure : public PrintTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PrintFailure, NoPageAndTheRightWord) {
    const FailureCase& c = GetParam();
    dialogs.result = c.dialog;
    const QString target = c.unwritablePath ? dir.filePath("missing/dir/report.pdf") : pdfPath;
    dialogs.pdfPath = target;

    for (const bool realmode : {true, false}) {
        SCOPED_TRACE(realmode ? "live" : "history");
        messages = {};
        dialogs.printerShown = 0;
        const View view = realmode ? liveView(measure::LiveReading()) : historyView(5, 5);
        output::Print(out, view.shown());
        expectNothingElseTouched();
        EXPECT_FALSE(QFile::exists(target));
        EXPECT_EQ(messages.beeps, c.told ? 1 : 0);
        if (!c.told) {
            EXPECT_TRUE(messages.boxes.empty());
            continue;
        }
        ASSERT_EQ(messages.boxes.size(), 1u);
        EXPECT_EQ(messages.boxes[0].title, "Printing Error!");
        EXPECT_EQ(messages.boxes[0].style, 48);
        const std::string why =
            c.unwritablePath ? "打印机无法开始打印: " + target.toStdString() : c.dialog.description;
        EXPECT_EQ(messages.boxes[0].text, why + "\r\n文件打印出错.");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Print, PrintFailure,
    ::testing::Values(FailureCase{"Cancelled", {platform::kErrCancel, ""}, false, false},
                      FailureCase{"DialogFails", {28663, "打印机不可用"}, false, true},
                      // A printer that cannot start never passes for a printed report.
                      FailureCase{"UnwritableFile", {}, true, true}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// The printer service on its own.

class Printer : public PdfTest {
protected:
    Pdf print(const std::string& text, platform::Orientation o, int startTwips,
              const QString& name) {
        printer.printer().setOutputFormat(QPrinter::PdfFormat);
        printer.printer().setOutputFileName(dir.filePath(name));
        EXPECT_EQ(printer.printText(text, o, startTwips), "");
        return readPdf(dir.filePath(name));
    }
};

TEST_F(Printer, StartOffsetIsTwipsBelowTheTop) {
    const std::string text = "top\r\n";
    const Pdf at0 = print(text, platform::Orientation::Portrait, 0, "a.pdf");
    const Pdf at500 = print(text, platform::Orientation::Portrait, 500, "b.pdf");
    ASSERT_EQ(at0.words.size(), 1u);
    ASSERT_EQ(at500.words.size(), 1u);
    EXPECT_NEAR(at500.words[0].y - at0.words[0].y, 500.0 / 20, 0.1);  // 20 twips a point
}

TEST_F(Printer, EachDocumentGetsItsOwnOrientation) {
    const std::string text = "x\r\n";
    const Pdf a = print(text, platform::Orientation::Landscape, 0, "a.pdf");
    const Pdf b = print(text, platform::Orientation::Portrait, 0, "b.pdf");
    ASSERT_EQ(a.pageSizes.size(), 1u);
    ASSERT_EQ(b.pageSizes.size(), 1u);
    EXPECT_GT(a.pageSizes[0].first, a.pageSizes[0].second);
    EXPECT_LT(b.pageSizes[0].first, b.pageSizes[0].second);
}

TEST_F(Printer, WideReportShrinksToFitANarrowPage) {
    // The history report's lines on portrait paper: smaller type, same grid, nothing cut off.
    const std::string report = output::HistoryReport(historyView(3, 3).history, 3);
    const Pdf pdf = print(report, platform::Orientation::Portrait, 0, "narrow.pdf");
    ASSERT_EQ(pdf.pageSizes.size(), 1u);
    const Grid grid = expectSameLinesOnGrid(pdf, report);
    EXPECT_LT(grid.cell, platform::kMaxReportPoints / 2 - 0.5);
    for (const Word& w : pdf.words) EXPECT_LE(w.right, pdf.pageSizes[0].first - grid.left + 0.5);
}

TEST_F(Printer, BlankLinesTakeTheirPlaceUpToTheLast) {
    // A document of numbered lines, and the same number of lines with only the first one
    // visible: the blank ones, however they are blank, fill the same sheets.
    constexpr int kLines = 150;
    std::string numbered;
    for (int i = 1; i <= kLines; ++i) numbered += std::to_string(i) + "\r\n";
    const Pdf full = print(numbered, platform::Orientation::Landscape, 0, "full.pdf");
    ASSERT_GT(full.pageSizes.size(), 1u) << "too few lines to need a second sheet";
    struct Case {
        const char* name;
        std::string blankLine;
    };
    const Case cases[] = {{"empty", "\r\n"}, {"spaces", "  \r\n"}, {"lone LF", "\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "1\r\n";
        for (int i = 2; i <= kLines; ++i) text += c.blankLine;
        const Pdf blank =
            print(text, platform::Orientation::Landscape, 0, QString::fromUtf8(c.name) + ".pdf");
        EXPECT_EQ(blank.pageSizes.size(), full.pageSizes.size());
        ASSERT_EQ(blank.words.size(), 1u);
        EXPECT_EQ(blank.words[0].text, "1");
    }
}

TEST_F(Printer, RecoversAfterAFailedStart) {
    printer.printer().setOutputFormat(QPrinter::PdfFormat);
    printer.printer().setOutputFileName(dir.filePath("missing/report.pdf"));
    EXPECT_NE(printer.printText("x\r\n", platform::Orientation::Portrait, 0), "");
    const Pdf pdf = print("after\r\n", platform::Orientation::Portrait, 0, "ok.pdf");
    ASSERT_EQ(pdf.words.size(), 1u);
    EXPECT_EQ(pdf.words[0].text, "after");
}

TEST(ReportPointSize, LargestSizeUpToTheCapThatFits) {
    struct Case {
        int columns;
        double width, cellAtMax, want;
    };
    const Case cases[] = {
        {0, 500, 5, 10},    // nothing visible: the cap
        {75, 800, 5, 10},   // short lines: the cap, not larger
        {160, 800, 5, 10},  // exactly fits at the cap
        {200, 800, 5, 8},   // shrinks to fit
        {155, 575, 5, 575.0 / 155 / 5 * 10},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(platform::ReportPointSize(c.columns, c.width, c.cellAtMax), c.want, 1e-9)
            << c.columns << " columns on " << c.width;
    }
}

}  // namespace
}  // namespace ck
