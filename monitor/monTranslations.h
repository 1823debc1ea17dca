// The toolkit's own texts (file dialogs, context menus, the standard buttons) in the user's
// language, from the translations installed with the toolkit.
#pragma once

#include <QLocale>
#include <QString>

class QCoreApplication;
class QTranslator;

namespace qz {

// The folder the toolkit's translations are installed in.
QString QtTranslationsFolder();

// Loads "qtbase" for `locale` from `folder` and installs it into the application; the
// translator belongs to the application. Null when there is no translation for the locale
// (the program then keeps the toolkit's English texts, and its own boxes their Russian
// button names).
QTranslator* InstallQtTranslations(QCoreApplication& app, const QLocale& locale = QLocale::system(),
                                   const QString& folder = QtTranslationsFolder());

} // namespace qz
