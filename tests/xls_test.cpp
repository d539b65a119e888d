// SPDX-License-Identifier: MIT
// The .xls writer, checked twice: by a strict reader of the container and the records written
// here, and by xlrd, an independent reader, for what a spreadsheet user would see.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "output/compound_file.h"
#include "output/xls_writer.h"

namespace ck::output {
namespace {

using Bytes = std::vector<uint8_t>;
using Table = std::vector<std::vector<std::string>>;

constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint16_t kCentredXf = 16;

uint32_t Le(const Bytes& b, std::size_t pos, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b.at(pos + static_cast<std::size_t>(i));
    return v;
}
uint16_t U16(const Bytes& b, std::size_t pos) { return static_cast<uint16_t>(Le(b, pos, 2)); }
uint32_t U32(const Bytes& b, std::size_t pos) { return Le(b, pos, 4); }
bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

// --- The container, read strictly -----------------------------------------------------------

std::u16string EntryName(const Bytes& f, std::size_t pos) {
    std::u16string name;
    const std::size_t units = U16(f, pos + 64) / 2;
    for (std::size_t i = 0; i + 1 < units; ++i) name.push_back(U16(f, pos + 2 * i));
    return name;
}

// Follows the header, the DIFAT, the FAT and the directory to the one stream, checking that
// every sector belongs to exactly one structure and every other FAT slot is free.
void ReadStream(const Bytes& f, std::u16string_view name, Bytes* out) {
    ASSERT_GE(f.size(), 1024u);
    ASSERT_EQ(f.size() % 512, 0u);
    const Bytes signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    EXPECT_TRUE(std::equal(signature.begin(), signature.end(), f.begin()));
    EXPECT_EQ(U16(f, 24), 0x3E);
    EXPECT_EQ(U16(f, 26), 3);
    EXPECT_EQ(U16(f, 28), 0xFFFE);
    EXPECT_EQ(U16(f, 30), 9);
    EXPECT_EQ(U16(f, 32), 6);
    EXPECT_EQ(U32(f, 40), 0u);
    EXPECT_EQ(U32(f, 56), 4096u);
    EXPECT_EQ(U32(f, 60), kEnd);
    EXPECT_EQ(U32(f, 64), 0u);
    const std::size_t sectors = f.size() / 512 - 1;
    const auto at = [](std::size_t s) { return (s + 1) * 512; };
    std::vector<int> owner(sectors, 0);
    const auto own = [&](uint32_t s, int who) {
        ASSERT_LT(s, sectors);
        ASSERT_EQ(owner[s], 0) << "sector " << s << " used twice";
        owner[s] = who;
    };

    const uint32_t fatCount = U32(f, 44);
    std::vector<uint32_t> fatSectors;
    for (std::size_t i = 0; i < 109; ++i) {
        const uint32_t id = U32(f, 76 + 4 * i);
        if (i < fatCount) {
            fatSectors.push_back(id);
        } else {
            EXPECT_EQ(id, kFree);
        }
    }
    std::vector<uint32_t> difatSectors;
    for (uint32_t d = U32(f, 68); d != kEnd; d = U32(f, at(d) + 508)) {
        ASSERT_NO_FATAL_FAILURE(own(d, 2));
        difatSectors.push_back(d);
        for (std::size_t i = 0; i < 127; ++i) {
            const uint32_t id = U32(f, at(d) + 4 * i);
            if (fatSectors.size() < fatCount) {
                fatSectors.push_back(id);
            } else {
                EXPECT_EQ(id, kFree);
            }
        }
    }
    ASSERT_EQ(difatSectors.size(), U32(f, 72));
    ASSERT_EQ(fatSectors.size(), fatCount);
    std::vector<uint32_t> fat;
    for (uint32_t s : fatSectors) {
        ASSERT_NO_FATAL_FAILURE(own(s, 1));
        for (std::size_t i = 0; i < 128; ++i) fat.push_back(U32(f, at(s) + 4 * i));
    }
    ASSERT_GE(fat.size(), sectors);
    for (uint32_t s : fatSectors) EXPECT_EQ(fat[s], 0xFFFFFFFDu);
    for (uint32_t s : difatSectors) EXPECT_EQ(fat[s], 0xFFFFFFFCu);
    for (std::size_t s = sectors; s < fat.size(); ++s) EXPECT_EQ(fat[s], kFree) << s;

    std::vector<uint32_t> chain;
    const auto follow = [&](uint32_t first, int who) {
        chain.clear();
        for (uint32_t s = first; s != kEnd; s = fat.at(s)) {
            ASSERT_NO_FATAL_FAILURE(own(s, who));
            chain.push_back(s);
        }
    };
    ASSERT_NO_FATAL_FAILURE(follow(U32(f, 48), 3));
    ASSERT_EQ(chain.size(), 1u);
    const std::size_t dir = at(chain[0]);
    EXPECT_EQ(EntryName(f, dir), u"Root Entry");
    EXPECT_EQ(f.at(dir + 66), 5);
    EXPECT_EQ(U32(f, dir + 116), kEnd);  // no mini stream
    EXPECT_EQ(U32(f, dir + 120), 0u);
    const uint32_t child = U32(f, dir + 76);
    ASSERT_EQ(child, 1u);
    const std::size_t entry = dir + 128;
    EXPECT_EQ(EntryName(f, entry), name);
    EXPECT_EQ(f.at(entry + 66), 2);
    for (std::size_t link : {68u, 72u, 76u}) EXPECT_EQ(U32(f, entry + link), kFree);
    for (std::size_t unused : {2u, 3u}) EXPECT_EQ(f.at(dir + 128 * unused + 66), 0);

    const uint32_t size = U32(f, entry + 120);
    ASSERT_GE(size, 4096u);
    ASSERT_NO_FATAL_FAILURE(follow(U32(f, entry + 116), 4));
    ASSERT_EQ(chain.size(), (size + 511) / 512);
    for (std::size_t s = 0; s < sectors; ++s) EXPECT_NE(owner[s], 0) << "sector " << s;
    out->clear();
    for (uint32_t s : chain) {
        const std::size_t take = std::min<std::size_t>(512, size - out->size());
        out->insert(out->end(), f.begin() + static_cast<std::ptrdiff_t>(at(s)),
                    f.begin() + static_cast<std::ptrdiff_t>(at(s) + take));
    }
}

// --- The workbook stream, read strictly -------------------------------------------------------

struct Record {
    uint16_t type;
    std::size_t pos;  // of the header, in the stream
    Bytes data;
};

// Records from `pos` up to and including the substream's EOF.
void ReadSubstream(const Bytes& s, std::size_t pos, std::vector<Record>* out) {
    out->clear();
    for (;;) {
        ASSERT_LE(pos + 4, s.size());
        Record r{U16(s, pos), pos, {}};
        const std::size_t len = U16(s, pos + 2);
        ASSERT_LE(len, kBiffMaxRecordData) << "record " << std::hex << r.type;
        ASSERT_LE(pos + 4 + len, s.size());
        r.data.assign(s.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                      s.begin() + static_cast<std::ptrdiff_t>(pos + 4 + len));
        pos += 4 + len;
        out->push_back(std::move(r));
        if (out->back().type == 0x000A) return;
        if (out->size() > 1) {
            ASSERT_NE(out->back().type, 0x0809) << "BOF inside a substream";
        }
    }
}

struct SstContent {
    std::vector<std::u16string> strings;
    std::vector<std::pair<std::size_t, std::size_t>> starts;  // string, its record's header
    std::size_t continues = 0;
};

// Reads the string table unit by unit across CONTINUE records, checking the split rules.
void ReadSst(const std::vector<Record>& recs, std::size_t first, SstContent* out) {
    std::size_t i = first;
    std::size_t p = 8;
    const auto next = [&] {
        ++i;
        ASSERT_LT(i, recs.size());
        ASSERT_EQ(recs[i].type, 0x003C);
        ++out->continues;
        p = 0;
    };
    const uint32_t unique = U32(recs[first].data, 4);
    for (uint32_t k = 0; k < unique; ++k) {
        if (p == recs[i].data.size()) {
            ASSERT_NO_FATAL_FAILURE(next());
        }
        out->starts.emplace_back(recs[i].pos + 4 + p, recs[i].pos);
        const uint16_t cch = U16(recs[i].data, p);
        const uint8_t flags = recs[i].data.at(p + 2);
        ASSERT_LE(flags, 1) << "only the high-byte flag is expected";
        bool wide = flags == 1;
        p += 3;
        if (cch > 0) {
            EXPECT_LT(p, recs[i].data.size()) << "header apart from its text";
        }
        std::u16string s;
        while (s.size() < cch) {
            if (p == recs[i].data.size()) {
                EXPECT_FALSE(IsHigh(s.back())) << "surrogate pair split between records";
                ASSERT_NO_FATAL_FAILURE(next());
                const uint8_t option = recs[i].data.at(p++);
                ASSERT_LE(option, 1);
                wide = option == 1;
            }
            s.push_back(wide ? U16(recs[i].data, p) : recs[i].data.at(p));
            p += wide ? 2 : 1;
        }
        out->strings.push_back(s);
    }
    EXPECT_EQ(p, recs[i].data.size()) << "bytes after the last string";
    ASSERT_LT(i + 1, recs.size());
    const Bytes& ext = recs[i + 1].data;
    ASSERT_EQ(recs[i + 1].type, 0x00FF) << "EXTSST must follow the table";
    const std::size_t dsst = std::max<std::size_t>(unique / 128 + 1, 8);
    ASSERT_EQ(U16(ext, 0), dsst);
    ASSERT_EQ(ext.size(), 2 + 8 * ((unique + dsst - 1) / dsst));
    for (std::size_t b = 0; 2 + 8 * b < ext.size(); ++b) {
        const auto [stringPos, recordPos] = out->starts.at(b * dsst);
        EXPECT_EQ(U32(ext, 2 + 8 * b), stringPos) << "bucket " << b;
        EXPECT_EQ(U16(ext, 6 + 8 * b), stringPos - recordPos) << "bucket " << b;
    }
}

struct Expected {
    Table rows;
    std::string sheetName = "Sheet1";
};

// Every record of both substreams, the formats, the string table and each cell against what
// was written.
void CheckWorkbook(const Bytes& stream, const Expected& want, std::size_t* continues) {
    std::vector<Record> globals;
    ASSERT_NO_FATAL_FAILURE(ReadSubstream(stream, 0, &globals));
    ASSERT_EQ(globals.front().type, 0x0809);
    EXPECT_EQ(U16(globals.front().data, 0), 0x0600);
    EXPECT_EQ(U16(globals.front().data, 2), 0x0005);
    std::vector<Bytes> xfs;
    std::size_t fonts = 0;
    std::size_t sheetPos = 0;
    std::u16string sheetName;
    SstContent sst;
    bool sawSst = false;
    for (std::size_t i = 0; i < globals.size(); ++i) {
        const Record& r = globals[i];
        if (r.type == 0x0042) {
            EXPECT_EQ(U16(r.data, 0), 1200);
        }
        if (r.type == 0x0031) ++fonts;
        if (r.type == 0x00E0) xfs.push_back(r.data);
        if (r.type == 0x0085) {
            sheetPos = U32(r.data, 0);
            const bool wide = r.data.at(7) == 1;
            for (std::size_t c = 0; c < r.data.at(6); ++c) {
                sheetName.push_back(wide ? U16(r.data, 8 + 2 * c) : r.data.at(8 + c));
            }
        }
        if (r.type == 0x00FC) {
            sawSst = true;
            ASSERT_NO_FATAL_FAILURE(ReadSst(globals, i, &sst));
        }
    }
    ASSERT_TRUE(sawSst);
    *continues = sst.continues;
    EXPECT_EQ(fonts, 5u);
    ASSERT_EQ(xfs.size(), 17u);
    for (std::size_t x = 0; x < 15; ++x) {
        EXPECT_EQ(U16(xfs[x], 4) & 0xFFF4, 0xFFF4) << "style " << x;
    }
    EXPECT_EQ(xfs[kCentredXf].at(6) & 0x07, 2) << "centred";
    EXPECT_EQ(U16(xfs[kCentredXf], 4) & 0x0004, 0) << "a cell format";
    EXPECT_EQ(sheetName, Utf8ToUtf16(want.sheetName));
    EXPECT_EQ(std::set<std::u16string>(sst.strings.begin(), sst.strings.end()).size(),
              sst.strings.size())
        << "strings not unique";

    const std::size_t globalsEnd = globals.back().pos + 4;
    ASSERT_EQ(sheetPos, globalsEnd) << "BOUNDSHEET must point at the sheet's BOF";
    std::vector<Record> sheet;
    ASSERT_NO_FATAL_FAILURE(ReadSubstream(stream, sheetPos, &sheet));
    ASSERT_EQ(U16(sheet.front().data, 2), 0x0010);
    const std::size_t sheetEnd = sheet.back().pos + 4;
    EXPECT_TRUE(std::all_of(stream.begin() + static_cast<std::ptrdiff_t>(sheetEnd), stream.end(),
                            [](uint8_t b) { return b == 0; }))
        << "only padding after the last EOF";

    std::map<std::pair<std::size_t, std::size_t>, std::u16string> cells;
    std::set<uint32_t> referenced;
    uint32_t labels = 0;
    std::vector<uint16_t> order;
    for (const Record& r : sheet) {
        order.push_back(r.type);
        if (r.type != 0x00FD && r.type != 0x0201) continue;
        EXPECT_EQ(U16(r.data, 4), kCentredXf);
        std::u16string text;
        if (r.type == 0x00FD) {
            ++labels;
            referenced.insert(U32(r.data, 6));
            text = sst.strings.at(U32(r.data, 6));
            EXPECT_FALSE(text.empty()) << "empty cells are blanks";
        }
        EXPECT_TRUE(cells.emplace(std::pair{U16(r.data, 0), U16(r.data, 2)}, text).second);
    }
    EXPECT_EQ(referenced.size(), sst.strings.size()) << "every string used";
    for (const Record& r : globals) {
        if (r.type == 0x00FC) {
            EXPECT_EQ(U32(r.data, 0), labels) << "total references";
        }
    }
    // Sheet order: BOF, DIMENSIONS, the cells, WINDOW2, EOF.
    ASSERT_GE(order.size(), 4u);
    EXPECT_EQ(order[1], 0x0200);
    EXPECT_EQ(order[order.size() - 2], 0x023E);
    EXPECT_EQ(order.size(), cells.size() + 4);

    std::size_t total = 0;
    std::size_t firstRow = SIZE_MAX;
    std::size_t lastRow = 0;
    std::size_t columns = 0;
    for (std::size_t r = 0; r < want.rows.size(); ++r) {
        const auto& row = want.rows[r];
        if (!row.empty()) {
            firstRow = std::min(firstRow, r);
            lastRow = r;
            columns = std::max(columns, row.size());
        }
        for (std::size_t c = 0; c < row.size(); ++c, ++total) {
            const auto it = cells.find({r, c});
            ASSERT_NE(it, cells.end()) << "cell " << r << "," << c;
            EXPECT_EQ(it->second, Utf8ToUtf16(row[c])) << "cell " << r << "," << c;
        }
    }
    EXPECT_EQ(cells.size(), total);
    const Bytes& dim = sheet[1].data;
    EXPECT_EQ(U32(dim, 0), columns ? firstRow : 0);
    EXPECT_EQ(U32(dim, 4), columns ? lastRow + 1 : 0);
    EXPECT_EQ(U16(dim, 8), 0);
    EXPECT_EQ(U16(dim, 10), columns);
}

// Windows runs have no xlrd; there the files are compared byte for byte with the Linux
// build's instead.
#ifndef _WIN32
// --- xlrd ----------------------------------------------------------------------------------

struct XlrdCell {
    int type = -1;  // 1 text, 6 blank
    int align = -1;
    std::string text;
};

struct XlrdView {
    int sheets = 0;
    std::string name;
    std::size_t nrows = 0;
    std::size_t ncols = 0;
    std::map<std::pair<std::size_t, std::size_t>, XlrdCell> cells;
};

std::string Unhex(const std::string& hex) {
    std::string out;
    if (hex == "-") return out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// Runs the reader script on `file`; sets `skip` when it cannot run on this machine.
void RunXlrd(const std::filesystem::path& file, XlrdView* view, std::string* skip) {
    if (access("/usr/bin/python3", X_OK) != 0) {
        *skip = "/usr/bin/python3 is missing";
        return;
    }
    const std::string command = "/usr/bin/python3 '" CK_XLS_READER "' '" + file.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    if (WEXITSTATUS(status) == 77) {
        *skip = "xlrd is missing (Debian package python3-xlrd)";
        return;
    }
    ASSERT_EQ(WEXITSTATUS(status), 0) << out.substr(0, 4000);
    std::istringstream in(out);
    for (std::string kind; in >> kind;) {
        if (kind == "sheets") {
            in >> view->sheets;
        } else if (kind == "sheet") {
            std::string name;
            in >> name >> view->nrows >> view->ncols;
            view->name = Unhex(name);
        } else if (kind == "cell") {
            std::size_t r = 0;
            std::size_t c = 0;
            XlrdCell cell;
            std::string text;
            in >> r >> c >> cell.type >> cell.align >> text;
            cell.text = Unhex(text);
            EXPECT_TRUE(view->cells.emplace(std::pair{r, c}, cell).second);
        } else {
            FAIL() << "unexpected reader output: " << kind;
        }
    }
}
#endif  // !_WIN32

// --- The tables -------------------------------------------------------------------------------

const std::vector<std::string> kHeads = {"NO.",          "A1电压",   "A2电压",       "A1A2相位",
                                         "A1A2定性相位", "B1电压",   "B2电压",       "B1B2相位",
                                         "B1B2定性相位", "C1电压",   "C2电压",       "C1C2相位",
                                         "C1C2定性相位", "A1B2相位", "A1B2定性相序", "B1C2相位",
                                         "B1C2定性相序", "C1A2相位", "C1A2定性相序"};

// A history table as the program shows it: the heads and `groups` rows of texts.
Table HistoryTable(int groups) {
    Table t{kHeads};
    for (int n = 1; n <= groups; ++n) {
        const auto volt = [&](int k) {
            const int v = (n * 7 + k * 3) % 40;
            return v == 0 ? std::string("--kV") : std::to_string(v) + " kV";
        };
        const auto angle = [&](int k) {
            const int a = (n * 37 + k * 61) % 400;
            char buf[8];
            std::snprintf(buf, sizeof buf, "%03d", a);
            return a >= 360 ? std::string("------") : std::string(buf);
        };
        const char* phase[] = {"同相", "异相", "------"};
        const char* sequence[] = {"顺相序", "逆相序", "------"};
        std::vector<std::string> row{" " + std::to_string(n)};
        for (int p = 0; p < 3; ++p) {
            row.insert(row.end(), {volt(2 * p), volt(2 * p + 1), angle(p), phase[(n + p) % 3]});
        }
        for (int p = 3; p < 6; ++p) row.insert(row.end(), {angle(p), sequence[(n + p) % 3]});
        t.push_back(row);
    }
    return t;
}

struct Sample {
    Table input;
    Expected want;
    std::size_t minContinues = 0;
};

Sample Plain(const Table& t, std::size_t minContinues = 0) { return {t, {t}, minContinues}; }

std::string Repeat(const std::string& s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

const std::pair<const char*, Sample (*)()> kCases[] = {
    {"HeadersOnly", [] { return Plain(HistoryTable(0)); }},
    {"SixRows", [] { return Plain(HistoryTable(5)); }},
    {"FullTable", [] { return Plain(HistoryTable(200)); }},
    {"EmptyCells",
     [] {
         Table t = HistoryTable(4);
         t[2].assign(19, "");  // a row the download never filled
         t[4][0] = t[4][18] = "";
         return Plain(t);
     }},
    {"StringsAcrossRecords",
     [] {
         // Long unique texts, Chinese and Latin-1 (one byte a character), split many times.
         Table t{kHeads};
         for (int r = 0; r < 60; ++r) {
             std::vector<std::string> row;
             for (int c = 0; c < 19; ++c) {
                 const std::string id = std::to_string(r * 19 + c);
                 row.push_back(c % 2 ? id + Repeat("异相顺相序", 31) : id + Repeat("é", 150 + c));
             }
             t.push_back(row);
         }
         return Plain(t, 20);
     }},
    {"HeaderAtRecordEnd",
     [] {
         // The first text leaves room for the next one's header but not its first character.
         return Plain({{Repeat("a", 8210), "abc"}}, 1);
     }},
    {"OutsideBmp",
     [] {
         // The first text reaches the end of the first record exactly between the halves
         // of a surrogate pair.
         return Plain({{"A" + Repeat("😀", 3000), "😀", "𠀀电压"}, {"x😀y"}}, 1);
     }},
    {"InvalidUtf8",
     [] {
         const Table in = {{"\xE4\xB8",
                            "A\xFF"
                            "B",
                            "\xED\xA0\x80", "ok"}};
         const Table out = {{"\xEF\xBF\xBD",
                             "A\xEF\xBF\xBD"
                             "B",
                             Repeat("\xEF\xBF\xBD", 3), "ok"}};
         return Sample{in, {out}};
     }},
    {"Ragged",
     [] {
         return Plain({{}, {"a", "b", "c"}, {"d"}, {}});
     }},
    {"NoCells", [] { return Plain({}); }},
    {"LargestSheet",
     [] {
         Table t(kXlsMaxRows, {"x"});
         t[0].assign(kXlsMaxColumns, "y");
         t[1][0] = std::string(kXlsMaxTextUnits, 'z');
         return Plain(t, 3);
     }},
    {"SheetName",
     [] {
         Sample s = Plain(HistoryTable(1));
         s.want.sheetName = "历史数据";
         return s;
     }},
    {"FatBeyondHeader",
     [] {
         // Over 7 MB: the FAT needs more sectors than the header can list.
         Table t;
         for (int r = 0; r < 420; ++r) t.push_back({std::to_string(r) + Repeat("相", 10000)});
         return Plain(t, 400);
     }},
};

class XlsCase : public ::testing::TestWithParam<std::size_t> {
protected:
#ifndef _WIN32
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "xls_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
#endif
};

TEST_P(XlsCase, ContainerAndRecordsHoldEveryCell) {
    const Sample s = kCases[GetParam()].second();
    const Bytes file = WriteXls(s.input, {s.want.sheetName});
    EXPECT_EQ(WriteXls(s.input, {s.want.sheetName}), file) << "not deterministic";
    Bytes stream;
    ASSERT_NO_FATAL_FAILURE(ReadStream(file, u"Workbook", &stream));
    std::size_t continues = 0;
    ASSERT_NO_FATAL_FAILURE(CheckWorkbook(stream, s.want, &continues));
    EXPECT_GE(continues, s.minContinues);
}

#ifndef _WIN32
TEST_P(XlsCase, XlrdReadsEveryCellCentred) {
    const Sample s = kCases[GetParam()].second();
    const Bytes file = WriteXls(s.input, {s.want.sheetName});
    const std::filesystem::path path = dir_ / "history.xls";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    XlrdView view;
    std::string skip;
    ASSERT_NO_FATAL_FAILURE(RunXlrd(path, &view, &skip));
    if (!skip.empty()) {
        const char* required = std::getenv("CK_REQUIRE_XLRD");
        if (required != nullptr && std::string_view(required) == "1") FAIL() << skip;
        GTEST_SKIP() << skip;
    }
    EXPECT_EQ(view.sheets, 1);
    EXPECT_EQ(view.name, s.want.sheetName);
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::size_t total = 0;
    for (std::size_t r = 0; r < s.want.rows.size(); ++r) {
        const auto& row = s.want.rows[r];
        if (!row.empty()) rows = r + 1;
        columns = std::max(columns, row.size());
        for (std::size_t c = 0; c < row.size(); ++c, ++total) {
            const auto it = view.cells.find({r, c});
            ASSERT_NE(it, view.cells.end()) << "cell " << r << "," << c;
            EXPECT_EQ(it->second.type, row[c].empty() ? 6 : 1) << "cell " << r << "," << c;
            EXPECT_EQ(it->second.align, 2) << "cell " << r << "," << c << " not centred";
            EXPECT_EQ(it->second.text, row[c]) << "cell " << r << "," << c;
        }
    }
    EXPECT_EQ(view.cells.size(), total);
    EXPECT_EQ(view.nrows, rows);
    EXPECT_EQ(view.ncols, columns);
}
#endif  // !_WIN32

INSTANTIATE_TEST_SUITE_P(Tables, XlsCase, ::testing::Range<std::size_t>(0, std::size(kCases)),
                         [](const auto& p) { return std::string(kCases[p.param].first); });

// --- The pieces on their own ------------------------------------------------------------------

TEST(Utf8ToUtf16, DecodesAndReplacesEachIllFormedRun) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"", u""},
        {"A1电压 --kV", u"A1电压 --kV"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\xC2\x80", u"\u0080"},
        {"\xEF\xBF\xBF", u"\uFFFF"},
        {"😀", u"\xD83D\xDE00"},
        {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},  // U+10FFFF
        {"\x80", u"\uFFFD"},                    // stray continuation
        {"\xFF", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xE4\xB8", u"\uFFFD"},                            // cut short at the end
        {"\xE4\xB8"
         "A",
         u"\uFFFDA"},
        {"\xF0\x9F\x98"
         "x\xF0\x9F",
         u"\uFFFDx\uFFFD"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(Utf8ToUtf16(in), want) << in;
}

TEST(WriteXls, RejectsWhatTheFormatCannotHold) {
    const auto sheet = [](const char* name) { return [name] { WriteXls({{"x"}}, {name}); }; };
    const std::pair<const char*, std::function<void()>> lengths[] = {
        {"rows", [] { WriteXls(Table(kXlsMaxRows + 1)); }},
        {"columns", [] { WriteXls({std::vector<std::string>(kXlsMaxColumns + 1)}); }},
        {"text", [] { WriteXls({{std::string(kXlsMaxTextUnits + 1, 'a')}}); }},
        {"text of pairs", [] { WriteXls({{Repeat("😀", kXlsMaxTextUnits / 2 + 1)}}); }},
    };
    for (const auto& [what, write] : lengths) EXPECT_THROW(write(), std::length_error) << what;
    const char* names[] = {"",  "0123456789012345678901234567890x", "a:b", "a/b", "a[1]", "'a",
                           "a'"};
    for (const char* name : names) EXPECT_THROW(sheet(name)(), std::invalid_argument) << name;
    EXPECT_NO_THROW(sheet("0123456789012345678901234567890")());
}

TEST(CompoundFile, StreamSurvivesAtEachFatBoundary) {
    // Around one FAT sector filling up, around the header's 109 FAT slots running out, and
    // past a second DIFAT sector.
    const std::size_t sizes[] = {4096,        4097,        126 * 512,      126 * 512 + 1,
                                 13842 * 512, 13843 * 512, 40000 * 512 + 5};
    for (std::size_t size : sizes) {
        Bytes stream(size);
        for (std::size_t i = 0; i < size; ++i) stream[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
        Bytes back;
        ASSERT_NO_FATAL_FAILURE(ReadStream(WriteCompoundFile(u"Data", stream), u"Data", &back))
            << size;
        EXPECT_EQ(back, stream) << size;
    }
}

TEST(CompoundFile, RejectsWhatItCannotStore) {
    const Bytes small(4095);
    const Bytes enough(4096);
    EXPECT_THROW(WriteCompoundFile(u"Data", small), std::invalid_argument);
    EXPECT_THROW(WriteCompoundFile(u"", enough), std::invalid_argument);
    EXPECT_THROW(WriteCompoundFile(std::u16string(32, u'a'), enough), std::invalid_argument);
    EXPECT_NO_THROW(WriteCompoundFile(std::u16string(31, u'a'), enough));
}

}  // namespace
}  // namespace ck::output
