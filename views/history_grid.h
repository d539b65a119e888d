// SPDX-License-Identifier: MIT
#pragma once
// The history table, DataGrid: draws the history table the window holds, 201 rows by 19
// columns, row 0 the fixed header row. Row 0 is the horizontal header, so it stays in view
// while the group rows scroll: the widget's own row r is grid row r + 1.

#include <QTableView>

#include "measure/history_table.h"

namespace ck::views {

class HistoryGrid final : public QTableView {
    Q_OBJECT
public:
    static constexpr int kRows = measure::kHistoryRows + 1;  // row 0 is the header row
    static constexpr int kCols = measure::kHistoryCols;

    explicit HistoryGrid(const measure::HistoryTable& table, QWidget* parent = nullptr);

    // Lays the grid out and draws the whole table anew (after it was cleared).
    void InitGrid();
    // Draws the rows the table has just had written.
    void showRows(measure::RowSpan rows);
    // Text of cell (row, col) as the grid shows it, row 0 being the header row; empty outside
    // the grid.
    QString TextMatrix(int row, int col) const;
    int Rows() const { return kRows; }
    int Cols() const { return kCols; }

private:
    class Model;
    Model* model_;
};

}  // namespace ck::views
