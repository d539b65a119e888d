// SPDX-License-Identifier: MIT
#include "views/history_grid.h"

#include <QHeaderView>

#include "measure/history_rows.h"
#include "views/fonts.h"
#include "views/twips.h"

namespace ck::views {
namespace {

constexpr int kColWidth = 1200;  // twips
constexpr int kRowHeight = 300;  // twips

// Row 0 lives in the horizontal header, so it stays in view while the group rows scroll;
// the table's own rows are the group rows 1..200.
constexpr int kGroupRows = HistoryGrid::kRows - 1;

constexpr const char* kHeaders[HistoryGrid::kCols] = {
    "NO.",      "A1电压",       "A2电压",       "A1A2相位",     "A1A2定性相位",
    "B1电压",   "B2电压",       "B1B2相位",     "B1B2定性相位", "C1电压",
    "C2电压",   "C1C2相位",     "C1C2定性相位", "A1B2相位",     "A1B2定性相序",
    "B1C2相位", "B1C2定性相序", "C1A2相位",     "C1A2定性相序",
};
static_assert(HistoryGrid::kCols == measure::kHistoryCols);

// A read-only, centred cell. Alignment and flags come from the type rather than being stored
// per cell.
class Cell final : public QTableWidgetItem {
public:
    explicit Cell(const QString& text) : QTableWidgetItem(text, UserType) {
        setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
    QVariant data(int role) const override {
        if (role == Qt::TextAlignmentRole) return static_cast<int>(Qt::AlignCenter);
        return QTableWidgetItem::data(role);
    }
    QTableWidgetItem* clone() const override { return new Cell(*this); }
};

}  // namespace

HistoryGrid::HistoryGrid(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("DataGrid"));
    setFont(SongFont(9));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the next control, as it leaves every other; the arrow keys
    // move between cells.
    setTabKeyNavigation(false);
    setAccessibleName(QStringLiteral("历史记录"));
    setItemPrototype(new Cell(QString()));
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
}

void HistoryGrid::InitGrid() {
    setUpdatesEnabled(false);
    setGeometry(twipsRect(1000, 1440, 10900, 7075));
    setRowCount(kGroupRows);
    setColumnCount(kCols);
    for (int c = 0; c < kCols; ++c) setColumnWidth(c, px(kColWidth));
    for (int r = 0; r < kGroupRows; ++r) setRowHeight(r, px(kRowHeight));
    clearContents();
    for (int c = 0; c < kCols; ++c) {
        QTableWidgetItem* h = horizontalHeaderItem(c);
        if (!h) {
            h = new QTableWidgetItem;
            setHorizontalHeaderItem(c, h);
        }
        h->setText(QString::fromUtf8(kHeaders[c]));
    }
    setUpdatesEnabled(true);
}

void HistoryGrid::FillHist(int firstGroupNumber,
                           std::span<const measure::MeasurementGroup> groups) {
    // Per-cell change signals would repaint the view cell by cell, at three times the cost of
    // the fill itself, and nothing else listens for them: one repaint at the end instead.
    const QSignalBlocker quiet(model());
    for (const measure::HistoryRow& r :
         measure::HistoryRows(firstGroupNumber, groups, kGroupRows)) {
        for (int c = 0; c < kCols; ++c) {
            setCell(r.row - 1, c, QString::fromStdString(r.cells[static_cast<std::size_t>(c)]));
        }
    }
    viewport()->update();
}

QString HistoryGrid::TextMatrix(int row, int col) const {
    if (col < 0 || col >= kCols || row < 0 || row >= kRows) return {};
    const QTableWidgetItem* it = row == 0 ? horizontalHeaderItem(col) : item(row - 1, col);
    return it ? it->text() : QString();
}

void HistoryGrid::setCell(int tableRow, int col, const QString& text) {
    if (QTableWidgetItem* it = item(tableRow, col)) {
        it->setText(text);
    } else {
        setItem(tableRow, col, new Cell(text));
    }
}

}  // namespace ck::views
