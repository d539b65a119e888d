// SPDX-License-Identifier: MIT
#pragma once
// The conclusion a phasing record states: whether the two supplies may be joined, from the
// verdicts of the three same-letter pairs. The cross pairs' sequence verdicts are carried
// beside it for the record and never change it.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "measure/measurement.h"

namespace ck::measure {

enum class Finding : uint8_t {
    InPhase,       // 相位一致: A1A2, B1B2 and C1C2 all 同相
    OutOfPhase,    // 相位不一致: at least one of them 异相
    Undetermined,  // 无法判定: none 异相, but at least one without a verdict
};

struct PhasingConclusion {
    Finding finding = Finding::Undetermined;
    std::vector<Pair> outOfPhase;  // same-letter pairs judged 异相, in pair order
    std::vector<Pair> unjudged;    // same-letter pairs without a verdict (------), in pair order
    // A1B2, B1C2, C1A2 as classified: beside the finding, never part of it.
    std::array<Verdict, 3> sequence{};
};

// From the verdicts of A1A2, B1B2, C1C2 and of A1B2, B1C2, C1A2. Any verdict other than 同相
// or 异相 on a same-letter pair counts as none, so only three 同相 make 相位一致.
PhasingConclusion Conclude(const std::array<Verdict, 3>& phase,
                           const std::array<Verdict, 3>& sequence);
// The same from a reading's angles, classified as the panel classifies them.
PhasingConclusion Conclude(const MeasurementGroup& g);

// "相位一致", "相位不一致", "无法判定".
std::string_view FindingText(Finding f);
// The pairs behind the finding in words: "A1A2、B1B2、C1C2 均同相", "B1B2、C1C2 异相",
// "C1C2 无定性结果（------）"; a finding of 相位不一致 names the pairs without a verdict too.
std::string ConclusionDetail(const PhasingConclusion& c);

}  // namespace ck::measure
