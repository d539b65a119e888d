// SPDX-License-Identifier: MIT
#include "output/reports.h"

#include <array>
#include <string_view>

#include "output/column_writer.h"

namespace ck::output {
namespace {

constexpr int kColumnStep = 8;
constexpr int kFirstColumn = 1;
constexpr int kHeadingTail = 10;

constexpr std::array<std::string_view, kHistCols> kFileHeads = {
    "NO.",      "A1电压",       "A2电压",       "A1A2相位",     "A1A2定性相位",
    "B1电压",   "B2电压",       "B1B2相位",     "B1B2定性相位", "C1电压",
    "C2电压",   "C1C2相位",     "C1C2定性相位", "A1B2相位",     "A1B2定性相序",
    "B1C2相位", "B1C2定性相序", "C1A2相位",     "C1A2定性相序"};

constexpr std::array<std::string_view, kHistCols> kPrintHeads = {
    "NO.",      "A1电压",   "A2电压",   "A1A2相位", "A1A2定性", "B1电压",   "B2电压",
    "B1B2相位", "B1B2定性", "C1电压",   "C2电压",   "C1C2相位", "C1C2定性", "A1B2相位",
    "A1B2相序", "B1C2相位", "B1C2相序", "C1A2相位", "C1A2相序"};

// Each input line: its name and the three labels it shows (voltage, then the pair's angle or
// verdict in the two phase columns).
struct InputLine {
    std::string_view name;
    int labels[3];
};
constexpr InputLine kInputLines[] = {
    {"A1", {11, 21, 31}}, {"A2", {12, 22, 32}}, {"B1", {13, 23, 33}},
    {"B2", {14, 24, 34}}, {"C1", {15, 25, 35}}, {"C2", {16, 26, 36}},
};

void liveLines(ColumnWriter& w, const CaptionSource& caption) {
    w.spaces(12);
    w.text("电压");
    w.spaces(15);
    w.text("定性相位");
    w.spaces(14);
    w.text("定性相序");
    w.crlf();
    for (const InputLine& line : kInputLines) {
        w.spaces(5);
        w.text(line.name);
        w.spaces(5);
        w.text(caption(line.labels[0]));
        w.spaces(15);
        w.text(caption(line.labels[1]));
        w.spaces(15);
        w.text(caption(line.labels[2]));
        w.crlf();
    }
}

void heading(ColumnWriter& w, const std::array<std::string_view, kHistCols>& heads, int gap) {
    w.spaces(1);
    w.text(heads[0]);
    for (std::size_t k = 1; k < heads.size(); ++k) {
        w.spaces(gap);
        w.text(heads[k]);
    }
    w.spaces(kHeadingTail);
}

// One table row on its fixed columns; a row with a cell that cannot be read is left out whole.
void row(ColumnWriter& w, const CellSource& cell, int r) {
    const ColumnWriter::Mark start = w.mark();
    for (int c = 0; c < kHistCols; ++c) {
        const auto text = cell(r, c);
        if (!text) {
            w.rollback(start);
            return;
        }
        w.position(kFirstColumn + c * kColumnStep);
        w.text(*text);
    }
}

}  // namespace

std::string LiveText(const CaptionSource& caption) {
    ColumnWriter w;
    liveLines(w, caption);
    return w.str();
}

std::string HistoryText(const CellSource& cell) {
    ColumnWriter w;
    heading(w, kFileHeads, 2);
    for (int r = 1; r <= kHistRows; ++r) row(w, cell, r);
    return w.str();
}

std::string LiveReport(const CaptionSource& caption) {
    ColumnWriter w;
    w.text("     ");
    w.crlf();
    liveLines(w, caption);
    return w.str();
}

std::string HistoryReport(const CellSource& cell, int histcount) {
    ColumnWriter w;
    w.text("  ");
    w.crlf();
    heading(w, kPrintHeads, 1);
    for (int r = 1; r <= histcount && r <= kHistRows; ++r) row(w, cell, r);
    w.text("  ");
    w.crlf();
    return w.str();
}

}  // namespace ck::output
