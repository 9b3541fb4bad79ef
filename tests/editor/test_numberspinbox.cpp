#include "core/numberreader.h"
#include "editor/companions/numberspinbox.h"
#include "tests/support/testmain.h"

#include <QLineEdit>

// The editor's price boxes take what a seller types as a price, or leave their number as it
// was: never a negative price, one above the program's maximum (whatever range the box was
// given) or one of more than two decimals, and never "1,234" read as 1.234.
class TestNumberSpinBox : public QObject
{
    Q_OBJECT
private slots:
    void typed_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<double>("value"); // 7.5 (the number before): refused
        QTest::newRow("decimal comma") << "12,5" << 999999.99 << 12.5;
        QTest::newRow("German thousands point") << "1.000" << 999999.99 << 1000.0;
        QTest::newRow("dollar sign") << "$2,500" << 999999.99 << 2500.0;
        QTest::newRow("code USD") << "USD 1,234" << 999999.99 << 1234.0;
        QTest::newRow("pound sign") << "£1,000" << 999999.99 << 1000.0;
        QTest::newRow("the maximum") << "999.999,99" << 999999.99 << 999999.99;
        QTest::newRow("three decimals") << "1,234" << 999999.99 << 7.5;
        QTest::newRow("three decimals at the box's maximum") << "99,994" << 99.99 << 7.5;
        QTest::newRow("three decimals, euro sign") << "1,234 €" << 999999.99 << 7.5;
        QTest::newRow("negative") << "-3,00" << 999999.99 << 7.5;
        QTest::newRow("nineteen nines") << "9999999999999999999" << 999999.99 << 7.5;
        QTest::newRow("over the program's maximum in a wider box") << "1.000.000" << 1e12 << 7.5;
        QTest::newRow("over the box's maximum") << "100" << 99.99 << 7.5;
    }
    void typed()
    {
        QFETCH(QString, typed);
        QFETCH(double, maximum);
        QFETCH(double, value);
        for (const QLocale &locale : { QLocale(QLocale::German, QLocale::Germany),
                                       QLocale(QLocale::English, QLocale::UnitedStates) }) {
            NumberSpinBox box;
            box.setLocale(locale);
            box.setDecimals(2);
            box.setMaximum(maximum);
            box.setValue(7.5);
            auto *field = box.findChild<QLineEdit *>();
            field->selectAll();
            field->insert(typed);
            box.interpretText();
            QCOMPARE(box.value(), value);
        }
    }

    // What no price can become is not even typed; what may still become one stays.
    void entryStates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        QTest::newRow("a price") << "12,50" << int(QValidator::Acceptable);
        QTest::newRow("a sign") << "-" << int(QValidator::Intermediate);
        QTest::newRow("a negative price") << "-3" << int(QValidator::Intermediate);
        QTest::newRow("a third decimal") << "12,505" << int(QValidator::Intermediate);
        QTest::newRow("a letter") << "12x" << int(QValidator::Invalid);
    }
    void entryStates()
    {
        QFETCH(QString, text);
        QFETCH(int, state);
        NumberSpinBox box;
        box.setDecimals(2);
        box.setMaximum(NumberReader::maxPrice);
        int pos = 0;
        QCOMPARE(int(box.validate(text, pos)), state);
    }
};

APP_TEST_MAIN(TestNumberSpinBox)
#include "test_numberspinbox.moc"
