// SPDX-License-Identifier: MIT
// export_sample DIR: writes, through the save commands, the files the program would save for a
// fixed reading and a fixed 200-group history, and the code page 936 form of every character
// of the Basic Multilingual Plane (and a few beyond it). Built for Linux and for Windows, so a
// test can require the two builds' files to be the same bytes.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "measure/history_table.h"
#include "measure/live_reading.h"
#include "measure/measurement.h"
#include "output/commands.h"
#include "platform/code_page.h"
#include "sim/instrument.h"

namespace {

namespace fs = std::filesystem;
using namespace ck;

constexpr uint64_t kHistorySeed = 7;
constexpr int kGroups = 200;
constexpr int kBlock = 3;

// The user at the dialog: the type and the file of each save in turn.
struct Answers final : platform::DialogService {
    std::vector<std::pair<int, std::string>> answers;
    std::size_t next = 0;
    platform::DialogResult ShowSave(platform::CommonDialog& d) override {
        if (next >= answers.size()) return {platform::kErrCancel, "Cancel"};
        d.FilterIndex = answers[next].first;
        d.FileName = answers[next].second;
        ++next;
        return {};
    }
    platform::DialogResult ShowPrinter(platform::CommonDialog&) override {
        return {platform::kErrCancel, "Cancel"};
    }
};

struct Disk final : platform::FileSystem {
    std::string dir;
    std::string dataDir() const override { return dir; }
    bool dirExists(const std::string& p) const override { return fs::is_directory(p); }
    bool makeDir(const std::string& p) override {
        std::error_code ec;
        fs::create_directories(p, ec);
        return !ec;
    }
    std::string writeFile(const std::string& p, const std::vector<uint8_t>& b) override {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        return out.good() ? std::string() : "cannot write " + p;
    }
};

struct NoCamera final : platform::ScreenCapture {
    std::optional<std::vector<uint8_t>> captureWindow() override { return std::nullopt; }
    void copyLastCaptureToClipboard() override {}
};
struct NoPrinter final : platform::PrinterService {
    std::string printText(const std::string&, platform::Orientation, int) override { return {}; }
};
struct Silent final : platform::UserMessages {
    std::vector<std::string> shown;
    void show(const std::string&, const std::string& text, int) override { shown.push_back(text); }
    void beep() override {}
};

// The table as the window holds it after a download: the rows each three-group reply fills.
measure::HistoryTable downloadedTable() {
    measure::HistoryTable table;
    const auto groups = sim::MakeStoredHistory(kGroups, kHistorySeed);
    for (int start = 0; start < kGroups; start += kBlock) {
        const int count = std::min(kBlock, kGroups - start);
        table.fill(start, std::span<const measure::MeasurementGroup>(
                              groups.data() + start, static_cast<std::size_t>(count)));
    }
    return table;
}

// UTF-8 of one code point.
std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// One line per code point: its number and its bytes in hex, or "-" where it is refused.
bool writeCodePage(const fs::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<char32_t> points;
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c < 0xD800 || c > 0xDFFF) points.push_back(c);
    }
    for (char32_t c : {0x10000, 0x1F600, 0x20000, 0x2A6D6, 0x10FFFF}) points.push_back(c);
    char line[32];
    for (char32_t c : points) {
        std::snprintf(line, sizeof line, "%06X ", static_cast<unsigned>(c));
        out << line;
        const auto gbk = platform::Utf8ToCp936(utf8(c));
        if (!gbk) {
            out << "-";
        } else {
            for (unsigned char b : *gbk) {
                std::snprintf(line, sizeof line, "%02X", b);
                out << line;
            }
        }
        out << "\n";
    }
    // Whole texts, not only single characters: ill-formed UTF-8 is refused too.
    for (const std::string& s : {std::string("\xC3"), std::string("\xED\xA0\x80"),
                                 std::string("\xC0\xAF"), std::string("A1电压\xFF")}) {
        out << "ill-formed " << (platform::Utf8ToCp936(s) ? "taken" : "-") << "\n";
    }
    return out.good();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: export_sample DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    std::error_code ec;
    fs::create_directories(dir, ec);

    platform::CommonDialog dialog;
    Answers answers;
    answers.answers = {{2, (dir / "live.txt").string()},
                       {1, (dir / "history.txt").string()},
                       {2, (dir / "history.xls").string()}};
    Disk disk;
    disk.dir = dir.string();
    NoCamera camera;
    NoPrinter printer;
    Silent messages;
    output::OutputServices out{dialog, answers, disk, camera, printer, messages};

    output::SaveReal(out, measure::LiveReading(sim::DefaultLiveSequence().front(), {}, 3));
    const measure::HistoryTable table = downloadedTable();
    output::SaveHist(out, table, kGroups);
    output::SaveHist(out, table, kGroups);

    const bool ok = writeCodePage(dir / "cp936.txt") && messages.shown.empty() &&
                    answers.next == answers.answers.size();
    for (const std::string& m : messages.shown) std::fprintf(stderr, "%s\n", m.c_str());
    return ok ? 0 : 1;
}
