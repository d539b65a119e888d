// SPDX-License-Identifier: MIT
#include "views/pdf_text.h"

#include <QHash>
#include <QRawFont>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "views/fonts.h"

namespace ck::views {
namespace {

constexpr char32_t kFirstRadical = 0x2E80;
constexpr char32_t kLastRadical = 0x2FDF;

// UTF-16 code units as the map's hex strings hold them.
using Units = std::vector<uint16_t>;

std::optional<Units> units(const QByteArray& hex) {
    if (hex.isEmpty() || hex.size() % 4 != 0) return std::nullopt;
    Units u;
    for (qsizetype i = 0; i < hex.size(); i += 4) {
        bool ok = false;
        const uint v = hex.mid(i, 4).toUInt(&ok, 16);
        if (!ok) return std::nullopt;
        u.push_back(static_cast<uint16_t>(v));
    }
    return u;
}

QByteArray hex4(uint v) { return QByteArray::number(v, 16).toUpper().rightJustified(4, '0'); }

// The tokens of a CMap's mapping part: <hex>, [, ], and words.
std::vector<QByteArray> tokens(const QByteArray& s) {
    std::vector<QByteArray> out;
    qsizetype i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '<') {
            const qsizetype end = s.indexOf('>', i);
            if (end < 0) return {};
            out.push_back(s.mid(i, end + 1 - i));
            i = end + 1;
        } else if (c == '[' || c == ']') {
            out.push_back(QByteArray(1, c));
            ++i;
        } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            ++i;
        } else {
            qsizetype end = i;
            while (end < s.size() && !QByteArrayView(" \n\r\t<[]").contains(s[end])) ++end;
            out.push_back(s.mid(i, end - i));
            i = end;
        }
    }
    return out;
}

bool isHex(const QByteArray& t) { return t.size() >= 2 && t.front() == '<' && t.back() == '>'; }
QByteArray inner(const QByteArray& t) { return t.mid(1, t.size() - 2); }

// The CMap with its mappings repaired, or nothing when it needs none or cannot be read.
std::optional<QByteArray> repairCMap(const QByteArray& cmap, const RadicalIdeograph& ideograph) {
    const qsizetype first = cmap.indexOf("beginbf");
    const qsizetype last = std::max(cmap.lastIndexOf("endbfrange"), cmap.lastIndexOf("endbfchar"));
    if (first < 0 || last < first) return std::nullopt;
    const qsizetype start = cmap.lastIndexOf('\n', first) + 1;  // the block's count
    const qsizetype end = cmap.indexOf('\n', last) < 0 ? cmap.size() : cmap.indexOf('\n', last) + 1;

    std::map<uint, Units> map;  // glyph -> text
    const std::vector<QByteArray> t = tokens(cmap.mid(start, end - start));
    if (t.empty()) return std::nullopt;
    enum class Mode { None, Range, Char } mode = Mode::None;
    for (std::size_t i = 0; i < t.size();) {
        if (t[i] == "beginbfrange" || t[i] == "beginbfchar") {
            mode = t[i] == "beginbfrange" ? Mode::Range : Mode::Char;
            ++i;
        } else if (t[i] == "endbfrange" || t[i] == "endbfchar") {
            mode = Mode::None;
            ++i;
        } else if (mode == Mode::None) {
            ++i;  // a block's count
        } else if (mode == Mode::Char) {
            if (i + 1 >= t.size() || !isHex(t[i]) || !isHex(t[i + 1])) return std::nullopt;
            const auto src = units(inner(t[i]));
            const auto dst = units(inner(t[i + 1]));
            if (!src || src->size() != 1 || !dst) return std::nullopt;
            map[src->front()] = *dst;
            i += 2;
        } else {
            if (i + 2 >= t.size() || !isHex(t[i]) || !isHex(t[i + 1])) return std::nullopt;
            const auto lo = units(inner(t[i]));
            const auto hi = units(inner(t[i + 1]));
            if (!lo || !hi || lo->size() != 1 || hi->size() != 1 || hi->front() < lo->front())
                return std::nullopt;
            i += 2;
            if (t[i] == "[") {
                ++i;
                for (uint g = lo->front(); g <= hi->front(); ++g, ++i) {
                    if (i >= t.size() || !isHex(t[i])) return std::nullopt;
                    const auto dst = units(inner(t[i]));
                    if (!dst) return std::nullopt;
                    map[g] = *dst;
                }
                if (i >= t.size() || t[i] != "]") return std::nullopt;
                ++i;
            } else {
                const auto dst = units(inner(t[i]));
                if (!isHex(t[i]) || !dst) return std::nullopt;
                for (uint g = lo->front(); g <= hi->front(); ++g) {
                    Units u = *dst;
                    u.back() = static_cast<uint16_t>(u.back() + (g - lo->front()));
                    map[g] = u;
                }
                ++i;
            }
        }
    }

    bool changed = false;
    for (auto& [glyph, text] : map) {
        if (text.size() != 1) continue;
        const char32_t cp = text.front();
        char32_t better = 0;
        if (cp == U'\t') {
            better = U' ';
        } else if (cp >= kFirstRadical && cp <= kLastRadical) {
            better = ideograph(cp);
        }
        if (better != 0 && better <= 0xFFFF) {
            text.front() = static_cast<uint16_t>(better);
            changed = true;
        }
    }
    if (!changed) return std::nullopt;

    // One glyph to a line, at most 100 to a block as the format allows.
    QByteArray body;
    auto it = map.begin();
    while (it != map.end()) {
        QByteArray block;
        int n = 0;
        for (; it != map.end() && n < 100; ++it, ++n) {
            block += '<' + hex4(it->first) + "> <";
            for (const uint16_t unit : it->second) block += hex4(unit);
            block += ">\n";
        }
        body += QByteArray::number(n) + " beginbfchar\n" + block + "endbfchar\n";
    }
    return cmap.left(start) + body + cmap.mid(end);
}

struct Edit {
    qsizetype at;      // in the old bytes
    qsizetype length;  // old bytes replaced
    QByteArray with;
};

}  // namespace

QByteArray RepairPdfText(const QByteArray& pdf, const RadicalIdeograph& ideograph) {
    std::vector<Edit> edits;
    QList<QByteArray> seen;
    static const QRegularExpression toUnicode(QStringLiteral("/ToUnicode (\\d+) 0 R"));
    static const QRegularExpression lengthRe(QStringLiteral("/Length (\\d+)( \\d+ R)?"));
    const QString text = QString::fromLatin1(pdf);
    for (auto m = toUnicode.globalMatch(text); m.hasNext();) {
        const QByteArray n = m.next().captured(1).toLatin1();
        if (seen.contains(n)) continue;
        seen << n;
        const qsizetype obj = pdf.indexOf("\n" + n + " 0 obj");
        if (obj < 0) continue;
        const qsizetype stream = pdf.indexOf("stream\n", obj);
        const qsizetype endobj = pdf.indexOf("endobj", obj);
        if (stream < 0 || endobj < stream) continue;
        const auto len = lengthRe.match(text, obj);
        if (!len.hasMatch() || len.capturedStart() > stream || len.hasCaptured(2)) continue;
        const qsizetype size = len.captured(1).toLongLong();
        const qsizetype data = stream + 7;
        if (data + size > endobj || !pdf.mid(data + size, 12).trimmed().startsWith("endstream"))
            continue;
        const auto repaired = repairCMap(pdf.mid(data, size), ideograph);
        if (!repaired) continue;
        edits.push_back(
            {len.capturedStart(1), len.capturedLength(1), QByteArray::number(repaired->size())});
        edits.push_back({data, size, *repaired});
    }
    if (edits.empty()) return pdf;
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });

    // Where a byte before or after the edits moved to.
    auto moved = [&edits](qsizetype old) {
        qsizetype to = old;
        for (const Edit& e : edits) {
            if (e.at + e.length <= old) to += e.with.size() - e.length;
        }
        return to;
    };
    QByteArray out;
    qsizetype from = 0;
    for (const Edit& e : edits) {
        out += pdf.mid(from, e.at - from) + e.with;
        from = e.at + e.length;
    }
    out += pdf.mid(from);

    // The cross-reference table: fixed-width entries, "oooooooooo ggggg n" and a two-byte end.
    static const QRegularExpression startRe(QStringLiteral("startxref\\s+(\\d+)\\s+%%EOF\\s*$"));
    const auto start = startRe.match(QString::fromLatin1(out));
    if (!start.hasMatch()) return pdf;
    const qsizetype xref = moved(start.captured(1).toLongLong());
    if (!out.mid(xref, 4).startsWith("xref")) return pdf;
    qsizetype at = out.indexOf('\n', xref) + 1;
    while (at > 0 && at < out.size() && !out.mid(at, 7).startsWith("trailer")) {
        const qsizetype eol = out.indexOf('\n', at);
        const QList<QByteArray> head = out.mid(at, eol - at).trimmed().split(' ');
        if (eol < 0 || head.size() != 2) return pdf;
        const qsizetype count = head[1].toLongLong();
        at = eol + 1;
        for (qsizetype k = 0; k < count; ++k, at += 20) {
            const QByteArray entry = out.mid(at, 20);
            if (entry.size() != 20 || entry[10] != ' ' || entry[16] != ' ') return pdf;
            if (entry[17] != 'n') continue;
            bool ok = false;
            const qsizetype old = entry.left(10).toLongLong(&ok);
            if (!ok) return pdf;
            out.replace(at, 10, QByteArray::number(moved(old)).rightJustified(10, '0'));
        }
    }
    if (at <= 0 || at >= out.size()) return pdf;
    const auto end = startRe.match(QString::fromLatin1(out));
    out.replace(end.capturedStart(1), end.capturedLength(1), QByteArray::number(xref));
    return out;
}

RadicalIdeograph ReportFontIdeographs() {
    // Each radical's glyph, and the first ideograph drawn with the same glyph.
    static const QHash<char32_t, char32_t> table = [] {
        QHash<char32_t, char32_t> t;
        const QRawFont font = QRawFont::fromFont(HeiFont(10));
        if (!font.isValid()) return t;
        QString ideographs;
        for (char32_t c = 0x3400; c <= 0x9FFF; ++c) {
            if (c == 0x4DC0) c = 0x4E00;  // the hexagram symbols between the two blocks
            ideographs += QChar(static_cast<char16_t>(c));
        }
        const QList<quint32> glyphs = font.glyphIndexesForString(ideographs);
        QHash<quint32, char32_t> byGlyph;
        for (qsizetype i = 0; i < glyphs.size() && i < ideographs.size(); ++i) {
            if (glyphs[i] != 0 && !byGlyph.contains(glyphs[i]))
                byGlyph.insert(glyphs[i], ideographs[i].unicode());
        }
        QString radicals;
        for (char32_t c = kFirstRadical; c <= kLastRadical; ++c) {
            radicals += QChar(static_cast<char16_t>(c));
        }
        const QList<quint32> shared = font.glyphIndexesForString(radicals);
        for (qsizetype i = 0; i < shared.size() && i < radicals.size(); ++i) {
            if (const auto it = byGlyph.constFind(shared[i]); it != byGlyph.constEnd())
                t.insert(radicals[i].unicode(), *it);
        }
        return t;
    }();
    return [](char32_t cp) { return table.value(cp, 0); };
}

}  // namespace ck::views
