#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

Translations::Translations(const QLocale& locale)
{
    // The .qm files are built into the executable, so a relocated or bundled
    // copy finds them; Qt's come from its installation.
    const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (m_qt.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), qtDir))
        QCoreApplication::installTranslator(&m_qt);
    // Installed last, so it is asked first.
    if (m_app.load(locale, QStringLiteral("brevane"), QStringLiteral("_"),
                   QStringLiteral(":/i18n")))
        QCoreApplication::installTranslator(&m_app);
}
