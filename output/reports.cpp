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

// The printed report's own titles, shorter than the table's headings.
constexpr std::array<std::string_view, measure::kHistoryCols> kPrintHeads = {
    "NO.",      "A1电压",   "A2电压",   "A1A2相位", "A1A2定性", "B1电压",   "B2电压",
    "B1B2相位", "B1B2定性", "C1电压",   "C2电压",   "C1C2相位", "C1C2定性", "A1B2相位",
    "A1B2相序", "B1C2相位", "B1C2相序", "C1A2相位", "C1A2相序"};

void liveLines(ColumnWriter& w, const measure::LiveReading& live) {
    w.spaces(12);
    w.text("电压");
    w.spaces(15);
    w.text("定性相位");
    w.spaces(14);
    w.text("定性相序");
    w.crlf();
    for (int row = 0; row < measure::kPanelRows; ++row) {
        using measure::PanelColumn;
        w.spaces(5);
        w.text(measure::InputName(measure::kPanelInputs[static_cast<std::size_t>(row)]));
        w.spaces(5);
        w.text(live.text(row, PanelColumn::Voltage));
        w.spaces(15);
        w.text(live.text(row, PanelColumn::Phase));
        w.spaces(15);
        w.text(live.text(row, PanelColumn::Sequence));
        w.crlf();
    }
}

void heading(ColumnWriter& w, const std::array<std::string_view, measure::kHistoryCols>& heads,
             int gap) {
    w.spaces(1);
    w.text(heads[0]);
    for (std::size_t k = 1; k < heads.size(); ++k) {
        w.spaces(gap);
        w.text(heads[k]);
    }
    w.spaces(kHeadingTail);
}

// One table row, each cell at its fixed column.
void row(ColumnWriter& w, const measure::HistoryTable& table, int r) {
    for (int c = 0; c < measure::kHistoryCols; ++c) {
        w.position(kFirstColumn + c * kColumnStep);
        w.text(table.cell(r, c));
    }
}

}  // namespace

std::string LiveText(const measure::LiveReading& live) {
    ColumnWriter w;
    liveLines(w, live);
    return w.str();
}

std::string HistoryText(const measure::HistoryTable& table) {
    ColumnWriter w;
    heading(w, measure::kHistoryHeadings, 2);
    for (int r = 1; r <= measure::kHistoryRows; ++r) row(w, table, r);
    return w.str();
}

std::string LiveReport(const measure::LiveReading& live) {
    ColumnWriter w;
    w.text("     ");
    w.crlf();
    liveLines(w, live);
    return w.str();
}

std::string HistoryReport(const measure::HistoryTable& table, int histcount) {
    ColumnWriter w;
    w.text("  ");
    w.crlf();
    heading(w, kPrintHeads, 1);
    for (int r = 1; r <= histcount && r <= measure::kHistoryRows; ++r) row(w, table, r);
    w.text("  ");
    w.crlf();
    return w.str();
}

}  // namespace ck::output
