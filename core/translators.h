#pragma once

#include <QObject>
#include <QString>

class QTranslator;

// Installs the program's translation for a language code ("de_DE" -> "de") and Qt's
// own German button texts. Lives for the rest of the program.
class Translators : public QObject
{
    Q_OBJECT
public:
    explicit Translators(const QString &language);

    bool programTranslationLoaded() const { return m_programLoaded; }
    bool qtTranslationLoaded() const { return m_qtLoaded; }

private:
    QTranslator *m_program = nullptr;
    QTranslator *m_qt = nullptr;
    bool m_programLoaded = false;
    bool m_qtLoaded = false;
};
