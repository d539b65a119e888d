// SPDX-License-Identifier: MIT
#pragma once
// The history table, DataGrid: 201 rows by 19 columns, row 0 the fixed header row. Its cells
// are the only store of the downloaded texts; the exports read them back with TextMatrix.
// Row 0 is the horizontal header, so it stays in view while the group rows scroll: the
// widget's own row r is grid row r + 1.

#include <QTableWidget>

#include <span>

#include "measure/measurement.h"

namespace ck::views {

class HistoryGrid final : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int kRows = 201;  // row 0 is the header row
    static constexpr int kCols = 19;

    explicit HistoryGrid(QWidget* parent = nullptr);

    // Lays the grid out, blanks every cell and writes the header row.
    void InitGrid();
    // Row firstGroupNumber + i + 1 from groups[i] (firstGroupNumber counts from 0); never
    // writes outside rows 1..200.
    void FillHist(int firstGroupNumber, std::span<const measure::MeasurementGroup> groups);
    // Text of cell (row, col) exactly as written, row 0 being the header row; empty outside
    // the grid.
    QString TextMatrix(int row, int col) const;
    int Rows() const { return kRows; }
    int Cols() const { return kCols; }

private:
    // Cell of group row tableRow + 1; reuses the cell's item once it has one.
    void setCell(int tableRow, int col, const QString& text);
};

}  // namespace ck::views
