// SPDX-License-Identifier: MIT
// Writes the .xls fuzzer's seed for a full history table (the heading and 200 groups, as the
// window shows them), in the fuzzer's own input format, so that its bounded runs start from a
// table of the real size instead of growing one byte by byte.
//
//   xls_seed FILE
//
// The input format is that of FuzzedDataProvider: texts are read from the front (a backslash
// followed by anything but a backslash ends one), numbers from the back, last byte first.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "sim/history_table.h"

namespace {

class Seed {
public:
    void text(const std::string& t) {
        for (const char c : t) {
            front_.push_back(static_cast<uint8_t>(c));
            if (c == '\\') front_.push_back('\\');
        }
        front_.push_back('\\');
        front_.push_back('.');
    }
    // A number in [0, range], as ConsumeIntegralInRange reads it: one byte per 8 bits that the
    // range needs, most significant first.
    void number(uint64_t value, uint64_t range) {
        int bytes = 0;
        for (uint64_t r = range; r > 0; r >>= 8) ++bytes;
        for (int i = bytes - 1; i >= 0; --i)
            back_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out = front_;
        out.insert(out.end(), back_.rbegin(), back_.rend());
        return out;
    }

private:
    std::vector<uint8_t> front_, back_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: xls_seed FILE\n");
        return 2;
    }
    const auto table = ck::sim::HistoryTable(200, 5);
    std::vector<std::string> texts;
    std::map<std::string, std::size_t> id;
    for (const auto& row : table) {
        for (const auto& cell : row) {
            if (id.emplace(cell, texts.size()).second) texts.push_back(cell);
        }
    }
    // Keep in step with xls_fuzz.cpp: its ranges and the order in which it reads.
    constexpr uint64_t kMaxTexts = 1024, kMaxRows = 255, kMaxColumns = 24;
    if (texts.size() > kMaxTexts || table.size() > kMaxRows) {
        std::fprintf(stderr, "the table is larger than the fuzzer reads\n");
        return 1;
    }
    Seed seed;
    seed.number(0, 255);  // no sheet name of its own
    seed.number(texts.size() - 1, kMaxTexts - 1);
    for (const auto& t : texts) {
        seed.text(t);
        seed.number(1, 7);  // not repeated into a long text
    }
    const std::size_t blank = texts.size();
    seed.number(table.size(), kMaxRows);
    for (const auto& row : table) {
        seed.number(row.size(), kMaxColumns);
        for (const auto& cell : row) seed.number(id.at(cell), blank);
    }
    seed.number(0, 63);  // no table at the format's limits
    const auto bytes = seed.bytes();
    std::ofstream(argv[1], std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::printf("%zu rows, %zu texts, %zu bytes\n", table.size(), texts.size(), bytes.size());
    return 0;
}
