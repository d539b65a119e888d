// How long the history exports take for a full table: composing and encoding the text file,
// building the spreadsheet, and each written to disk whole (temporary file, then rename).

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include "measure/measurement.h"
#include "output/column_writer.h"
#include "output/reports.h"
#include "output/xls_writer.h"
#include "platform/qt/qt_output.h"
#include "sim/instrument.h"

namespace {

// A full table as the grid holds it after downloading 200 groups.
const std::vector<std::vector<std::string>>& fullTable() {
    static const auto table = [] {
        using namespace ck::measure;
        const std::vector<std::string> heads = {
            "NO.", "A1电压", "A2电压", "A1A2相位", "A1A2定性相位", "B1电压", "B2电压",
            "B1B2相位", "B1B2定性相位", "C1电压", "C2电压", "C1C2相位", "C1C2定性相位",
            "A1B2相位", "A1B2定性相序", "B1C2相位", "B1C2定性相序", "C1A2相位", "C1A2定性相序"};
        std::vector<std::vector<std::string>> t = {heads};
        int n = 0;
        for (const MeasurementGroup& g : ck::sim::MakeStoredHistory(200, 5)) {
            const auto v = [&](Input i) { return FormatStoredVoltage(g.voltages[idx(i)]); };
            const auto a = [&](Pair p) { return FormatAngle(g.pairAngles[idx(p)]); };
            const auto ph = [&](Pair p) {
                return std::string(ClassifyPhase(static_cast<float>(g.pairAngles[idx(p)])));
            };
            const auto sq = [&](Pair p) {
                return std::string(ClassifySequence(static_cast<float>(g.pairAngles[idx(p)])));
            };
            t.push_back({FormatGroupNumber(++n), v(Input::A1), v(Input::A2), a(Pair::A1A2),
                         ph(Pair::A1A2), v(Input::B1), v(Input::B2), a(Pair::B1B2),
                         ph(Pair::B1B2), v(Input::C1), v(Input::C2), a(Pair::C1C2),
                         ph(Pair::C1C2), a(Pair::A1B2), sq(Pair::A1B2), a(Pair::B1C2),
                         sq(Pair::B1C2), a(Pair::C1A2), sq(Pair::C1A2)});
        }
        return t;
    }();
    return table;
}

std::optional<std::string> cell(int r, int c) {
    return fullTable().at(static_cast<std::size_t>(r)).at(static_cast<std::size_t>(c));
}

std::vector<uint8_t> textFile() {
    const auto gbk = ck::output::ToGbk(ck::output::HistoryText(cell));
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
    for (auto _ : state) benchmark::DoNotOptimize(fs.writeFile(path, ck::output::WriteXls(fullTable())));
}
BENCHMARK(BM_HistorySpreadsheetToDisk)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
