// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <map>

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

std::string designCaption(int label) { return label < 20 ? "-- kV" : "------"; }

TEST(LiveText, BeforeAnyReading) {
    const std::string want =
        "            电压               定性相位              定性相序\r\n"
        "     A1     -- kV               ------               ------\r\n"
        "     A2     -- kV               ------               ------\r\n"
        "     B1     -- kV               ------               ------\r\n"
        "     B2     -- kV               ------               ------\r\n"
        "     C1     -- kV               ------               ------\r\n"
        "     C2     -- kV               ------               ------\r\n";
    EXPECT_EQ(LiveText(designCaption), want);
    EXPECT_EQ(ToGbk(LiveText(designCaption))->find("\r\n"), 61u);  // line 1: 63 bytes
}

TEST(LiveText, AfterAReading) {
    const std::map<int, std::string> captions = {
        {11, "10 kV"},  {21, "005"},    {31, "120"},    {12, "11 kV"},  {22, "同相"},
        {32, "顺相序"}, {13, "35 kV"},  {23, "180"},    {33, "240"},    {14, "-- kV"},
        {24, "------"}, {34, "逆相序"}, {15, "36 kV"},  {25, "------"}, {35, "------"},
        {16, "1 kV"},   {26, "------"}, {36, "------"},
    };
    const std::string text = LiveText([&](int n) { return captions.at(n); });
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
    EXPECT_EQ(HistoryText([](int, int) { return std::string(); }), want);
}

// A row as the grid holds it for group n.
std::string cellText(int r, int c) {
    static const char* row[] = {"",       "10 kV", "--kV",   "005",    "同相",   "35 kV",  "11 kV",
                                "120",    "异相",  "--kV",   "36 kV",  "------", "------", "235",
                                "逆相序", "100",   "顺相序", "------", "------"};
    if (c == 0) return std::string(" ").append(std::to_string(r));
    return row[c];
}

TEST(HistoryText, FiveGroupsThenEmptyRows) {
    const std::string text = HistoryText([](int r, int c) -> std::optional<std::string> {
        return r <= 5 ? cellText(r, c) : std::string();
    });
    std::string line =
        " 3      10 kV   --kV    005     同相    35 kV   11 kV   120     异相    --kV"
        "    36 kV   ------  ------  235     逆相序  100     顺相序  ------  ------";
    EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos);
    const std::string tail = "\r\n" + std::string(144, ' ');
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);  // no final line break
    std::size_t breaks = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 1))
        ++breaks;
    EXPECT_EQ(breaks, 200u);
}

TEST(HistoryText, OverLongAndExactCells) {
    const std::string text = HistoryText([](int r, int c) -> std::optional<std::string> {
        if (r != 1) return std::string();
        if (c == 0) return std::string("0123456789");  // 10 columns: past column 9
        if (c == 1) return std::string("ABCDEFGH");    // exactly 8: the next cell follows at once
        if (c == 2) return std::string("x");
        return std::string();
    });
    const std::string want =
        "\r\n0123456789\r\n        ABCDEFGHx" + std::string(144 - 17, ' ') + "\r\n";
    EXPECT_EQ(text.substr(kFileHeading.size(), want.size()), want);
}

TEST(HistoryText, UnreadableCellDropsItsWholeRow) {
    const std::string text = HistoryText([](int r, int c) -> std::optional<std::string> {
        if (r == 2 && c == 5) return std::nullopt;
        return std::string();
    });
    std::size_t breaks = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 1))
        ++breaks;
    EXPECT_EQ(breaks, 199u);
}

TEST(Reports, LiveReportIsABlankLineThenTheLiveText) {
    EXPECT_EQ(LiveReport(designCaption), "     \r\n" + LiveText(designCaption));
}

TEST(Reports, HistoryReport) {
    const std::string heading =
        " NO. A1电压 A2电压 A1A2相位 A1A2定性 B1电压 B2电压 B1B2相位 B1B2定性 C1电压 C2电压"
        " C1C2相位 C1C2定性 A1B2相位 A1B2相序 B1C2相位 B1C2相序 C1A2相位 C1A2相序          ";
    auto cells = [](int r, int c) -> std::optional<std::string> {
        if (r > 200) return std::nullopt;
        return c == 0 ? std::string(" ").append(std::to_string(r)) : std::string();
    };
    EXPECT_EQ(HistoryReport(cells, 0), "  \r\n" + heading + "  \r\n");
    const std::string two = HistoryReport(cells, 2);
    EXPECT_EQ(two, "  \r\n" + heading + "\r\n 1" + std::string(144 - 2, ' ') + "\r\n 2" +
                       std::string(144 - 2, ' ') + "  \r\n");
    std::size_t lines = 0;
    const std::string many = HistoryReport(cells, 300);
    for (std::size_t at = many.find("\r\n"); at != std::string::npos;
         at = many.find("\r\n", at + 1))
        ++lines;
    EXPECT_EQ(lines, 202u);  // blank, heading, rows 1..200 (the last ending the report)
}

}  // namespace
}  // namespace ck::output
