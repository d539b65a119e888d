// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <span>

#include "output/column_writer.h"
#include "output/reports.h"

namespace ck::output {
namespace {

TEST(ColumnWriter, PositionRule) {
    struct Case {
        const char* what;
        std::string before;
        int to;
        std::string want;
    };
    const Case cases[] = {
        {"pads up to the column", "ab", 6, "ab   "},
        {"stays when there", "abcde", 6, "abcde"},
        {"breaks the line when past", "abcdefg", 3, "abcdefg\r\n  "},
        {"Chinese counts two columns", "同相", 6, "同相 "},
        {"Chinese pushes past", "A1A2定性相位", 9, "A1A2定性相位\r\n        "},
    };
    for (const auto& c : cases) {
        ColumnWriter w;
        w.text(c.before);
        w.position(c.to);
        EXPECT_EQ(w.str(), c.want) << c.what;
    }
}

TEST(ColumnWriter, WidthsAndLines) {
    EXPECT_EQ(TextWidth("--kV"), 4);
    EXPECT_EQ(TextWidth("逆相序"), 6);
    EXPECT_EQ(TextWidth("C1A2定性相序"), 12);
    ColumnWriter w;
    w.text("a");
    w.crlf();
    EXPECT_EQ(w.column(), 1);
    w.spaces(3);
    EXPECT_EQ(w.column(), 4);
    EXPECT_EQ(w.lines(), (std::vector<std::string>{"a", "   "}));
}

TEST(Gbk, EncodesTheProgramsTexts) {
    EXPECT_EQ(ToGbk("A1电压"), std::optional<std::string>("A1\xB5\xE7\xD1\xB9"));
    EXPECT_EQ(ToGbk("同相")->size(), 4u);
    EXPECT_EQ(ToGbk("顺相序")->size(), 6u);
    EXPECT_EQ(ToGbk("-- kV"), std::optional<std::string>("-- kV"));
    EXPECT_FALSE(ToGbk("\xF0\x9F\x98\x80"));  // no GBK form
    EXPECT_FALSE(ToGbk("\xC3"));              // broken UTF-8
}

using measure::Input;
using measure::LiveReading;
using measure::MeasurementGroup;

// A reading taken on COM3; the texts do not depend on when.
LiveReading live(std::array<int16_t, 6> angles, std::array<uint8_t, 6> kvByInput) {
    MeasurementGroup g;
    g.pairAngles = angles;
    g.voltages = kvByInput;
    return LiveReading(g, {}, 3);
}

TEST(LiveText, BeforeAnyReading) {
    const std::string want =
        "            电压               定性相位              定性相序\r\n"
        "     A1     -- kV               ------               ------\r\n"
        "     A2     -- kV               ------               ------\r\n"
        "     B1     -- kV               ------               ------\r\n"
        "     B2     -- kV               ------               ------\r\n"
        "     C1     -- kV               ------               ------\r\n"
        "     C2     -- kV               ------               ------\r\n";
    EXPECT_EQ(LiveText(LiveReading()), want);
    EXPECT_EQ(ToGbk(LiveText(LiveReading()))->find("\r\n"), 61u);  // line 1: 63 bytes
}

TEST(LiveText, AfterAReading) {
    // Voltages by input A1 B1 C1 A2 B2 C2: 10, 35, 36, 11, none, 1.
    const std::string text = LiveText(live({5, 180, 360, 120, 240, 360}, {10, 35, 36, 11, 0, 1}));
    const std::string gbk = *ToGbk(text);
    std::vector<std::string> lines;
    for (std::size_t from = 0, at; (at = gbk.find("\r\n", from)) != std::string::npos;
         from = at + 2) {
        lines.push_back(gbk.substr(from, at + 2 - from));
    }
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], "     A1     10 kV               005               120\r\n");
    EXPECT_EQ(lines[1].size(), 55u);
    EXPECT_EQ(lines[2], *ToGbk("     A2     11 kV               同相               顺相序\r\n"));
    EXPECT_EQ(lines[6], "     C2     1 kV               ------               ------\r\n");
}

const std::string kFileHeading =
    " NO.  A1电压  A2电压  A1A2相位  A1A2定性相位  B1电压  B2电压  B1B2相位  B1B2定性相位"
    "  C1电压  C2电压  C1C2相位  C1C2定性相位  A1B2相位  A1B2定性相序  B1C2相位  B1C2定性相序"
    "  C1A2相位  C1A2定性相序          ";

TEST(HistoryText, EmptyTable) {
    std::string want = kFileHeading;
    for (int r = 1; r <= 200; ++r) want += "\r\n" + std::string(144, ' ');
    EXPECT_EQ(HistoryText(measure::HistoryTable()), want);
}

// Voltages by input A1 B1 C1 A2 B2 C2: 10, 35, none, none, 11, 36.
const MeasurementGroup kStored{{5, 120, 360, 235, 100, 360}, {}, {10, 35, 0, 0, 11, 36}};
// Its line, as group n.
std::string storedLine(int n) {
    return " " + std::to_string(n) +
           "      10 kV   --kV    005     同相    35 kV   11 kV   120     异相    --kV"
           "    36 kV   ------  ------  235     逆相序  100     顺相序  ------  ------";
}

TEST(HistoryText, FiveGroupsThenEmptyRows) {
    measure::HistoryTable table;
    const std::vector<MeasurementGroup> five(5, kStored);
    table.fill(0, five);
    const std::string text = HistoryText(table);
    EXPECT_NE(text.find("\r\n" + storedLine(3) + "\r\n"), std::string::npos);
    const std::string tail = "\r\n" + std::string(144, ' ');
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);  // no final line break
    std::size_t breaks = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 1))
        ++breaks;
    EXPECT_EQ(breaks, 200u);
}

TEST(Reports, LiveReportIsABlankLineThenTheLiveText) {
    EXPECT_EQ(LiveReport(LiveReading()), "     \r\n" + LiveText(LiveReading()));
}

TEST(Reports, HistoryReport) {
    const std::string heading =
        " NO. A1电压 A2电压 A1A2相位 A1A2定性 B1电压 B2电压 B1B2相位 B1B2定性 C1电压 C2电压"
        " C1C2相位 C1C2定性 A1B2相位 A1B2相序 B1C2相位 B1C2相序 C1A2相位 C1A2相序          ";
    measure::HistoryTable table;
    EXPECT_EQ(HistoryReport(table, 0), "  \r\n" + heading + "  \r\n");
    // Rows the download did not reach print as lines of empty cells.
    table.fill(1, std::span(&kStored, 1));
    const std::string two = HistoryReport(table, 2);
    EXPECT_EQ(two, "  \r\n" + heading + "\r\n" + std::string(144, ' ') + "\r\n" + storedLine(2) +
                       "  \r\n");
    std::size_t lines = 0;
    const std::string many = HistoryReport(table, 300);
    for (std::size_t at = many.find("\r\n"); at != std::string::npos;
         at = many.find("\r\n", at + 1))
        ++lines;
    EXPECT_EQ(lines, 202u);  // blank, heading, rows 1..200 (the last ending the report)
}

}  // namespace
}  // namespace ck::output
