// How the editor's pages follow the seller's choices, one table per page: each row applies
// actions to a new article's form and checks what is enabled, shown and written.
#include "editor/addarticle.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <memory>

using EditorFixture::apply;

class TestAddArticlePages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void general_data();
    void general();
    void payment_data();
    void payment();
    void shipping_data();
    void shipping();
    void international_data();
    void international();
    void shipToLocations();
    void pagesFitTheDialog_data();
    void pagesFitTheDialog();

private:
    void columns();
    void run();

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<TestSupport::FakeHttpServer> m_server;
    std::unique_ptr<DialogAnswers> m_answers;
    std::unique_ptr<AddArticle> m_editor;
};

void TestAddArticlePages::init()
{
    m_t = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_server = std::make_unique<TestSupport::FakeHttpServer>();
    m_server->pointConfigHere();
    EditorFixture::serveReferenceData(*m_server);
    EditorFixture::cacheGermanSite(m_t->db());
    EditorFixture::addAccounts(m_t->db());
    m_answers = std::make_unique<DialogAnswers>();
    m_editor = std::make_unique<AddArticle>(nullptr, 0, -10, false);
}

void TestAddArticlePages::cleanup()
{
    m_editor.reset();
    m_answers.reset();
    m_server.reset();
    m_t.reset();
}

void TestAddArticlePages::columns()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("expected");
}

void TestAddArticlePages::run()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, expected);
    apply(m_editor.get(), actions);
    EXPECT_FORM(m_editor.get(), expected);
}

void TestAddArticlePages::general_data()
{
    columns();
    const QString title80(80, 'T');
    QTest::newRow("auction") << QStringList {
        "Quantity=4", "ListingType_Chinese=1"
    } << QStringList { "ListingDuration=Days_1", "ListingDuration#5",
                       "ListingDuration:shown",  "Quantity=1",
                       "Quantity:off",           "LotSize:off",
                       "ReservePrice:shown",     "BuyItNowPriceLabel:shown",
                       "PrivateListing:shown",   "StartPriceLabel=Startpreis *",
                       "page:TabVars:off" };
    QTest::newRow("auction again after fixed price")
        << QStringList { "ListingType_Chinese=1", "ListingDuration=Days_10",
                         "ListingPrice_FixedPrice=1", "ListingType_Chinese=1" }
        << QStringList { "ListingDuration=Days_1" };
    QTest::newRow("fixed price") << QStringList { "ListingType_Chinese=1",
                                                  "ListingPrice_FixedPrice=1" }
                                 << QStringList { "ListingDuration=GTC",
                                                  "ListingDuration:hidden",
                                                  "ReservePrice:hidden",
                                                  "PrivateListing:hidden",
                                                  "Quantity:on",
                                                  "LotSize:on",
                                                  "StartPriceLabel=Preis *",
                                                  "page:TabVars:off" };
    QTest::newRow("full title") << QStringList { "Title=" + title80 }
                                << QStringList { "TitleLabel=Titel (80/80) *", "PrimaryCategory:on",
                                                 "SecondaryCategory:off" };
    QTest::newRow("title emptied")
        << QStringList { "Title=x", "Title=" }
        << QStringList { "PrimaryCategory:off", "TitleLabel=Titel (0/80) *" };
    QTest::newRow("subtitle") << QStringList { "SubTitle=Märklin" }
                              << QStringList { "SubTitleLabel=Untertitel (7/55)" };
    QTest::newRow("condition new")
        << QStringList { "ConditionID=<<1000" } << QStringList { "ConditionDescription:hidden" };
    QTest::newRow("condition used")
        << QStringList { "ConditionID=<<3000" } << QStringList { "ConditionDescription:shown" };
    QTest::newRow("best offer") << QStringList { "BestOfferEnabled=1",
                                                 "BestOfferAutoAcceptPriceCheckBox=1" }
                                << QStringList { "BestOfferPanel:shown",
                                                 "BestOfferAutoAcceptPrice:on",
                                                 "MinimumBestOfferPrice:off" };
    QTest::newRow("best offer off")
        << QStringList { "BestOfferEnabled=1", "BestOfferEnabled=0",
                         "MinimumBestOfferPriceCheckBox=1" }
        << QStringList { "BestOfferPanel:hidden", "MinimumBestOfferPrice:on" };
}

void TestAddArticlePages::general()
{
    run();
}

void TestAddArticlePages::payment_data()
{
    columns();
    QTest::newRow("payment profile")
        << QStringList { "SellerPaymentProfile=5001" } << QStringList { "PaymentInstructions:off" };
    QTest::newRow("no payment profile")
        << QStringList { "SellerPaymentProfile=5001", "SellerPaymentProfile=#0" }
        << QStringList { "PaymentInstructions:on" };
    QTest::newRow("instructions cut")
        << QStringList { "PaymentInstructions=" + QString(600, 'z') }
        << QStringList { "PaymentInstructions=" + QString(500, 'z'),
                         "PaymentInstructionsLabel=Hinweis (500/500)" };
    QTest::newRow("returns accepted")
        << QStringList { "ReturnsAcceptedOption=1" }
        << QStringList { "ReturnsWithinOption:on", "ShippingCostPaidByOption:on",
                         "InternationalReturnsWithinOption:off" };
    QTest::newRow("international returns")
        << QStringList { "InternationalReturnsAcceptedOption=1" }
        << QStringList { "InternationalReturnsWithinOption:on",
                         "InternationalShippingCostPaidByOption:on", "ReturnsWithinOption:off" };
    QTest::newRow("return profile")
        << QStringList { "ReturnsAcceptedOption=1", "SellerReturnProfile=6001" }
        << QStringList { "ReturnsAcceptedOption:off", "ReturnsWithinOption:off",
                         "InternationalReturnsAcceptedOption:off" };
    QTest::newRow("return profile removed")
        << QStringList { "ReturnsAcceptedOption=1", "SellerReturnProfile=6001",
                         "SellerReturnProfile=#0" }
        << QStringList { "ReturnsAcceptedOption:on", "ReturnsWithinOption:on",
                         "InternationalReturnsWithinOption:off" };
}

void TestAddArticlePages::payment()
{
    run();
}

void TestAddArticlePages::shipping_data()
{
    columns();
    QTest::newRow("pick-up only") << QStringList { "AcceptShipping=#0" }
                                  << QStringList { "ShippingService_1:off",
                                                   "ShippingService_4:off",
                                                   "OfferPickUp:off",
                                                   "EstimatedWeight:off",
                                                   "PromotionalShippingDiscount:off",
                                                   "DispatchTimeMax:off" };
    QTest::newRow("flat") << QStringList {
        "AcceptShipping=#1"
    } << QStringList { "ShippingService_1:on",         "ShippingService_1_Cost:off",
                       "ShippingService_1_Free:off",   "ShippingService_4:on",
                       "DispatchTimeMax:on",           "OfferPickUp:on",
                       "OfferPickUpCost:off",          "PromotionalShippingDiscount:on",
                       "ShippingDiscountProfileID:off" };
    QTest::newRow("service") << QStringList { "AcceptShipping=#1", "ShippingService_1=DE_DHLPaket",
                                              "ShippingService_3=DE_Express" }
                             << QStringList { "ShippingService_1_Cost:on",
                                              "ShippingService_1_Free:on",
                                              "ShippingService_3_Cost_Add:on",
                                              "ShippingService_2_Cost:off" };
    QTest::newRow("free") << QStringList {
        "AcceptShipping=#1", "ShippingService_1=DE_DHLPaket", "ShippingService_1_Free=1"
    } << QStringList { "ShippingService_1_Cost:off", "ShippingService_1_Free:on" };
    QTest::newRow("shipping profile")
        << QStringList { "AcceptShipping=#1", "ShippingService_1=DE_DHLPaket", "OfferPickUp=1",
                         "SellerShippingProfile=7001" }
        << QStringList { "AcceptShipping:off",         "AcceptIShipping:off",
                         "DispatchTimeMax:off",        "OfferPickUp:off",
                         "OfferPickUpCost:off",        "ShippingService_1:off",
                         "ShippingService_1_Cost:off", "PromotionalShippingDiscount:off" };
    QTest::newRow("shipping profile removed")
        << QStringList { "AcceptShipping=#1", "ShippingService_1=DE_DHLPaket", "OfferPickUp=1",
                         "SellerShippingProfile=7001", "SellerShippingProfile=#0" }
        << QStringList { "AcceptShipping:on", "DispatchTimeMax:on", "OfferPickUpCost:on",
                         "ShippingService_1_Cost:on", "PromotionalShippingDiscount:on" };
    QTest::newRow("discount") << QStringList { "AcceptShipping=#1",
                                               "PromotionalShippingDiscount=1" }
                              << QStringList { "ShippingDiscountProfileID:on" };
    QTest::newRow("location") << QStringList { "Country=DE" }
                              << QStringList { "PostalCode:on", "Location:on" };
    QTest::newRow("no location") << QStringList { "Country=DE", "Country=#0" }
                                 << QStringList { "PostalCode:off", "Location:off" };
    QTest::newRow("custom weight")
        << QStringList { "AcceptShipping=#1", "EstimatedWeight=CUSTOM_WEIGHT" }
        << QStringList { "MajorUnitWeight:on", "MinorUnitWeight:on" };
    QTest::newRow("weight class") << QStringList { "AcceptShipping=#1", "EstimatedWeight=#3" }
                                  << QStringList { "MajorUnitWeight:off" };
    QTest::newRow("package") << QStringList { "ShippingPackageCheckBox=1" }
                             << QStringList { "WeightWidget:shown", "PkgWidget:shown",
                                              "ShippingPackageDetails:shown", "PkgLabel:shown" };
    QTest::newRow("no package") << QStringList {}
                                << QStringList { "WeightWidget:hidden", "PkgWidget:hidden",
                                                 "ShippingPackageDetailsLabel:hidden" };
    QTest::newRow("several pieces") << QStringList { "Quantity=3", "show=TabVersand" }
                                    << QStringList { "ShippingService_2_Cost_Add:shown" };
    QTest::newRow("one piece") << QStringList { "Quantity=1", "show=TabVersand" }
                               << QStringList { "ShippingService_2_Cost_Add:hidden" };
}

void TestAddArticlePages::shipping()
{
    run();
}

void TestAddArticlePages::international_data()
{
    columns();
    QTest::newRow("none") << QStringList { "AcceptIShipping=#0" }
                          << QStringList { "IShippingService_1:off", "IShippingService_5:off",
                                           "IPromotionalShippingDiscount:off" };
    QTest::newRow("flat") << QStringList { "AcceptIShipping=#1" }
                          << QStringList { "IShippingService_3:on", "IShippingService_3_Cost:off",
                                           "IShippingService_3_SelCountries:off",
                                           "IPromotionalShippingDiscount:on",
                                           "IShippingDiscountProfileID:off" };
    QTest::newRow("service") << QStringList { "AcceptIShipping=#1",
                                              "IShippingService_3=DE_DHLPaketInternational" }
                             << QStringList { "IShippingService_3_Cost:on",
                                              "IShippingService_3_Cost_Add:on",
                                              "IShippingService_3_SelCountries:on",
                                              "IShippingService_2_SelCountries:off" };
    QTest::newRow("discount") << QStringList { "AcceptIShipping=#1",
                                               "IPromotionalShippingDiscount=1" }
                              << QStringList { "IShippingDiscountProfileID:on" };
    QTest::newRow("shipping profile")
        << QStringList { "AcceptIShipping=#1", "IShippingService_2=DE_DHLPaketInternational",
                         "SellerShippingProfile=7001", "show=TabAuslandVersand" }
        << QStringList { "IShippingService_2:off", "IShippingService_2_Cost:off",
                         "IShippingService_2_SelCountries:off",
                         "AuslandVersandInfo=Sie haben ein Versandprofil ausgewählt, Angaben zum "
                         "Auslandsversand sind somit hier nicht anzugeben" };
    QTest::newRow("shipping profile removed")
        << QStringList { "AcceptIShipping=#1",
                         "IShippingService_2=DE_DHLPaketInternational",
                         "SellerShippingProfile=7001",
                         "SellerShippingProfile=#0",
                         "show=TabAuslandVersand",
                         "Quantity=2",
                         "show=tab",
                         "show=TabAuslandVersand" }
        << QStringList {
               "IShippingService_2_Cost:on", "IShippingService_2_SelCountries:on",
               "IShippingService_1_Cost:off", "IShippingService_4_Cost_Add:shown",
               "AuslandVersandInfo=Wenn Sie internationalen Versand anbieten, wird Ihr "
               "Artikel möglicherweise auf einer anderen eBay-Website verkauft. In diesem "
               "Fall gelten die Käuferschutzprogramme und Grundsätze dieser Website."
           };
}

void TestAddArticlePages::international()
{
    run();
}

// Accepting the location chooser with nothing ticked means worldwide; cancelling changes
// nothing.
void TestAddArticlePages::shipToLocations()
{
    apply(m_editor.get(), { "AcceptIShipping=#1", "IShippingService_1=DE_DHLPaketInternational" });
    auto *button = m_editor->findChild<QToolButton *>("IShippingService_1_SelCountries");
    auto *label = m_editor->findChild<QLabel *>("IShippingService_1_Label");
    button->setProperty("ids", "Europe");
    for (const auto answer : { QDialogButtonBox::Cancel, QDialogButtonBox::Ok }) {
        QTimer::singleShot(0, this, [answer] {
            auto *chooser = QApplication::activeModalWidget();
            QVERIFY(chooser);
            for (auto *box : chooser->findChildren<QCheckBox *>())
                box->setChecked(false);
            chooser->findChild<QDialogButtonBox *>()->button(answer)->click();
        });
        button->click();
        QCOMPARE(label->text() + "|" + button->property("ids").toString(),
                 answer == QDialogButtonBox::Ok ? QString("Weltweit|Worldwide")
                                                : QString("Weltweit|Europe"));
    }
}

void TestAddArticlePages::pagesFitTheDialog_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("fixed price") << "ListingPrice_FixedPrice=1";
    QTest::newRow("auction") << "ListingType_Chinese=1";
}

// At the editor's opening size every page shows whole what it holds, or lets the seller
// scroll to it; the first page shows the account and the prices without scrolling.
void TestAddArticlePages::pagesFitTheDialog()
{
    QFETCH(QString, format);
    apply(m_editor.get(), { format, "BestOfferEnabled=1" });
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor.get()));
    QCOMPARE(m_editor->width(), 850);
    auto *pages = m_editor->findChild<QTabWidget *>("tabWidget");
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        for (QScrollArea *area : pages->widget(page)->findChildren<QScrollArea *>()) {
            const int needed = area->widget()->minimumSizeHint().width();
            QVERIFY2(needed <= area->viewport()->width()
                         || area->horizontalScrollBarPolicy() != Qt::ScrollBarAlwaysOff,
                     qPrintable(QString("%1 needs %2 of %3 px")
                                    .arg(area->objectName())
                                    .arg(needed)
                                    .arg(area->viewport()->width())));
        }
    }

    pages->setCurrentIndex(0);
    auto *area = m_editor->findChild<QScrollArea *>("AllArea");
    QTRY_VERIFY(!area->horizontalScrollBar()->isVisible());
    for (const char *name : { "Account", "ReservePrice", "ReservePriceLabel", "BuyItNowPrice",
                              "BuyItNowPriceLabel", "LotSize", "MinimumBestOfferPrice" }) {
        auto *widget = m_editor->findChild<QWidget *>(name);
        if (widget->isHidden())
            continue;
        const QRect shown(widget->mapTo(area->viewport(), QPoint(0, 0)), widget->size());
        QVERIFY2(shown.left() >= 0 && shown.right() < area->viewport()->width(), name);
    }
}

APP_TEST_MAIN(TestAddArticlePages)
#include "test_addarticle_pages.moc"
