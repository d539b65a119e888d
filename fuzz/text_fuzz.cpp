// SPDX-License-Identifier: MIT
// Arbitrary cell and caption texts (invalid UTF-8, control bytes, very long texts, unreadable
// cells) into the column writer, the GBK encoder, and the live and history texts and reports.
// The history layouts are checked against a plain model of the column rules: every cell at
// its start column, a cell that runs past the next start column breaking the line, an
// unreadable cell dropping its whole row, and the report holding rows 1..histcount only.

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
// position(1 + 8c), then the cell, for every cell of every readable row.
std::string modelRows(const CellSource& cell, int firstRow, int lastRow, int column) {
    std::string out;
    for (int r = firstRow; r <= lastRow; ++r) {
        std::string line;
        int col = column;
        bool readable = true;
        for (int c = 0; c < kHistCols && readable; ++c) {
            const auto text = cell(r, c);
            if (!text) {
                readable = false;
                break;
            }
            const int start = 1 + 8 * c;
            if (col > start) {
                line += "\r\n";
                col = 1;
            }
            line.append(static_cast<std::size_t>(start - col), ' ');
            line += *text;
            col = start + TextWidth(*text);
        }
        if (!readable) continue;
        out += line;
        column = col;
    }
    return out;
}

// `t` repeated while it stays within `bytes` bytes.
std::string repeated(const std::string& t, std::size_t bytes) {
    std::string out;
    while (!t.empty() && out.size() + t.size() <= bytes) out += t;
    return out;
}

struct Table {
    std::vector<std::string> pool;
    int holeEvery = 0;  // 0: every cell readable
    int shift = 0;

    std::optional<std::string> operator()(int r, int c) const {
        const int k = r * kHistCols + c + shift;
        if (holeEvery > 0 && k % holeEvery == 0) return std::nullopt;
        return pool[static_cast<std::size_t>(k) % pool.size()];
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Table table;
    const std::size_t texts = in.ConsumeIntegralInRange<std::size_t>(1, 6);
    for (std::size_t i = 0; i < texts; ++i) {
        std::string t = in.ConsumeRandomLengthString(64);
        // Now and then a text far wider than a column, by repetition: the input stays small.
        if (in.ConsumeBool()) t = repeated(t, in.ConsumeIntegralInRange<std::size_t>(1, 160));
        table.pool.push_back(std::move(t));
    }
    // One very long text for the writer, the encoder and the live texts; a table full of it
    // would only make each run slow.
    const std::string huge =
        repeated(table.pool[0], in.ConsumeIntegralInRange<std::size_t>(0, 10000));
    std::vector<std::string> every = table.pool;
    every.push_back(huge);
    table.holeEvery = in.ConsumeIntegralInRange<int>(0, 400);
    table.shift = in.ConsumeIntegralInRange<int>(0, 400);
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
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
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
            case 4: {
                const auto m = w.mark();
                w.text("x");
                w.rollback(m);
                check(w.column() == before);
                break;
            }
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

    // Live texts: the heading and six input lines, each ending in CR LF.
    const CaptionSource caption = [&](int label) {
        if (label == 36) return huge;
        return table.pool[static_cast<std::size_t>(label) % table.pool.size()];
    };
    const std::string live = LiveText(caption);
    check(LiveReport(caption) == "     \r\n" + live);
    if (noBreaks) {
        ColumnWriter reread;
        reread.text(live);
        check(reread.lines().size() == 7 && live.ends_with("\r\n"));
        for (int label : {11, 21, 31, 16, 26, 36}) {
            check(live.find(caption(label)) != std::string::npos);
        }
    }

    // History texts against the model; the headings come from tables with no readable row.
    const CellSource cell = std::cref(table);
    const CellSource none = [](int, int) { return std::optional<std::string>(); };
    const std::string heading = HistoryText(none);
    check(!hasLineBreakByte(heading) && heading.ends_with(std::string(10, ' ')));
    check(HistoryText(cell) == heading + modelRows(cell, 1, kHistRows, 1 + TextWidth(heading)));

    const std::string emptyReport = HistoryReport(none, histcount);
    check(emptyReport.starts_with("  \r\n") && emptyReport.ends_with("  \r\n"));
    const std::string printHeading = emptyReport.substr(4, emptyReport.size() - 8);
    check(!hasLineBreakByte(printHeading));
    const int lastRow = std::clamp(histcount, 0, kHistRows);
    const std::string rows = modelRows(cell, 1, lastRow, 1 + TextWidth(printHeading));
    check(HistoryReport(cell, histcount) == "  \r\n" + printHeading + rows + "  \r\n");
    return 0;
}
