// SPDX-License-Identifier: MIT
#include "sim/history_table.h"

#include "measure/measurement.h"
#include "sim/instrument.h"

namespace ck::sim {

std::vector<std::vector<std::string>> HistoryTable(std::size_t groups, uint64_t seed) {
    using namespace ck::measure;
    std::vector<std::vector<std::string>> t = {
        {"NO.", "A1电压", "A2电压", "A1A2相位", "A1A2定性相位", "B1电压", "B2电压", "B1B2相位",
         "B1B2定性相位", "C1电压", "C2电压", "C1C2相位", "C1C2定性相位", "A1B2相位", "A1B2定性相序",
         "B1C2相位", "B1C2定性相序", "C1A2相位", "C1A2定性相序"}};
    int n = 0;
    for (const MeasurementGroup& g : MakeStoredHistory(groups, seed)) {
        const auto v = [&](Input i) { return FormatStoredVoltage(g.voltages[idx(i)]); };
        const auto a = [&](Pair p) { return FormatAngle(g.pairAngles[idx(p)]); };
        const auto ph = [&](Pair p) {
            return std::string(ClassifyPhase(static_cast<float>(g.pairAngles[idx(p)])));
        };
        const auto sq = [&](Pair p) {
            return std::string(ClassifySequence(static_cast<float>(g.pairAngles[idx(p)])));
        };
        t.push_back({FormatGroupNumber(++n), v(Input::A1), v(Input::A2), a(Pair::A1A2),
                     ph(Pair::A1A2), v(Input::B1), v(Input::B2), a(Pair::B1B2), ph(Pair::B1B2),
                     v(Input::C1), v(Input::C2), a(Pair::C1C2), ph(Pair::C1C2), a(Pair::A1B2),
                     sq(Pair::A1B2), a(Pair::B1C2), sq(Pair::B1C2), a(Pair::C1A2), sq(Pair::C1A2)});
    }
    return t;
}

}  // namespace ck::sim
