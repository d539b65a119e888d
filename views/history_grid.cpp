// SPDX-License-Identifier: MIT
#include "views/history_grid.h"

#include <QAbstractTableModel>
#include <QHeaderView>

#include "views/fonts.h"
#include "views/twips.h"

namespace ck::views {
namespace {

constexpr int kColWidth = 1200;  // twips
constexpr int kRowHeight = 300;  // twips

// Row 0 lives in the horizontal header, so it stays in view while the group rows scroll;
// the table's own rows are the group rows 1..200.
constexpr int kGroupRows = HistoryGrid::kRows - 1;

}  // namespace

// The table as the view sees it: read-only, centred cells, the group rows below the header.
class HistoryGrid::Model final : public QAbstractTableModel {
public:
    Model(const measure::HistoryTable& table, QObject* parent)
        : QAbstractTableModel(parent), table_(table) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : kGroupRows;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : kCols;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignCenter);
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return text(index.row() + 1, index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal) return {};
        if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignCenter);
        if (role != Qt::DisplayRole) return {};
        return text(0, section);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    QString text(int row, int col) const {
        const std::string_view t = table_.cell(row, col);
        return QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()));
    }
    void redraw() {
        beginResetModel();
        endResetModel();
    }
    void redrawRows(int firstTableRow, int lastTableRow) {
        emit dataChanged(index(firstTableRow, 0), index(lastTableRow, kCols - 1),
                         {Qt::DisplayRole});
    }

private:
    const measure::HistoryTable& table_;
};

HistoryGrid::HistoryGrid(const measure::HistoryTable& table, QWidget* parent)
    : QTableView(parent), model_(new Model(table, this)) {
    setObjectName(QStringLiteral("DataGrid"));
    setFont(SongFont(9));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the next control, as it leaves every other; the arrow keys
    // move between cells.
    setTabKeyNavigation(false);
    setAccessibleName(QStringLiteral("历史记录"));
    verticalHeader()->hide();  // no fixed column
    for (QHeaderView* h : {horizontalHeader(), verticalHeader()}) {
        h->setMinimumSectionSize(1);
        h->setSectionResizeMode(QHeaderView::Fixed);
    }
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setFixedHeight(px(kRowHeight));
    horizontalHeader()->setDefaultSectionSize(px(kColWidth));
    verticalHeader()->setDefaultSectionSize(px(kRowHeight));
    // Cells on the window colour, the area past the last cell dark grey, light grey rules,
    // and flat header cells in button face. The header has no padding: its longest texts
    // ("B1B2定性相位") need nearly the whole column at 9 points.
    setStyleSheet(QStringLiteral(
        "QTableView { background-color: rgb(128, 128, 128); gridline-color: rgb(192, 192, 192); }"
        "QTableView::item { background-color: palette(base); color: palette(text); }"
        "QTableView::item:selected { background-color: palette(highlight);"
        " color: palette(highlighted-text); }"
        "QHeaderView::section { background-color: palette(button); color: palette(button-text);"
        " padding: 0px; border: none; border-right: 1px solid rgb(192, 192, 192);"
        " border-bottom: 1px solid rgb(192, 192, 192); }"));
    // Last, so that the headers measure their sections once, in the grid's own font.
    setModel(model_);
}

void HistoryGrid::InitGrid() {
    setUpdatesEnabled(false);
    setGeometry(twipsRect(1000, 1440, 10900, 7075));
    model_->redraw();
    for (int c = 0; c < kCols; ++c) setColumnWidth(c, px(kColWidth));
    for (int r = 0; r < kGroupRows; ++r) setRowHeight(r, px(kRowHeight));
    setUpdatesEnabled(true);
}

void HistoryGrid::showRows(measure::RowSpan rows) {
    if (rows.count <= 0) return;
    model_->redrawRows(rows.first - 1, rows.first + rows.count - 2);
}

QString HistoryGrid::TextMatrix(int row, int col) const {
    if (col < 0 || col >= kCols || row < 0 || row >= kRows) return {};
    return row == 0 ? model_->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString()
                    : model_->data(model_->index(row - 1, col), Qt::DisplayRole).toString();
}

}  // namespace ck::views
