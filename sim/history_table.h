// SPDX-License-Identifier: MIT
#pragma once
// The history table as the window shows it once the simulator's stored groups are downloaded:
// the heading row, then one row of 19 texts per group. For benchmarks and fuzzing seeds that
// need a realistic full table without a window.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ck::sim {

std::vector<std::vector<std::string>> HistoryTable(std::size_t groups, uint64_t seed);

}  // namespace ck::sim
