#include "monitor/monTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace qz {

QString QtTranslationsFolder() {
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

QTranslator* InstallQtTranslations(QCoreApplication& app, const QLocale& locale,
                                   const QString& folder) {
    auto* t = new QTranslator(&app);
    if (!t->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
        delete t;
        return nullptr;
    }
    QCoreApplication::installTranslator(t);
    return t;
}

} // namespace qz
