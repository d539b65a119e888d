// SPDX-License-Identifier: MIT
#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

#include <cstdio>

namespace ck::app {

bool InstallQtTranslations(QCoreApplication& app, const QString& folder) {
    // A program folder laid out as windeployqt does keeps them beside the program; an
    // installed Qt keeps them where it says.
    QStringList from{folder};
    if (folder.isEmpty()) {
        from = {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    }
    auto* translator = new QTranslator(&app);
    for (const QString& dir : from) {
        if (translator->load(QString::fromLatin1(kQtCatalogue), dir) &&
            QCoreApplication::installTranslator(translator)) {
            return true;
        }
    }
    delete translator;
    std::fprintf(stderr,
                 "%s: Qt's Chinese texts (%s.qm) not found in %s; the standard dialogs "
                 "stay in English\n",
                 qPrintable(QCoreApplication::applicationName()), kQtCatalogue,
                 qPrintable(from.join(QStringLiteral(" or "))));
    return false;
}

}  // namespace ck::app
