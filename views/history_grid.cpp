#include "views/history_grid.h"

#include <QHeaderView>

#include <string_view>

#include "measure/measurement.h"
#include "views/fonts.h"
#include "views/twips.h"

namespace ck::views {
namespace {

using measure::Input;
using measure::Pair;

constexpr std::size_t kFirstGroup = 5;  // group g of a reply starts at 5 + 24 g
constexpr int kColWidth = 1200;         // twips
constexpr int kRowHeight = 300;         // twips

// Row 0 lives in the horizontal header, so it stays in view while the group rows scroll;
// the table's own rows are the group rows 1..200.
constexpr int kGroupRows = HistoryGrid::kRows - 1;

constexpr const char* kHeaders[HistoryGrid::kCols] = {
    "NO.",      "A1电压",       "A2电压",       "A1A2相位",     "A1A2定性相位",
    "B1电压",   "B2电压",       "B1B2相位",     "B1B2定性相位", "C1电压",
    "C2电压",   "C1C2相位",     "C1C2定性相位", "A1B2相位",     "A1B2定性相序",
    "B1C2相位", "B1C2定性相序", "C1A2相位",     "C1A2定性相序",
};

// Voltage columns in stored order: A1, A2, B1, B2, C1, C2.
struct VoltageCol {
    int col;
    Input input;
};
constexpr VoltageCol kVoltageCols[] = {{1, Input::A1}, {2, Input::A2}, {5, Input::B1},
                                       {6, Input::B2}, {9, Input::C1}, {10, Input::C2}};

// Each pair's angle column, with its verdict in the column to its right.
struct PairCol {
    int col;
    Pair pair;
    bool sequence;  // cross pair: phase-sequence verdict
};
constexpr PairCol kPairCols[] = {{3, Pair::A1A2, false},  {7, Pair::B1B2, false},
                                 {11, Pair::C1C2, false}, {13, Pair::A1B2, true},
                                 {15, Pair::B1C2, true},  {17, Pair::C1A2, true}};

QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

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

void HistoryGrid::FillHist(const link::RxFrame& rxframe, uint8_t start, uint8_t count) {
    // Per-cell change signals would repaint the view cell by cell, at three times the cost of
    // the fill itself, and nothing else listens for them: one repaint at the end instead.
    const QSignalBlocker quiet(model());
    for (int i = 0; i < count; ++i) {
        // The group number is not wrapped to 8 bits: group 257 must not land on row 1.
        const int n = start + i + 1;
        if (n > kGroupRows) break;
        const auto group = measure::DecodeGroup(
            rxframe, kFirstGroup + measure::kGroupSize * static_cast<std::size_t>(i),
            measure::Source::Stored);
        if (!group) break;

        const int row = n - 1;
        setCell(row, 0, QString::fromStdString(measure::FormatGroupNumber(n)));
        for (const VoltageCol& v : kVoltageCols) {
            setCell(row, v.col,
                    QString::fromStdString(
                        measure::FormatStoredVoltage(group->voltages[measure::idx(v.input)])));
        }
        for (const PairCol& p : kPairCols) {
            setCell(row, p.col,
                    QString::fromStdString(
                        measure::FormatAngle(group->pairAngles[measure::idx(p.pair)])));
        }
        for (const PairCol& p : kPairCols) {
            const auto a = static_cast<float>(group->pairAngles[measure::idx(p.pair)]);
            setCell(
                row, p.col + 1,
                fromUtf8(p.sequence ? measure::ClassifySequence(a) : measure::ClassifyPhase(a)));
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
