#include "views/fonts.h"

#include <QStringList>

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

QFont SongFont(double points, bool bold) {
    return make({QStringLiteral("Noto Serif CJK SC"), QStringLiteral("宋体"),
                 QStringLiteral("Noto Sans CJK SC")},
                points, bold);
}

QFont HeiFont(double points, bool bold) {
    return make({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("黑体")}, points, bold);
}

QFont ArialFont(double points, bool bold) {
    return make({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                 QStringLiteral("Noto Sans CJK SC")},
                points, bold);
}

QFont MonoCjkFont(double points) {
    QFont f = make({QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Noto Sans CJK SC")},
                   points, false);
    f.setFixedPitch(true);
    f.setStyleHint(QFont::Monospace);
    return f;
}

void InstallFontSubstitutions() {
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    QFont::insertSubstitution(QStringLiteral("黑体"), QStringLiteral("Noto Sans CJK SC"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
}

}  // namespace ck::views
