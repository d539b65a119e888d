// SPDX-License-Identifier: MIT
#include "sim/history_table.h"

#include "measure/history_rows.h"
#include "measure/measurement.h"
#include "sim/instrument.h"

namespace ck::sim {

std::vector<std::vector<std::string>> HistoryTable(std::size_t groups, uint64_t seed) {
    using namespace ck::measure;
    std::vector<std::vector<std::string>> t = {
        {"NO.", "A1电压", "A2电压", "A1A2相位", "A1A2定性相位", "B1电压", "B2电压", "B1B2相位",
         "B1B2定性相位", "C1电压", "C2电压", "C1C2相位", "C1C2定性相位", "A1B2相位", "A1B2定性相序",
         "B1C2相位", "B1C2定性相序", "C1A2相位", "C1A2定性相序"}};
    const std::vector<MeasurementGroup> history = MakeStoredHistory(groups, seed);
    // The cells exactly as the history table fills them.
    for (const HistoryRow& r : HistoryRows(0, history, static_cast<int>(history.size()))) {
        t.emplace_back(r.cells.begin(), r.cells.end());
    }
    return t;
}

}  // namespace ck::sim
