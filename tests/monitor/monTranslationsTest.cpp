// The toolkit's own texts follow the user's locale when its translation is installed.
#include "QtTestEnv.h"

#include "monitor/monTranslations.h"

#include <QFileInfo>
#include <QTranslator>

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(MonTranslations, RussianToolkitTextsAreLoadedAndOthersFallBack) {
    const QString folder = QtTranslationsFolder();
    ASSERT_TRUE(QFileInfo::exists(folder + QStringLiteral("/qtbase_ru.qm")))
        << "scripts/install-deps installs the toolkit's translations into " << folder.toStdString();
    QCoreApplication& app = *QCoreApplication::instance();
    const QString english = QCoreApplication::translate("QPlatformTheme", "Cancel");
    QTranslator* t = InstallQtTranslations(app, QLocale(QLocale::Russian, QLocale::Russia));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Отмена");
    QCoreApplication::removeTranslator(t);
    delete t;
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), english);

    // A locale without a translation, or a folder without any: nothing installed.
    EXPECT_EQ(InstallQtTranslations(app, QLocale(QLocale::Russian), QStringLiteral("/nonexistent")),
              nullptr);
    EXPECT_EQ(InstallQtTranslations(app, QLocale(QLocale::Esperanto)), nullptr);
}

} // namespace
} // namespace qz
