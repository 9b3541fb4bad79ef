#include "core/translators.h"
#include "tests/support/testmain.h"

#include <memory>

#include <QTranslator>

class TestTranslators : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void germanLoadsProgramAndQtTexts_data();
    void germanLoadsProgramAndQtTexts();
    void unknownLanguageLeavesProgramUntranslated();
    void compiledGermanFileIsNotEmpty();
};

void TestTranslators::init()
{
    // Each test's translations go with its Translators object.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    QCOMPARE(QCoreApplication::translate("Translators", "LANGUAGE_NAME"),
             QStringLiteral("LANGUAGE_NAME"));
}

void TestTranslators::germanLoadsProgramAndQtTexts_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("de_DE") << "de_DE";
    QTest::newRow("de_AT") << "de_AT";
    QTest::newRow("de") << "de";
    QTest::newRow("de_DE.UTF-8") << "de_DE.UTF-8";
}

void TestTranslators::germanLoadsProgramAndQtTexts()
{
    QFETCH(QString, language);
    std::unique_ptr<Translators> translators(new Translators(language));
    QCOMPARE(translators->parent(), QCoreApplication::instance());
    QVERIFY(translators->programTranslationLoaded());
    QVERIFY(translators->qtTranslationLoaded());
    QCOMPARE(QCoreApplication::translate("Translators", "LANGUAGE_NAME"),
             QStringLiteral("Deutsch"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Save"), QStringLiteral("Speichern"));
    // German source texts without an entry stay as they are.
    QCOMPARE(QCoreApplication::translate("MainWindow", "Artikel einstellen"),
             QStringLiteral("Artikel einstellen"));
}

void TestTranslators::unknownLanguageLeavesProgramUntranslated()
{
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("Translation not loaded: "
                                                           ".*TranslationExample_xx\\.qm")));
    std::unique_ptr<Translators> translators(new Translators(QStringLiteral("xx_YY")));
    QVERIFY(!translators->programTranslationLoaded());
    QCOMPARE(QCoreApplication::translate("Translators", "LANGUAGE_NAME"),
             QStringLiteral("LANGUAGE_NAME"));
    // The program speaks German whatever was asked for, and so do Qt's buttons.
    QVERIFY(translators->qtTranslationLoaded());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
}

void TestTranslators::compiledGermanFileIsNotEmpty()
{
    // Qt refuses to install an empty translation; the German file must carry an entry.
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/languages/languages/TranslationExample_de.qm")));
    QVERIFY(!translator.isEmpty());
    QCOMPARE(translator.language(), QStringLiteral("de_DE"));
}

APP_TEST_GUILESS_MAIN(TestTranslators)
#include "test_translators.moc"
