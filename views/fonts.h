// SPDX-License-Identifier: MIT
#pragma once
// The window's three typefaces, 宋体 (Song, serif CJK), 黑体 (Hei, sans CJK) and Arial, and a
// fixed-pitch face for printed reports. On Windows the faces themselves come first (SimSun,
// SimHei, Arial, and NSimSun for print), with the free fonts behind them for a machine that
// lacks one. Elsewhere the free fonts with the closest look and metrics come first: Noto Serif
// CJK SC, Noto Sans CJK SC, Liberation Sans and Noto Sans Mono CJK SC. Sizes are in points.

#include <QFont>
#include <QStringList>

namespace ck::views {

enum class Typeface { Song, Hei, Arial, MonoCjk };
enum class FontPlatform { Windows, Other };

#ifdef Q_OS_WIN
inline constexpr FontPlatform kThisPlatform = FontPlatform::Windows;
#else
inline constexpr FontPlatform kThisPlatform = FontPlatform::Other;
#endif

// The families a face is asked for by, best first.
QStringList FaceFamilies(Typeface face, FontPlatform platform = kThisPlatform);

QFont SongFont(double points, bool bold = false);
QFont HeiFont(double points, bool bold = false);
QFont ArialFont(double points, bool bold = false);
// Fixed pitch with Chinese glyphs two columns wide, for printed reports.
QFont MonoCjkFont(double points);

// Registers the free families as substitutes for the Windows names, so a font asked for by its
// Windows name anywhere in the program still finds a face with Chinese glyphs.
void InstallFontSubstitutions();

}  // namespace ck::views
