#include "core/translators.h"
#include "tests/support/testmain.h"

#include <memory>

class TestTranslators : public QObject
{
    Q_OBJECT
private slots:
    void loadsByLanguage();
};

// The program's language follows the locale ("de_DE" finds "de"); Qt's own buttons speak
// German whatever was asked for; the translations go with their Translators object.
void TestTranslators::loadsByLanguage()
{
    for (const QString language : { "de_DE", "xx_YY" }) {
        const bool known = language == QLatin1String("de_DE");
        if (!known)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("Translation not loaded: .*_xx\\.qm"));
        auto translators = std::make_unique<Translators>(language);
        QCOMPARE(translators->programTranslationLoaded(), known);
        QCOMPARE(QCoreApplication::translate("Translators", "LANGUAGE_NAME"),
                 known ? QStringLiteral("Deutsch") : QStringLiteral("LANGUAGE_NAME"));
        QVERIFY(translators->qtTranslationLoaded());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"),
                 QStringLiteral("Abbrechen"));
        translators.reset();
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    }
}

APP_TEST_GUILESS_MAIN(TestTranslators)
#include "test_translators.moc"
