// SPDX-License-Identifier: MIT
// Arbitrary history replies, first group numbers and group counts into the decoding the link
// does and the history table's fill. Whatever comes: rows only within 1..200,
// one per group from the reply's first on, exactly the groups that decode, stopping at the
// first that does not, and in every cell the text for that group's bytes, read here from the
// byte layout on its own.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/frames.h"
#include "link/link_state.h"
#include "measure/history_table.h"

namespace {

constexpr int kTableRows = ck::measure::kHistoryRows;
constexpr std::size_t kFrameSize = ck::link::kRxFrameSize;  // the reply buffer the link hands over

void check(bool ok) {
    if (!ok) std::abort();
}

std::string digits(int v, std::size_t width) {
    std::string s = std::to_string(v);
    if (s.size() < width) s.insert(0, width - s.size(), '0');
    return s;
}

std::string voltageText(uint8_t kv) { return kv == 0 ? "--kV" : std::to_string(kv) + " kV"; }

std::string angleText(int a) { return a == 360 ? "------" : digits(a, 3); }

std::string phaseText(int a) {
    if ((a < 20) || (a >= 340 && a < 360)) return "同相";
    if ((a >= 100 && a < 140) || (a >= 220 && a < 260)) return "异相";
    return "------";
}

std::string sequenceText(int a) {
    if (a >= 100 && a < 140) return "顺相序";
    if (a >= 220 && a < 260) return "逆相序";
    return "------";
}

// The row of group number n whose 24 bytes start at g, or nothing when an angle's high byte
// has its top bit set. Voltage bytes go, in their order, to columns 1, 2, 5, 6, 9, 10; angle
// words to columns 3, 7, 11, 13, 15, 17, the first three with the phase verdict beside them,
// the cross pairs with the sequence verdict.
bool expectedRow(const uint8_t* g, int n, std::array<std::string, 19>& cells) {
    constexpr std::size_t kVoltCols[6] = {1, 2, 5, 6, 9, 10};
    constexpr std::size_t kAngleCols[6] = {3, 7, 11, 13, 15, 17};
    cells[0] = " " + std::to_string(n);
    for (std::size_t k = 0; k < 6; ++k) {
        if (g[2 * k] >= 0x80) return false;
        const int a = g[2 * k] * 256 + g[2 * k + 1];
        cells[kAngleCols[k]] = angleText(a);
        cells[kAngleCols[k] + 1] = k < 3 ? phaseText(a) : sequenceText(a);
        cells[kVoltCols[k]] = voltageText(g[18 + k]);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const uint8_t start = data[0];
    const uint8_t count = data[1];
    // Byte 2 chooses the buffer: the link's whole reply buffer with the rest of the input in front
    // (zeros after it, as a frame that was never written), or exactly the rest of the input, so
    // that groups reaching past a shorter buffer are tried too.
    std::vector<uint8_t> frame(data + 3, data + size);
    if ((data[2] & 1) == 0) frame.resize(kFrameSize, 0);

    ck::measure::HistoryTable table;
    const ck::measure::RowSpan written = table.fill(start, ck::link::HistoryGroups(frame, count));

    // The groups that should show: from group 0 on, while within the count, the table, the
    // buffer, and decodable.
    int want = 0;
    std::array<std::string, 19> cells;
    for (int i = 0; i < count; ++i) {
        const int n = start + i + 1;
        const std::size_t at = 5 + 24 * static_cast<std::size_t>(i);
        if (n > kTableRows || at + 24 > frame.size()) break;
        if (!expectedRow(frame.data() + at, n, cells)) break;
        for (int c = 0; c < 19; ++c) check(table.cell(n, c) == cells[static_cast<std::size_t>(c)]);
        check(table.group(n) != nullptr);
        ++want;
    }
    check(written.count == want);
    check(want == 0 || written.first == start + 1);
    // Nothing else in the table.
    for (int r = 1; r <= kTableRows; ++r) {
        const bool filled = r >= written.first && r < written.first + written.count;
        check((table.group(r) != nullptr) == filled);
        if (!filled) check(table.cell(r, 0).empty());
    }
    return 0;
}
