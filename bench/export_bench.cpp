// SPDX-License-Identifier: MIT
// How long the history exports take for a full table: composing and encoding the text file,
// building the spreadsheet, and each written to disk whole (temporary file, then rename).

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include "measure/history_table.h"
#include "output/column_writer.h"
#include "output/reports.h"
#include "output/xls_writer.h"
#include "platform/qt/qt_output.h"
#include "sim/history_table.h"
#include "sim/instrument.h"

namespace {

// A full table as the grid holds it after downloading 200 groups.
const std::vector<std::vector<std::string>>& fullTable() {
    static const auto table = ck::sim::HistoryTable(200, 5);
    return table;
}

// The same table as the window holds it.
const ck::measure::HistoryTable& fullHistory() {
    static const auto table = [] {
        ck::measure::HistoryTable t;
        t.fill(0, ck::sim::MakeStoredHistory(200, 5));
        return t;
    }();
    return table;
}

std::vector<uint8_t> textFile() {
    const auto gbk = ck::output::ToGbk(ck::output::HistoryText(fullHistory()));
    return {gbk->begin(), gbk->end()};
}

void BM_HistoryText(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(textFile());
}
BENCHMARK(BM_HistoryText)->Unit(benchmark::kMillisecond);

void BM_HistorySpreadsheet(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ck::output::WriteXls(fullTable()));
}
BENCHMARK(BM_HistorySpreadsheet)->Unit(benchmark::kMillisecond);

void BM_HistoryTextToDisk(benchmark::State& state) {
    QTemporaryDir dir;
    ck::platform::QtFileSystem fs;
    const std::string path = QDir(dir.path()).filePath("h.txt").toStdString();
    for (auto _ : state) benchmark::DoNotOptimize(fs.writeFile(path, textFile()));
}
BENCHMARK(BM_HistoryTextToDisk)->Unit(benchmark::kMillisecond);

void BM_HistorySpreadsheetToDisk(benchmark::State& state) {
    QTemporaryDir dir;
    ck::platform::QtFileSystem fs;
    const std::string path = QDir(dir.path()).filePath("h.xls").toStdString();
    for (auto _ : state)
        benchmark::DoNotOptimize(fs.writeFile(path, ck::output::WriteXls(fullTable())));
}
BENCHMARK(BM_HistorySpreadsheetToDisk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
