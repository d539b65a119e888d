// SPDX-License-Identifier: MIT
#include "sim/history_table.h"

#include <algorithm>

#include "measure/history_table.h"
#include "measure/measurement.h"
#include "sim/instrument.h"

namespace ck::sim {

std::vector<std::vector<std::string>> HistoryTable(std::size_t groups, uint64_t seed) {
    // The cells exactly as the history table holds them once the groups are downloaded.
    measure::HistoryTable table;
    table.fill(0, MakeStoredHistory(groups, seed));
    const int rows = static_cast<int>(std::min<std::size_t>(groups, measure::kHistoryRows));
    std::vector<std::vector<std::string>> t;
    for (int r = 0; r <= rows; ++r) {
        std::vector<std::string>& row = t.emplace_back();
        for (int c = 0; c < measure::kHistoryCols; ++c) row.emplace_back(table.cell(r, c));
    }
    return t;
}

}  // namespace ck::sim
