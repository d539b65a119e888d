#pragma once
// The window's three typefaces on free fonts: 宋体 (Song, serif CJK), 黑体 (Hei, sans CJK) and
// Arial, mapped to Noto Serif CJK SC, Noto Sans CJK SC and Liberation Sans, which have the
// closest look and metrics among Debian's fonts. Sizes are in points.

#include <QFont>

namespace ck::views {

QFont SongFont(double points, bool bold = false);
QFont HeiFont(double points, bool bold = false);
QFont ArialFont(double points, bool bold = false);
// Fixed pitch with Chinese glyphs two columns wide, for printed reports.
QFont MonoCjkFont(double points);

// Registers the Windows family names as substitutes for the free ones, so a font asked for
// by its Windows name anywhere in the program still finds a face with Chinese glyphs.
void InstallFontSubstitutions();

}  // namespace ck::views
