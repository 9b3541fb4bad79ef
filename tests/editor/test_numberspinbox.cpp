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
        QTest::newRow("dollar sign") << "$2,500" << 999999.99 << 2500.0;
        QTest::newRow("the maximum") << "999.999,99" << 999999.99 << 999999.99;
        QTest::newRow("three decimals") << "1,234" << 999999.99 << 7.5;
        QTest::newRow("three decimals at the box's maximum") << "99,994" << 99.99 << 7.5;
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
};

APP_TEST_MAIN(TestNumberSpinBox)
#include "test_numberspinbox.moc"
