// The two bulk dialogs that compute their statements: prices and quantities, and search
// and replace, on SQLite and MariaDB; and the search command that queues edited listings.
#include "bulk/bulk_priceandquantity.h"
#include "bulk/searchandreplace.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>

using TestSupport::TableSnapshot;

namespace {

template<typename T> T *child(QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        qFatal("no widget %s", qPrintable(name));
    return found;
}

// The changed cells as "a.column=value" lines, "a" and "b" for the two selected articles.
QStringList changes(const TableSnapshot &before, const TableSnapshot &after, int a, int b)
{
    QStringList lines;
    for (const auto &change : TableSnapshot::diff(before, after)) {
        const QString who = change.key == QString::number(a) ? "a"
            : change.key == QString::number(b)               ? "b"
                                                             : change.key;
        lines << who + '.' + change.column + '='
                + (change.after.isNull() ? QString("NULL") : change.after.toString());
    }
    lines.sort();
    return lines;
}

} // namespace

class TestBulkText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void prices_data();
    void prices();
    void replace_data();
    void replace();
    void queuesEditedListings_data();
    void queuesEditedListings();
};

void TestBulkText::prices_data()
{
    QTest::addColumn<QStringList>("entries"); // field=entry
    QTest::addColumn<QStringList>("written"); // a: 20 (stored whole), b: 19.99
    QTest::addColumn<QString>("message");

    QTest::newRow("nothing ticked") << QStringList() << QStringList() << "";
    QTest::newRow("percent up, whole and decimal prices")
        << QStringList { "StartPrice=+10%" }
        << QStringList { "a.CurrentPrice=0", "a.StartPrice=22", "b.CurrentPrice=0",
                         "b.StartPrice=21.99" }
        << "";
    QTest::newRow("percent down") << QStringList { "BuyItNowPrice=-10%" }
                                  << QStringList { "a.BuyItNowPrice=27", "b.BuyItNowPrice=26.99" }
                                  << "";
    QTest::newRow("add with comma, set, quantities")
        << QStringList { "ReservePrice=+2,5", "VATPercent=7,5", "Quantity=-2", "LotSize=+2" }
        << QStringList { "a.LotSize=3",          "a.Quantity=1",        "a.ReservePrice=12.5",
                         "a.VAT_VATPercent=7.5", "b.LotSize=3",         "b.Quantity=1",
                         "b.ReservePrice=12.49", "b.VAT_VATPercent=7.5" }
        << "";
    // A result below zero or above the maximum refuses the whole command and names the
    // articles; nothing of it is written, also not of the other fields.
    QTest::newRow("quantity below zero refused and named")
        << QStringList { "StartPrice=+1", "Quantity=-5" } << QStringList()
        << "„Artikel a“: Stückzahl würde negativ";
    QTest::newRow("price below zero refused and named")
        << QStringList { "BuyItNowPrice=-30" } << QStringList()
        << "„Artikel b“: Sofort-Kaufen-Preis würde negativ";
    QTest::newRow("price raised above the maximum refused")
        << QStringList { "StartPrice=+999.999" } << QStringList()
        << "Startpreis läge über dem Höchstwert";
    QTest::newRow("price entry above the maximum refused")
        << QStringList { "ReservePrice=2.000.000" } << QStringList()
        << "„2.000.000“ im Feld „Mindestpreis“ liegt über dem Höchstwert 999.999,99.";
    QTest::newRow("set with thousands point")
        << QStringList { "StartPrice=1.234,50" }
        << QStringList { "a.CurrentPrice=0", "a.StartPrice=1234.5", "b.CurrentPrice=0",
                         "b.StartPrice=1234.5" }
        << "";
    // Every entry is read before anything is written.
    QTest::newRow("percent without sign")
        << QStringList { "StartPrice=+5", "BuyItNowPrice=10%" } << QStringList()
        << "Für % muss ein + oder - vor den Wert gesetzt werden";
    QTest::newRow("sign in the VAT rate")
        << QStringList { "StartPrice=+5", "VATPercent=19%" } << QStringList()
        << "Zur Angabe der Mehrwertsteuer dürfen keine Vorzeichen";
    QTest::newRow("statement text refused")
        << QStringList { "StartPrice=1, Title='x'" } << QStringList() << "ist keine Zahl";
    QTest::newRow("empty entry") << QStringList { "ReservePrice=" } << QStringList()
                                 << "Ein Fehler ist aufgetreten";
    QTest::newRow("quantity with decimals") << QStringList { "Quantity=2,5" } << QStringList()
                                            << "Die Eingabe für die Menge ist nicht korrekt";
    // Prices as the editor's price box takes them; nothing of a refused entry is written.
    QTest::newRow("realistic price set")
        << QStringList { "StartPrice=12345,67" }
        << QStringList { "a.CurrentPrice=0", "a.StartPrice=12345.67", "b.CurrentPrice=0",
                         "b.StartPrice=12345.67" }
        << "";
    QTest::newRow("three decimals refused")
        << QStringList { "StartPrice=12,345" } << QStringList()
        << "„12,345“ im Feld „Startpreis“ hat mehr als zwei Nachkommastellen.";
    QTest::newRow("a tenth of a cent refused")
        << QStringList { "BuyItNowPrice=0,001" } << QStringList()
        << "„0,001“ im Feld „Sofort-Kaufen-Preis“ hat mehr als zwei Nachkommastellen.";
    QTest::newRow("plus inside refused") << QStringList { "StartPrice=5+5" } << QStringList()
                                         << "„5+5“ im Feld „Startpreis“ ist nicht eindeutig";
    QTest::newRow("minus inside refused, with the other fields")
        << QStringList { "Quantity=+1", "ReservePrice=10-2" } << QStringList()
        << "„10-2“ im Feld „Mindestpreis“ ist nicht eindeutig";
    QTest::newRow("plus first adds")
        << QStringList { "BuyItNowPrice=+5" }
        << QStringList { "a.BuyItNowPrice=35", "b.BuyItNowPrice=34.99" } << "";
    QTest::newRow("minus first subtracts")
        << QStringList { "ReservePrice=-5" }
        << QStringList { "a.ReservePrice=5", "b.ReservePrice=4.99" } << "";
}

void TestBulkText::prices()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, written);
    QFETCH(QString, message);
    APP_TEST_DATABASE(t);
    const int a = TestSupport::insertArticle(t.db(),
                                             { { "Title", "Artikel a" },
                                               { "StartPrice", 20 },
                                               { "BuyItNowPrice", 30 },
                                               { "ReservePrice", 10 },
                                               { "CurrentPrice", 21 },
                                               { "Quantity", 3 },
                                               { "LotSize", 1 } });
    const int b = TestSupport::insertArticle(t.db(),
                                             { { "Title", "Artikel b" },
                                               { "StartPrice", 19.99 },
                                               { "BuyItNowPrice", 29.99 },
                                               { "ReservePrice", 9.99 },
                                               { "CurrentPrice", 21 },
                                               { "Quantity", 3 },
                                               { "LotSize", 1 } });
    TestSupport::insertArticle(t.db(), { { "StartPrice", 5 } });
    DialogAnswers answers;
    const TableSnapshot before = TableSnapshot::take(*t.db(), "articles");
    Bulk_PriceAndQuantity dialog(nullptr, QString("%1,%2").arg(a).arg(b));
    for (const QString &entry : entries) {
        const QString field = entry.section('=', 0, 0);
        child<QCheckBox>(&dialog, field + "Box")->setChecked(true);
        auto *edit = child<QLineEdit>(&dialog, field);
        QVERIFY(edit->isEnabled());
        edit->setText(entry.section('=', 1));
    }
    dialog.accept();
    QTRY_VERIFY(!dialog.isWriting());
    QCOMPARE(changes(before, TableSnapshot::take(*t.db(), "articles"), a, b), written);
    if (message.isEmpty()) {
        QCOMPARE(dialog.result(), 1);
        QVERIFY2(answers.messages().isEmpty(), qPrintable(answers.lastMessageText()));
    } else {
        QVERIFY2(answers.lastMessageText().contains(message),
                 qPrintable(answers.lastMessageText()));
        QVERIFY(dialog.isEnabled()); // stays open with the entries
    }
}

void TestBulkText::replace_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<bool>("behind");
    QTest::addColumn<QStringList>("written"); // a: Title "rot Rot 12abc34abc", SubTitle NULL
    QTest::addColumn<bool>("queue");

    const QStringList title { "Titel" };
    QTest::newRow("replace, case-sensitive")
        << title << "rot"
        << "blau" << false << QStringList { "a.Title=blau Rot 12abc34abc" } << true;
    QTest::newRow("in front; NULL stays NULL")
        << QStringList { "Titel", "Untertitel" } << ""
        << "NEU " << false
        << QStringList { "a.Title=NEU rot Rot 12abc34abc", "b.SubTitle=NEU Sub",
                         "b.Title=NEU O'Reilly \\n" }
        << true;
    QTest::newRow("behind") << QStringList { "Untertitel" } << ""
                            << " ALT" << true << QStringList { "b.SubTitle=Sub ALT" } << false;
    QTest::newRow("wildcard to the end")
        << title << "abc%%%%"
        << "X" << false << QStringList { "a.Title=rot Rot 12X" } << true;
    QTest::newRow("wildcard from the start")
        << title << "%%%%abc"
        << "X" << false << QStringList { "a.Title=X34abc" } << true;
    QTest::newRow("wildcard inside changes nothing") << title << "ab%%%%cd"
                                                     << "X" << false << QStringList() << true;
    QTest::newRow("quotes and backslashes")
        << QStringList { "Titel", "SKU" } << "O'Reilly \\n"
        << "it's \\\\" << false << QStringList { "b.Title=it's \\\\" } << true;
    QTest::newRow("free fields do not queue")
        << QStringList { "Freifeld 1" } << ""
        << "x" << false << QStringList { "a.Free_01=xf", "b.Free_01=xf" } << false;
}

void TestBulkText::replace()
{
    QFETCH(QStringList, fields);
    QFETCH(QString, search);
    QFETCH(QString, replacement);
    QFETCH(bool, behind);
    QFETCH(QStringList, written);
    QFETCH(bool, queue);
    APP_TEST_DATABASE(t);
    const int a = TestSupport::insertArticle(
        t.db(), { { "Title", "rot Rot 12abc34abc" }, { "free_01", "f" } });
    const int b = TestSupport::insertArticle(
        t.db(), { { "Title", "O'Reilly \\n" }, { "SubTitle", "Sub" }, { "free_01", "f" } });
    TestSupport::insertArticle(t.db(), { { "Title", "rot" } });
    QVERIFY(t.db()->executeSQL(QString("UPDATE articles SET SubTitle=NULL WHERE id=%1").arg(a)));
    DialogAnswers answers;
    const TableSnapshot before = TableSnapshot::take(*t.db(), "articles");
    auto owned = std::make_unique<SearchAndReplace>(
        QStringList { QString::number(a), QString::number(b) });
    SearchAndReplace &dialog = *owned;
    auto *list = child<QListWidget>(&dialog, "FieldSelectList");
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(fields.contains(list->item(i)->text()) ? Qt::Checked
                                                                            : Qt::Unchecked);
    child<QPlainTextEdit>(&dialog, "SearchTextField")->setPlainText(search);
    child<QPlainTextEdit>(&dialog, "ReplaceTextField")->setPlainText(replacement);
    child<QRadioButton>(&dialog, behind ? "AddToBack" : "AddToFront")->setChecked(true);
    dialog.accept();
    QTRY_VERIFY(!dialog.isWriting());
    QCOMPARE(dialog.result(), 1);
    QCOMPARE(changes(before, TableSnapshot::take(*t.db(), "articles"), a, b), written);
    QCOMPARE(dialog.moveToOutbox, queue);
    QVERIFY2(answers.messages().isEmpty(), qPrintable(answers.lastMessageText()));

    // The ticked fields come back with the next dialog.
    owned.reset();
    SearchAndReplace again({ QString::number(a) });
    QStringList ticked;
    auto *next = child<QListWidget>(&again, "FieldSelectList");
    for (int i = 0; i < next->count(); ++i)
        if (next->item(i)->checkState() == Qt::Checked)
            ticked << next->item(i)->text();
    QCOMPARE(ticked, fields);
}

// Edited running listings go to the outbox as "In Ausgang legen" puts them there, and the
// listing worker is woken. The replacement and the queueing are stored together: a refused
// queueing keeps the replacement out too.
void TestBulkText::queuesEditedListings_data()
{
    QTest::addColumn<bool>("refused");
    QTest::newRow("queued with the replacement") << false;
    QTest::newRow("queueing refused, nothing stored") << true;
}

void TestBulkText::queuesEditedListings()
{
    QFETCH(bool, refused);
    APP_TEST_DATABASE(t);
    const int a
        = TestSupport::insertArticle(t.db(), { { "Title", "Lampe rot" }, { "ItemID", "1101" } });
    const int b
        = TestSupport::insertArticle(t.db(), { { "Title", "Vase rot" }, { "ItemID", "1102" } });
    const int other
        = TestSupport::insertArticle(t.db(), { { "Title", "Stuhl rot" }, { "ItemID", "1103" } });
    if (refused)
        QVERIFY(TestSupport::refuseRows(t.db(), "articles", "UPDATE", "Ausgang gesperrt",
                                        "NEW.Folder = -2"));
    DialogAnswers answers;
    TestSupport::MainWindowFixture fixture(t);
    QVERIFY(fixture.showFolder(-9));
    for (QTreeWidgetItem *item : fixture.itemList()->findItems("*", Qt::MatchWildcard)) {
        const int id = item->data(0, ItemListRole::ArticleIdRole).toInt();
        item->setSelected(id == a || id == b);
    }
    QSignalSpy woken(fixture.window(), &MainWindow::startCheckNow);
    QTimer::singleShot(0, [] {
        auto *dialog = qobject_cast<SearchAndReplace *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto *list = child<QListWidget>(dialog, "FieldSelectList");
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setCheckState(list->item(i)->text() == "Titel" ? Qt::Checked
                                                                          : Qt::Unchecked);
        child<QPlainTextEdit>(dialog, "SearchTextField")->setPlainText("rot");
        child<QPlainTextEdit>(dialog, "ReplaceTextField")->setPlainText("grün");
        dialog->accept();
    });
    fixture.window()->findChild<QAction *>("actionSuchen_und_ersetzen")->trigger();

    if (refused) {
        for (int id : { a, b })
            QCOMPARE(TestSupport::values(t.db(), id, "Title,Folder"),
                     QString("%1 rot|-9").arg(id == a ? "Lampe" : "Vase"));
        QVERIFY2(answers.lastMessageText().contains("Ausgang gesperrt"),
                 qPrintable(answers.lastMessageText()));
        QVERIFY(fixture.window()->IsItemWithIdHere(a) && fixture.window()->IsItemWithIdHere(b));
        QCOMPARE(woken.count(), 0);
        fixture.close();
        return;
    }
    for (int id : { a, b })
        QCOMPARE(TestSupport::values(t.db(), id, "Title,Folder,FolderOld,DoCheck,DoCheckResult"),
                 QString("%1 grün|-2|-9|2|Artikel wird eingestellt / aktualisiert")
                     .arg(id == a ? "Lampe" : "Vase"));
    QCOMPARE(TestSupport::values(t.db(), other, "Title,Folder"), QString("Stuhl rot|-9"));
    QVERIFY(!fixture.window()->IsItemWithIdHere(a) && !fixture.window()->IsItemWithIdHere(b));
    QVERIFY(fixture.window()->IsItemWithIdHere(other));
    QCOMPARE(woken.count(), 1);
    fixture.close();
}

APP_TEST_MAIN(TestBulkText)
#include "test_bulktext.moc"
