#include "core/translators.h"
#include "tests/support/testmain.h"

#include <memory>

class TestTranslators : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void loadsByLanguage_data();
    void loadsByLanguage();
};

void TestTranslators::init()
{
    // Each test's translations go with its Translators object.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    QCOMPARE(QCoreApplication::translate("Translators", "LANGUAGE_NAME"),
             QStringLiteral("LANGUAGE_NAME"));
}

void TestTranslators::loadsByLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("languageName"); // LANGUAGE_NAME when not translated
    QTest::newRow("de_DE") << "de_DE" << QStringLiteral("Deutsch");
    QTest::newRow("de") << "de" << QStringLiteral("Deutsch");
    QTest::newRow("unknown") << "xx_YY" << QStringLiteral("LANGUAGE_NAME");
}

void TestTranslators::loadsByLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, languageName);
    const bool known = languageName != QLatin1String("LANGUAGE_NAME");
    if (!known)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "Translation not loaded: .*TranslationExample_xx\\.qm")));
    std::unique_ptr<Translators> translators(new Translators(language));
    QCOMPARE(translators->programTranslationLoaded(), known);
    QCOMPARE(QCoreApplication::translate("Translators", "LANGUAGE_NAME"), languageName);
    // Qt's own buttons speak German whatever was asked for.
    QVERIFY(translators->qtTranslationLoaded());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
}

APP_TEST_GUILESS_MAIN(TestTranslators)
#include "test_translators.moc"
