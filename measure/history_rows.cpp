#include "measure/history_rows.h"

#include "measure/measurement.h"

namespace ck::measure {
namespace {

struct VoltageCol {
    std::size_t col;
    Input input;
};
constexpr VoltageCol kVoltageCols[] = {{1, Input::A1}, {2, Input::A2}, {5, Input::B1},
                                       {6, Input::B2}, {9, Input::C1}, {10, Input::C2}};

// Each pair's angle column; its verdict goes in the column to its right.
struct PairCol {
    std::size_t col;
    Pair pair;
    bool sequence;  // cross pair: phase-sequence verdict
};
constexpr PairCol kPairCols[] = {{3, Pair::A1A2, false},  {7, Pair::B1B2, false},
                                 {11, Pair::C1C2, false}, {13, Pair::A1B2, true},
                                 {15, Pair::B1C2, true},  {17, Pair::C1A2, true}};

}  // namespace

std::vector<HistoryRow> HistoryRows(std::span<const uint8_t> frame, uint8_t start, uint8_t count,
                                    int lastRow) {
    std::vector<HistoryRow> rows;
    for (int i = 0; i < count; ++i) {
        const int n = start + i + 1;
        if (n > lastRow) break;
        const auto group = DecodeGroup(
            frame, kFirstGroupIndex + kGroupSize * static_cast<std::size_t>(i), Source::Stored);
        if (!group) break;

        HistoryRow& r = rows.emplace_back();
        r.row = n;
        r.cells[0] = FormatGroupNumber(n);
        for (const VoltageCol& v : kVoltageCols) {
            r.cells[v.col] = FormatStoredVoltage(group->voltages[idx(v.input)]);
        }
        for (const PairCol& p : kPairCols) {
            const int16_t angle = group->pairAngles[idx(p.pair)];
            r.cells[p.col] = FormatAngle(angle);
            const auto a = static_cast<float>(angle);
            r.cells[p.col + 1] = p.sequence ? ClassifySequence(a) : ClassifyPhase(a);
        }
    }
    return rows;
}

}  // namespace ck::measure
