// SPDX-License-Identifier: MIT
#include "views/fonts.h"

namespace ck::views {
namespace {

QFont make(const QStringList& families, double points, bool bold) {
    QFont f;
    f.setFamilies(families);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

}  // namespace

QStringList FaceFamilies(Typeface face, FontPlatform platform) {
    // Windows knows each face by its English and its Chinese name.
    const bool windows = platform == FontPlatform::Windows;
    switch (face) {
        case Typeface::Song:
            if (windows) {
                return {QStringLiteral("SimSun"), QStringLiteral("宋体"),
                        QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")};
            }
            return {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("宋体"),
                    QStringLiteral("Noto Sans CJK SC")};
        case Typeface::Hei:
            if (windows) {
                return {QStringLiteral("SimHei"), QStringLiteral("黑体"),
                        QStringLiteral("Noto Sans CJK SC")};
            }
            return {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("黑体")};
        case Typeface::Arial:
            if (windows) {
                return {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                        QStringLiteral("Noto Sans CJK SC")};
            }
            return {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                    QStringLiteral("Noto Sans CJK SC")};
        case Typeface::MonoCjk:
            // NSimSun (新宋体): fixed pitch, each Chinese glyph exactly two columns.
            if (windows) {
                return {QStringLiteral("NSimSun"), QStringLiteral("新宋体"),
                        QStringLiteral("Noto Sans Mono CJK SC"),
                        QStringLiteral("Noto Sans CJK SC")};
            }
            return {QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC")};
    }
    return {};
}

QFont SongFont(double points, bool bold) {
    return make(FaceFamilies(Typeface::Song), points, bold);
}

QFont HeiFont(double points, bool bold) { return make(FaceFamilies(Typeface::Hei), points, bold); }

QFont ArialFont(double points, bool bold) {
    return make(FaceFamilies(Typeface::Arial), points, bold);
}

QFont MonoCjkFont(double points) {
    QFont f = make(FaceFamilies(Typeface::MonoCjk), points, false);
    f.setFixedPitch(true);
    f.setStyleHint(QFont::Monospace);
    return f;
}

void InstallFontSubstitutions() {
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("Noto Serif CJK SC"),
                                                        QStringLiteral("Noto Sans CJK SC")});
    QFont::insertSubstitution(QStringLiteral("黑体"), QStringLiteral("Noto Sans CJK SC"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
}

}  // namespace ck::views
