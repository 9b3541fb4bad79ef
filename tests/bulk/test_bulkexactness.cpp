// The bulk commands of the real main window on MariaDB behind a proxy that loses the answer
// to one statement (cut, or held past the connections' time-out): afterwards the database
// holds the command whole or not at all, never a part and never twice, and the seller is
// told once when what was stored is not known.
#include "bulk/bulkeditdialog.h"
#include "bulk/searchandreplace.h"
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

namespace {

constexpr int kArticles = 8;
// The connections' time-out while an answer is held.
constexpr int kTimeoutSeconds = 1;

// Sets a dialog's widgets as the seller would before OK.
using Fill = std::function<void(QDialog *)>;

void tickAndType(QDialog *d, const char *field, const QString &entry)
{
    d->findChild<QCheckBox *>(QLatin1String(field) + QLatin1String("Box"))->setChecked(true);
    d->findChild<QLineEdit *>(QLatin1String(field))->setText(entry);
}

} // namespace

Q_DECLARE_METATYPE(Fill)

class TestBulkExactness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void lostAnswer_data();
    void lostAnswer();
};

void TestBulkExactness::lostAnswer_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("folder"); // where the articles are listed
    QTest::addColumn<Fill>("fill");
    QTest::addColumn<QString>("columns"); // what the command changes, per article
    QTest::addColumn<QString>("after"); // their values after it, for every article
    QTest::addColumn<QByteArray>("statement"); // whose answer is lost
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<bool>("held"); // held past the time-out instead of cut
    QTest::addColumn<QString>("told"); // the command named in "Ob ... gespeichert wurde"

    const Fill price = [](QDialog *d) {
        tickAndType(d, "StartPrice", "+10%");
    };
    const Fill quantity = [](QDialog *d) {
        tickAndType(d, "Quantity", "-1");
    };
    const Fill replace = [](QDialog *d) {
        auto *fields = d->findChild<QListWidget *>("FieldSelectList");
        for (int i = 0; i < fields->count(); ++i)
            fields->item(i)->setCheckState(fields->item(i)->text() == "Titel" ? Qt::Checked
                                                                              : Qt::Unchecked);
        d->findChild<QPlainTextEdit *>("SearchTextField")->setPlainText("rot");
        d->findChild<QPlainTextEdit *>("ReplaceTextField")->setPlainText("tiefrot");
        d->findChild<QCheckBox *>("DoUpdate")->setChecked(false);
    };
    const Fill replaceAndQueue = [replace](QDialog *d) {
        replace(d);
        d->findChild<QCheckBox *>("DoUpdate")->setChecked(true);
    };
    const Fill duration = [](QDialog *d) {
        auto *box = d->findChild<QComboBox *>("DurationBox");
        box->setCurrentIndex(box->findData("Days_5"));
    };
    const Fill payPal = [](QDialog *d) {
        auto *edit = d->findChild<QLineEdit *>("PayPal");
        edit->setText("neu@example.de");
        edit->setModified(true);
    };
    const QString prices = "StartPrice,CurrentPrice";
    const QString raised = "11|0";
    QTest::newRow("price +10 %, 4th answer cut")
        << "actionPreise_und_Mengen" << -10 << price << prices << raised
        << QByteArray("`StartPrice`=") << 4 << false << "";
    QTest::newRow("price +10 %, 4th answer held")
        << "actionPreise_und_Mengen" << -10 << price << prices << raised
        << QByteArray("`StartPrice`=") << 4 << true << "";
    QTest::newRow("price +10 %, commit's answer cut")
        << "actionPreise_und_Mengen" << -10 << price << prices << raised << QByteArray("COMMIT")
        << 1 << false << "die Preisänderung";
    QTest::newRow("price +10 %, commit's answer held")
        << "actionPreise_und_Mengen" << -10 << price << prices << raised << QByteArray("COMMIT")
        << 1 << true << "die Preisänderung";
    QTest::newRow("quantity -1, 8th answer cut")
        << "actionPreise_und_Mengen" << -10 << quantity << "Quantity"
        << "4" << QByteArray("`Quantity`=") << 8 << false << "";
    QTest::newRow("replace, 2nd answer cut")
        << "actionSuchen_und_ersetzen" << -10 << replace << "Title"
        << "tiefrote Jacke" << QByteArray("`Title`=") << 2 << false << "";
    QTest::newRow("replace, reading held")
        << "actionSuchen_und_ersetzen" << -10 << replace << "Title"
        << "tiefrote Jacke" << QByteArray("SELECT id, `Title`") << 1 << true << "";
    QTest::newRow("replace, commit's answer cut")
        << "actionSuchen_und_ersetzen" << -10 << replace << "Title"
        << "tiefrote Jacke" << QByteArray("COMMIT") << 1 << false << "das Ersetzen";
    // The edited running listings go to the outbox in the transaction of the replacement:
    // both are stored, or neither.
    QTest::newRow("replace, the outbox move's commit cut")
        << "actionSuchen_und_ersetzen" << -9 << replaceAndQueue << "Title,Folder,FolderOld"
        << "tiefrote Jacke|-2|-9" << QByteArray("COMMIT") << 1 << false << "das Ersetzen";
    QTest::newRow("replace, the outbox move cut")
        << "actionSuchen_und_ersetzen" << -9 << replaceAndQueue << "Title,Folder,FolderOld"
        << "tiefrote Jacke|-2|-9" << QByteArray("Folder=-2") << 1 << false << "";
    QTest::newRow("replace, the outbox move held")
        << "actionSuchen_und_ersetzen" << -9 << replaceAndQueue << "Title,Folder,FolderOld"
        << "tiefrote Jacke|-2|-9" << QByteArray("Folder=-2") << 1 << true << "";
    QTest::newRow("replace, reading the running listings cut")
        << "actionSuchen_und_ersetzen" << -9 << replaceAndQueue << "Title,Folder,FolderOld"
        << "tiefrote Jacke|-2|-9" << QByteArray("SELECT id FROM articles WHERE Trash=0") << 1
        << false << "";
    QTest::newRow("duration, 5th answer cut")
        << "actionFormat_und_Laufzeit" << -10 << duration << "ListingDuration"
        << "Days_5" << QByteArray("`ListingDuration`=") << 5 << false << "";
    QTest::newRow("duration, commit's answer held")
        << "actionFormat_und_Laufzeit" << -10 << duration << "ListingDuration"
        << "Days_5" << QByteArray("COMMIT") << 1 << true << "die Änderung von Format und Laufzeit";
    QTest::newRow("PayPal, 3rd answer held")
        << "actionKonto_PayPal_und_Shopkategorien" << -10 << payPal << "PayPalEmailAddress"
        << "neu@example.de" << QByteArray("`PayPalEmailAddress`=") << 3 << true << "";
    QTest::newRow("PayPal, commit's answer cut")
        << "actionKonto_PayPal_und_Shopkategorien" << -10 << payPal << "PayPalEmailAddress"
        << "neu@example.de" << QByteArray("COMMIT") << 1 << false
        << "die Änderung von Konto, PayPal und Shopkategorien";
}

// The command runs once with the fault; when nothing was stored the seller gives OK again
// (the price dialog stays open for that, the others are opened again) and then all of it is
// stored once.
void TestBulkExactness::lostAnswer()
{
    QFETCH(QString, action);
    QFETCH(int, folder);
    QFETCH(Fill, fill);
    QFETCH(QString, columns);
    QFETCH(QString, after);
    QFETCH(QByteArray, statement);
    QFETCH(int, occurrence);
    QFETCH(bool, held);
    QFETCH(QString, told);
    Database::setDefaultResponseTimeout(kTimeoutSeconds);
    auto restore = qScopeGuard([] { Database::setDefaultResponseTimeout(15); });
    APP_TEST_DATABASE_BEHIND_PROXY(proxy, t, "A connection that can be cut is MariaDB's");
    QList<int> ids;
    for (int i = 0; i < kArticles; ++i)
        ids << TestSupport::insertArticle(t.db(),
                                          { { "Folder", folder },
                                            { "ItemID", QString::number(1100 + i) },
                                            { "Title", "rote Jacke" },
                                            { "StartPrice", 10 },
                                            { "CurrentPrice", 7 },
                                            { "Quantity", 5 },
                                            { "ListingDuration", "Days_10" },
                                            { "PayPalEmailAddress", "alt@example.de" } });
    const auto state = [&] {
        QStringList values;
        for (int id : ids)
            values << TestSupport::values(t.db(), id, columns);
        return values;
    };
    const QStringList before = state();
    const QStringList stored = QVector<QString>(kArticles, after).toList();
    QVERIFY(before != stored);

    TestSupport::MainWindowFixture fixture(t);
    QVERIFY(fixture.showFolder(folder));
    fixture.itemList()->selectAll();
    QCOMPARE(fixture.itemList()->selectedItems().size(), kArticles);

    DialogAnswers answers;
    int oks = 0;
    QTimer seller;
    QObject::connect(&seller, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isEnabled() || !dialog->isVisible())
            return;
        // The seller's OK: not offered while the dialog waits for its write.
        QPushButton *ok = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))
                              ->button(QDialogButtonBox::Ok);
        if (!ok->isEnabled())
            return;
        if (!dialog->property("filled").toBool()) {
            fill(dialog);
            dialog->setProperty("filled", true);
        }
        ++oks;
        ok->click();
    });
    seller.start(20);
    held ? proxy.holdAnswerTo(statement, occurrence) : proxy.cutAfter(statement, occurrence);
    QAction *command = fixture.window()->findChild<QAction *>(action);
    const int checks = proxy.statementsSeen("DO 1");
    command->trigger();
    // A held answer is not a cut connection: the statement reached the server all the same.
    QCOMPARE(proxy.cuts(), held ? 0 : 1);
    QVERIFY(proxy.statementsSeen(statement) >= occurrence);
    // The connection is checked once per command at most, never once per article.
    QVERIFY2(proxy.statementsSeen("DO 1") - checks <= 1,
             qPrintable(QString::number(proxy.statementsSeen("DO 1") - checks)));

    const QList<DialogAnswers::Message> shown = answers.messages();
    const QString unknown = "Ob " + told + " gespeichert wurde, ist nicht bekannt";
    if (!told.isEmpty()) {
        // The server committed before the answer was lost: stored whole, told once, and the
        // dialog is gone, so OK can't send it again before the seller has seen what is stored.
        QCOMPARE(state(), stored);
        QCOMPARE(oks, 1);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().text.startsWith(unknown), qPrintable(shown.first().text));
    } else {
        // Lost inside the transaction: nothing of it is stored and the seller read why.
        QVERIFY2(!shown.isEmpty(), "the seller was not told");
        for (const auto &message : shown)
            QVERIFY2(!message.text.contains("nicht bekannt"), qPrintable(message.text));
        if (oks == 1) {
            QCOMPARE(state(), before);
            command->trigger();
        }
        QCOMPARE(state(), stored);
    }
    seller.stop();
    // The list shows what is stored (search and replace without the outbox leaves its rows
    // for the next fill, unless the outcome was told).
    const QMap<QString, int> roles { { "Quantity", ItemListRole::QuantityRole },
                                     { "ListingDuration", ItemListRole::ListingDurationRole },
                                     { "Title", ItemListRole::TitleRole } };
    if (roles.contains(columns) && (columns != "Title" || !told.isEmpty())) {
        for (int id : ids) {
            QTreeWidgetItem *item = fixture.window()->IsItemWithIdHere(id);
            QVERIFY(item);
            QCOMPARE(item->data(0, roles.value(columns)).toString(), after);
        }
    }
    fixture.close();
}

APP_TEST_MAIN(TestBulkExactness)
#include "test_bulkexactness.moc"
