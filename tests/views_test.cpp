// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "qt_environment.h"

#include <QApplication>
#include <QFontInfo>
#include <QHeaderView>
#include <QImage>
#include <QLabel>

#include <algorithm>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "measure/history_table.h"
#include "measure/live_reading.h"
#include "measure/measurement.h"
#include "views/fonts.h"
#include "views/history_grid.h"
#include "views/live_panel.h"
#include "views/twips.h"

// Readable failures for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace ck::views {
namespace {

using measure::MeasurementGroup;

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QApplication>("views_test");

constexpr int16_t kNo = measure::NoAngle;

MeasurementGroup missing() { return {{kNo, kNo, kNo, kNo, kNo, kNo}, {}, {}}; }

// The panel drawing a reading taken on COM3.
void show(LivePanel& p, const MeasurementGroup& g) { p.ShowReal(measure::LiveReading(g, {}, 3)); }

// ---------------------------------------------------------------------------------------------
// Live panel

struct PanelState {
    std::vector<QString> captions;  // Label1..Label39, empty for unused numbers
    std::vector<bool> lamps;        // Shape1..Shape6
    bool operator==(const PanelState&) const = default;
};

PanelState stateOf(const LivePanel& p) {
    PanelState s;
    for (int n = 1; n <= 39; ++n) s.captions.push_back(p.caption(n));
    for (int n = 1; n <= 6; ++n) s.lamps.push_back(!p.shape(n)->isHidden());
    return s;
}

TEST(LivePanel, StartsWithDesignCaptionsNamesAndDarkLamps) {
    LivePanel p;
    const std::vector<std::pair<int, QString>> expected = {
        {37, "电压"}, {38, "定性相位"}, {39, "定性相序"}, {1, "A1"}, {2, "A2"},
        {3, "B1"},    {4, "B2"},        {5, "C1"},        {6, "C2"}};
    for (const auto& [n, text] : expected) EXPECT_EQ(p.caption(n), text) << n;
    for (int n = 1; n <= 39; ++n) {
        const bool value = (n >= 11 && n <= 16) || (n >= 21 && n <= 26) || (n >= 31 && n <= 36);
        ASSERT_EQ(p.label(n) != nullptr, value || n <= 6 || n >= 37) << n;
        if (!p.label(n)) continue;
        EXPECT_EQ(p.label(n)->objectName(), QStringLiteral("Label%1").arg(n));
        if (value) {
            EXPECT_EQ(p.caption(n), n < 20 ? "-- kV" : "------") << n;
        }
    }
    EXPECT_EQ(p.label(0), nullptr);
    EXPECT_EQ(p.label(40), nullptr);
    EXPECT_EQ(p.label(-1), nullptr);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(p.shape(n)->objectName(), QStringLiteral("Shape%1").arg(n));
        EXPECT_TRUE(p.shape(n)->isHidden()) << n;
    }
    EXPECT_EQ(p.shape(0), nullptr);
    EXPECT_EQ(p.shape(7), nullptr);
}

TEST(LivePanel, ControlsSitAtTheirDesignRectangles) {
    LivePanel p;
    EXPECT_EQ(p.label(37)->geometry(), twipsRect(2400, 480, 1170, 555));
    EXPECT_EQ(p.label(39)->geometry(), twipsRect(8400, 480, 2340, 555));
    EXPECT_EQ(p.label(4)->geometry(), twipsRect(480, 4680, 720, 660));
    EXPECT_EQ(p.label(16)->geometry(), twipsRect(2160, 6720, 1200, 660));
    EXPECT_EQ(p.label(23)->geometry(), twipsRect(5040, 3720, 1080, 660));
    EXPECT_EQ(p.label(36)->geometry(), twipsRect(9000, 6720, 1080, 660));
    EXPECT_EQ(p.shape(1)->geometry(), twipsRect(1320, 2020, 375, 255));
    EXPECT_EQ(p.shape(6)->geometry(), twipsRect(1320, 6975, 375, 255));
}

// The ruling lines (frame twips) and the rectangles they cover.
struct Rule {
    int x1, y1, x2, y2, width;
};
constexpr Rule kRules[] = {
    {0, 40, 11520, 40, 6},       {0, 7650, 11760, 7650, 6},    {30, 0, 30, 7680, 6},
    {11505, 0, 11505, 7680, 6},  {120, 105, 11400, 105, 5},    {120, 7570, 11400, 7570, 5},
    {105, 120, 105, 7560, 5},    {11420, 120, 11420, 7560, 5}, {0, 1395, 11520, 1395, 5},
    {120, 3480, 11400, 3480, 5}, {120, 5520, 11400, 5520, 5},  {3840, 120, 3840, 7560, 5},
    {7680, 120, 7680, 7560, 5},
};
QRect ruleRect(const Rule& r) {
    return QRect(twipsPoint(r.x1, r.y1), twipsPoint(r.x2, r.y2))
        .adjusted(-r.width / 2, -r.width / 2, r.width / 2, r.width / 2);
}

bool dark(const QImage& im, QPoint at) { return qGray(im.pixel(at)) < 128; }
// A glyph stroke cut by the edge of its label leaves solid ink there; an antialiased rim
// that merely reaches the edge does not.
bool solid(const QImage& im, QPoint at) { return qGray(im.pixel(at)) < 64; }

TEST(LivePanel, RulingLinesArePaintedWhereDesigned) {
    LivePanel p;
    const QImage im = p.grab().toImage();
    for (const Rule& r : kRules) {
        const QPoint mid = twipsPoint((r.x1 + r.x2) / 2, (r.y1 + r.y2) / 2);
        EXPECT_TRUE(dark(im, mid)) << r.x1 << "," << r.y1;
    }
    // Clear panel either side of the head rule and the A/B rule.
    for (QPoint blank : {QPoint(300, 85), QPoint(300, 101), QPoint(300, 226), QPoint(300, 239)})
        EXPECT_FALSE(dark(im, blank)) << blank.x() << "," << blank.y();
}

// The widest captions the instrument can produce: texts stay whole inside their labels and
// their labels clear every rule.
TEST(LivePanel, WidestCaptionsAreNotClippedAndClearTheRules) {
    LivePanel p;
    if (QFontInfo(p.label(11)->font()).family() != "Liberation Sans")
        GTEST_SKIP() << "the panel's fonts (Liberation Sans, Noto CJK) are not installed";
    const MeasurementGroup wide{{120, 120, 32767, 240, 120, 1000}, {}, {255, 255, 255, 0, 1, 99}};
    for (bool reading : {false, true}) {
        if (reading) show(p, wide);
        const QImage im = p.grab().toImage();
        for (int n = 1; n <= 39; ++n) {
            const QLabel* l = p.label(n);
            if (!l) continue;
            const QRect g = l->geometry();
            for (const Rule& r : kRules) EXPECT_FALSE(g.intersects(ruleRect(r))) << n;
            for (int x = g.left(); x <= g.right(); ++x)
                ASSERT_FALSE(solid(im, {x, g.top()}) || solid(im, {x, g.bottom()})) << n;
            for (int y = g.top(); y <= g.bottom(); ++y)
                ASSERT_FALSE(solid(im, {g.left(), y}) || solid(im, {g.right(), y})) << n;
        }
    }
    // A caption that fits again puts its label back on the design rectangle.
    show(p, missing());
    EXPECT_EQ(p.label(11)->geometry(), twipsRect(2160, 1800, 1200, 660));
    EXPECT_EQ(p.label(32)->geometry(), twipsRect(9000, 2640, 1080, 660));
    // A caption written from elsewhere is fitted once the panel sees the layout request.
    p.show();
    p.label(32)->setText("顺相序");
    QCoreApplication::sendPostedEvents(&p, QEvent::LayoutRequest);
    EXPECT_GT(p.label(32)->width(), px(1080));
}

TEST(LivePanel, ShowRealWritesAnglesVerdictsAndVoltagesToTheirLabels) {
    LivePanel p;
    // Voltages by input: A1 10, B1 none, C1 35, A2 11, B2 none, C2 36.
    show(p, {{0x0005, 180, kNo, 120, 240, 359}, {}, {10, 0, 35, 11, 0, 36}});
    const std::vector<std::pair<int, QString>> expected = {
        {21, "005"},    {22, "同相"},   {23, "180"},    {24, "------"}, {25, "------"},
        {26, "------"}, {31, "120"},    {32, "顺相序"}, {33, "240"},    {34, "逆相序"},
        {35, "359"},    {36, "------"}, {11, "10 kV"},  {13, "-- kV"},  {15, "35 kV"},
        {12, "11 kV"},  {14, "-- kV"},  {16, "36 kV"}};
    for (const auto& [n, text] : expected) EXPECT_EQ(p.caption(n), text) << "Label" << n;
}

TEST(LivePanel, IndicatorBytesDriveTheirLamps) {
    struct Case {
        std::array<bool, 6> on;  // A1 B1 C1 A2 B2 C2
        std::set<int> lit;
    };
    const Case cases[] = {
        {{1, 0, 0, 0, 0, 0}, {1}}, {{0, 0, 0, 1, 0, 0}, {2}},
        {{0, 1, 0, 0, 0, 0}, {3}}, {{0, 0, 0, 0, 1, 0}, {4}},
        {{0, 0, 1, 0, 0, 0}, {5}}, {{0, 0, 0, 0, 0, 1}, {6}},
        {{0, 0, 0, 0, 0, 0}, {}},  {{1, 1, 1, 1, 1, 1}, {1, 2, 3, 4, 5, 6}},
    };
    LivePanel p;
    for (const Case& c : cases) {
        MeasurementGroup g = missing();
        g.indicators = c.on;
        show(p, g);
        for (int n = 1; n <= 6; ++n) EXPECT_EQ(!p.shape(n)->isHidden(), c.lit.count(n) == 1) << n;
    }
}

TEST(LivePanel, AllMissingReadingRestoresTheStartUpPanel) {
    LivePanel p;
    const PanelState start = stateOf(p);
    show(p, {{5, 100, 230, 120, 240, 10}, {1, 1, 1, 1, 1, 1}, {9, 9, 9, 9, 9, 9}});
    ASSERT_NE(stateOf(p), start);
    show(p, missing());
    EXPECT_EQ(stateOf(p), start);
}

// ---------------------------------------------------------------------------------------------
// History grid

const char* const kHeaders[] = {"NO.",          "A1电压",   "A2电压",       "A1A2相位",
                                "A1A2定性相位", "B1电压",   "B2电压",       "B1B2相位",
                                "B1B2定性相位", "C1电压",   "C2电压",       "C1C2相位",
                                "C1C2定性相位", "A1B2相位", "A1B2定性相序", "B1C2相位",
                                "B1C2定性相序", "C1A2相位", "C1A2定性相序"};

QStringList rowOf(const HistoryGrid& g, int row) {
    QStringList r;
    for (int c = 0; c < HistoryGrid::kCols; ++c) r << g.TextMatrix(row, c);
    return r;
}

// Rows 1..200 that hold any text.
std::vector<int> filledRows(const HistoryGrid& g) {
    std::vector<int> rows;
    for (int r = 1; r < HistoryGrid::kRows; ++r)
        if (rowOf(g, r).join(QString()) != QString()) rows.push_back(r);
    return rows;
}

struct GridFixture : ::testing::Test {
    QWidget window;
    measure::HistoryTable table;
    HistoryGrid grid{table, &window};
    void SetUp() override { grid.InitGrid(); }
    // What the window does with a history reply, and with the clear command.
    void FillHist(int first, std::span<const MeasurementGroup> groups) {
        grid.showRows(table.fill(first, groups));
    }
    void clear() {
        table.clear();
        grid.InitGrid();
    }
};

TEST_F(GridFixture, InitGridLaysOutAndWritesOnlyTheHeader) {
    EXPECT_EQ(grid.geometry(), twipsRect(1000, 1440, 10900, 7075));
    EXPECT_EQ(grid.Rows(), 201);
    EXPECT_EQ(grid.Cols(), 19);
    EXPECT_EQ(grid.horizontalHeader()->height(), px(300));
    for (int c = 0; c < 19; ++c) {
        EXPECT_EQ(grid.TextMatrix(0, c), QString::fromUtf8(kHeaders[c]));
        EXPECT_EQ(grid.columnWidth(c), px(1200));
    }
    EXPECT_EQ(grid.rowHeight(0), px(300));
    EXPECT_EQ(grid.rowHeight(199), px(300));
    EXPECT_TRUE(filledRows(grid).empty());
    for (auto [r, c] : {std::pair{-1, 0}, {201, 0}, {0, 19}, {0, -1}, {1, -1}, {200, 19}})
        EXPECT_EQ(grid.TextMatrix(r, c), QString()) << r << "," << c;
}

TEST_F(GridFixture, FillHistWritesWholeRowsInStoredOrder) {
    // Voltages by input: A1 10, A2 none, B1 35, B2 11, C1 none, C2 36.
    MeasurementGroup volts = missing();
    volts.voltages[measure::idx(measure::Input::A1)] = 10;
    volts.voltages[measure::idx(measure::Input::B1)] = 35;
    volts.voltages[measure::idx(measure::Input::B2)] = 11;
    volts.voltages[measure::idx(measure::Input::C2)] = 36;
    const MeasurementGroup block[] = {volts, {{0, 180, 230, 235, 120, 1000}, {}, {}}, missing()};
    // The grid is told once of all the rows written, and draws them once.
    std::vector<std::pair<QModelIndex, QModelIndex>> told;
    QObject::connect(
        grid.model(), &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& from, const QModelIndex& to) { told.emplace_back(from, to); });
    FillHist(0, block);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].first, grid.model()->index(0, 0));  // group row 1
    EXPECT_EQ(told[0].second, grid.model()->index(2, 18));
    EXPECT_EQ(rowOf(grid, 1).join('|'),
              " 1|10 kV|--kV|------|------|35 kV|11 kV|------|------|--kV|36 kV|------|------|"
              "------|------|------|------|------|------");
    EXPECT_EQ(rowOf(grid, 2).join('|'),
              " 2|--kV|--kV|000|同相|--kV|--kV|180|------|--kV|--kV|230|异相|235|逆相序|120|"
              "顺相序|1000|------");
    EXPECT_EQ(grid.TextMatrix(3, 0), " 3");
    const MeasurementGroup none[] = {missing(), missing(), missing()};
    FillHist(3, none);
    EXPECT_EQ(filledRows(grid), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(grid.TextMatrix(6, 0), " 6");
    // A later reply for row 2 replaces all of it.
    FillHist(1, std::span(none, 1));
    EXPECT_EQ(rowOf(grid, 2).mid(1), rowOf(grid, 4).mid(1));
    const QModelIndex cell = grid.model()->index(0, 3);
    EXPECT_EQ(cell.data(Qt::TextAlignmentRole).toInt(), static_cast<int>(Qt::AlignCenter));
    EXPECT_FALSE(grid.model()->flags(cell) & Qt::ItemIsEditable);
}

TEST_F(GridFixture, InitGridAfterAFillBlanksTheRowsAndRewritesTheHeader) {
    const MeasurementGroup none[] = {missing(), missing(), missing()};
    FillHist(197, none);
    ASSERT_EQ(filledRows(grid), (std::vector<int>{198, 199, 200}));
    clear();
    EXPECT_TRUE(filledRows(grid).empty());
    for (int c = 0; c < 19; ++c) EXPECT_EQ(grid.TextMatrix(0, c), QString::fromUtf8(kHeaders[c]));
    FillHist(6, std::span(none, 1));
    EXPECT_EQ(grid.TextMatrix(7, 0), " 7");
}

// Which face each font asks for first: on Windows the window's own faces (by their English and
// Chinese names) ahead of the free ones, elsewhere the free ones that Debian installs.
TEST(Fonts, WindowsFacesFirstOnWindowsFreeFontsFirstElsewhere) {
    struct Case {
        Typeface face;
        FontPlatform platform;
        QStringList families;
    };
    const Case cases[] = {
        {Typeface::Song,
         FontPlatform::Windows,
         {"SimSun", "宋体", "Noto Serif CJK SC", "Noto Sans CJK SC"}},
        {Typeface::Hei, FontPlatform::Windows, {"SimHei", "黑体", "Noto Sans CJK SC"}},
        {Typeface::Arial, FontPlatform::Windows, {"Arial", "Liberation Sans", "Noto Sans CJK SC"}},
        {Typeface::MonoCjk,
         FontPlatform::Windows,
         {"NSimSun", "新宋体", "Noto Sans Mono CJK SC", "Noto Sans CJK SC"}},
        {Typeface::Song, FontPlatform::Other, {"Noto Serif CJK SC", "宋体", "Noto Sans CJK SC"}},
        {Typeface::Hei, FontPlatform::Other, {"Noto Sans CJK SC", "黑体"}},
        {Typeface::Arial, FontPlatform::Other, {"Liberation Sans", "Arial", "Noto Sans CJK SC"}},
        {Typeface::MonoCjk, FontPlatform::Other, {"Noto Sans Mono CJK SC", "Noto Sans CJK SC"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FaceFamilies(c.face, c.platform), c.families)
            << static_cast<int>(c.face) << (c.platform == FontPlatform::Windows ? " Windows" : "");
    }
    // The fonts the views use ask for this platform's list, at the given size and weight.
    EXPECT_EQ(SongFont(12, true).families(), FaceFamilies(Typeface::Song));
    EXPECT_TRUE(SongFont(12, true).bold());
    EXPECT_EQ(HeiFont(27.75).families(), FaceFamilies(Typeface::Hei));
    EXPECT_DOUBLE_EQ(HeiFont(27.75).pointSizeF(), 27.75);
    EXPECT_EQ(ArialFont(9).families(), FaceFamilies(Typeface::Arial));
    EXPECT_EQ(MonoCjkFont(10).families(), FaceFamilies(Typeface::MonoCjk));
    EXPECT_TRUE(MonoCjkFont(10).fixedPitch());
}

}  // namespace
}  // namespace ck::views
