// SPDX-License-Identifier: MIT
#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

namespace ck::app {

bool InstallQtTranslations(QCoreApplication& app, const QString& folder) {
    const QString from =
        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(&app);
    if (translator->load(QString::fromLatin1(kQtCatalogue), from) &&
        QCoreApplication::installTranslator(translator)) {
        return true;
    }
    delete translator;
    std::fprintf(stderr,
                 "%s: Qt's Chinese texts (%s.qm) not found in %s; the standard dialogs "
                 "stay in English\n",
                 qPrintable(QCoreApplication::applicationName()), kQtCatalogue, qPrintable(from));
    return false;
}

}  // namespace ck::app
