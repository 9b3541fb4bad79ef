// The variation editor and the variant generator, on SQLite and MariaDB.
#include "editor/companions/editvar.h"
#include "editor/companions/variantgenerator.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include <QLabel>

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QTreeWidget>
#include <memory>

namespace {

const QString kTwoOptions = "<NameValueList><Name>Farbe</Name><Value>rot & <hell></Value>"
                            "</NameValueList><NameValueList><Name>Größe</Name><Value>M</Value>"
                            "</NameValueList>";

// The variations of an article in id order, one line each: "SKU Quantity StartPrice" and the
// option values joined by "/".
QStringList variations(Database *db, int articleId)
{
    QStringList lines;
    const auto rows = db->select("SELECT * FROM articles_variations WHERE article_id="
                                 + QString::number(articleId) + " ORDER BY id")
                          .value();
    static const QRegularExpression value("<Value>(.*?)</Value>");
    for (const auto &row : rows) {
        QStringList values;
        auto it = value.globalMatch(row.value("VariantXml").toString());
        while (it.hasNext())
            values << it.next().captured(1);
        lines << QString("%1 %2 %3 %4")
                     .arg(row.value("SKU").toString(), row.value("Quantity").toString(),
                          QString::number(row.value("StartPrice").toDouble(), 'g', 15), values.join('/'));
    }
    return lines;
}

// Adds options through the dialog's buttons: "Farbe:rot, blau" asks the name, then the values.
void addOptions(VariantGenerator &dialog, DialogAnswers &answers, const QStringList &options)
{
    for (const QString &option : options) {
        answers.pushText(option.section(':', 0, 0));
        answers.pushText(option.section(':', 1));
        dialog.findChild<QPushButton *>("NewOption")->click();
    }
}

void setPrice(VariantGenerator &dialog, double price)
{
    dialog.findChild<QDoubleSpinBox *>("PriceStart")->setValue(price);
}

// Makes every further statement on articles_variations fail.
void breakVariations(TestSupport::TestDatabase &t)
{
    QSqlDatabase raw = t.rawConnection(t.backend() == TestSupport::Backend::MySQL
                                           ? "breaker_mysql"
                                           : "breaker_sqlite");
    QSqlQuery query(raw);
    QVERIFY2(query.exec("ALTER TABLE articles_variations RENAME TO variations_gone"),
             qPrintable(query.lastError().text()));
}

} // namespace

class TestVariations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }

    void editOneInFull();
    void editPrice_data();
    void editPrice();
    void editSeveral_data();
    void editSeveral();
    void failedWriteStaysOpen();
    void unreadableVariationWritesNothing();
    void notANumberIsRefused_data();
    void notANumberIsRefused();
    void numberForms_data();
    void numberForms();

    void generate_data();
    void generate();
    void extensionContinuesNumbers();
    void existingFoundExactly_data();
    void existingFoundExactly();
    void incompleteInputWritesNothing_data();
    void incompleteInputWritesNothing();
    void moves_data();
    void moves();

private:
    int addVariation(Database *db, const QString &sku, int quantity, double price,
                     const QString &xml = QString());
};

int TestVariations::addVariation(Database *db, const QString &sku, int quantity, double price,
                                 const QString &xml)
{
    return db->insertSqlClean({ { "article_id", 7 },
                                { "SKU", sku },
                                { "Quantity", quantity },
                                { "StartPrice", price },
                                { "EAN", "4006381333931" },
                                { "VariantXml", xml } },
                              "articles_variations");
}

void TestVariations::editOneInFull()
{
    APP_TEST_DATABASE(t);
    const int id = addVariation(t.db(), "HEMD-1", 3, 12345.67, kTwoOptions);
    EditVar dialog(nullptr, QString::number(id), false, "7", "EAN");
    QCOMPARE(dialog.findChild<QLineEdit *>("StartPrice")->text(), QString("12345.67"));
    QCOMPARE(dialog.findChild<QLineEdit *>("EAN")->text(), QString("4006381333931"));
    QStringList fields;
    for (auto *field : dialog.findChildren<QLineEdit *>()) {
        if (field->property("fieldname").isValid())
            fields << field->property("fieldname").toString() + "=" + field->text();
    }
    QCOMPARE(fields, QStringList({ "Farbe=rot & <hell>", "Größe=M" }));

    // Unchanged, everything is written back as it was.
    dialog.accept();
    QCOMPARE(dialog.result(), 1);
    QCOMPARE(variations(t.db(), 7), QStringList("HEMD-1 3 12345.67 rot & <hell>/M"));
    QCOMPARE(t.db()->selectOne("SELECT VariantXml FROM articles_variations").value(), kTwoOptions);
}

void TestVariations::editPrice_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("stored");
    QTest::newRow("thousands points, decimal comma") << "1.234,50" << "EAN" << "1234.5";
    // Without an identifier column the identifier stays as it was.
    QTest::newRow("no identifier") << "9,99" << "" << "9.99";
}

void TestVariations::editPrice()
{
    QFETCH(QString, typed);
    QFETCH(QString, identifier);
    QFETCH(QString, stored);
    APP_TEST_DATABASE(t);
    const int id = addVariation(t.db(), "HEMD-1", 3, 1, kTwoOptions);
    EditVar dialog(nullptr, QString::number(id), false, "7", identifier);
    auto *ean = dialog.findChild<QLineEdit *>("EAN");
    QCOMPARE(ean->isEnabled(), !identifier.isEmpty());
    ean->setText("111");
    dialog.findChild<QLineEdit *>("StartPrice")->setText(typed);
    dialog.accept();
    QCOMPARE(variations(t.db(), 7), QStringList("HEMD-1 3 " + stored + " rot & <hell>/M"));
    QCOMPARE(t.db()->selectOne("SELECT EAN FROM articles_variations").value(),
             QString(identifier.isEmpty() ? "4006381333931" : "111"));
}

void TestVariations::editSeveral_data()
{
    QTest::addColumn<QString>("quantity"); // typed; empty: not touched
    QTest::addColumn<QString>("price");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("price only") << "" << "19,90"
                                << QStringList { "A-1 3 19.9 rot", "A-2 5 19.9 blau" };
    QTest::newRow("nothing") << "" << "" << QStringList { "A-1 3 1.5 rot", "A-2 5 2.5 blau" };
}

void TestVariations::editSeveral()
{
    QFETCH(QString, quantity);
    QFETCH(QString, price);
    QFETCH(QStringList, stored);
    APP_TEST_DATABASE(t);
    const auto xml = [](const char *value) {
        return QString("<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>")
            .arg(value);
    };
    const int a = addVariation(t.db(), "A-1", 3, 1.5, xml("rot"));
    const int b = addVariation(t.db(), "A-2", 5, 2.5, xml("blau"));
    EditVar dialog(nullptr, QString("%1,%2").arg(a).arg(b), true, "7", "EAN");
    QVERIFY(!dialog.findChild<QLineEdit *>("SKU")->isEnabled());
    QTest::keyClicks(dialog.findChild<QLineEdit *>("Quantity"), quantity);
    QTest::keyClicks(dialog.findChild<QLineEdit *>("StartPrice"), price);
    dialog.accept();
    QCOMPARE(dialog.result(), 1);
    QCOMPARE(variations(t.db(), 7), stored);
}

void TestVariations::failedWriteStaysOpen()
{
    APP_TEST_DATABASE(t);
    const int id = addVariation(t.db(), "HEMD-1", 3, 1, kTwoOptions);
    for (const QString &ids : { QString::number(id), QString("%1,%1").arg(id) }) {
        EditVar dialog(nullptr, ids, false, "7", "EAN");
        if (ids.contains(','))
            QTest::keyClicks(dialog.findChild<QLineEdit *>("StartPrice"), "2");
        if (ids == QString::number(id))
            breakVariations(t);
        DialogAnswers answers;
        dialog.accept();
        QCOMPARE(dialog.result(), 0);
        QCOMPARE(answers.messages().size(), 1);
        QCOMPARE(answers.messages().first().type, 2);
    }
}

// A variation that can't be read is not shown empty: OK, which would write the empty fields
// over it, is not offered, also once it could be read again.
void TestVariations::unreadableVariationWritesNothing()
{
    APP_TEST_DATABASE(t);
    const int id = addVariation(t.db(), "HEMD-1", 3, 1, kTwoOptions);
    breakVariations(t);
    EditVar dialog(nullptr, QString::number(id), false, "7", "EAN");
    QVERIFY(t.db()->executeSQL("ALTER TABLE variations_gone RENAME TO articles_variations"));
    auto *notice = dialog.findChild<QLabel *>("VariationNotice");
    QVERIFY(notice);
    QVERIFY2(notice->text().startsWith("Die Variante konnte nicht aus der Datenbank gelesen "
                                       "werden: "),
             qPrintable(notice->text()));
    QVERIFY(!dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled());
    DialogAnswers answers;
    dialog.accept();
    QCOMPARE(dialog.result(), 0);
    QVERIFY2(answers.shownTexts().isEmpty(), qPrintable(answers.shownTexts().join(" | ")));
    QCOMPARE(variations(t.db(), 7), QStringList("HEMD-1 3 1 rot & <hell>/M"));
}

void TestVariations::notANumberIsRefused_data()
{
    QTest::addColumn<QString>("entry"); // the variation editor's price (one or several), or
                                        // the generator's entry of that name
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    const QString price = "„%1“ im Feld „Preis“ ist keine Zahl.";
    QTest::newRow("price abc") << "one" << "abc" << price.arg("abc");
    QTest::newRow("price 12,3,4") << "one" << "12,3,4" << price.arg("12,3,4");
    QTest::newRow("price emptied") << "one" << "" << price.arg("");
    QTest::newRow("price of several") << "several" << "12,3,4" << price.arg("12,3,4");
    QTest::newRow("generator price emptied")
        << "PriceStart" << "" << "„“ im Feld „Ausgangspreis“ ist keine Zahl.";
    QTest::newRow("generator price 12,3,4")
        << "PriceStart" << "12,3,4" << "„12,3,4“ im Feld „Ausgangspreis“ ist keine Zahl.";
    QTest::newRow("generator quantity abc")
        << "QuantityStart" << "abc" << "„abc“ im Feld „Ausgangsmenge“ ist keine Zahl.";
}

// A price or quantity that is no number is refused with the usual message; the dialog stays
// open and nothing is written.
void TestVariations::notANumberIsRefused()
{
    QFETCH(QString, entry);
    QFETCH(QString, typed);
    QFETCH(QString, message);
    APP_TEST_DATABASE(t);
    const int a = addVariation(t.db(), "A-1", 3, 1.5, kTwoOptions);
    const int b = addVariation(t.db(), "A-2", 5, 2.5, kTwoOptions);
    const QStringList before = variations(t.db(), 7);
    DialogAnswers answers;
    std::unique_ptr<QDialog> dialog;
    if (entry == "one" || entry == "several") {
        dialog = std::make_unique<EditVar>(
            nullptr, entry == "one" ? QString::number(a) : QString("%1,%2").arg(a).arg(b),
            entry == "several", "7", "EAN");
        auto *field = dialog->findChild<QLineEdit *>("StartPrice");
        field->setText(typed);
        field->setModified(true);
    } else {
        auto *generator = new VariantGenerator(nullptr, "8", "ABC", {});
        dialog.reset(generator);
        // The seller's spin boxes read German numbers.
        generator->setLocale(QLocale(QLocale::German, QLocale::Germany));
        addOptions(*generator, answers, { "Farbe:rot, blau" });
        setPrice(*generator, 9.99);
        // What the spin box shows (its number stays the last one it could read).
        dialog->findChild<QAbstractSpinBox *>(entry)->findChild<QLineEdit *>()->setText(typed);
    }
    dialog->accept();
    QCOMPARE(dialog->result(), 0);
    QCOMPARE(answers.lastMessageText(), message);
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(variations(t.db(), 7), before);
    QCOMPARE(variations(t.db(), 8), QStringList());
}

void TestVariations::generate_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("first"); // the first rows written
    QTest::addColumn<QString>("last");
    QTest::newRow("one option") << QStringList { "Farbe:rot, blau" } << 2
                                << QStringList { "ABC-1 1 9.99 rot", "ABC-2 1 9.99 blau" }
                                << "ABC-2 1 9.99 blau";
    QTest::newRow("two options")
        << QStringList { "Farbe:rot, blau", "Größe:S, M, L" } << 6
        << QStringList { "ABC-1 1 9.99 rot/S", "ABC-2 1 9.99 rot/M", "ABC-3 1 9.99 rot/L",
                         "ABC-4 1 9.99 blau/S" }
        << "ABC-6 1 9.99 blau/L";
    QTest::newRow("three options")
        << QStringList { "A:1, 2", "B:x, y", "C:p, q" } << 8
        << QStringList { "ABC-1 1 9.99 1/x/p", "ABC-2 1 9.99 1/x/q", "ABC-3 1 9.99 1/y/p" }
        << "ABC-8 1 9.99 2/y/q";
    QTest::newRow("four options")
        << QStringList { "A:1, 2", "B:x", "C:p, q", "D:u, v, w" } << 12
        << QStringList { "ABC-1 1 9.99 1/x/p/u", "ABC-2 1 9.99 1/x/p/v" }
        << "ABC-12 1 9.99 2/x/q/w";
    // Placeholder marks in values are text like any other.
    QTest::newRow("five options")
        << QStringList { "A:%1, %2", "B:x", "C:p", "D:u", "E:50%, 60%" } << 4
        << QStringList { "ABC-1 1 9.99 %1/x/p/u/50%", "ABC-2 1 9.99 %1/x/p/u/60%" }
        << "ABC-4 1 9.99 %2/x/p/u/60%";
    QTest::newRow("value given twice") << QStringList { "Farbe:rot, rot" } << 1
                                       << QStringList { "ABC-1 1 9.99 rot" } << "ABC-1 1 9.99 rot";
}

void TestVariations::generate()
{
    QFETCH(QStringList, options);
    QFETCH(int, count);
    QFETCH(QStringList, first);
    QFETCH(QString, last);
    APP_TEST_DATABASE(t);
    DialogAnswers answers;
    VariantGenerator dialog(nullptr, "7", "ABC", {});
    addOptions(dialog, answers, options);
    QCOMPARE(dialog.findChild<QPushButton *>("NewOption")->isEnabled(), options.size() < 5);
    setPrice(dialog, 9.99);
    dialog.accept();
    QCOMPARE(dialog.result(), 1);
    const QStringList rows = variations(t.db(), 7);
    QCOMPARE(rows.size(), count);
    QCOMPARE(rows.mid(0, first.size()), first);
    QCOMPARE(rows.last(), last);
    if (options.size() == 2) {
        QCOMPARE(
            t.db()->selectOne("SELECT VariantXml FROM articles_variations ORDER BY id").value(),
            QString("<NameValueList><Name>Farbe</Name><Value>rot</Value></NameValueList>"
                    "<NameValueList><Name>Größe</Name><Value>S</Value></NameValueList>"));
    }
}

void TestVariations::extensionContinuesNumbers()
{
    APP_TEST_DATABASE(t);
    DialogAnswers answers;
    {
        VariantGenerator dialog(nullptr, "7", "ABC", {});
        addOptions(dialog, answers, { "Farbe:rot, blau", "Größe:S, M, L" });
        setPrice(dialog, 9.99);
        dialog.accept();
    }
    VariantGenerator dialog(nullptr, "7", "ABC",
                            { { { "Farbe", { "rot", "blau" } } },
                              { { "Größe", { "S", "M", "L" } } } });
    QVERIFY(dialog.findChild<QPushButton *>("NewOption")->isHidden());
    auto *tree = dialog.findChild<QTreeWidget *>("treeWidget");
    tree->topLevelItem(0)->setSelected(true);
    QVERIFY(!dialog.findChild<QPushButton *>("DeleteSelected")->isEnabled());
    answers.pushText("grün");
    dialog.findChild<QPushButton *>("NewValue")->click();
    setPrice(dialog, 5);
    dialog.accept();
    QCOMPARE(variations(t.db(), 7).mid(6),
             QStringList({ "ABC-7 1 5 grün/S", "ABC-8 1 5 grün/M", "ABC-9 1 5 grün/L" }));
}

void TestVariations::existingFoundExactly_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("written");
    QTest::newRow("same combination") << "rot" << "rot" << 0;
    QTest::newRow("wildcard underscore") << "rotX" << "rot_" << 1;
}

void TestVariations::existingFoundExactly()
{
    QFETCH(QString, existing);
    QFETCH(QString, value);
    QFETCH(int, written);
    APP_TEST_DATABASE(t);
    addVariation(t.db(), "ABC-1", 1, 1,
                 "<NameValueList><Name>Farbe</Name><Value>" + existing
                     + "</Value></NameValueList>");
    DialogAnswers answers;
    VariantGenerator dialog(nullptr, "7", "ABC", { { { "Farbe", { existing } } } });
    dialog.findChild<QTreeWidget *>("treeWidget")->topLevelItem(0)->setSelected(true);
    answers.pushText(value);
    dialog.findChild<QPushButton *>("NewValue")->click();
    setPrice(dialog, 1);
    dialog.accept();
    QCOMPARE(variations(t.db(), 7).size(), 1 + written);
}

void TestVariations::incompleteInputWritesNothing_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("price");
    QTest::addColumn<QString>("message"); // empty: cancelled
    QTest::newRow("price 0,00") << QStringList { "Farbe:rot" } << 0.0
                                << "Der Startpreis für die Varianten muss größer als 0,00 sein";
    QTest::newRow("no option") << QStringList() << 1.0 << "Es wurden keine Optionen hinzugefügt";
    QTest::newRow("option without values")
        << QStringList { "Farbe:rot", "Größe, Muster:" } << 1.0
        << "Alle Optionen müssen entsprechende Werte haben";
    QTest::newRow("cancelled") << QStringList { "Farbe:rot" } << 1.0 << "";
}

void TestVariations::incompleteInputWritesNothing()
{
    QFETCH(QStringList, options);
    QFETCH(double, price);
    QFETCH(QString, message);
    APP_TEST_DATABASE(t);
    DialogAnswers answers;
    VariantGenerator dialog(nullptr, "7", "ABC", {});
    for (const QString &option : options) {
        answers.pushText(option.section(':', 0, 0));
        if (!option.contains(','))
            answers.pushText(option.section(':', 1));
        dialog.findChild<QPushButton *>("NewOption")->click();
    }
    setPrice(dialog, price);
    if (message.isEmpty())
        dialog.reject();
    else
        dialog.accept();
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(answers.lastMessageText(), message);
    QCOMPARE(variations(t.db(), 7), QStringList());
}

void TestVariations::moves_data()
{
    QTest::addColumn<QString>("selected"); // option or value text
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("tree"); // options "name:values" joined by " "
    QTest::newRow("second value up") << "blau" << "MoveUp" << "Farbe:blau,rot Größe:S,M";
    QTest::newRow("first value up") << "rot" << "MoveUp" << "Farbe:rot,blau Größe:S,M";
    QTest::newRow("option down") << "Farbe" << "MoveDown" << "Größe:S,M Farbe:rot,blau";
    QTest::newRow("last option down") << "Größe" << "MoveDown" << "Farbe:rot,blau Größe:S,M";
}

void TestVariations::moves()
{
    QFETCH(QString, selected);
    QFETCH(QString, button);
    QFETCH(QString, tree);
    DialogAnswers answers;
    VariantGenerator dialog(nullptr, "7", "ABC", {});
    addOptions(dialog, answers, { "Farbe:rot, blau", "Größe:S, M" });
    auto *widget = dialog.findChild<QTreeWidget *>("treeWidget");
    widget->clearSelection();
    widget->findItems(selected, Qt::MatchExactly | Qt::MatchRecursive).first()->setSelected(true);
    dialog.findChild<QPushButton *>(button)->click(); // a disabled button does nothing
    QStringList options;
    for (int i = 0; i < widget->topLevelItemCount(); ++i) {
        QStringList values;
        for (int j = 0; j < widget->topLevelItem(i)->childCount(); ++j)
            values << widget->topLevelItem(i)->child(j)->text(0);
        options << widget->topLevelItem(i)->text(0) + ":" + values.join(',');
    }
    QCOMPARE(options.join(' '), tree);
}

// Prices and quantities are read as every importer reads them, in the variation editor's
// fields and in the generator's spin boxes alike: "1234.50" is no 123450 and "1.5" pieces
// are no 15, whatever the locale's marks.
void TestVariations::numberForms_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("price"); // stored; empty: refused
    QTest::addColumn<QString>("quantity");
    QTest::newRow("German marks") << "1.234,50"
                                  << "1234.5"
                                  << "";
    QTest::newRow("English marks") << "1,234.50"
                                   << "1234.5"
                                   << "";
    QTest::newRow("decimal point") << "1234.50"
                                   << "1234.5"
                                   << "";
    QTest::newRow("short decimal point") << "12.5"
                                         << "12.5"
                                         << "";
    QTest::newRow("currency") << "19,99 €"
                              << "19.99"
                              << "";
    QTest::newRow("thousands point") << "1.000"
                                     << "1000"
                                     << "1000";
    QTest::newRow("ambiguous comma") << "1,000"
                                     << "1"
                                     << "1000";
    QTest::newRow("half a piece") << "1.5"
                                  << "1.5"
                                  << "";
    QTest::newRow("marks in an impossible order") << "1,2.3,4"
                                                  << ""
                                                  << "";
}

void TestVariations::numberForms()
{
    QFETCH(QString, typed);
    QFETCH(QString, price);
    QFETCH(QString, quantity);
    APP_TEST_DATABASE(t);
    const int id = addVariation(t.db(), "A-1", 3, 1.5, kTwoOptions);
    const auto edit = [&](const char *name, const QString &stored, const QString &label) {
        DialogAnswers answers;
        EditVar dialog(nullptr, QString::number(id), false, "7", "EAN");
        dialog.findChild<QLineEdit *>(name)->setText(typed);
        dialog.accept();
        QCOMPARE(dialog.result(), stored.isEmpty() ? 0 : 1);
        QCOMPARE(answers.lastMessageText(),
                 stored.isEmpty() ? QString("„%1“ im Feld „%2“ ist keine Zahl.").arg(typed, label)
                                  : QString());
    };
    const auto generate = [&](const char *name, const QString &stored, const QString &label) {
        DialogAnswers answers;
        VariantGenerator dialog(nullptr, "8", "ABC", {});
        dialog.setLocale(QLocale(QLocale::German, QLocale::Germany));
        addOptions(dialog, answers, { "Farbe:rot" });
        setPrice(dialog, 2);
        auto *field = dialog.findChild<QAbstractSpinBox *>(name)->findChild<QLineEdit *>();
        // As pasted: the box's own check runs on the whole text.
        field->selectAll();
        field->insert(typed);
        dialog.accept();
        QCOMPARE(dialog.result(), stored.isEmpty() ? 0 : 1);
        QCOMPARE(answers.lastMessageText(),
                 stored.isEmpty() ? QString("„%1“ im Feld „%2“ ist keine Zahl.").arg(typed, label)
                                  : QString());
    };

    edit("StartPrice", price, "Preis");
    QCOMPARE(variations(t.db(), 7).value(0).section(' ', 2, 2), price.isEmpty() ? "1.5" : price);
    edit("Quantity", quantity, "Menge");
    QCOMPARE(variations(t.db(), 7).value(0).section(' ', 1, 1),
             quantity.isEmpty() ? "3" : quantity);

    // The generator's price box keeps two decimals.
    generate("PriceStart", price, "Ausgangspreis");
    QCOMPARE(variations(t.db(), 8),
             price.isEmpty() ? QStringList() : QStringList("ABC-1 1 " + price + " rot"));
    QVERIFY(t.db()->executeSQL("DELETE FROM articles_variations WHERE article_id=8"));
    generate("QuantityStart", quantity, "Ausgangsmenge");
    QCOMPARE(variations(t.db(), 8),
             quantity.isEmpty() ? QStringList() : QStringList("ABC-1 " + quantity + " 2 rot"));
}

APP_TEST_MAIN(TestVariations)
#include "test_variations.moc"
