// SPDX-License-Identifier: MIT
// Arbitrary texts (invalid UTF-8, control bytes, very long texts) into the column writer and the
// GBK encoder, and arbitrary readings and history tables into the live and history texts and
// reports. The history layouts are checked against a plain model of the column rules: every
// cell at its start column, a cell that runs past the next start column breaking the line, and
// the report holding rows 1..histcount only.

#include <fuzzer/FuzzedDataProvider.h>
#include <iconv.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "output/column_writer.h"
#include "output/reports.h"

namespace {

using namespace ck::output;

void check(bool ok) {
    if (!ok) std::abort();
}

bool hasLineBreakByte(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

std::string joinLines(const std::vector<std::string>& lines) {
    std::string s;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) s += "\r\n";
        s += lines[i];
    }
    return s;
}

std::optional<std::string> FromGbk(const std::string& gbk) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    check(cd != reinterpret_cast<iconv_t>(-1));
    std::string out(gbk.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(gbk.data());
    std::size_t inLeft = gbk.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// The table rows as the column rules lay them out, the current column starting at `column`:
// position(1 + 8c), then the cell, for every cell of every row.
std::string modelRows(const ck::measure::HistoryTable& table, int firstRow, int lastRow,
                      int column) {
    std::string out;
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c = 0; c < ck::measure::kHistoryCols; ++c) {
            const std::string_view text = table.cell(r, c);
            const int start = 1 + 8 * c;
            if (column > start) {
                out += "\r\n";
                column = 1;
            }
            out.append(static_cast<std::size_t>(start - column), ' ');
            out += text;
            column = start + TextWidth(text);
        }
    }
    return out;
}

// `t` repeated while it stays within `bytes` bytes.
std::string repeated(const std::string& t, std::size_t bytes) {
    std::string out;
    while (!t.empty() && out.size() + t.size() <= bytes) out += t;
    return out;
}

ck::measure::MeasurementGroup group(FuzzedDataProvider& in) {
    ck::measure::MeasurementGroup g;
    for (auto& a : g.pairAngles) {
        a = in.ConsumeBool() ? ck::measure::NoAngle : in.ConsumeIntegralInRange<int16_t>(0, 32767);
    }
    for (auto& on : g.indicators) on = in.ConsumeBool();
    for (auto& kv : g.voltages) kv = in.ConsumeIntegral<uint8_t>();
    return g;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<std::string> every;
    const std::size_t texts = in.ConsumeIntegralInRange<std::size_t>(1, 6);
    for (std::size_t i = 0; i < texts; ++i) {
        std::string t = in.ConsumeRandomLengthString(64);
        // Now and then a text far wider than a column, by repetition: the input stays small.
        if (in.ConsumeBool()) t = repeated(t, in.ConsumeIntegralInRange<std::size_t>(1, 160));
        every.push_back(std::move(t));
    }
    every.push_back(repeated(every[0], in.ConsumeIntegralInRange<std::size_t>(0, 10000)));
    const ck::measure::LiveReading reading(group(in), {}, 3);
    ck::measure::HistoryTable table;
    for (int fills = in.ConsumeIntegralInRange<int>(0, 8); fills > 0; --fills) {
        std::vector<ck::measure::MeasurementGroup> groups(
            in.ConsumeIntegralInRange<std::size_t>(0, 3));
        for (auto& g : groups) g = group(in);
        table.fill(in.ConsumeIntegralInRange<int>(-3, 255), groups);
    }
    const int histcount =
        in.PickValueInArray<int>({INT_MIN, -1, 0, 1, 2, 3, 199, 200, 201, 255, 256, 32767, INT_MAX,
                                  in.ConsumeIntegralInRange<int>(-300, 300)});
    bool noBreaks = true;
    for (const std::string& t : every) noBreaks &= !hasLineBreakByte(t);

    // GBK: what converts must convert back; plain ASCII passes through.
    for (const std::string& t : every) {
        const auto gbk = ToGbk(t);
        if (gbk) {
            check(FromGbk(*gbk) == t);
        }
        if (std::all_of(t.begin(), t.end(), [](char ch) { return (ch & 0x80) == 0; })) {
            check(gbk == t);
        }
    }

    // The writer's own rules, driven by the rest of the input.
    ColumnWriter w;
    for (int op = 0; op < 64 && in.remaining_bytes() > 0; ++op) {
        const int before = w.column();
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
            case 0: {
                const std::string& t =
                    every[in.ConsumeIntegralInRange<std::size_t>(0, every.size() - 1)];
                w.text(t);
                check(w.column() == before + TextWidth(t));
                break;
            }
            case 1: {
                const int n = in.ConsumeIntegralInRange<int>(-8, 300);
                w.spaces(n);
                check(w.column() == before + std::max(n, 0));
                break;
            }
            case 2: {
                const int n = in.ConsumeIntegralInRange<int>(-8, 300);
                w.position(n);
                check(w.column() == std::max(n, 1));
                break;
            }
            case 3:
                w.crlf();
                check(w.column() == 1);
                break;
        }
    }
    const std::string& all = w.str();
    const auto lines = w.lines();
    const bool endsInBreak = all.size() >= 2 && all.ends_with("\r\n");
    check(joinLines(lines) + (endsInBreak ? "\r\n" : "") == all);
    if (noBreaks) {
        const std::size_t lastBreak = all.rfind("\r\n");
        const std::string tail = lastBreak == std::string::npos ? all : all.substr(lastBreak + 2);
        check(w.column() == 1 + TextWidth(tail));
    }

    // Live texts: the heading and a line per panel row with its three texts, each ending in
    // CR LF.
    const std::string live = LiveText(reading);
    check(LiveReport(reading) == "     \r\n" + live);
    const auto liveLines = [&] {
        ColumnWriter reread;
        reread.text(live);
        return reread.lines();
    }();
    check(liveLines.size() == 7 && live.ends_with("\r\n"));
    for (int row = 0; row < ck::measure::kPanelRows; ++row) {
        using ck::measure::PanelColumn;
        const std::string& line = liveLines[static_cast<std::size_t>(row) + 1];
        std::size_t at = 0;
        for (const PanelColumn c :
             {PanelColumn::Voltage, PanelColumn::Phase, PanelColumn::Sequence}) {
            at = line.find(reading.text(row, c), at);
            check(at != std::string::npos);
        }
    }

    // History texts against the model; the headings come from an empty table.
    const ck::measure::HistoryTable empty;
    const std::string heading = HistoryText(empty).substr(0, HistoryText(empty).find("\r\n"));
    check(!hasLineBreakByte(heading) && heading.ends_with(std::string(10, ' ')));
    check(HistoryText(table) ==
          heading + modelRows(table, 1, ck::measure::kHistoryRows, 1 + TextWidth(heading)));

    const std::string emptyReport = HistoryReport(empty, 0);
    check(emptyReport.starts_with("  \r\n") && emptyReport.ends_with("  \r\n"));
    const std::string printHeading = emptyReport.substr(4, emptyReport.size() - 8);
    check(!hasLineBreakByte(printHeading));
    const int lastRow = std::clamp(histcount, 0, ck::measure::kHistoryRows);
    const std::string rows = modelRows(table, 1, lastRow, 1 + TextWidth(printHeading));
    check(HistoryReport(table, histcount) == "  \r\n" + printHeading + rows + "  \r\n");
    return 0;
}
