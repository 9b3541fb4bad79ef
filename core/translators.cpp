#include "core/translators.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "core/logging.h"

namespace {

//: The language's own name. Every translation carries it, so that no compiled file is
//: empty: Qt does not install an empty translation.
const char *const kLanguageName = QT_TRANSLATE_NOOP("Translators", "LANGUAGE_NAME");

} // namespace

// Owned by the application object, so it lives as long as the translations are in use.
Translators::Translators(const QString &language)
    : QObject(QCoreApplication::instance())
{
    // Qt's own texts (standard buttons, file dialogs) in German, like the program's.
    const QString qtFolder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    m_qt = new QTranslator(this);
    m_qtLoaded = m_qt->load(QStringLiteral("qtbase_de"), qtFolder)
        && QCoreApplication::installTranslator(m_qt);
    if (!m_qtLoaded)
        qCWarning(lcApp) << "Qt translation not loaded: qtbase_de from" << qtFolder;

    // Installed last, so it is asked first.
    const QString code = language.section(QLatin1Char('_'), 0, 0);
    const QString file = QStringLiteral(":/languages/languages/TranslationExample_") + code
        + QStringLiteral(".qm");
    m_program = new QTranslator(this);
    m_programLoaded = m_program->load(file) && QCoreApplication::installTranslator(m_program);
    if (m_programLoaded)
        qCDebug(lcApp) << "Translation loaded:" << file
                       << m_program->translate("Translators", kLanguageName);
    else
        qCWarning(lcApp) << "Translation not loaded:" << file;
}
