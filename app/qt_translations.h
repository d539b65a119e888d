// SPDX-License-Identifier: MIT
#pragma once
// Qt's own texts in Chinese, like the rest of the window: the buttons and labels of the save,
// print and message dialogs ("保存", "取消", "打印" rather than "Save", "Cancel", "Print"),
// whatever language the system is set to.

#include <QString>

class QCoreApplication;

namespace ck::app {

// Qt's catalogue for its own widgets and dialogs, as Debian installs it with
// qt6-translations-l10n.
inline constexpr const char* kQtCatalogue = "qtbase_zh_CN";

// Loads the catalogue from `folder` (Qt's translations folder when empty) into the
// application. False, with the dialogs left in English and a line on stderr, when it is not
// there.
bool InstallQtTranslations(QCoreApplication& app, const QString& folder = QString());

}  // namespace ck::app
