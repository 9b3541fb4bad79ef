// The article editor: its form, loading an article, and the choices by account and site,
// against the fake marketplace and cached reference data, on SQLite and MariaDB.
#include "core/database.h"
#include "editor/addarticle.h"
#include "marketplace/api_ebay.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/tablesnapshot.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWheelEvent>
#include <memory>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using Columns = QMap<QString, QVariant>;

Q_DECLARE_METATYPE(Columns)

class TestAddArticle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void formBindsEverySlot();
    void newArticle();
    void load_data();
    void load();
    void variationsPage();
    void missingArticle();
    void unreadable_data();
    void unreadable();
    void accountChoices();
    void failedUserDataIsNotKept();
    void siteChangeReloadsAccountChoices();
    void siteChangeKeepsAuctionDurations();
    void siteLock();
    void offline_data();
    void offline();

private:
    std::unique_ptr<AddArticle> open(int id = 0, bool duplicate = false);
    int article(const Columns &columns);
    int calls(const QString &name) const;

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<DialogAnswers> m_answers;
    int m_alpha = 0;
    int m_beta = 0;
};

void TestAddArticle::initTestCase_data()
{
    TestSupport::addBackendRows();
}

void TestAddArticle::init()
{
    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    APP_REQUIRE_BACKEND(backend);
    m_t = std::make_unique<TestSupport::TestDatabase>(backend);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    EditorFixture::serveReferenceData(*m_server);
    EditorFixture::cacheGermanSite(m_t->db());
    const auto accounts = EditorFixture::addAccounts(m_t->db());
    m_alpha = accounts.first;
    m_beta = accounts.second;
    m_answers = std::make_unique<DialogAnswers>();
}

void TestAddArticle::cleanup()
{
    m_answers.reset();
    m_server.reset();
    m_t.reset();
}

std::unique_ptr<AddArticle> TestAddArticle::open(int id, bool duplicate)
{
    return std::make_unique<AddArticle>(nullptr, id, -9, duplicate);
}

int TestAddArticle::article(const Columns &columns)
{
    Columns row { { "Title", "Lokomotive BR 218" },
                  { "Folder", -10 },
                  { "Account", m_alpha },
                  { "Site", 77 },
                  { "StartPrice", 12.5 },
                  { "Quantity", 3 },
                  { "ListingType", "FixedPriceItem" } };
    for (auto it = columns.cbegin(); it != columns.cend(); ++it)
        row.insert(it.key(), it.value());
    return m_t->db()->insertSqlClean(row, "articles");
}

int TestAddArticle::calls(const QString &name) const
{
    int count = 0;
    for (const auto &request : m_server->requests())
        count += request.callName() == name
            || request.header("X-EBAY-SOA-OPERATION-NAME") == name.toUtf8();
    return count;
}

// Every by-name slot has its widget; a missing one would also log "No matching signal",
// which fails the test.
void TestAddArticle::formBindsEverySlot()
{
    const auto editor = open();
    const QMetaObject *meta = editor->metaObject();
    int bound = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QString name = QString::fromLatin1(meta->method(i).name());
        if (!name.startsWith("on_"))
            continue;
        ++bound;
        const QString object = name.mid(3, name.lastIndexOf('_') - 3);
        QVERIFY2(editor->findChild<QObject *>(object), qPrintable(object));
    }
    QCOMPARE(bound, 57);
    auto *tabs = editor->findChild<QTabWidget *>("tabWidget");
    QStringList pages;
    for (int i = 0; i < tabs->count(); ++i)
        pages << tabs->widget(i)->objectName() + ":" + tabs->tabText(i);
    QCOMPARE(pages,
             QStringList({ "tab:Allgemein", "TabMerkmale:Merkmale", "TabDesc:Beschreibung",
                           "TabPics:Bilder", "PaymentTab:Zahlung / Rücknahme", "TabVersand:Versand",
                           "TabAuslandVersand:Vers. Ausland", "freifeldTab:Freifelder",
                           "TabVars:Varianten" }));
}

// A new article: the German site, the first account's data, the site's lists from the
// cache: no marketplace call at all.
void TestAddArticle::newArticle()
{
    const auto editor = open();
    EXPECT_FORM(editor.get(),
                        { "Site=77",
                          "Site:off",
                          "Account=" + QString::number(m_alpha),
                          "page:TabMerkmale:off",
                          "page:TabVars:off",
                          "PrimaryCategory:off",
                          "PostalCode=04109",
                          "Location=Leipzig",
                          "Country=",
                          "PostalCode:off",
                          "VATPercent:shown",
                          "VATPercent=19.00",
                          "eBayPlus:shown",
                          "StoreCategoryID:on",
                          "StoreCategoryID#9",
                          "SellerShippingProfile#3",
                          "SellerReturnProfile#2",
                          "ShippingDiscountProfileID#3",
                          "DispatchTimeMax#4",
                          "ListingDuration=GTC",
                          "ListingDuration:hidden",
                          "ConditionID:hidden",
                          "EANorISBN:hidden",
                          "AcceptShipping=0",
                          "ShippingService_1:off",
                          "BestOfferPanel:hidden" });
    QCOMPARE(m_server->requestCount(),
             calls("GetShippingDiscountProfiles") + calls("GetStore") + calls("getSellerProfiles"));
    QCOMPARE(calls("GeteBayDetails"), 0);
    // Country: the three German-speaking ones first, in reverse order of the list.
    auto *country = editor->findChild<QComboBox *>("Country");
    QStringList codes;
    for (int i = 0; i < country->count(); ++i)
        codes << country->itemData(i).toString();
    QCOMPARE(codes, QStringList({ "", "CH", "DE", "AT", "FR" }));
    // A category with sub-categories cannot be chosen.
    auto *store = editor->findChild<QComboBox *>("StoreCategoryID");
    QStringList choosable;
    for (int i = 1; i < store->count(); ++i) {
        if (store->model()->flags(store->model()->index(i, 0)) & Qt::ItemIsEnabled)
            choosable << store->itemData(i).toString();
    }
    QCOMPARE(choosable, QStringList({ "2310", "2220", "2211", "2212", "1" }));
}

void TestAddArticle::load_data()
{
    QTest::addColumn<Columns>("columns");
    QTest::addColumn<QStringList>("expected");
    const Columns shipping { { "Country", "DE" },
                             { "PostalCode", "10115" },
                             { "Location", "Berlin" },
                             { "DispatchTimeMax", "2" },
                             { "ShippingService_1", "DE_DHLPaket" },
                             { "ShippingService_1_Cost", 4.99 },
                             { "ShippingService_1_IsFree", 0 },
                             { "ShippingService_2", "DE_Express" },
                             { "ShippingService_2_Cost", 9.9 } };
    Columns fixed = shipping;
    fixed.insert({ { "SubTitle", "Märklin H0" },
                   { "PrimaryCategory", "9355" },
                   { "PrimaryCategoryText", "Modellbau:Bahn & Zubehör" },
                   { "RP_ReturnsAcceptedOption", "ReturnsAccepted" },
                   { "RP_ReturnsWithinOption", "Days_30" },
                   { "RP_ShippingCostPaidByOption", "Buyer" },
                   { "PaymentMethods", "MoneyXferAcceptedInCheckout|Nope" },
                   { "PaymentInstructions", "Bitte zügig zahlen" },
                   { "StoreCategoryID", "2210" },
                   { "PromotionalShippingDiscount", 1 },
                   { "ShippingDiscountProfileID", "999" },
                   { "BestOfferEnabled", 1 },
                   { "MinimumBestOfferPrice", 5 },
                   { "Free_01", "Regal 4" },
                   { "Notes", "mit OVP" },
                   { "ApplicationData", "R-17" },
                   { "GalleryType", "Plus" },
                   { "VAT_VATPercent", 7 },
                   { "LotSize", 2 },
                   { "ShippingServiceInt_1", "DE_DHLPaketInternational" },
                   { "ShippingServiceInt_1_Loc", "Europe,CH" } });
    QTest::newRow("fixed price") << fixed
                                 << QStringList { "Title=Lokomotive BR 218",
                                                  "SubTitle=Märklin H0",
                                                  "StartPrice=12.50",
                                                  "Quantity=3",
                                                  "Quantity:on",
                                                  "LotSize=2",
                                                  "ListingDuration=GTC",
                                                  "PrimaryCategory=Modellbau > Bahn && Zubehör",
                                                  "PrimaryCategory:on",
                                                  "page:TabMerkmale:on",
                                                  "page:TabVars:on",
                                                  "SecondaryCategory:on",
                                                  "Country=DE",
                                                  "PostalCode=10115",
                                                  "Location=Berlin",
                                                  "DispatchTimeMax=2",
                                                  "AcceptShipping=1",
                                                  "ShippingService_1=DE_DHLPaket",
                                                  "ShippingService_1_Cost=4.99",
                                                  "ShippingService_1_Cost:on",
                                                  "ShippingService_2=DE_Express",
                                                  "ShippingService_2_Cost=9.90",
                                                  "ShippingService_3:on",
                                                  "ShippingService_3_Cost:off",
                                                  "ReturnsAcceptedOption=1",
                                                  "ReturnsWithinOption=Days_30",
                                                  "ReturnsWithinOption:on",
                                                  "ShippingCostPaidByOption=Buyer",
                                                  "StoreCategoryID=2210",
                                                  "PromotionalShippingDiscount=1",
                                                  "ShippingDiscountProfileID#4",
                                                  "ShippingDiscountProfileID=",
                                                  "BestOfferEnabled=1",
                                                  "BestOfferPanel:shown",
                                                  "MinimumBestOfferPriceCheckBox=1",
                                                  "MinimumBestOfferPrice=5.00",
                                                  "BestOfferAutoAcceptPriceCheckBox=0",
                                                  "Free_01=Regal 4",
                                                  "Notes=mit OVP",
                                                  "ApplicationData=R-17",
                                                  "GalleryTypePlus=1",
                                                  "VATPercent=7.00",
                                                  "PaymentInstructions=Bitte zügig zahlen",
                                                  "AcceptIShipping=1",
                                                  "IShippingService_1=DE_DHLPaketInternational",
                                                  "IShippingService_1_SelCountries:on",
                                                  "Site:off",
                                                  "Account:on",
                                                  "SiteButton:shown" };
    Columns auction = shipping;
    auction.insert({ { "ListingType", "Chinese" },
                     { "ListingDuration", "Days_7" },
                     { "ReservePrice", 20 },
                     { "BuyItNowPrice", 50 },
                     { "PrivateListing", 1 },
                     { "Folder", -9 },
                     { "ItemID", "110012345678" } });
    QTest::newRow("running auction") << auction
                                     << QStringList { "ListingType_Chinese=1",
                                                      "ListingDuration=Days_7",
                                                      "ListingDuration:shown",
                                                      "ReservePrice=20.00",
                                                      "BuyItNowPrice=50.00",
                                                      "PrivateListing=1",
                                                      "PrivateListing:shown",
                                                      
                                                      "Quantity:off",
                                                      "page:TabVars:off",
                                                      "StartPriceLabel=Startpreis *",
                                                      "SiteButton:hidden",
                                                      "Account:off",
                                                      "Site:off",
                                                      "PrimaryCategory:on",
                                                      "SecondaryCategory:off" };
    QTest::newRow("other site and account")
        << Columns { { "Site", 3 }, { "Account", -2 }, { "Country", "FR" }, { "Folder", -2 } }
        << QStringList { "Site=3",     "Account=-2",  "Account:on",       "SiteButton:shown",
                         "Country=FR", "PostalCode=", "DispatchTimeMax#4" };
}

void TestAddArticle::load()
{
    QFETCH(Columns, columns);
    QFETCH(QStringList, expected);
    if (columns.value("Account") == -2)
        columns["Account"] = m_beta;
    expected.replaceInStrings("Account=-2", "Account=" + QString::number(m_beta));
    const auto editor = open(article(columns));
    EXPECT_FORM(editor.get(), expected);
    QCOMPARE(editor->windowTitle(), QString("Artikel bearbeiten"));
    if (columns.value("Site") == 3) {
        // The other site's details come from the marketplace once and stay in the cache.
        QCOMPARE(calls("GeteBayDetails"), 1);
    }
    // Stored payment methods tick the boxes the site offers; unknown ones are left out.
    QStringList ticked;
    for (QCheckBox *box : editor->findChildren<QCheckBox *>()) {
        if (box->isChecked() && !box->property("PaymentID").toString().isEmpty())
            ticked << box->property("PaymentID").toString();
    }
    const QString methods = columns.value("PaymentMethods").toString();
    QCOMPARE(ticked,
             methods.isEmpty() ? QStringList() : QStringList { methods.section('|', 0, 0) });
}

// The variations page is filled when first shown: option names as columns, values per row,
// the first identifier found, the picture option chosen.
void TestAddArticle::variationsPage()
{
    const int id = article({ { "VariantImageOption", "Farbe" } });
    const QString xml = "<NameValueList><Name>Farbe</Name><Value>%1</Value></NameValueList>"
                        "<NameValueList><Name>Größe</Name><Value>%2</Value></NameValueList>";
    QVERIFY(m_t->db()->insertSqlClean({ { "article_id", id },
                                        { "SKU", "A-1" },
                                        { "StartPrice", 9.5 },
                                        { "Quantity", 2 },
                                        { "UPC", "0123456789012" },
                                        { "VariantXml", xml.arg("Rot", "M") } },
                                      "articles_variations")
            > 0);
    QVERIFY(m_t->db()->insertSqlClean({ { "article_id", id },
                                        { "SKU", "A-2" },
                                        { "StartPrice", 10 },
                                        { "Quantity", 1 },
                                        { "EAN", "4006381333931" },
                                        { "VariantXml", xml.arg("Blau", "L") } },
                                      "articles_variations")
            > 0);
    auto editor = open(id);
    auto *list = editor->findChild<QTreeWidget *>("VariantList");
    // Variations that can't be read are no article without any: the seller reads why, and
    // the page is read again when it is shown next.
    QVERIFY(m_t->db()->executeSQL("ALTER TABLE articles_variations RENAME TO variations_gone"));
    EditorFixture::apply(editor.get(), { "show=TabVars" });
    QVERIFY2(m_answers->lastMessageText().startsWith(
                 "Die Varianten konnten nicht aus der Datenbank gelesen werden: "),
             qPrintable(m_answers->lastMessageText()));
    QCOMPARE(list->topLevelItemCount(), 0);
    QVERIFY(m_t->db()->executeSQL("ALTER TABLE variations_gone RENAME TO articles_variations"));
    EditorFixture::apply(editor.get(), { "show=TabPics", "show=TabVars" });
    QStringList shown;
    QStringList header;
    for (int c = 0; c < list->columnCount(); ++c)
        header << list->headerItem()->text(c);
    shown << header.join('|');
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c)
            cells << list->topLevelItem(r)->text(c);
        shown << cells.join('|');
    }
    QCOMPARE(shown,
             QStringList({ "SKU|Preis|Menge|EAN/ISBN/UPC|Farbe|Größe",
                           "A-1|9.50|2|0123456789012|Rot|M", "A-2|10.00|1|4006381333931|Blau|L" }));
    EXPECT_FORM(editor.get(), { "ImageOptionSelectBox=Farbe", "ImageOptionSelectBox:on" });

    // A duplicate is a new article: no variation belongs to it in the editor.
    editor.reset();
    const auto copy = open(id, true);
    QCOMPARE(copy->windowTitle(), QString("Aus ausgewähltem Artikel erstellen"));
    QCOMPARE(copy->getLoadId(), 0);
    EditorFixture::apply(copy.get(), { "show=TabVars" });
    QCOMPARE(copy->findChild<QTreeWidget *>("VariantList")->topLevelItemCount(), 0);
}

// An article deleted meanwhile: the user is told, and the dialog says it is not to be run.
void TestAddArticle::missingArticle()
{
    auto editor = open(424242);
    QVERIFY(!editor->isReady());
    QCOMPARE(m_answers->messages().size(), 1);
    QCOMPARE(m_answers->messages().first().text,
             QString("Der Artikel wurde in der Datenbank nicht gefunden"));
    QCOMPARE(m_answers->messages().first().type, 2);
    editor.reset();
    QVERIFY(open()->isReady());
}

void TestAddArticle::unreadable_data()
{
    QTest::addColumn<QString>("fault"); // a table renamed away, "deleted" or "gone"
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("told");
    const QString article = "Der Artikel konnte nicht aus der Datenbank gelesen werden: ";
    QTest::newRow("article's read refused") << "articles" << true << article;
    QTest::newRow("accounts' read refused, new article")
        << "accounts" << false
        << "Der Editor kann nicht geöffnet werden: die Konten konnten nicht aus der Datenbank "
           "gelesen werden. ";
    QTest::newRow("the file deleted") << "deleted" << true << article;
    QTest::newRow("the server gone") << "gone" << true << article;
}

// What can't be read is no article that is gone: the seller reads why, and no empty editor
// opens that could save over it.
void TestAddArticle::unreadable()
{
    QFETCH(QString, fault);
    QFETCH(bool, existing);
    QFETCH(QString, told);
    const bool mysql = m_t->backend() == TestSupport::Backend::MySQL;
    if ((fault == "deleted" && mysql) || (fault == "gone" && !mysql))
        QSKIP("not a fault of this database");
    TestSupport::OwnMySqlServer server;
    std::unique_ptr<TestSupport::TestDatabase> own;
    auto restart = qScopeGuard([&] {
        if (own)
            server.start();
    });
    TestSupport::TestDatabase *t = m_t.get();
    if (fault == "gone") {
        APP_REQUIRE_OWN_MYSQL_SERVER();
        QVERIFY2(server.start(), qPrintable(server.error()));
        own = std::make_unique<TestSupport::TestDatabase>(server.server());
        QVERIFY2(own->error().isEmpty(), qPrintable(own->error()));
        EditorFixture::addAccounts(own->db());
        t = own.get();
    }
    const int id = existing ? article({}) : 0;
    if (own)
        QVERIFY(own->db()->executeSQL(QString("INSERT INTO articles (id, Title, Account) VALUES "
                                              "(%1, 'Lok', 1)")
                                          .arg(id)));
    const QStringList before
        = existing ? QStringList { TestSupport::values(t->db(), id, "Title") } : QStringList();
    if (fault == "deleted") {
        QVERIFY(QFile::remove(t->db()->sqliteFile()));
    } else if (fault == "gone") {
        QVERIFY2(server.stop(), qPrintable(server.error()));
    } else {
        QSqlDatabase raw = t->rawConnection(mysql ? "breaker_mysql" : "breaker_sqlite");
        QSqlQuery query(raw);
        QVERIFY2(query.exec("ALTER TABLE " + fault + " RENAME TO " + fault + "_gone"),
                 qPrintable(query.lastError().text()));
    }
    m_answers->clear();
    auto editor = open(id);
    QVERIFY(!editor->isReady());
    QVERIFY2(m_answers->shownTexts().filter(told).size() == 1,
             qPrintable(m_answers->shownTexts().join(" | ")));
    const QString text = m_answers->shownTexts().filter(told).first();
    QVERIFY2(text.startsWith(told) && text.size() > told.size(), qPrintable(text));
    QVERIFY(!m_answers->shownTexts().join(' ').contains("nicht gefunden"));
    editor.reset();
    if (fault == "gone") {
        QVERIFY2(server.start(), qPrintable(server.error()));
        QCOMPARE(QStringList { TestSupport::values(t->db(), id, "Title") }, before);
    }
}

// Choosing an account loads its choices once; its user data is fetched only while unknown
// and then kept.
void TestAddArticle::accountChoices()
{
    const auto editor = open();
    auto *account = editor->findChild<QComboBox *>("Account");
    m_server->clearRequests();
    account->setCurrentIndex(account->findData(m_beta));
    QCOMPARE(calls("GetUser"), 1);
    QCOMPARE(m_t->db()
                 ->selectOne(QString("SELECT apiresult FROM accounts WHERE id=%1").arg(m_beta))
                 .value(),
             QString::fromUtf8(EditorFixture::userData()));
    // A typed postal code of a new article stays; the untouched city follows the account.
    m_server->clearRequests();
    editor->findChild<QLineEdit *>("PostalCode")->setText("12345");
    editor->findChild<QLineEdit *>("PostalCode")->setModified(true);
    editor->findChild<QLineEdit *>("Location")->setText("Halle");
    editor->findChild<QLineEdit *>("Location")->setModified(false);
    account->setCurrentIndex(account->findData(m_alpha));
    QCOMPARE(calls("GetUser"), 0);
    EXPECT_FORM(editor.get(), { "PostalCode=12345", "Location=Leipzig" });
    // Choosing the account loaded last again asks nothing.
    const int before = m_server->requestCount();
    emit account->currentIndexChanged(account->currentIndex());
    QCOMPARE(m_server->requestCount(), before);
}

void TestAddArticle::failedUserDataIsNotKept()
{
    m_server->setCallReply("GetUser",
                           FakeReply::ok("<?xml version=\"1.0\"?><GetUserResponse "
                                         "xmlns=\"urn:ebay:apis:eBLBaseComponents\">"
                                         "<Ack>Failure</Ack><Errors><LongMessage>Token "
                                         "abgelaufen</LongMessage><SeverityCode>Error"
                                         "</SeverityCode></Errors></GetUserResponse>"));
    const auto editor = open();
    auto *account = editor->findChild<QComboBox *>("Account");
    account->setCurrentIndex(account->findData(m_beta));
    QCOMPARE(calls("GetUser"), 1);
    QCOMPARE(m_t->db()
                 ->selectOne(QString("SELECT apiresult FROM accounts WHERE id=%1").arg(m_beta))
                 .value(),
             QString());
    EXPECT_FORM(editor.get(), { "StoreCategoryID:hidden", "VATPercent:hidden" });
}

// The policies belong to the account on a site: a change of site loads them for the new
// site instead of leaving the old site's lists (or none) in place.
void TestAddArticle::siteChangeReloadsAccountChoices()
{
    const auto editor = open();
    m_answers->pushQuestion(true);
    EditorFixture::apply(editor.get(), { "SiteButton=click" });
    EXPECT_FORM(editor.get(), { "Site:on", "SiteButton:off" });
    m_server->clearRequests();
    EditorFixture::apply(editor.get(), { "Site=3" });
    QCOMPARE(calls("getSellerProfiles"), 3);
    for (const auto &request : m_server->requests()) {
        if (request.hasHeader("X-EBAY-SOA-GLOBAL-ID"))
            QCOMPARE(request.header("X-EBAY-SOA-GLOBAL-ID"), QByteArray("EBAY-GB"));
    }
    EXPECT_FORM(editor.get(),
                        { "SellerShippingProfile#3", "SellerShippingProfile:on", "Site:off",
                          "SiteButton:on", "PrimaryCategory=Bitte auswählen...",
                          "page:TabMerkmale:off" });
}

void TestAddArticle::siteChangeKeepsAuctionDurations()
{
    const auto editor = open();
    EditorFixture::apply(editor.get(), { "ListingType_Chinese=1", "ListingDuration=Days_5" });
    m_answers->pushQuestion(true);
    EditorFixture::apply(editor.get(), { "SiteButton=click", "Site=16" });
    EXPECT_FORM(editor.get(),
                        { "ListingDuration#5", "ListingDuration=Days_5", "ListingDuration:shown",
                          "ListingType_Chinese=1", "Quantity:off", "ReservePrice:shown" });
}

void TestAddArticle::siteLock()
{
    const auto editor = open();
    auto *site = editor->findChild<QComboBox *>("Site");
    // Declining the question keeps the site locked; the wheel never changes a choice.
    m_answers->pushQuestion(false);
    EditorFixture::apply(editor.get(), { "SiteButton=click" });
    QVERIFY(!site->isEnabled());
    site->setEnabled(true);
    QWheelEvent wheel(QPointF(5, 5), site->mapToGlobal(QPoint(5, 5)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(site, &wheel);
    QCOMPARE(site->currentData().toInt(), 77);
}

void TestAddArticle::offline_data()
{
    QTest::addColumn<bool>("staleCache");
    QTest::addColumn<bool>("knownAccount");
    QTest::newRow("no cache") << false << true;
    QTest::newRow("no cache, account data never fetched") << false << false;
    QTest::newRow("cache older than seven days") << true << true;
}

// With the marketplace out of reach an opened article shows what is stored and saves it
// unchanged: a list that can't be loaded takes the stored value as it is, a cache file older
// than seven days still serves, and the seller is told once, in the editor, why.
void TestAddArticle::offline()
{
    QFETCH(bool, staleCache);
    QFETCH(bool, knownAccount);
    Columns columns { { "Account", knownAccount ? m_alpha : m_beta },
                      { "Description", "<p>Lok</p>" },
                      { "PrimaryCategory", "9355" },
                      { "PrimaryCategoryText", "Modellbau:Bahn" },
                      { "ConditionID", 1000 },
                      { "ItemSpecifics", "<NameValueList><Name>Marke</Name><Value>Märklin</Value>"
                                         "<Value>Roco</Value></NameValueList>" },
                      { "UPC", "012345678905" },
                      { "Country", "DE" },
                      { "PostalCode", "10115" },
                      { "DispatchTimeMax", "2" },
                      { "ShippingService_1", "DE_DHLPaket" },
                      { "ShippingService_1_Cost", 4.99 },
                      { "ShippingServiceInt_5", "DE_ExpressInternational" },
                      { "ShippingServiceInt_5_Cost", 25 },
                      { "ShippingServiceInt_5_Loc", "Europe,CH" },
                      { "PromotionalShippingDiscount", 1 },
                      { "ShippingDiscountProfileID", "1110001" },
                      { "RP_ReturnsAcceptedOption", "ReturnsAccepted" },
                      { "RP_ReturnsWithinOption", "Days_30" },
                      { "RP_ShippingCostPaidByOption", "Buyer" },
                      { "RP_InternationalReturnsAcceptedOption", "ReturnsNotAccepted" },
                      { "SellerReturnProfile", "6001" },
                      { "StoreCategoryID", "2220" },
                      { "PayPalEmailAddress", "lok@example.de" },
                      { "ListingDuration", "GTC" },
                      { "GalleryType", "Gallery" },
                      { "PhotoDisplay", "PicturePack" },
                      { "LotSize", 1 },
                      { "IsVerified", 0 },
                      { "CurrentPrice", 0 } };
    // The site offers no PayPal: online it would be dropped, as would an EAN that the
    // category (EAN required, UPC enabled: the field is UPC) does not take.
    if (staleCache)
        columns.insert("PaymentMethods", "MoneyXferAcceptedInCheckout|CashOnPickup");
    else
        columns.insert({ { "PaymentMethods", "PayPal|CashOnPickup" }, { "EAN", "4006381333931" } });
    const int id = article(columns);
    const QStringList pages = { "TabMerkmale", "TabPics",         "PaymentTab", "TabVersand",
                                "TabAuslandVersand", "freifeldTab", "TabVars",  "tab" };

    const QDir cache(m_t->db()->getCacheDir());
    if (staleCache) {
        // Every list once from the marketplace, into the cache, which then grows old.
        {
            const auto online = open(id);
            for (const QString &page : pages)
                EditorFixture::apply(online.get(), { "show=" + page });
        }
        const QStringList files = cache.entryList(QDir::Files);
        QVERIFY2(files.size() >= 10, qPrintable(files.join(' ')));
        for (const QString &name : files) {
            QFile file(cache.filePath(name));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-8),
                                     QFileDevice::FileModificationTime));
        }
    } else {
        for (const QString &name : cache.entryList(QDir::Files))
            QVERIFY(QFile::remove(cache.filePath(name)));
    }
    m_server->clearRoutes();
    m_server->setDefaultReply(FakeReply::dropped());
    m_server->clearRequests();
    const auto before = TestSupport::TableSnapshot::take(*m_t->db(), "articles");

    const auto editor = open(id);
    // Old lists don't hold the seller's own specifics text: that page would be rebuilt.
    for (const QString &page : pages)
        if (!staleCache || page != "TabMerkmale")
            EditorFixture::apply(editor.get(), { "show=" + page });
    QVERIFY(m_server->requestCount() > 0);
    EXPECT_FORM(editor.get(),
                { "Country=DE", "PostalCode=10115", "PostalCode:on", "DispatchTimeMax=2",
                  "AcceptShipping=1", "ShippingService_1=DE_DHLPaket",
                  "ShippingService_1_Cost=4.99", "AcceptIShipping=1",
                  "IShippingService_5=DE_ExpressInternational", "ReturnsWithinOption=Days_30",
                  "ShippingCostPaidByOption=Buyer", "SellerReturnProfile=6001",
                  "ShippingDiscountProfileID=1110001", "StoreCategoryID=2220", "ConditionID=1000",
                  "ConditionID:shown", "page:TabMerkmale:on", "page:TabVars:on",
                  staleCache ? "EANorISBNLabel=UPC" : "EANorISBNLabel=EAN", "EANorISBN:shown" });
    QCOMPARE(editor->findChild<QComboBox *>("EANorISBN")->currentText(),
             columns.value(staleCache ? "UPC" : "EAN").toString());
    // Names, not codes: from the old lists, or else the program's own.
    const QList<QPair<const char *, const char *>> names {
        { "ConditionID", "Neu" },
        { "Country", "Deutschland" },
        { "DispatchTimeMax", "2 Werktage" },
        { "ShippingService_1", "DHL Paket" },
        { "ReturnsWithinOption", "1 Monat" },
        { "ShippingCostPaidByOption", "Käufer" },
    };
    for (const auto &name : names)
        QCOMPARE(editor->findChild<QComboBox *>(name.first)->currentText().trimmed(),
                 QString::fromUtf8(name.second));
    QStringList ticked;
    for (QCheckBox *box : editor->findChildren<QCheckBox *>())
        if (box->isChecked() && box->property("PaymentID").isValid())
            ticked << box->property("PaymentID").toString();
    QCOMPARE(ticked.join('|'), columns.value("PaymentMethods").toString());
    for (QCheckBox *box : editor->findChildren<QCheckBox *>()) {
        if (box->property("PaymentID") == "CashOnPickup")
            QCOMPARE(box->text(), QString("Barzahlung bei Abholung"));
    }
    if (!staleCache) {
        QStringList specifics;
        for (QLabel *label : editor->findChildren<QLabel *>("StoredSpecific"))
            specifics << label->text();
        QCOMPARE(specifics, QStringList("<b>Marke</b>: Märklin, Roco"));
    }

    // Told once, in the editor, with the client's own reason; no message box.
    Api_Ebay probe("TOKEN-A");
    QList<QMap<QString, QString>> rows;
    probe.getEbayDetails("16", "CountryDetails", rows, m_t->db());
    QVERIFY(!probe.getLastFail().isEmpty());
    const auto notices = editor->findChildren<QLabel *>("ListsNotice");
    QCOMPARE(notices.size(), 1);
    QVERIFY(notices.first()->isVisibleTo(editor.get()));
    QVERIFY2(notices.first()->text().contains(probe.getLastFail())
                 && notices.first()->text().contains(staleCache ? "nicht aktualisiert"
                                                                : "nicht geladen"),
             qPrintable(notices.first()->text()));
    QVERIFY2(m_answers->messages().isEmpty(), qPrintable(m_answers->lastMessageText()));

    editor->accept();
    QVERIFY2(editor->result() == 1, qPrintable(m_answers->lastMessageText()));
    const auto changes = TestSupport::TableSnapshot::diff(
        before, TestSupport::TableSnapshot::take(*m_t->db(), "articles"));
    QVERIFY2(changes.isEmpty(), qPrintable(TestSupport::TableSnapshot::describe(changes)));
}

APP_TEST_MAIN(TestAddArticle)
#include "test_addarticle.moc"
