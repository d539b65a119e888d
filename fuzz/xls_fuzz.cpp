// SPDX-License-Identifier: MIT
// Arbitrary tables (invalid UTF-8, long texts, blanks, ragged rows, now and then past a format
// limit) and sheet names into the .xls writer, up to the size of a full history table (the
// corpus holds one, made by xls_seed). It may refuse only what it documents:
// std::length_error past a limit of the format, std::invalid_argument for a bad sheet name.
// Whatever it writes is read back strictly: the compound file's sectors and chains, every
// record inside its size limit, the shared strings across their CONTINUE records, and each
// cell in its place with its text and the centred format.

#include <fuzzer/FuzzedDataProvider.h>
#include <iconv.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "output/xls_writer.h"

namespace {

using namespace ck::output;
using Bytes = std::vector<uint8_t>;
using Table = std::vector<std::vector<std::string>>;

void check(bool ok) {
    if (!ok) std::abort();
}

uint32_t Le(const Bytes& b, std::size_t pos, int n) {
    check(pos + static_cast<std::size_t>(n) <= b.size());
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[pos + static_cast<std::size_t>(i)];
    return v;
}
uint16_t U16(const Bytes& b, std::size_t pos) { return static_cast<uint16_t>(Le(b, pos, 2)); }
uint32_t U32(const Bytes& b, std::size_t pos) { return Le(b, pos, 4); }

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// glibc's decoder, for texts it takes as well-formed UTF-8.
std::optional<std::u16string> IconvUtf16(const std::string& text) {
    if (text.empty()) return std::u16string();
    // Opened once: a full table has hundreds of texts, and opening costs more than converting.
    static const iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    check(cd != reinterpret_cast<iconv_t>(-1));
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    std::string out(text.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    std::u16string units;
    for (std::size_t i = 0; i + 1 < out.size() - outLeft; i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(out[i]) |
                                              static_cast<uint8_t>(out[i + 1]) << 8));
    }
    return units;
}

void checkUtf16(const std::string& text, const std::u16string& units) {
    check(units.size() <= text.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (IsHigh(units[i])) check(i + 1 < units.size() && IsLow(units[i + 1]));
        if (IsLow(units[i])) check(i > 0 && IsHigh(units[i - 1]));
    }
    if (const auto ref = IconvUtf16(text)) check(*ref == units);
}

// --- The compound file ----------------------------------------------------------------------

Bytes ReadWorkbookStream(const Bytes& f) {
    check(f.size() >= 1536 && f.size() % 512 == 0);
    const Bytes signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    check(std::equal(signature.begin(), signature.end(), f.begin()));
    check(U16(f, 26) == 3 && U16(f, 28) == 0xFFFE && U16(f, 30) == 9);
    const std::size_t sectors = f.size() / 512 - 1;
    const auto at = [](std::size_t s) { return (s + 1) * 512; };
    std::vector<int> owner(sectors, 0);
    const auto own = [&](uint32_t s, int who) {
        check(s < sectors && owner[s] == 0);
        owner[s] = who;
    };

    const uint32_t fatCount = U32(f, 44);
    std::vector<uint32_t> fatSectors;
    for (std::size_t i = 0; i < 109 && i < fatCount; ++i) fatSectors.push_back(U32(f, 76 + 4 * i));
    uint32_t difat = U32(f, 68);
    for (uint32_t d = 0; d < U32(f, 72); ++d) {
        own(difat, 2);
        for (std::size_t i = 0; i < 127 && fatSectors.size() < fatCount; ++i) {
            fatSectors.push_back(U32(f, at(difat) + 4 * i));
        }
        difat = U32(f, at(difat) + 4 * 127);
    }
    check(difat == 0xFFFFFFFE && fatSectors.size() == fatCount);
    std::vector<uint32_t> fat;
    for (uint32_t s : fatSectors) {
        own(s, 1);
        for (std::size_t i = 0; i < 128; ++i) fat.push_back(U32(f, at(s) + 4 * i));
    }
    const auto chain = [&](uint32_t first, int who) {
        std::vector<uint32_t> out;
        for (uint32_t s = first; s != 0xFFFFFFFE; s = fat.at(s)) {
            own(s, who);
            out.push_back(s);
        }
        return out;
    };
    const auto dir = chain(U32(f, 48), 3);
    check(dir.size() == 1);
    const std::size_t entry = at(dir[0]) + 128;
    const std::u16string name = u"Workbook";
    check(U16(f, entry + 64) == (name.size() + 1) * 2 && f[entry + 66] == 2);
    for (std::size_t i = 0; i < name.size(); ++i) check(U16(f, entry + 2 * i) == name[i]);
    check(U32(f, at(dir[0]) + 76) == 1);  // the root's child
    const uint32_t size = U32(f, entry + 120);
    check(size >= 4096);
    const auto streamSectors = chain(U32(f, entry + 116), 4);
    check(streamSectors.size() == (size + 511) / 512);
    for (std::size_t s = 0; s < sectors; ++s) check(owner[s] != 0);  // nothing left over
    Bytes stream;
    for (uint32_t s : streamSectors) {
        stream.insert(stream.end(), f.begin() + static_cast<std::ptrdiff_t>(at(s)),
                      f.begin() + static_cast<std::ptrdiff_t>(at(s) + 512));
    }
    stream.resize(size);
    return stream;
}

// --- The records ----------------------------------------------------------------------------

struct Record {
    uint16_t type;
    std::size_t pos;  // of the data
    uint16_t len;
};

std::vector<Record> ReadRecords(const Bytes& s) {
    std::vector<Record> out;
    std::size_t pos = 0;
    int bofs = 0;
    while (bofs < 2 || out.back().type != 0x000A) {
        const uint16_t type = U16(s, pos);
        const uint16_t len = U16(s, pos + 2);
        check(len <= kBiffMaxRecordData && pos + 4 + len <= s.size());
        out.push_back({type, pos + 4, len});
        bofs += type == 0x0809;
        pos += 4 + len;
    }
    // Only padding after the sheet's EOF.
    check(std::all_of(s.begin() + static_cast<std::ptrdiff_t>(pos), s.end(),
                      [](uint8_t b) { return b == 0; }));
    return out;
}

// The shared strings: the SST record and the CONTINUE records after it.
std::vector<std::u16string> ReadSst(const Bytes& s, const std::vector<Record>& recs,
                                    std::size_t sst, uint32_t& total) {
    std::size_t r = sst;
    std::size_t pos = recs[r].pos + 8;
    const auto end = [&] { return recs[r].pos + recs[r].len; };
    const auto next = [&] {
        ++r;
        check(r < recs.size() && recs[r].type == 0x003C);
        pos = recs[r].pos;
    };
    total = U32(s, recs[sst].pos);
    const uint32_t unique = U32(s, recs[sst].pos + 4);
    std::vector<std::u16string> strings;
    for (uint32_t i = 0; i < unique; ++i) {
        if (pos == end()) next();
        check(pos + 3 <= end());  // a string's header never splits
        const uint16_t cch = U16(s, pos);
        uint8_t flags = s[pos + 2];
        check(flags <= 1);
        pos += 3;
        std::u16string text;
        while (text.size() < cch) {
            if (pos == end()) {
                check(text.empty() || !IsHigh(text.back()));  // a pair stays in one record
                next();
                flags = s[pos++];
                check(flags <= 1);
            }
            const std::size_t unit = flags ? 2 : 1;
            check(pos + unit <= end());
            text.push_back(flags ? U16(s, pos) : s[pos]);
            pos += unit;
        }
        strings.push_back(std::move(text));
    }
    check(pos == end() && recs[r + 1].type == 0x00FF);  // EXTSST follows the last piece
    return strings;
}

// The texts a table is made of, by id: UTF-8 as given, UTF-16 as the workbook must hold it,
// and the first id with the same UTF-16 text (two ill-formed texts can read alike).
struct Pool {
    std::vector<std::string> utf8;
    std::vector<std::u16string> utf16;
    std::vector<std::size_t> same;

    void add(std::string t) {
        std::u16string u = Utf8ToUtf16(t);
        checkUtf16(t, u);
        same.push_back(
            static_cast<std::size_t>(std::find(utf16.begin(), utf16.end(), u) - utf16.begin()));
        utf8.push_back(std::move(t));
        utf16.push_back(std::move(u));
    }
};
using Ids = std::vector<std::vector<std::size_t>>;

// How large a table the input may describe: above a full history table (201 rows of 19 cells,
// some 400 different texts), below the format's limits, which have a branch of their own.
constexpr std::size_t kMaxTexts = 1024;
constexpr std::size_t kMaxRows = 255;
constexpr std::size_t kMaxColumns = 24;

void CheckWorkbook(const Bytes& file, const Ids& table, const Pool& pool,
                   const std::string& sheetName) {
    const Bytes s = ReadWorkbookStream(file);
    const std::vector<Record> recs = ReadRecords(s);
    check(recs.front().type == 0x0809 && U16(s, recs.front().pos + 2) == 0x0005);

    std::size_t i = 0;
    int xfs = 0;
    std::size_t sheetAt = 0;
    std::vector<std::u16string> strings;
    uint32_t total = 0;
    for (; recs[i].type != 0x000A; ++i) {
        const Record& rec = recs[i];
        if (rec.type == 0x00E0) ++xfs;
        if (rec.type == 0x0085) {
            sheetAt = U32(s, rec.pos);
            const std::u16string want = Utf8ToUtf16(sheetName);
            check(s[rec.pos + 6] == want.size());
            const bool wide = s[rec.pos + 7] != 0;
            for (std::size_t k = 0; k < want.size(); ++k) {
                const char16_t u = wide ? U16(s, rec.pos + 8 + 2 * k) : s[rec.pos + 8 + k];
                check(u == want[k]);
            }
        }
        if (rec.type == 0x00FC) strings = ReadSst(s, recs, i, total);
    }
    ++i;
    check(i < recs.size() && recs[i].pos - 4 == sheetAt);
    check(recs[i].type == 0x0809 && U16(s, recs[i].pos + 2) == 0x0010);
    ++i;

    // Expected cells and shared strings, in the writer's order.
    std::map<std::size_t, uint32_t> seen;
    uint32_t references = 0;
    std::size_t firstRow = table.size(), lastRow = 0, columns = 0;
    for (std::size_t r = 0; r < table.size(); ++r) {
        if (!table[r].empty()) {
            firstRow = std::min(firstRow, r);
            lastRow = r;
            columns = std::max(columns, table[r].size());
        }
    }
    check(recs[i].type == 0x0200);
    const std::size_t d = recs[i].pos;
    check(U32(s, d) == (columns ? firstRow : 0) && U32(s, d + 4) == (columns ? lastRow + 1 : 0));
    check(U16(s, d + 8) == 0 && U16(s, d + 10) == columns);
    ++i;
    for (std::size_t r = 0; r < table.size(); ++r) {
        for (std::size_t c = 0; c < table[r].size(); ++c, ++i) {
            const Record& rec = recs.at(i);
            check(U16(s, rec.pos) == r && U16(s, rec.pos + 2) == c);
            check(U16(s, rec.pos + 4) == 16 && 16 < xfs);  // the centred format
            const std::size_t id = pool.same[table[r][c]];
            if (pool.utf16[id].empty()) {
                check(rec.type == 0x0201 && rec.len == 6);
                continue;
            }
            check(rec.type == 0x00FD && rec.len == 10);
            const uint32_t k = U32(s, rec.pos + 6);
            // Each text is stored once, in order of first use.
            const auto [it, added] = seen.try_emplace(id, static_cast<uint32_t>(seen.size()));
            check(it->second == k && k < strings.size());
            if (added) check(strings[k] == pool.utf16[id]);
            ++references;
        }
    }
    check(total == references && strings.size() == seen.size());
    check(recs.at(i).type == 0x023E && recs.at(i + 1).type == 0x000A && i + 2 == recs.size());
}

bool BadSheetName(const std::string& name) {
    const std::u16string u = Utf8ToUtf16(name);
    return u.empty() || u.size() > 31 || u.front() == u'\'' || u.back() == u'\'' ||
           u.find_first_of(u":\\/?*[]") != std::u16string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    XlsOptions options;
    if (in.ConsumeBool()) options.sheetName = in.ConsumeRandomLengthString(40);

    // The texts to fill the cells from (a full history table has some 400), some of them
    // long, and the empty text.
    Pool pool;
    const std::size_t texts = in.ConsumeIntegralInRange<std::size_t>(1, kMaxTexts);
    for (std::size_t i = 0; i < texts; ++i) {
        std::string t = in.ConsumeRandomLengthString(48);
        if (!t.empty() && in.ConsumeIntegralInRange<int>(0, 7) == 0) {
            const std::size_t times =
                in.ConsumeIntegralInRange<std::size_t>(1, 33000 / t.size() + 1);
            std::string longer;
            longer.reserve(t.size() * times);
            for (std::size_t k = 0; k < times; ++k) longer += t;
            t = std::move(longer);
        }
        pool.add(std::move(t));
    }
    const std::size_t blank = pool.utf8.size();
    pool.add("");

    Ids ids(in.ConsumeIntegralInRange<std::size_t>(0, kMaxRows));
    for (auto& row : ids) {
        row.resize(in.ConsumeIntegralInRange<std::size_t>(0, kMaxColumns));
        for (auto& id : row) id = in.ConsumeIntegralInRange<std::size_t>(0, blank);
    }
    // Now and then a table at or past the format's limits (not when the input has run out,
    // which reads as 0: the big table would then be most of the runs).
    switch (in.ConsumeIntegralInRange<int>(0, 63)) {
        case 62:
            ids.resize(kXlsMaxRows + in.ConsumeIntegralInRange<std::size_t>(0, 1));
            break;
        case 63:
            if (!ids.empty()) {
                ids.back().resize(kXlsMaxColumns + in.ConsumeIntegralInRange<std::size_t>(0, 1),
                                  blank);
            }
            break;
        default:
            break;
    }

    Table table(ids.size());
    bool overLimit = ids.size() > kXlsMaxRows;
    for (std::size_t r = 0; r < ids.size(); ++r) {
        overLimit |= ids[r].size() > kXlsMaxColumns;
        for (const std::size_t id : ids[r]) {
            table[r].push_back(pool.utf8[id]);
            overLimit |= pool.utf16[id].size() > kXlsMaxTextUnits;
        }
    }
    const bool badName = BadSheetName(options.sheetName);

    try {
        const Bytes file = WriteXls(table, options);
        check(!overLimit && !badName);
        CheckWorkbook(file, ids, pool, options.sheetName);
    } catch (const std::length_error&) {
        check(overLimit);
    } catch (const std::invalid_argument&) {
        check(badName);
    }
    return 0;
}
