// SPDX-License-Identifier: MIT
#pragma once
// The text a PDF gives back (search, copy, pdftotext) for what Qt's PDF writer drew. Qt names
// each embedded glyph after the lowest code point its font maps to it, and the CJK fonts draw
// a radical (U+2E80 to U+2FDF) with the glyph of its ideograph: "一" came back as "⼀" (U+2F00),
// "页" as "⻚", and a blank as a tab.

#include <QByteArray>

#include <functional>

namespace ck::views {

// The ideograph a font draws radical `cp` with, or 0 where it draws none or another glyph.
using RadicalIdeograph = std::function<char32_t(char32_t cp)>;

// The same document with each ToUnicode map naming the ideograph instead of the radical it
// shares a glyph with, and a blank instead of a tab; the cross-reference table follows the
// bytes that moved. A document laid out otherwise than Qt writes it comes back unchanged.
QByteArray RepairPdfText(const QByteArray& pdf, const RadicalIdeograph& ideograph);

// The ideographs the report's fonts draw the radicals with.
RadicalIdeograph ReportFontIdeographs();

}  // namespace ck::views
