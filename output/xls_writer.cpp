// SPDX-License-Identifier: MIT
#include "output/xls_writer.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#include "output/compound_file.h"

// The stream holds the workbook globals (BOF, CODEPAGE, WINDOW1, DATEMODE, fonts, formats,
// STYLE, BOUNDSHEET, SST, EXTSST, EOF) and one worksheet (BOF, DIMENSIONS, cells, WINDOW2,
// EOF). The row index (INDEX, ROW, DBCELL) is optional and left out: readers find the cells
// without it.

namespace ck::output {
namespace {

// Record types.
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kCodepage = 0x0042;
constexpr uint16_t kWindow1 = 0x003D;
constexpr uint16_t kDatemode = 0x0022;
constexpr uint16_t kFont = 0x0031;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kStyle = 0x0293;
constexpr uint16_t kBoundsheet = 0x0085;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kContinue = 0x003C;
constexpr uint16_t kExtsst = 0x00FF;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kWindow2 = 0x023E;

constexpr uint16_t kBofGlobals = 0x0005;
constexpr uint16_t kBofWorksheet = 0x0010;
constexpr uint16_t kUtf16Codepage = 1200;

// Excel expects 15 style XFs and a default cell XF before any of its own; ours follows them.
constexpr std::size_t kStyleXfs = 15;
constexpr uint16_t kCentredXf = 16;
// Horizontal alignment in the low 3 bits, vertical (2 = bottom, the default) in bits 4-6.
constexpr uint8_t kAlignDefault = 0x20;
constexpr uint8_t kAlignCentred = 0x22;
// Attribute-group flags: for a cell XF, "differs from its style"; for a style XF, a set bit
// marks the group as not part of the style.
constexpr uint8_t kAttrAlignment = 0x10;
constexpr uint8_t kAttrRowColStyle = 0xF4;

constexpr uint32_t kNoString = std::numeric_limits<uint32_t>::max();

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

// A workbook stream under construction. Records are opened and closed explicitly so that
// variable-length data can be measured against the record limit as it is written.
class Biff {
public:
    std::vector<uint8_t>& bytes() { return buf_; }
    std::size_t size() const { return buf_.size(); }

    void begin(uint16_t type) {
        start_ = buf_.size();
        u16(type);
        u16(0);
    }
    void end() {
        const std::size_t len = dataLength();
        if (len > kBiffMaxRecordData) throw std::logic_error("xls: record over the size limit");
        patch16(start_ + 2, static_cast<uint16_t>(len));
    }
    std::size_t recordStart() const { return start_; }
    std::size_t room() const { return kBiffMaxRecordData - dataLength(); }

    void u8(uint8_t v) { buf_.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void patch16(std::size_t pos, uint16_t v) {
        buf_.at(pos) = static_cast<uint8_t>(v);
        buf_.at(pos + 1) = static_cast<uint8_t>(v >> 8);
    }
    void patch32(std::size_t pos, uint32_t v) {
        patch16(pos, static_cast<uint16_t>(v));
        patch16(pos + 2, static_cast<uint16_t>(v >> 16));
    }
    // Units of `text` from `first`, `count` of them, one byte each when `wide` is false.
    void chars(std::u16string_view text, std::size_t first, std::size_t count, bool wide) {
        for (char16_t u : text.substr(first, count)) {
            if (wide) {
                u16(u);
            } else {
                u8(static_cast<uint8_t>(u));
            }
        }
    }

private:
    std::size_t dataLength() const { return buf_.size() - start_ - 4; }

    std::vector<uint8_t> buf_;
    std::size_t start_ = 0;
};

// Only texts with a unit above 0xFF need two bytes per character.
bool NeedsWide(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(), [](char16_t u) { return u > 0xFF; });
}

void Bof(Biff& b, uint16_t kind) {
    b.begin(kBof);
    b.u16(0x0600);  // BIFF8
    b.u16(kind);
    b.u16(0x0DBB);  // build
    b.u16(0x07CC);  // year
    b.u32(0);       // file history flags
    b.u32(6);       // lowest BIFF version that may read the file
    b.end();
}

void Eof(Biff& b) {
    b.begin(kEof);
    b.end();
}

void Font(Biff& b) {
    static constexpr std::string_view kName = "Arial";
    b.begin(kFont);
    b.u16(200);     // 10 pt, in twips
    b.u16(0);       // not italic, struck out, outlined or shadowed
    b.u16(0x7FFF);  // automatic colour
    b.u16(400);     // normal weight
    b.u16(0);       // no super- or subscript
    b.u8(0);        // no underline
    b.u8(0);        // family
    b.u8(0);        // character set
    b.u8(0);
    b.u8(static_cast<uint8_t>(kName.size()));
    b.u8(0);  // one byte per character
    for (char c : kName) b.u8(static_cast<uint8_t>(c));
    b.end();
}

void Xf(Biff& b, uint16_t font, bool style, uint8_t alignment, uint8_t usedAttributes) {
    b.begin(kXf);
    b.u16(font);
    b.u16(0);                        // number format "General"
    b.u16(style ? 0xFFF5 : 0x0001);  // locked; a style has no parent, a cell the Normal style
    b.u8(alignment);
    b.u8(0);  // no rotation
    b.u8(0);  // no indent, shrink or reading order
    b.u8(usedAttributes);
    b.u32(0);  // no borders
    b.u32(0);
    b.u16(0x20C0);  // automatic pattern colours
    b.end();
}

void Formats(Biff& b) {
    // Five fonts: Excel numbers them 0-3 and 5, index 4 never being written; the styles below
    // use the first three.
    for (int i = 0; i < 5; ++i) Font(b);
    Xf(b, 0, true, kAlignDefault, 0);  // Normal
    for (std::size_t i = 1; i < kStyleXfs; ++i) {
        const uint16_t font = i <= 2 ? 1 : i <= 4 ? 2 : 0;
        Xf(b, font, true, kAlignDefault, kAttrRowColStyle);
    }
    Xf(b, 0, false, kAlignDefault, 0);               // default cell format
    Xf(b, 0, false, kAlignCentred, kAttrAlignment);  // kCentredXf
    b.begin(kStyle);
    b.u16(0x8000);  // built-in style on XF 0
    b.u8(0);        // Normal
    b.u8(0xFF);     // no outline level
    b.end();
}

struct Bucket {
    std::size_t streamPos;
    std::size_t recordOffset;
};

// The shared string table. A string's header never splits from its first character; a split
// inside the characters repeats the option byte at the start of the CONTINUE record, and
// keeps a surrogate pair in one record so that each piece decodes on its own.
void Sst(Biff& b, const std::vector<std::u16string>& strings, uint32_t references) {
    const std::size_t perBucket = std::max<std::size_t>(strings.size() / 128 + 1, 8);
    std::vector<Bucket> buckets;
    b.begin(kSst);
    b.u32(references);
    b.u32(static_cast<uint32_t>(strings.size()));
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const std::u16string& s = strings[i];
        const bool wide = NeedsWide(s);
        const std::size_t unit = wide ? 2 : 1;
        const std::size_t firstChar = s.size() >= 2 && IsHighSurrogate(s[0]) ? 2 : 1;
        if (b.room() < 3 + unit * firstChar) {
            b.end();
            b.begin(kContinue);
        }
        if (i % perBucket == 0) buckets.push_back({b.size(), b.size() - b.recordStart()});
        b.u16(static_cast<uint16_t>(s.size()));
        b.u8(wide ? 1 : 0);
        std::size_t done = 0;
        while (done < s.size()) {
            std::size_t n = std::min(b.room() / unit, s.size() - done);
            if (n > 0 && done + n < s.size() && IsHighSurrogate(s[done + n - 1])) --n;
            if (n == 0) {
                b.end();
                b.begin(kContinue);
                b.u8(wide ? 1 : 0);
                continue;
            }
            b.chars(s, done, n, wide);
            done += n;
        }
    }
    b.end();

    b.begin(kExtsst);
    b.u16(static_cast<uint16_t>(perBucket));
    for (const Bucket& bucket : buckets) {
        b.u32(static_cast<uint32_t>(bucket.streamPos));
        b.u16(static_cast<uint16_t>(bucket.recordOffset));
        b.u16(0);
    }
    b.end();
}

std::u16string CheckedSheetName(const std::string& name) {
    std::u16string s = Utf8ToUtf16(name);
    const bool bad = s.empty() || s.size() > 31 || s.front() == u'\'' || s.back() == u'\'' ||
                     s.find_first_of(u":\\/?*[]") != std::u16string::npos;
    if (bad) throw std::invalid_argument("xls: invalid sheet name");
    return s;
}

// The texts of a table: each unique one once, in order of first use, and for each cell in row
// order the index of its text, or none for a blank.
struct Cells {
    std::vector<std::u16string> strings;
    std::vector<uint32_t> sst;
    uint32_t references = 0;
    std::size_t firstRow = 0;  // the used rows and columns, for DIMENSIONS
    std::size_t lastRow = 0;
    std::size_t columns = 0;
};

Cells CollectCells(const std::vector<std::vector<std::string>>& rows) {
    Cells out;
    out.firstRow = rows.size();
    std::unordered_map<std::u16string, uint32_t> index;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].size() > kXlsMaxColumns) throw std::length_error("xls: too many columns");
        if (!rows[r].empty()) {
            out.firstRow = std::min(out.firstRow, r);
            out.lastRow = r;
            out.columns = std::max(out.columns, rows[r].size());
        }
        for (const std::string& text : rows[r]) {
            std::u16string s = Utf8ToUtf16(text);
            if (s.size() > kXlsMaxTextUnits) throw std::length_error("xls: text too long");
            if (s.empty()) {
                out.sst.push_back(kNoString);
                continue;
            }
            const auto [it, added] = index.try_emplace(std::move(s), 0);
            if (added) {
                it->second = static_cast<uint32_t>(out.strings.size());
                out.strings.push_back(it->first);
            }
            out.sst.push_back(it->second);
            ++out.references;
        }
    }
    return out;
}

// The workbook globals; returns where the sheet's stream position is to be patched in.
std::size_t Globals(Biff& b, const std::u16string& sheetName, const Cells& cells) {
    Bof(b, kBofGlobals);
    b.begin(kCodepage);
    b.u16(kUtf16Codepage);
    b.end();
    b.begin(kWindow1);
    b.u16(0);  // position
    b.u16(0);
    b.u16(0x4000);  // size, twips
    b.u16(0x2000);
    b.u16(0x0038);  // scroll bars and sheet tabs shown
    b.u16(0);       // active sheet
    b.u16(0);       // first visible tab
    b.u16(1);       // selected sheets
    b.u16(600);     // tab bar width, per mille
    b.end();
    b.begin(kDatemode);
    b.u16(0);  // dates count from 1900
    b.end();
    Formats(b);
    b.begin(kBoundsheet);
    const std::size_t sheetOffsetPos = b.size();
    b.u32(0);  // patched once the sheet's position is known
    b.u8(0);   // visible
    b.u8(0);   // worksheet
    const bool wideName = NeedsWide(sheetName);
    b.u8(static_cast<uint8_t>(sheetName.size()));
    b.u8(wideName ? 1 : 0);
    b.chars(sheetName, 0, sheetName.size(), wideName);
    b.end();
    Sst(b, cells.strings, cells.references);
    Eof(b);
    return sheetOffsetPos;
}

// The worksheet: its dimensions, every cell centred, its window.
void Worksheet(Biff& b, const std::vector<std::vector<std::string>>& rows, const Cells& cells) {
    Bof(b, kBofWorksheet);
    b.begin(kDimensions);
    const bool any = cells.columns > 0;
    b.u32(any ? static_cast<uint32_t>(cells.firstRow) : 0);
    b.u32(any ? static_cast<uint32_t>(cells.lastRow + 1) : 0);  // one past the last
    b.u16(0);
    b.u16(static_cast<uint16_t>(cells.columns));
    b.u16(0);
    b.end();
    std::size_t cell = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c, ++cell) {
            const uint32_t sst = cells.sst.at(cell);
            b.begin(sst == kNoString ? kBlank : kLabelSst);
            b.u16(static_cast<uint16_t>(r));
            b.u16(static_cast<uint16_t>(c));
            b.u16(kCentredXf);
            if (sst != kNoString) b.u32(sst);
            b.end();
        }
    }
    b.begin(kWindow2);
    b.u16(0x06B6);  // grid, headers, zeros and outline symbols shown; selected and displayed
    b.u16(0);       // top row
    b.u16(0);       // left column
    b.u16(64);      // automatic grid colour
    b.u16(0);
    b.u16(0);  // zoom: default
    b.u16(0);
    b.u32(0);
    b.end();
    Eof(b);
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<uint8_t>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        // The second byte's range excludes overlong forms, surrogates and values past U+10FFFF.
        std::size_t len = 0;
        uint32_t cp = 0;
        uint8_t lo = 0x80;
        uint8_t hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            len = 2;
            cp = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            len = 3;
            cp = lead & 0x0Fu;
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            len = 4;
            cp = lead & 0x07u;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            const auto c = static_cast<uint8_t>(text[i + k]);
            if (c < lo || c > hi) break;
            cp = (cp << 6) | (c & 0x3Fu);
            lo = 0x80;
            hi = 0xBF;
        }
        i += k;
        if (k < len) {
            out.push_back(u'\uFFFD');
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        }
    }
    return out;
}

std::vector<uint8_t> WriteXls(const std::vector<std::vector<std::string>>& rows,
                              const XlsOptions& options) {
    const std::u16string sheetName = CheckedSheetName(options.sheetName);
    if (rows.size() > kXlsMaxRows) throw std::length_error("xls: too many rows");
    const Cells cells = CollectCells(rows);

    Biff b;
    b.bytes().reserve(1024 + cells.sst.size() * 14 + cells.strings.size() * 16);
    const std::size_t sheetOffsetPos = Globals(b, sheetName, cells);
    if (b.size() > kMaxStreamSize) throw std::length_error("xls: workbook too large");
    b.patch32(sheetOffsetPos, static_cast<uint32_t>(b.size()));
    Worksheet(b, rows, cells);

    // Trailing zeros after the last EOF are never read; they keep a small workbook out of the
    // mini stream.
    std::vector<uint8_t>& stream = b.bytes();
    if (stream.size() < kMiniStreamCutoff) stream.resize(kMiniStreamCutoff, 0);
    return WriteCompoundFile(u"Workbook", stream);
}

}  // namespace ck::output
