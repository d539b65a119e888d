#pragma once
// The rows of the history table that one history reply fills, as texts: which rows and what
// each of their cells says. Pure, so the same code that fills the grid can be tested and
// fuzzed without a widget.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ck::measure {

inline constexpr std::size_t kHistoryCols = 19;
// Group g of a reply starts at this index plus 24 g.
inline constexpr std::size_t kFirstGroupIndex = 5;

struct HistoryRow {
    int row = 0;  // the group number, which is also the table row (from 1)
    // Group number, voltages (columns 1, 2, 5, 6, 9, 10 in stored order), angles (3, 7, 11,
    // 13, 15, 17) and the verdict of each angle in the column to its right.
    std::array<std::string, kHistoryCols> cells;
};

// Group i of `frame` is group number start + i + 1, for i from 0 to count - 1. Stops at the
// first group that fails to decode (nothing of it is shown) and at the first whose number is
// past `lastRow`; the number is not wrapped to 8 bits, so group 257 never lands on row 1.
std::vector<HistoryRow> HistoryRows(std::span<const uint8_t> frame, uint8_t start, uint8_t count,
                                    int lastRow);

}  // namespace ck::measure
