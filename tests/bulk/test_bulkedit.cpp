// The bulk-edit dialogs and the main window's commands that open them, on SQLite and
// MariaDB, with the fake marketplace serving the reference data.
#include "bulk/bulk_account.h"
#include "bulk/bulk_formatandduration.h"
#include "bulk/bulk_location.h"
#include "bulk/bulk_payment.h"
#include "bulk/bulk_profiles.h"
#include "bulk/bulk_shipping.h"
#include "bulk/bulk_shipping_world.h"
#include "bulk/searchandreplace.h"
#include "core/config.h"
#include "core/database.h"
#include "core/statics.h"
#include "editor/companions/addarticleselectcountries.h"
#include "mainwindow/mainwindow.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/heldjobs.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "views/itemlistroles.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using TestSupport::TableSnapshot;

namespace {

// Builds a dialog for the given ids and sets its widgets as the seller would.
using Scenario = std::function<BulkEditDialog *(const QString &ids, int folder)>;

QByteArray canned(const QString &name)
{
    QFile file(QStringLiteral(APP_TEST_DATA_DIR "/marketplace/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template<typename T> T *child(QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}

// Chooses the entry whose item data is `data` (the first from index 1 on).
void choose(QDialog *dialog, const char *combo, const QVariant &data)
{
    auto *box = child<QComboBox>(dialog, combo);
    for (int i = 1; i < box->count(); ++i) {
        if (box->itemData(i).toString() == data.toString()) {
            box->setCurrentIndex(i);
            return;
        }
    }
    qFatal("%s has no entry %s", combo, qPrintable(data.toString()));
}

void type(QDialog *dialog, const char *edit, const QString &text)
{
    auto *line = child<QLineEdit>(dialog, edit);
    // As typed: an edit typed into and emptied again still counts as changed.
    line->setText(text);
    line->setModified(true);
}

void setState(QDialog *dialog, const char *box, Qt::CheckState state)
{
    child<QCheckBox>(dialog, box)->setCheckState(state);
}

void setCost(QDialog *dialog, const char *spin, double value)
{
    child<QDoubleSpinBox>(dialog, spin)->setValue(value);
}

BulkEditDialog *shipping(const QString &ids)
{
    return new Bulk_Shipping(nullptr, 77, ids, false, 1);
}

BulkEditDialog *world(const QString &ids)
{
    return new Bulk_Shipping_World(nullptr, 77, ids, false, 1);
}

// Opens the ship-to chooser of a service row, ticks the locations shown as `names` and
// confirms (or cancels) it.
void chooseLocations(QDialog *dialog, int row, const QStringList &names, bool confirm = true)
{
    QTimer::singleShot(0, [names, confirm] {
        auto *chooser
            = qobject_cast<AddArticleSelectCountries *>(QApplication::activeModalWidget());
        if (!chooser)
            qFatal("the ship-to chooser did not open");
        for (QCheckBox *box : chooser->findChildren<QCheckBox *>())
            box->setChecked(names.contains(box->text()));
        confirm ? chooser->accept() : chooser->reject();
    });
    child<QToolButton>(dialog, qPrintable(QString("IShippingService_%1_SelCountries").arg(row)))
        ->click();
}

void tick(BulkEditDialog *dialog, const QString &paymentId)
{
    for (QCheckBox *box : static_cast<Bulk_Payment *>(dialog)->paymentBoxes) {
        if (box->property("PaymentID").toString() == paymentId)
            box->setChecked(true);
    }
}

// The changed cells as "id.column=value" lines.
QStringList changes(const TableSnapshot &before, const TableSnapshot &after)
{
    QStringList lines;
    for (const auto &change : TableSnapshot::diff(before, after))
        lines << change.key + '.' + change.column + '=' + change.after.toString();
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestBulkEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestSupport::addBackendRows(); }
    void initTestCase();
    void cleanupTestCase() { m_server.reset(); }

    void writes_data();
    void writes();
    void storeCategories();
    void shippingServices();
    void paymentChoices_data();
    void paymentChoices();
    void failedWriteIsReported();
    void waitsForItsWrite_data();
    void waitsForItsWrite();
    void failureCounts_data();
    void failureCounts();
    void commands_data();
    void commands();
    void listReadAgainWhenRowsCantBe();

private:
    void addAccounts(Database *db);
    std::unique_ptr<FakeHttpServer> m_server;
};

void TestBulkEdit::initTestCase()
{
    Statics::setHttpTimeout(3000);
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->isListening());
    m_server->pointConfigHere();
    m_server->setCallReply("GeteBayDetails", FakeReply::ok(canned("GeteBayDetails.xml")));
    m_server->setCallReply("GetStore", FakeReply::ok(canned("GetStore.xml")));
    m_server->setCallReply("GetShippingDiscountProfiles",
                           FakeReply::ok(canned("GetShippingDiscountProfiles.xml")));
    m_server->setReply(QUrl(Config::defaultValue(Config::Key::ProfilesUrl)).path(),
                       FakeReply::ok(canned("getSellerProfiles.xml")));
}

// Account 1 owns a store; account 2 has none.
void TestBulkEdit::addAccounts(Database *db)
{
    QVERIFY(
        db->executeSQL("INSERT INTO accounts (id, accountname, token, sandbox, active, "
                       "apiresult) VALUES (1, 'zeta-shop', 'T1', 0, 1, "
                       "'<User><SellerInfo><StoreOwner>true</StoreOwner></SellerInfo></User>')"));
    QVERIFY(db->executeSQL("INSERT INTO accounts (id, accountname, token, sandbox, active, "
                           "apiresult) VALUES (2, 'alpha', 'T2', 0, 1, '<User/>')"));
}

void TestBulkEdit::writes_data()
{
    QTest::addColumn<int>("folder");
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<QStringList>("written"); // column=value, for each selected article

    QTest::newRow("format and duration in a user folder")
        << 5 << Scenario([](const QString &ids, int folder) -> BulkEditDialog * {
               auto *d = new Bulk_FormatAndDuration(nullptr, ids, folder);
               choose(d, "FormatBox", "FixedPriceItem");
               choose(d, "DurationBox", "Days_7");
               return d;
           })
        << QStringList { "ListingDuration=Days_7", "ListingType=FixedPriceItem" };
    QTest::newRow("duration only for running listings")
        << -9 << Scenario([](const QString &ids, int folder) -> BulkEditDialog * {
               auto *d = new Bulk_FormatAndDuration(nullptr, ids, folder);
               if (child<QComboBox>(d, "FormatBox")->isEnabled())
                   qFatal("the format of running listings must not be offered");
               choose(d, "DurationBox", "Days_3");
               return d;
           })
        << QStringList { "ListingDuration=Days_3" };
    QTest::newRow("no change writes nothing")
        << -10 << Scenario([](const QString &ids, int folder) -> BulkEditDialog * {
               return new Bulk_FormatAndDuration(nullptr, ids, folder);
           })
        << QStringList();
    QTest::newRow("account and PayPal")
        << -10 << Scenario([](const QString &ids, int folder) -> BulkEditDialog * {
               auto *d = new Bulk_Account(nullptr, ids, folder, 1, false);
               choose(d, "Account", 2);
               type(d, "PayPal", "kasse@example.de");
               return d;
           })
        << QStringList { "Account=2", "PayPalEmailAddress=kasse@example.de" };
    QTest::newRow("location: place, emptied postal code, country, dispatch time")
        << -10 << Scenario([](const QString &ids, int) -> BulkEditDialog * {
               auto *d = new Bulk_Location(nullptr, ids);
               type(d, "Location", "Köln");
               type(d, "PostalCode", "");
               choose(d, "Country", "AT");
               choose(d, "DispatchTimeMax", "2");
               return d;
           })
        << QStringList { "Country=AT", "DispatchTimeMax=2", "Location=Köln", "PostalCode=" };
    QTest::newRow("payment methods replace, instructions only when ticked")
        << -10 << Scenario([](const QString &ids, int) -> BulkEditDialog * {
               auto *d = new Bulk_Payment(nullptr, 77, ids);
               tick(d, "MoneyXferAccepted");
               tick(d, "MoneyXferAcceptedInCheckout");
               child<QCheckBox>(d, "PayIns")->setChecked(true);
               child<QPlainTextEdit>(d, "PaymentInstructions")
                   ->setPlainText("Bitte 'sofort' \\ zahlen");
               return d;
           })
        << QStringList { "PaymentInstructions=Bitte 'sofort' \\ zahlen",
                         "PaymentMethods=MoneyXferAccepted|MoneyXferAcceptedInCheckout" };
    QTest::newRow("no payment method ticked empties them")
        << -10 << Scenario([](const QString &ids, int) -> BulkEditDialog * {
               return new Bulk_Payment(nullptr, 77, ids);
           })
        << QStringList { "PaymentMethods=" };
    QTest::newRow("policies: remove shipping, choose return")
        << -10 << Scenario([](const QString &ids, int) -> BulkEditDialog * {
               auto *d = new Bulk_Profiles(nullptr, 1, 77, ids);
               if (d->isEnabled())
                   qFatal("the policies dialog must wait for its choices");
               if (!QTest::qWaitFor([d] { return d->isEnabled(); }, 5000))
                   qFatal("the policies dialog never got its choices");
               child<QComboBox>(d, "SellerShippingProfile")->setCurrentIndex(1);
               choose(d, "SellerReturnProfile", "6001");
               return d;
           })
        << QStringList { "SellerReturnProfile=6001", "SellerShippingProfile=" };

    // Domestic shipping: partially checked boxes, no-change combos and costs at 0 keep
    // what the articles have.
    QTest::newRow("shipping: untouched writes nothing")
        << -10 << Scenario([](const QString &ids, int) { return shipping(ids); }) << QStringList();
    QTest::newRow("shipping: a cost alone") << -10 << Scenario([](const QString &ids, int) {
        auto *d = shipping(ids);
        setCost(d, "ShippingService_2_Cost", 4.5);
        return d;
    }) << QStringList { "ShippingService_2_Cost=4.5" };
    QTest::newRow("shipping: service removed, costs zero, typed further cost kept")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = shipping(ids);
               child<QComboBox>(d, "ShippingService_3")->setCurrentIndex(1);
               setCost(d, "ShippingService_3_Cost_Add", 1.2);
               return d;
           })
        << QStringList { "ShippingService_3=", "ShippingService_3_Cost=0",
                         "ShippingService_3_Cost_Add=1.2" };
    QTest::newRow("shipping: service chosen, free shipping overrides its costs")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = shipping(ids);
               choose(d, "ShippingService_1", "DE_UPSExpress");
               setCost(d, "ShippingService_1_Cost", 5.9);
               setState(d, "FreeShipping", Qt::Checked);
               return d;
           })
        << QStringList { "ShippingService_1=DE_UPSExpress", "ShippingService_1_Cost=0",
                         "ShippingService_1_IsFree=1" };
    QTest::newRow("shipping: pickup off clears its cost, free shipping off")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = shipping(ids);
               setCost(d, "OfferPickupPrice", 2);
               setState(d, "OfferPickup", Qt::Unchecked);
               setState(d, "FreeShipping", Qt::Unchecked);
               return d;
           })
        << QStringList { "PickUpAccepted=0", "PickUpAcceptedCost=0", "ShippingService_1_IsFree=0" };
    QTest::newRow("shipping: pickup cost alone, discount profile")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = shipping(ids);
               setCost(d, "OfferPickupPrice", 2.5);
               setState(d, "PromotionalShippingDiscount", Qt::Checked);
               choose(d, "ShippingDiscountProfileID", "1110002");
               return d;
           })
        << QStringList { "PickUpAcceptedCost=2.5", "PromotionalShippingDiscount=1",
                         "ShippingDiscountProfileID=1110002" };
    QTest::newRow("abroad: locations alone, nothing ticked is worldwide, cancel keeps")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = world(ids);
               chooseLocations(d, 2, { "Europa" });
               chooseLocations(d, 2, {}, false);
               chooseLocations(d, 3, {});
               if (child<QLabel>(d, "IShippingService_3_Label")->text() != "Weltweit")
                   qFatal("the label must name the chosen locations");
               return d;
           })
        << QStringList { "ShippingServiceInt_2_Loc=Europe", "ShippingServiceInt_3_Loc=Worldwide" };
    QTest::newRow("abroad: service removed with its locations, discount off")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = world(ids);
               child<QComboBox>(d, "IShippingService_1")->setCurrentIndex(1);
               chooseLocations(d, 1, { "Europa" });
               setState(d, "IPromotionalShippingDiscount", Qt::Unchecked);
               setCost(d, "IShippingService_2_Cost", 150); // no more than 99.99
               return d;
           })
        << QStringList { "IPromotionalShippingDiscount=0",  "ShippingServiceInt_1=",
                         "ShippingServiceInt_1_Cost=0",     "ShippingServiceInt_1_Cost_Add=0",
                         "ShippingServiceInt_1_Loc=Europe", "ShippingServiceInt_2_Cost=99.99" };
    QTest::newRow("abroad: no international shipping writes no location")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = world(ids);
               chooseLocations(d, 4, { "Europa" });
               setState(d, "AcceptShipping", Qt::Checked);
               return d;
           })
        << QStringList { "IPromotionalShippingDiscount=0", "ShippingServiceInt_1=",
                         "ShippingServiceInt_2=",          "ShippingServiceInt_3=",
                         "ShippingServiceInt_4=",          "ShippingServiceInt_5=" };
    QTest::newRow("shipping: no domestic shipping")
        << -10 << Scenario([](const QString &ids, int) {
               auto *d = shipping(ids);
               choose(d, "ShippingService_2", "DE_Express");
               setCost(d, "ShippingService_2_Cost", 3);
               setState(d, "AcceptShipping", Qt::Checked);
               child<QComboBox>(d, "ShippingDiscountProfileID")->setCurrentIndex(1);
               return d;
           })
        << QStringList { "PromotionalShippingDiscount=0",
                         "ShippingDiscountProfileID=",
                         "ShippingService_1=",
                         "ShippingService_2=",
                         "ShippingService_3=",
                         "ShippingService_4=" };
}

// Exactly the selected articles get exactly the chosen columns.
void TestBulkEdit::writes()
{
    QFETCH(int, folder);
    QFETCH(Scenario, scenario);
    QFETCH(QStringList, written);
    APP_TEST_DATABASE(t);
    addAccounts(t.db());
    const QMap<QString, QVariant> start { { "Folder", folder },
                                          { "ShippingService_1", "DE_DHLPaket" },
                                          { "ShippingService_1_Cost", 4.99 },
                                          { "ShippingService_2", "DE_DHLPaket" },
                                          { "ShippingService_3", "DE_DHLPaket" },
                                          { "ShippingService_3_Cost", 6.99 },
                                          { "ShippingDiscountProfileID", "1110001" },
                                          { "PickUpAccepted", 1 },
                                          { "PickUpAcceptedCost", 1.5 },
                                          { "ShippingService_4", "DE_Alt" },
                                          { "ShippingServiceInt_1", "DE_SonstigeInternational" },
                                          { "ShippingServiceInt_1_Cost", 9.5 },
                                          { "ShippingServiceInt_1_Cost_Add", 1.0 },
                                          { "ShippingServiceInt_1_Loc", "Americas" },
                                          { "ShippingServiceInt_2", "DE_SonstigeInternational" },
                                          { "ShippingServiceInt_3", "DE_SonstigeInternational" },
                                          { "ShippingServiceInt_4", "DE_SonstigeInternational" },
                                          { "ShippingServiceInt_5", "DE_SonstigeInternational" },
                                          { "IPromotionalShippingDiscount", 2 },
                                          // flags no dialog writes: every write shows
                                          { "ShippingService_1_IsFree", 2 },
                                          { "PromotionalShippingDiscount", 2 },
                                          { "PayPalEmailAddress", "alt@example.de" },
                                          { "PostalCode", "50667" },
                                          { "PaymentMethods", "PayPal" },
                                          { "SellerShippingProfile", "7001" } };
    const int a = TestSupport::insertArticle(t.db(), start);
    const int b = TestSupport::insertArticle(t.db(), start);
    const int untouched = TestSupport::insertArticle(t.db(), start);
    QVERIFY(untouched > 0);
    DialogAnswers answers;

    const TableSnapshot before = TableSnapshot::take(*t.db(), "articles");
    std::unique_ptr<BulkEditDialog> dialog(scenario(QString("%1,%2").arg(a).arg(b), folder));
    QVERIFY(dialog->canOpen());
    dialog->accept();
    QTRY_VERIFY(!dialog->isWriting());
    QCOMPARE(dialog->result(), 1);

    QStringList expected;
    for (int id : { a, b })
        for (const QString &cell : written)
            expected << QString::number(id) + '.' + cell;
    QStringList got = changes(before, TableSnapshot::take(*t.db(), "articles"));
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    QCOMPARE(got.join(" | "), expected.join(" | "));
    QVERIFY(answers.messages().isEmpty());
}

// Store categories follow the chosen account; parents cannot be chosen. Running listings
// of one account show that account, fixed.
void TestBulkEdit::storeCategories()
{
    APP_TEST_DATABASE(t);
    addAccounts(t.db());
    {
        Bulk_Account choose(nullptr, "1", -10, 0, false);
        auto *account = child<QComboBox>(&choose, "Account");
        auto *first = child<QComboBox>(&choose, "StoreCategoryID");
        QVERIFY(account->isEnabled());
        QVERIFY(!first->isEnabled());
        account->setCurrentIndex(account->findData(1));
        QVERIFY(first->isEnabled());
        QStringList shown;
        auto *model = qobject_cast<QStandardItemModel *>(first->model());
        for (int i = 1; i < first->count(); ++i)
            shown << QString(model->item(i)->isEnabled() ? "" : "x ") + first->itemText(i);
        QCOMPARE(shown.first(), QString("x Bücher"));
        QVERIFY2(shown.contains("     Romane") && shown.contains("x Modellbau")
                     && shown.contains("     Flugmodelle"),
                 qPrintable(shown.join('|')));
        account->setCurrentIndex(account->findData(2)); // no store
        QCOMPARE(first->count(), 1);
        QVERIFY(!first->isEnabled());
    }
    {
        Bulk_Account active(nullptr, "1", -9, 1, false);
        auto *fixed = child<QComboBox>(&active, "Account");
        QVERIFY(!fixed->isEnabled());
        QCOMPARE(fixed->currentData().toInt(), 1);
        QVERIFY(child<QComboBox>(&active, "StoreCategoryID")->isEnabled());
    }
    Bulk_Account mixed(nullptr, "1", -9, 1, true);
    QCOMPARE(child<QComboBox>(&mixed, "Account")->currentIndex(), 0);
    QVERIFY(!child<QComboBox>(&mixed, "StoreCategoryID")->isEnabled());

    // An account that can't be read: whether it has a shop is not known, so the seller reads
    // why and the account is not changed either.
    Bulk_Account unread(nullptr, "1", -10, 0, false);
    QVERIFY(t.db()->executeSQL("ALTER TABLE accounts RENAME TO accounts_gone"));
    DialogAnswers answers;
    auto *account = child<QComboBox>(&unread, "Account");
    account->setCurrentIndex(account->findData(1));
    QVERIFY(t.db()->executeSQL("ALTER TABLE accounts_gone RENAME TO accounts"));
    QCOMPARE(account->currentIndex(), 0);
    QVERIFY2(answers.lastMessageText().startsWith("Das Konto konnte nicht aus der Datenbank "
                                                  "gelesen werden, es bleibt daher unverändert: "),
             qPrintable(answers.lastMessageText()));
    QVERIFY(unread.isEnabled());

    // Store categories that can't be read are not "none": the seller reads why, and they stay.
    Bulk_Account shop(nullptr, "1", -10, 0, false);
    QVERIFY(t.db()->executeSQL("ALTER TABLE shopcats RENAME TO shopcats_gone"));
    DialogAnswers told;
    auto *owner = child<QComboBox>(&shop, "Account");
    owner->setCurrentIndex(owner->findData(1));
    QVERIFY(t.db()->executeSQL("ALTER TABLE shopcats_gone RENAME TO shopcats"));
    QVERIFY(!child<QComboBox>(&shop, "StoreCategoryID")->isEnabled());
    QVERIFY2(told.lastMessageText().startsWith("Die Shop-Kategorien konnten nicht ")
                 && told.lastMessageText().endsWith("Die Shop-Kategorien bleiben unverändert."),
             qPrintable(told.lastMessageText()));
}

// The service lists: two fixed entries, then category headings that cannot be chosen.
void TestBulkEdit::shippingServices()
{
    APP_TEST_DATABASE(t);
    addAccounts(t.db());
    std::unique_ptr<BulkEditDialog> dialog(new Bulk_Shipping(nullptr, 77, "1", true, 1));
    auto *box = child<QComboBox>(dialog.get(), "ShippingService_4");
    auto *model = qobject_cast<QStandardItemModel *>(box->model());
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown << (model->item(i)->isEnabled() ? "" : "x ") + box->itemData(i).toString();
    QCOMPARE(shown.mid(0, 4), (QStringList { "", "", "x -1", "DE_Express" }));
    QVERIFY(!shown.contains("DE_Pickup") && !shown.contains("DE_DHLPaketInternational"));
    // Several accounts: no discount profiles and the discount fixed.
    QCOMPARE(child<QComboBox>(dialog.get(), "ShippingDiscountProfileID")->count(), 2);
    QVERIFY(!child<QCheckBox>(dialog.get(), "PromotionalShippingDiscount")->isEnabled());
}

void TestBulkEdit::paymentChoices_data()
{
    QTest::addColumn<QStringList>("offered"); // codes in the marketplace's reply
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("bank transfer added second")
        << QStringList { "PAYPAL", "CashOnPickup" }
        << QStringList { "PAYPAL", "MoneyXferAcceptedInCheckout", "CashOnPickup" };
    QTest::newRow("bank transfer listed by the marketplace appears once")
        << QStringList { "CashOnPickup", "PayPal", "MoneyXferAcceptedInCheckout" }
        << QStringList { "CashOnPickup", "PayPal", "MoneyXferAcceptedInCheckout" };
    QTest::newRow("nothing offered")
        << QStringList() << QStringList { "MoneyXferAcceptedInCheckout" };
}

// The boxes follow the site's payment options; PayPal in any letter case gets its address
// field, usable only while PayPal is ticked.
void TestBulkEdit::paymentChoices()
{
    QFETCH(QStringList, offered);
    QFETCH(QStringList, boxes);
    APP_TEST_DATABASE(t);
    addAccounts(t.db());
    QByteArray reply = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><GeteBayDetailsResponse "
                       "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>";
    for (const QString &code : offered)
        reply += "<PaymentOptionDetails><PaymentOption>" + code.toUtf8()
            + "</PaymentOption><Description>" + code.toUtf8()
            + "</Description></PaymentOptionDetails>";
    m_server->setCallReply("GeteBayDetails", FakeReply::ok(reply + "</GeteBayDetailsResponse>"));
    Bulk_Payment dialog(nullptr, 16, "1");
    m_server->setCallReply("GeteBayDetails", FakeReply::ok(canned("GeteBayDetails.xml")));
    QStringList shown;
    for (const QCheckBox *box : dialog.paymentBoxes)
        shown << box->property("PaymentID").toString();
    QCOMPARE(shown, boxes);
    QCOMPARE(dialog.payPalEdit != nullptr, offered.contains("PAYPAL", Qt::CaseInsensitive));
    if (dialog.payPalEdit) {
        QVERIFY(!dialog.payPalEdit->isEnabled());
        dialog.paymentBoxes.at(shown.indexOf(QRegularExpression("(?i)paypal")))->setChecked(true);
        QVERIFY(dialog.payPalEdit->isEnabled());
    }
}

// A statement the database refuses is shown with the database's own reason; the command is
// stored whole or not at all, so the other articles keep their values too.
void TestBulkEdit::failedWriteIsReported()
{
    APP_TEST_DATABASE(t);
    const int a = TestSupport::insertArticle(t.db(), { { "Folder", -10 } });
    const int refused = TestSupport::insertArticle(t.db(), { { "Folder", -10 } });
    QVERIFY(TestSupport::refuseRows(t.db(), "articles", "UPDATE", "Artikel gesperrt",
                                    QString("OLD.id = %1").arg(refused)));
    DialogAnswers answers;
    Bulk_FormatAndDuration dialog(nullptr, QString("%1,%2").arg(refused).arg(a), -10);
    choose(&dialog, "DurationBox", "Days_5");
    dialog.accept();
    QTRY_VERIFY(!dialog.isWriting());
    QCOMPARE(answers.messages().size(), 1);
    QCOMPARE(answers.messages().first().type, 2);
    QVERIFY2(answers.lastMessageText().contains("1 von 2")
                 && answers.lastMessageText().contains("Keiner der Artikel wurde geändert.")
                 && answers.lastMessageText().contains("Artikel gesperrt"),
             qPrintable(answers.lastMessageText()));
    QCOMPARE(dialog.result(), 0);
    QVERIFY(!dialog.outcomeUnknown());
    QVERIFY(TestSupport::values(t.db(), a, "ListingDuration") != "Days_5");
    QVERIFY(TestSupport::values(t.db(), refused, "ListingDuration") != "Days_5");
}

// OK's write runs beside the window: the dialog stays open, its entries and OK off and its bar
// shown, until the write has told its result, and the window's events go on meanwhile.
// "Abbrechen" while it waits stops it: nothing is written, the dialog closes, and the seller
// reads that nothing was changed.
void TestBulkEdit::waitsForItsWrite_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("stored") << false;
    QTest::newRow("cancelled") << true;
}

void TestBulkEdit::waitsForItsWrite()
{
    QFETCH(bool, cancel);
    APP_TEST_DATABASE(t);
    const int a = TestSupport::insertArticle(t.db(), { { "Folder", -10 } });
    const int b = TestSupport::insertArticle(t.db(), { { "Folder", -10 } });
    DialogAnswers answers;
    TestSupport::HeldJobs held;
    Bulk_FormatAndDuration dialog(nullptr, QString("%1,%2").arg(a).arg(b), -10);
    dialog.show();
    choose(&dialog, "DurationBox", "Days_5");
    auto *buttons = dialog.findChild<QDialogButtonBox *>("buttonBox");
    buttons->button(QDialogButtonBox::Ok)->click();
    QVERIFY(held.entered());

    bool windowWent = false;
    QTimer::singleShot(0, [&windowWent] { windowWent = true; });
    QTRY_VERIFY(windowWent);
    QVERIFY(dialog.isWriting() && dialog.isVisible());
    QVERIFY(!buttons->button(QDialogButtonBox::Ok)->isEnabled());
    QVERIFY(!dialog.findChild<QComboBox *>("DurationBox")->isEnabled());
    QVERIFY(dialog.findChild<QProgressBar *>("progressBar")->isVisible());
    QPushButton *abort = buttons->button(QDialogButtonBox::Cancel);
    QVERIFY(abort->isEnabled());
    if (cancel) {
        abort->click();
        // Closed only once the write has stopped.
        QVERIFY(dialog.isVisible());
    }
    held.letGo();
    QTRY_VERIFY(!dialog.isWriting());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), cancel ? 0 : 1);
    for (int id : { a, b })
        QCOMPARE(TestSupport::values(t.db(), id, "ListingDuration") == "Days_5", !cancel);
    if (cancel)
        QCOMPARE(answers.lastMessageText(),
                 QStringLiteral("Die Änderung wurde abgebrochen; keiner der Artikel wurde "
                                "geändert."));
    else
        QVERIFY2(answers.messages().isEmpty(), qPrintable(answers.lastMessageText()));
}

// The count of what was not written reads as German: the singular for one.
void TestBulkEdit::failureCounts_data()
{
    QTest::addColumn<int>("articles");
    QTest::addColumn<int>("refused");
    QTest::addColumn<QString>("bulk");
    QTest::addColumn<QString>("replace");
    QTest::newRow("one of one") << 1 << 1 << "1 von 1 Artikel konnte nicht geändert werden."
                                << "1 Änderung konnte nicht gespeichert werden.";
    QTest::newRow("one of two") << 2 << 1 << "1 von 2 Artikeln konnte nicht geändert werden."
                                << "1 Änderung konnte nicht gespeichert werden.";
    QTest::newRow("two of three") << 3 << 2 << "2 von 3 Artikeln konnten nicht geändert werden."
                                  << "2 Änderungen konnten nicht gespeichert werden.";
}

void TestBulkEdit::failureCounts()
{
    QFETCH(int, articles);
    QFETCH(int, refused);
    QFETCH(QString, bulk);
    QFETCH(QString, replace);
    APP_TEST_DATABASE(t);
    QStringList ids;
    for (int i = 0; i < articles; ++i)
        ids << QString::number(
            TestSupport::insertArticle(t.db(), { { "Folder", -10 }, { "Title", "rot" } }));
    const QString refusedIds = QStringList(ids.mid(0, refused)).join(',');
    QVERIFY(TestSupport::refuseRows(t.db(), "articles", "UPDATE", "gesperrt",
                                    QString("OLD.id IN (%1)").arg(refusedIds)));
    {
        DialogAnswers answers;
        Bulk_FormatAndDuration dialog(nullptr, ids.join(','), -10);
        choose(&dialog, "DurationBox", "Days_5");
        dialog.accept();
        QTRY_VERIFY(!dialog.isWriting());
        QCOMPARE(answers.lastMessageText().section('\n', 0, 0), bulk);
    }
    DialogAnswers answers;
    SearchAndReplace dialog(ids);
    auto *list = dialog.findChild<QListWidget *>("FieldSelectList");
    for (int i = 0; i < list->count(); ++i)
        list->item(i)->setCheckState(list->item(i)->text() == "Titel" ? Qt::Checked
                                                                      : Qt::Unchecked);
    // With the wildcard each article's text is changed on its own.
    dialog.findChild<QPlainTextEdit *>("SearchTextField")->setPlainText("ro%%%%");
    dialog.findChild<QPlainTextEdit *>("ReplaceTextField")->setPlainText("blau");
    dialog.accept();
    QTRY_VERIFY(!dialog.isWriting());
    QCOMPARE(answers.lastMessageText().section('\n', 0, 0), replace);
}

void TestBulkEdit::commands_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("selection"); // site:account per selected row
    QTest::addColumn<bool>("activeAccounts");
    QTest::addColumn<QString>("opened"); // class of the dialog run; empty: none
    QTest::addColumn<QString>("message");
    // A table that can't be read once the window shows the articles; empty: none.
    QTest::addColumn<QString>("unreadable");

    const QString sites = "auf der gleichen Plattform sein.";
    QTest::newRow("nothing selected") << "actionZahlungsmethoden"
                                      << "" << true << ""
                                      << ""
                                      << "";
    QTest::newRow("payment, one site") << "actionZahlungsmethoden"
                                       << "77:1 77:2" << true << "Bulk_Payment"
                                       << ""
                                       << "";
    QTest::newRow("payment, two sites")
        << "actionZahlungsmethoden"
        << "77:1 16:1" << true << ""
        << "von Zahlungsmethoden müssen alle ausgewählten Artikel " + sites << "";
    QTest::newRow("payment without active account") << "actionZahlungsmethoden"
                                                    << "77:1" << false << ""
                                                    << "Es wurde kein aktives eBay Konto gefunden"
                                                    << "";
    QTest::newRow("location without active account") << "actionArtikelstandort_und_Bearbeitungszeit"
                                                     << "77:1" << false << ""
                                                     << "Es wurde kein aktives eBay Konto gefunden"
                                                     << "";
    QTest::newRow("policies, two sites") << "actionRahmenbedingungen"
                                         << "77:1 16:1" << true << ""
                                         << "nur bezogen auf ein Land"
                                         << "";
    QTest::newRow("policies, two accounts") << "actionRahmenbedingungen"
                                            << "77:1 77:2" << true << ""
                                            << "nur bezogen auf ein Konto"
                                            << "";
    // The stored site and account are read in groups: a difference in the last one counts.
    QTest::newRow("policies, another account after 600 articles") << "actionRahmenbedingungen"
                                                                  << "77:2x600 77:1" << true << ""
                                                                  << "nur bezogen auf ein Konto"
                                                                  << "";
    QTest::newRow("policies, 601 articles of one account") << "actionRahmenbedingungen"
                                                           << "77:2x601" << true << "Bulk_Profiles"
                                                           << ""
                                                           << "";
    QTest::newRow("policies, one account") << "actionRahmenbedingungen"
                                           << "77:2 77:2" << true << "Bulk_Profiles"
                                           << ""
                                           << "";
    QTest::newRow("account, two accounts") << "actionKonto_PayPal_und_Shopkategorien"
                                           << "77:1 77:2" << true << "Bulk_Account"
                                           << ""
                                           << "";
    QTest::newRow("format") << "actionFormat_und_Laufzeit"
                            << "77:1" << true << "Bulk_FormatAndDuration"
                            << ""
                            << "";

    // A failed read is no missing account: the dialog says why and stores nothing.
    const QString accounts = "Die eBay-Konten konnten nicht aus der Datenbank gelesen werden";
    QTest::newRow("payment, accounts unreadable") << "actionZahlungsmethoden"
                                                  << "77:1" << true << "" << accounts << "accounts";
    QTest::newRow("location, accounts unreadable")
        << "actionArtikelstandort_und_Bearbeitungszeit"
        << "77:1" << true << "" << accounts << "accounts";
    QTest::newRow("account, accounts unreadable") << "actionKonto_PayPal_und_Shopkategorien"
                                                  << "77:1" << true << "" << accounts << "accounts";
    QTest::newRow("policies, account unreadable")
        << "actionRahmenbedingungen"
        << "77:2" << true << ""
        << "Das Konto konnte nicht aus der Datenbank gelesen werden"
        << "accounts";
    QTest::newRow("policies, articles unreadable")
        << "actionRahmenbedingungen"
        << "77:2" << true << ""
        << "Die ausgewählten Artikel konnten nicht aus der Datenbank gelesen werden"
        << "articles";
}

// The commands check the selection before a dialog opens; a dialog that cannot work
// (no active account) is never run, so its OK cannot wipe anything.
void TestBulkEdit::commands()
{
    QFETCH(QString, action);
    QFETCH(QString, selection);
    QFETCH(bool, activeAccounts);
    QFETCH(QString, opened);
    QFETCH(QString, message);
    QFETCH(QString, unreadable);
    APP_TEST_DATABASE(t);
    addAccounts(t.db());
    if (!activeAccounts)
        QVERIFY(t.db()->executeSQL("UPDATE accounts SET active=0"));
    QStringList ids;
    // "site:account", or "site:accountxN" for N such articles.
    for (const QString &row : selection.split(' ', Qt::SkipEmptyParts)) {
        const QString kind = row.section('x', 0, 0);
        const int times = row.contains('x') ? row.section('x', 1).toInt() : 1;
        for (int k = 0; k < times; ++k)
            ids << QString::number(
                TestSupport::insertArticle(t.db(),
                                           { { "Folder", -10 },
                                             { "Site", kind.section(':', 0, 0).toInt() },
                                             { "Account", kind.section(':', 1).toInt() },
                                             { "PaymentMethods", "PayPal" },
                                             { "ListingDuration", "Days_10" } }));
    }
    TestSupport::MainWindowFixture fixture(t);
    QVERIFY(fixture.showFolder(-10));
    for (QTreeWidgetItem *item : fixture.itemList()->findItems("*", Qt::MatchWildcard))
        item->setSelected(ids.contains(item->data(0, ItemListRole::ArticleIdRole).toString()));
    QCOMPARE(fixture.itemList()->selectedItems().size(), ids.size());

    DialogAnswers answers;
    QString ran;
    QTimer poll;
    // The dialog that opens is confirmed with a changed duration where it offers one.
    QObject::connect(&poll, &QTimer::timeout, [&ran] {
        auto *dialog = qobject_cast<BulkEditDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isEnabled() || dialog->isWriting())
            return;
        ran = dialog->metaObject()->className();
        if (auto *box = dialog->findChild<QComboBox *>("DurationBox"))
            box->setCurrentIndex(box->findData("Days_1"));
        dialog->accept();
    });
    poll.start(20);
    const TableSnapshot before = TableSnapshot::take(*t.db(), "articles");
    QSqlDatabase raw = t.rawConnection(t.db()->isMySQL ? "breaker_mysql" : "breaker_sqlite");
    QSqlQuery rename(raw);
    if (!unreadable.isEmpty())
        QVERIFY2(rename.exec("ALTER TABLE " + unreadable + " RENAME TO " + unreadable + "_gone"),
                 qPrintable(rename.lastError().text()));
    fixture.window()->findChild<QAction *>(action)->trigger();
    poll.stop();
    if (!unreadable.isEmpty())
        QVERIFY2(rename.exec("ALTER TABLE " + unreadable + "_gone RENAME TO " + unreadable),
                 qPrintable(rename.lastError().text()));

    QCOMPARE(ran, opened);
    if (message.isEmpty())
        QVERIFY2(answers.messages().isEmpty(), qPrintable(answers.lastMessageText()));
    else
        QVERIFY2(answers.lastMessageText().contains(message),
                 qPrintable(answers.lastMessageText()));
    if (!unreadable.isEmpty()) {
        QCOMPARE(answers.messages().size(), 1);
        QCOMPARE(answers.messages().first().type, 2);
        // The reason follows.
        QVERIFY(answers.lastMessageText().size() > message.size() + 10);
    }
    const QStringList changed = changes(before, TableSnapshot::take(*t.db(), "articles"));
    if (opened.isEmpty())
        QCOMPARE(changed, QStringList());
    if (opened == "Bulk_FormatAndDuration") {
        QCOMPARE(changed, QStringList { ids.first() + ".ListingDuration=Days_1" });
        // The list shows what was written.
        auto *item = fixture.window()->IsItemWithIdHere(ids.first().toInt());
        QVERIFY(item);
        QCOMPARE(item->data(0, ItemListRole::ListingDurationRole).toString(), QString("Days_1"));
    }
    fixture.close();
}

// The changed rows can't be read after a stored command: the window reads what is stored
// instead of showing the rows as they were.
void TestBulkEdit::listReadAgainWhenRowsCantBe()
{
    APP_TEST_DATABASE_BEHIND_PROXY(proxy, t, "a local file refuses no single statement");
    addAccounts(t.db());
    const int id = TestSupport::insertArticle(
        t.db(), { { "Folder", -10 }, { "ListingDuration", "Days_10" } });
    TestSupport::MainWindowFixture fixture(t);
    QVERIFY(fixture.showFolder(-10));
    fixture.window()->IsItemWithIdHere(id)->setSelected(true);
    DialogAnswers answers;
    QTimer seller;
    QObject::connect(&seller, &QTimer::timeout, [] {
        auto *dialog = qobject_cast<BulkEditDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isEnabled())
            return;
        choose(dialog, "DurationBox", "Days_1");
        dialog->accept();
    });
    seller.start(20);
    proxy.refuse("FROM articles WHERE id IN (");
    fixture.window()->findChild<QAction *>("actionFormat_und_Laufzeit")->trigger();
    seller.stop();
    QCOMPARE(proxy.refusals(), 1);
    QCOMPARE(TestSupport::values(t.db(), id, "ListingDuration"), QString("Days_1"));
    QTRY_COMPARE(fixture.window()
                     ->IsItemWithIdHere(id)
                     ->data(0, ItemListRole::ListingDurationRole)
                     .toString(),
                 QString("Days_1"));
    fixture.close();
}

APP_TEST_MAIN(TestBulkEdit)
#include "test_bulkedit.moc"
