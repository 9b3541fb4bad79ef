// Saving in the article editor: the round trip of an unchanged article, the checks, a failed
// write, templates, the item-specifics page, pictures, variations and the HTML description
// editor, on SQLite and MariaDB.
#include "core/database.h"
#include "core/imagelimits.h"
#include "editor/addarticle.h"
#include "editor/companions/picturewidget.h"
#include "editor/itemspecifics.h"
#include "tests/editor/editorfixture.h"
#include "tests/support/blackpng.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/helddecodes.h"
#include "tests/support/sqlitereadcut.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>
#include <memory>

#include <sys/stat.h>

using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;
using Columns = QMap<QString, QVariant>;

Q_DECLARE_METATYPE(Columns)

namespace {

// Runs `answer` on the next modal dialog that opens, until it reports that it could.
void onNextModal(std::function<bool(QDialog *)> answer)
{
    auto *timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->inherits("AddArticle") || !answer(dialog))
            return;
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}

const QByteArray kSpecifics = R"(<?xml version="1.0" encoding="UTF-8"?>
<GetCategorySpecificsResponse xmlns="urn:ebay:apis:eBLBaseComponents"><Ack>Success</Ack>
<Recommendations><CategoryID>9355</CategoryID>
<NameRecommendation><Name>Marke</Name><ValidationRules><MinValues>1</MinValues>
<MaxValues>1</MaxValues><SelectionMode>FreeText</SelectionMode></ValidationRules>
<ValueRecommendation><Value>Märklin</Value></ValueRecommendation></NameRecommendation>
<NameRecommendation><Name>Spur</Name><ValidationRules><MaxValues>1</MaxValues>
<SelectionMode>SelectionOnly</SelectionMode></ValidationRules>
<ValueRecommendation><Value>H0</Value></ValueRecommendation>
<ValueRecommendation><Value>N</Value></ValueRecommendation></NameRecommendation>
<NameRecommendation><Name>Epoche</Name><HelpText>Die Epoche des Vorbilds</HelpText>
<ValidationRules><MaxValues>3</MaxValues><SelectionMode>FreeText</SelectionMode>
</ValidationRules>
<ValueRecommendation><Value>III</Value></ValueRecommendation>
<ValueRecommendation><Value>IV</Value></ValueRecommendation>
<ValueRecommendation><Value>V</Value></ValueRecommendation></NameRecommendation>
</Recommendations></GetCategorySpecificsResponse>)";

} // namespace

class TestAddArticleSave : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void roundTrip_data();
    void roundTrip();
    void internationalServices();
    void checks();
    void typedPrices_data();
    void typedPrices();
    void failedWriteKeepsEditorOpen();
    void templates();
    void unreadableTemplateKeepsForm_data();
    void unreadableTemplateKeepsForm();
    void specificsPage();
    void categoryChoice_data();
    void categoryChoice();
    void pictures();
    void removeAllPictures();
    void pictureRefusedWhileDecoding();
    void saveAfterClosedEditors();
    void picturesByWhoNamedThem_data();
    void picturesByWhoNamedThem();
    void unreadPicturesKept();
    void unreadTemplatePicturesKept_data();
    void unreadTemplatePicturesKept();
    void variations();
    void variationPictures();
    void closedWhileCopying();
    void description_data();
    void description();
    void deletedVariationsTakeTheirRows();

private:
    int article(const Columns &columns);
    Columns stored(int id, const QString &table = QStringLiteral("articles"));
    QString pictureFile(const QString &name);

    std::unique_ptr<TestSupport::TestDatabase> m_t;
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<DialogAnswers> m_answers;
    int m_alpha = 0;
};

void TestAddArticleSave::initTestCase_data()
{
    TestSupport::addBackendRows();
}

void TestAddArticleSave::init()
{
    const auto backend = *static_cast<TestSupport::Backend *>(
        QTest::qGlobalData("backend", ::qMetaTypeId<TestSupport::Backend>()));
    APP_REQUIRE_BACKEND(backend);
    m_t = std::make_unique<TestSupport::TestDatabase>(backend);
    QVERIFY2(m_t->error().isEmpty(), qPrintable(m_t->error()));
    m_server = std::make_unique<FakeHttpServer>();
    m_server->pointConfigHere();
    EditorFixture::serveReferenceData(*m_server);
    m_server->setCallReply("GetCategorySpecifics", FakeReply::ok(kSpecifics));
    EditorFixture::cacheGermanSite(m_t->db());
    m_alpha = EditorFixture::addAccounts(m_t->db()).first;
    m_answers = std::make_unique<DialogAnswers>();
}

void TestAddArticleSave::cleanup()
{
    m_answers.reset();
    m_server.reset();
    m_t.reset();
}

int TestAddArticleSave::article(const Columns &columns)
{
    Columns row { { "Title", "Lokomotive BR 218" }, { "Folder", -10 }, { "Account", m_alpha },
                  { "Site", 77 }, { "StartPrice", 12.5 }, { "Quantity", 3 },
                  { "ListingType", "FixedPriceItem" }, { "Description", "<p>Lok</p>" },
                  { "PrimaryCategory", "9355" }, { "PrimaryCategoryText", "Modellbau:Bahn" },
                  { "Country", "DE" }, { "PostalCode", "10115" }, { "Location", "Berlin" },
                  { "ConditionID", 1000 } };
    for (auto it = columns.cbegin(); it != columns.cend(); ++it)
        row.insert(it.key(), it.value());
    return m_t->db()->insertSqlClean(row, "articles");
}

// Every column as text (NULL and empty alike).
Columns TestAddArticleSave::stored(int id, const QString &table)
{
    const auto rows
        = m_t->db()->select("SELECT * FROM " + table + " WHERE id=" + QString::number(id)).value();
    Columns out;
    if (!rows.isEmpty())
        for (auto it = rows.first().cbegin(); it != rows.first().cend(); ++it)
            out.insert(it.key(), it.value().toString());
    return out;
}

QString TestAddArticleSave::pictureFile(const QString &path)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QDir().mkpath(QFileInfo(path).absolutePath());
    image.save(path, "PNG");
    return path;
}

void TestAddArticleSave::roundTrip_data()
{
    QTest::addColumn<Columns>("columns");
    const Columns shipping { { "DispatchTimeMax", "2" },
                             { "ShippingService_1", "DE_DHLPaket" },
                             { "ShippingService_1_Cost", 4.99 },
                             { "ShippingService_2", "DE_Express" },
                             { "ShippingService_2_Cost", 9.9 },
                             { "ShippingService_2_Cost_Add", 1.5 },
                             { "RP_ReturnsAcceptedOption", "ReturnsAccepted" },
                             { "RP_ReturnsWithinOption", "Days_30" },
                             { "RP_ShippingCostPaidByOption", "Buyer" },
                             { "RP_InternationalReturnsAcceptedOption", "ReturnsNotAccepted" },
                             { "PaymentMethods", "MoneyXferAcceptedInCheckout" },
                             { "ItemSpecifics", "<NameValueList><Name>Marke</Name><Value>Märklin"
                                                "</Value></NameValueList>" },
                             { "ListingDuration", "GTC" },
                             { "GalleryType", "Gallery" },
                             { "PhotoDisplay", "PicturePack" } };
    Columns fixed = shipping;
    fixed.insert({ { "SubTitle", "Märklin H0 \"Diesel\" 'rot'" },
                   { "PaymentInstructions", "Bitte zügig zahlen\nDanke" },
                   { "StoreCategoryID", "2210" },
                   { "PromotionalShippingDiscount", 1 },
                   { "ShippingDiscountProfileID", "1110001" },
                   { "BestOfferEnabled", 1 },
                   { "MinimumBestOfferPrice", 5 },
                   { "BestOfferAutoAcceptPrice", 11 },
                   { "Free_01", "Regal 4" },
                   { "Notes", "mit OVP" },
                   { "ApplicationData", "R-17" },
                   { "GalleryType", "Plus" },
                   { "VAT_VATPercent", 7 },
                   { "LotSize", 2 },
                   { "SKU", "BR218-'x'" },
                   { "ShippingServiceInt_1", "DE_DHLPaketInternational" },
                   { "ShippingServiceInt_1_Cost", 15 },
                   { "ShippingServiceInt_1_Loc", "Europe,CH" },
                   { "TemplateName", "Loks" } });
    QTest::newRow("fixed price") << fixed;
    Columns auction = shipping;
    auction.insert({ { "ListingType", "Chinese" },
                     { "ListingDuration", "Days_7" },
                     { "BuyItNowPrice", 30 },
                     { "ReservePrice", 20 },
                     { "PrivateListing", 1 },
                     { "Quantity", 1 } });
    QTest::newRow("auction") << auction;
    Columns variation = shipping;
    variation.insert({ { "HasVariation", 1 },
                       { "HasVariationMinPrice", "9.90" },
                       { "VariantImageOption", "Farbe" },
                       { "SKU", "V-1" } });
    QTest::newRow("variations") << variation;
    Columns uk = shipping;
    uk.insert({ { "Site", 3 }, { "PostalCode", "SW1A 1AA" }, { "Location", "London" },
                { "LotSize", 0 } });
    QTest::newRow("other site") << uk;
}

// An article opened and saved without a change keeps every column but the two a save always
// resets; its pictures and variation pictures keep their rows.
void TestAddArticleSave::roundTrip()
{
    QFETCH(Columns, columns);
    const int id = article(columns);
    QVERIFY(m_t->db()->insertSqlClean(
                { { "article_id", id },
                  { "VariantXml",
                    "<NameValueList><Name>Farbe</Name><Value>rot</Value></NameValueList>" },
                  { "SKU", "V-1-rot" },
                  { "StartPrice", "9,90" },
                  { "Quantity", 2 } },
                "articles_variations")
            > 0);
    QVERIFY(m_t->db()->insertSqlClean({ { "article_id", id },
                                        { "image", "https://i.example/rot.jpg" },
                                        { "variant_name", "rot" } },
                                      "articles_images")
            > 0);
    QVERIFY(m_t->db()->executeSQL("UPDATE articles SET IsVerified=1, CurrentPrice=3 WHERE id="
                                  + QString::number(id)));
    Columns before = stored(id);
    const auto pictures = m_t->db()->select("SELECT * FROM articles_images ORDER BY id").value();

    AddArticle editor(nullptr, id, -10, false);
    auto *tabs = editor.findChild<QTabWidget *>("tabWidget");
    // Every page but the item specifics, which are written afresh once their page is built.
    for (int page = 0; page < tabs->count(); ++page)
        if (tabs->widget(page)->objectName() != "TabMerkmale")
            tabs->setCurrentIndex(page);
    editor.accept();
    QVERIFY2(editor.result() == 1, qPrintable(m_answers->lastMessageText()));
    QVERIFY2(m_answers->messages().isEmpty(), qPrintable(m_answers->lastMessageText()));
    before["IsVerified"] = "0";
    before["CurrentPrice"] = "0";
    const Columns after = stored(id);
    QStringList changed;
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        if (after.value(it.key()) != it.value())
            changed << it.key() + ": " + it.value().toString() + " -> "
                    + after.value(it.key()).toString();
    QVERIFY2(changed.isEmpty(), qPrintable(changed.join("; ")));
    QCOMPARE(m_t->db()->select("SELECT * FROM articles_images ORDER BY id").value().size(),
             pictures.size());
}

// Each of the five international services is stored with its costs and ship-to locations
// and read back; switching international shipping off clears all five.
void TestAddArticleSave::internationalServices()
{
    const int id = article({ { "Quantity", 1 } });
    const QStringList services = { "DE_DHLPaketInternational", "DE_SonstigeInternational",
                                   "DE_ExpressInternational", "DE_DHLPaketInternational",
                                   "DE_ExpressInternational" };
    {
        AddArticle editor(nullptr, id, -10, false);
        QStringList actions = { "AcceptIShipping=1" };
        for (int n = 1; n <= 5; ++n) {
            const QString widget = QString("IShippingService_%1").arg(n);
            actions << widget + "=" + services.at(n - 1)
                    << widget + QString("_Cost=%1").arg(10 + n)
                    << widget + QString("_Cost_Add=%1.5").arg(n);
            editor.findChild<QToolButton *>(widget + "_SelCountries")
                ->setProperty("ids", QString("Europe,L%1").arg(n));
        }
        EditorFixture::apply(&editor, actions);
        editor.accept();
        QVERIFY2(editor.result() == 1, qPrintable(m_answers->lastMessageText()));
    }
    const auto columns = [this, id](const QString &suffix) {
        QStringList values;
        const Columns row = stored(id);
        for (int n = 1; n <= 5; ++n)
            values << row.value(QString("ShippingServiceInt_%1").arg(n) + suffix).toString();
        return values.join(' ');
    };
    QCOMPARE(columns(""), services.join(' '));
    QCOMPARE(columns("_Cost"), QString("11 12 13 14 15"));
    QCOMPARE(columns("_Cost_Add"), QString("1.5 2.5 3.5 4.5 5.5"));
    QCOMPARE(columns("_Loc"), QString("Europe,L1 Europe,L2 Europe,L3 Europe,L4 Europe,L5"));

    AddArticle editor(nullptr, id, -10, false);
    EXPECT_FORM(&editor, { "AcceptIShipping=1", "IShippingService_5=DE_ExpressInternational",
                           "IShippingService_5_Cost=15.00", "IShippingService_5_Cost_Add=5.50",
                           "IShippingService_5_SelCountries:on" });
    QCOMPARE(editor.findChild<QToolButton *>("IShippingService_5_SelCountries")->property("ids"),
             QVariant("Europe,L5"));
    EditorFixture::apply(&editor, { "AcceptIShipping=0" });
    editor.accept();
    QCOMPARE(editor.result(), 1);
    QCOMPARE(columns(""), QString("    "));
    QCOMPARE(columns("_Cost"), QString("0 0 0 0 0"));
    QCOMPARE(columns("_Cost_Add"), QString("0 0 0 0 0"));
    QCOMPARE(columns("_Loc"), QString("    "));
}

void TestAddArticleSave::checks()
{
    struct Case
    {
        QStringList actions;
        QString message;
    };
    const QList<Case> cases = {
        { { "Title=" }, "Geben Sie eine Artikelbezeichnung an" },
        { { "PlainHtmlCode=" }, "Geben Sie eine Artikelbeschreibung an" },
        { { "StartPrice=0" }, "Geben Sie einen Startpreis für Ihren Artikel an" },
        { { "PostalCode=", "Location=" }, "Geben Sie einen Artikelstandort für Ihren Artikel an" },
    };
    const int id = article({});
    const Columns before = stored(id);
    for (const Case &c : cases) {
        AddArticle editor(nullptr, id, -10, false);
        EditorFixture::apply(&editor, c.actions);
        editor.accept();
        QCOMPARE(m_answers->lastMessageText(), c.message);
        QCOMPARE(editor.result(), 0);
    }
    QCOMPARE(stored(id), before);
    // A title of blanks passes.
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "Title=  " });
    editor.accept();
    QCOMPARE(editor.result(), 1);
}

// A price typed into the editor is read as every importer and dialog reads it, whatever the
// desktop's locale: a German "12.5" is 12.5, not 125.
void TestAddArticleSave::typedPrices_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QString>("stored");
    QTest::newRow("decimal comma") << "12,5" << 99999.0 << "12.5";
    QTest::newRow("decimal point") << "12.5" << 99999.0 << "12.5";
    QTest::newRow("German thousands") << "1.234,50" << 99999.0 << "1234.5";
    QTest::newRow("English thousands") << "1,234.50" << 99999.0 << "1234.5";
    QTest::newRow("currency sign") << "19,99 €" << 99999.0 << "19.99";
    // At the maximum; a third decimal is no price, so nothing is rounded to reach it.
    QTest::newRow("at the maximum") << "99,99" << 99.99 << "99.99";
    // One mark before three digits: a thousands mark where a currency shows an English
    // price, and the German fields' thousands point otherwise.
    QTest::newRow("dollar sign, English thousands") << "$2,500" << 99999.0 << "2500";
    QTest::newRow("code USD, English thousands") << "USD 1,234" << 99999.0 << "1234";
    QTest::newRow("pound sign, English thousands") << "£1,000" << 99999.0 << "1000";
    QTest::newRow("German thousands point") << "1.000" << 99999.0 << "1000";
}

void TestAddArticleSave::typedPrices()
{
    QFETCH(QString, typed);
    QFETCH(double, maximum);
    QFETCH(QString, stored);
    const int id = article({});
    for (const QLocale &locale : { QLocale(QLocale::German, QLocale::Germany),
                                   QLocale(QLocale::English, QLocale::UnitedStates) }) {
        AddArticle editor(nullptr, id, -10, false);
        for (const char *name : { "StartPrice", "ShippingService_1_Cost" }) {
            auto *box = editor.findChild<QDoubleSpinBox *>(name);
            QVERIFY(box);
            box->setLocale(locale);
            box->setMaximum(maximum);
            auto *field = box->findChild<QLineEdit *>();
            // As pasted: the box's own check runs on the whole text.
            field->selectAll();
            field->insert(typed);
            box->interpretText();
            QCOMPARE(box->value(), stored.toDouble());
        }
        editor.accept();
        QVERIFY2(editor.result() == 1, qPrintable(m_answers->lastMessageText()));
        QCOMPARE(this->stored(id).value("StartPrice").toDouble(), stored.toDouble());
        QVERIFY(m_t->db()->executeSQL("UPDATE articles SET StartPrice=12.5 WHERE id="
                                      + QString::number(id)));
    }
}

// A write the database refuses leaves the editor open with its edits, the error shown.
void TestAddArticleSave::failedWriteKeepsEditorOpen()
{
    const int id = article({});
    AddArticle editor(nullptr, id, -10, false);
    editor.show();
    EditorFixture::apply(&editor, { "Title=Neuer Titel" });
    QVERIFY(m_t->db()->executeSQL("ALTER TABLE articles RENAME TO articles_away"));
    editor.accept();
    QVERIFY(m_answers->lastMessageText().startsWith("Artikel konnte nicht gespeichert werden"));
    QVERIFY(editor.isVisible());
    QVERIFY(m_t->db()->executeSQL("ALTER TABLE articles_away RENAME TO articles"));
    editor.accept();
    QCOMPARE(editor.result(), 1);
    QCOMPARE(stored(id).value("Title").toString(), QString("Neuer Titel"));
}

// Saved as a template, saved again under its name (overwriting), and loaded into a new and
// into an opened article, which then save as new rows.
void TestAddArticleSave::templates()
{
    const auto saveAs = [](const QString &name) {
        onNextModal([name](QDialog *chooser) {
            chooser->findChild<QLineEdit *>("lineEdit")->setText(name);
            chooser->accept();
            return true;
        });
    };
    const auto choose = [](const QString &name) {
        onNextModal([name](QDialog *chooser) {
            auto *list = chooser->findChild<QListWidget *>("listWidget");
            list->setCurrentItem(list->findItems(name, Qt::MatchExactly).value(0));
            chooser->accept();
            return true;
        });
    };
    {
        AddArticle editor(nullptr, 0, -10, false);
        EditorFixture::apply(&editor, { "Title=Vorlage Lok", "StartPrice=0" });
        editor.findChild<QPushButton *>("PrimaryCategory")->setProperty("CategoryID", "9355");
        saveAs("Loks");
        editor.findChild<QPushButton *>("SaveToTemplateButton")->click();
        m_answers->pushQuestion(true);
        EditorFixture::apply(&editor, { "SubTitle=zweite Fassung" });
        saveAs("Loks");
        editor.findChild<QPushButton *>("SaveToTemplateButton")->click();
        QCOMPARE(m_answers->messages().size(), 2);
        QCOMPARE(m_answers->lastMessageText(), QString("Die Vorlage wurde gespeichert"));
    }
    const auto templates = m_t->db()
                               ->select("SELECT id, SubTitle, StartPrice FROM articles "
                                        "WHERE Folder=-100 AND TemplateName='Loks'")
                               .value();
    QCOMPARE(templates.size(), 1);
    QCOMPARE(templates.first().value("SubTitle").toString(), QString("zweite Fassung"));
    const int templateId = templates.first().value("id").toInt();
    const Columns templateRow = stored(templateId);

    const int opened = article({ { "Title", "Eigener Artikel" } });
    const Columns openedRow = stored(opened);
    for (int id : { 0, opened }) {
        AddArticle editor(nullptr, id, -10, false);
        choose("Loks");
        editor.findChild<QPushButton *>("LoadFromTemplateButton")->click();
        EXPECT_FORM(&editor, { "Title=Vorlage Lok", "SubTitle=zweite Fassung" });
        EditorFixture::apply(&editor, { "StartPrice=8", "PlainHtmlCode=<p>aus Vorlage</p>",
                                        "Country=DE", "PostalCode=1", "ConditionID=1000" });
        editor.accept();
        QVERIFY2(editor.result() == 1, qPrintable(m_answers->lastMessageText()));
        QVERIFY(editor.getLoadId() != id && editor.getLoadId() != templateId);
        const Columns saved = stored(editor.getLoadId());
        QCOMPARE(saved.value("Folder").toString(), QString("-10"));
        QCOMPARE(saved.value("TemplateName").toString(), QString("Loks"));
    }
    QCOMPARE(stored(templateId), templateRow);
    QCOMPARE(stored(opened), openedRow);
}

void TestAddArticleSave::unreadableTemplateKeepsForm_data()
{
    QTest::addColumn<bool>("opened");
    QTest::newRow("new article") << false;
    QTest::newRow("opened article") << true;
}

// A template that can't be read is not loaded: the seller reads why, the form stays as it was
// and saves as what it was.
void TestAddArticleSave::unreadableTemplateKeepsForm()
{
    QFETCH(bool, opened);
    const int templateId
        = article({ { "Folder", -100 }, { "TemplateName", "Loks" }, { "Title", "Vorlage Lok" } });
    const int id = opened ? article({ { "Title", "Eigener Artikel" } }) : 0;
    AddArticle editor(nullptr, id, -10, false);
    editor.show();
    EditorFixture::apply(&editor,
                         { "Title=Getippter Titel", "StartPrice=8", "PlainHtmlCode=<p>getippt</p>",
                           "Country=DE", "PostalCode=1", "ConditionID=1000" });
    editor.findChild<QPushButton *>("PrimaryCategory")->setProperty("CategoryID", "9355");
    Database *db = m_t->db();
    onNextModal([db](QDialog *chooser) {
        auto *list = chooser->findChild<QListWidget *>("listWidget");
        list->setCurrentItem(list->findItems("Loks", Qt::MatchExactly).value(0));
        // Listed, then gone from reach before it is read.
        if (!db->executeSQL("ALTER TABLE articles RENAME TO articles_away"))
            qFatal("can't hide the articles");
        chooser->accept();
        return true;
    });
    editor.findChild<QPushButton *>("LoadFromTemplateButton")->click();
    QVERIFY(db->executeSQL("ALTER TABLE articles_away RENAME TO articles"));

    QCOMPARE(m_answers->messages().size(), 1);
    const QString told = m_answers->lastMessageText();
    QVERIFY2(told.startsWith("Die Vorlage konnte nicht aus der Datenbank gelesen werden: ")
                 && told.endsWith("\n\nDas Formular bleibt, wie es war."),
             qPrintable(told));
    QVERIFY(editor.isVisible());
    EXPECT_FORM(&editor, { "Title=Getippter Titel" });
    QCOMPARE(editor.getLoadId(), id);
    editor.accept();
    QVERIFY2(editor.result() == 1, qPrintable(m_answers->lastMessageText()));
    QCOMPARE(editor.getLoadId() == id, opened);
    QCOMPARE(stored(editor.getLoadId()).value("Title").toString(), QString("Getippter Titel"));
    QCOMPARE(stored(templateId).value("Title").toString(), QString("Vorlage Lok"));
}

// The page from a canned reply: required, selection-only and multi-valued specifics, the
// saved values restored, an unknown one kept as the seller's own; hostile values saved
// well-formed.
void TestAddArticleSave::specificsPage()
{
    const int id = article(
        { { "ItemSpecifics", "<NameValueList><Name><![CDATA[Spur]]></Name><Value><![CDATA[N]]>"
                             "</Value></NameValueList><NameValueList><Name>Epoche</Name><Value>IV"
                             "</Value><Value>V</Value></NameValueList><NameValueList><Name>Alt"
                             "</Name><Value>a</Value><Value>b</Value></NameValueList>" } });
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabMerkmale" });
    QStringList page;
    for (QWidget *widget : editor.findChildren<QWidget *>()) {
        if (widget->property("name").isValid()) {
            auto *box = qobject_cast<QComboBox *>(widget);
            auto *check = qobject_cast<QCheckBox *>(widget);
            page << widget->property("name").toString() + "="
                    + (box ? box->currentText() + (box->property("req").isValid() ? "*" : "")
                           : check->text() + ":" + QString::number(check->isChecked()));
        }
    }
    QCOMPARE(page, QStringList({ "Marke=*", "Spur=N", "Epoche=III:0", "Epoche=IV:1", "Epoche=V:1",
                                 "Alt=a" }));
    editor.accept();
    QCOMPARE(m_answers->lastMessageText(), QString("Das Merkmal Marke muss ausgefüllt werden"));
    QCOMPARE(editor.result(), 0);
    for (QComboBox *box : editor.findChildren<QComboBox *>())
        if (box->property("name") == "Marke")
            box->setEditText("Mär]]>klin");
    editor.accept();
    QCOMPARE(editor.result(), 1);
    QCOMPARE(stored(id).value("ItemSpecifics").toString(),
             QString("<NameValueList>\n\t<Name><![CDATA[Marke]]></Name>\n"
                     "\t<Value><![CDATA[Mär]]]]><![CDATA[>klin]]></Value>\n</NameValueList>\n"
                     "<NameValueList>\n\t<Name><![CDATA[Spur]]></Name>\n"
                     "\t<Value><![CDATA[N]]></Value>\n</NameValueList>\n"
                     "<NameValueList>\n\t<Name><![CDATA[Epoche]]></Name>\n"
                     "\t<Value><![CDATA[IV]]></Value>\n\t<Value><![CDATA[V]]></Value>\n"
                     "</NameValueList>\n"
                     "<NameValueList>\n\t<Name><![CDATA[Alt]]></Name>\n"
                     "\t<Value><![CDATA[a]]></Value>\n</NameValueList>\n"));
}

void TestAddArticleSave::categoryChoice_data()
{
    QTest::addColumn<int>("suggestion");
    QTest::addColumn<QString>("brand");
    QTest::newRow("the same category keeps the page") << 1 << "Roco";
    QTest::newRow("another category starts afresh") << 0 << "";
}

// Choosing a primary category again: the same one keeps the page and what was entered on it,
// another one builds the page afresh without the old values.
void TestAddArticleSave::categoryChoice()
{
    QFETCH(int, suggestion);
    QFETCH(QString, brand);
    QFile suggestions(APP_TEST_DATA_DIR "/marketplace/GetSuggestedCategories.xml");
    QVERIFY(suggestions.open(QIODevice::ReadOnly));
    m_server->setCallReply("GetSuggestedCategories", FakeReply::ok(suggestions.readAll()));
    const int id = article({ { "PrimaryCategory", "19006" },
                             { "ItemSpecifics", ItemSpecifics::write({ { "Marke", { "Märklin" } } }) } });
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabMerkmale" });
    const auto brandBox = [&editor] {
        for (QComboBox *box : editor.findChildren<QComboBox *>())
            if (box->property("name") == "Marke")
                return box;
        return static_cast<QComboBox *>(nullptr);
    };
    QCOMPARE(brandBox()->currentText(), QString("Märklin"));
    brandBox()->setEditText("Roco");
    m_answers->pushQuestion(true);
    onNextModal([suggestion](QDialog *chooser) {
        auto *list = chooser->findChild<QListWidget *>("SuggestedCategoriesList");
        if (!list->isEnabled() || list->count() <= suggestion)
            return false;
        list->item(suggestion)->setSelected(true);
        chooser->accept();
        return true;
    });
    editor.findChild<QPushButton *>("PrimaryCategory")->click();
    QCOMPARE(brandBox()->currentText(), brand);
}

// New files are copied with their rows and the thumbnail; rows of web addresses and beyond
// the twelfth slot stay.
void TestAddArticleSave::pictures()
{
    const int id = article({});
    const QString folder = m_t->db()->getCurrentAdImageDir();
    Database *db = m_t->db();
    QVERIFY(db->insertSqlClean(
                { { "article_id", id }, { "image", "https://i.example/1.jpg" }, { "sort", 0 } },
                "articles_images")
            > 0);
    for (int i = 1; i < 13; ++i)
        QVERIFY(db->insertSqlClean(
                    { { "article_id", id }, { "image", QString("p%1.png").arg(i) }, { "sort", i } },
                    "articles_images")
                > 0);
    for (int i = 1; i < 13; ++i)
        pictureFile(folder + QString("p%1.png").arg(i));
    const QString outside = pictureFile(QDir::tempPath() + "/zerire-pictures/neu 'x'.png");

    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabPics" });
    // Slot 3 takes the new file; p3.png leaves.
    auto widgets = editor.findChildren<PictureWidget *>();
    QCOMPARE(widgets.size(), 12);
    for (PictureWidget *slot : widgets)
        if (slot->imagePath.endsWith("/p3.png"))
            slot->clearImage();
    QVERIFY(QMetaObject::invokeMethod(&editor, "handleFileSaveAsBeforeCloseSelected",
                                      Q_ARG(QStringList, QStringList { outside })));
    // The save waits for the slots' decodes, the window going on.
    editor.accept();
    QTRY_COMPARE(editor.result(), 1);
    QStringList images;
    for (const auto &row : db->select("SELECT image, sort FROM articles_images WHERE article_id="
                                      + QString::number(id) + " ORDER BY sort")
                               .value())
        images << row.value("image").toString();
    QCOMPARE(images.size(), 13);
    QCOMPARE(images.mid(0, 3), QStringList({ "https://i.example/1.jpg", "p1.png", "p2.png" }));
    QVERIFY2(images.at(3).endsWith("_neu 'x'.png") && QFile::exists(folder + images.at(3)),
             qPrintable(images.at(3)));
    QCOMPARE(images.mid(4), QStringList({ "p4.png", "p5.png", "p6.png", "p7.png", "p8.png",
                                          "p9.png", "p10.png", "p11.png", "p12.png" }));
    QCOMPARE(stored(id).value("ImageThumb").toString(), QString("thumb_p1.png"));
    QVERIFY(QFile::exists(db->getCurrentAdImageDirThumbs() + "thumb_p1.png"));
}

// "Remove all" empties every slot and drops the pictures beyond the twelfth as well: after
// saving the article has no picture rows and no thumbnail.
void TestAddArticleSave::removeAllPictures()
{
    const int id = article({});
    const QString folder = m_t->db()->getCurrentAdImageDir();
    for (int i = 0; i < 14; ++i)
        QVERIFY(m_t->db()->insertSqlClean(
                    { { "article_id", id },
                      { "image", pictureFile(folder + QString("r%1.png").arg(i)).section('/', -1) },
                      { "sort", i } },
                    "articles_images")
                > 0);
    QVERIFY(m_t->db()->executeSQL("UPDATE articles SET ImageThumb='thumb_r0.png' WHERE id="
                                  + QString::number(id)));
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabPics", "removeFilesButton=click" });
    editor.accept();
    QCOMPARE(editor.result(), 1);
    QStringList left;
    for (const auto &row : m_t->db()
                               ->select("SELECT image FROM articles_images WHERE article_id="
                                        + QString::number(id) + " ORDER BY sort")
                               .value())
        left << row.value("image").toString();
    QCOMPARE(left, QStringList());
    QCOMPARE(stored(id).value("ImageThumb").toString(), QString());
}

// A picture over the pixel budget is not saved, also when the save comes while its slot still
// decodes it.
void TestAddArticleSave::pictureRefusedWhileDecoding()
{
    const int id = article({});
    QTemporaryDir dir;
    const QString big = dir.filePath("riesig.png");
    QFile file(big);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(TestSupport::blackPng(8000, 8000)) > 0);
    file.close();
    QSemaphore entered, release;
    ImageLimits::setDecodeHook([&] {
        entered.release();
        release.tryAcquire(1, 10000);
    });
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabPics" });
    QVERIFY(QMetaObject::invokeMethod(&editor, "handleFileSaveAsBeforeCloseSelected",
                                      Q_ARG(QStringList, QStringList { big })));
    QVERIFY(entered.tryAcquire(1, 10000));
    editor.accept();
    ImageLimits::setDecodeHook({});
    QCOMPARE(editor.result(), 0);
    release.release();
    QTRY_COMPARE(editor.result(), 1);
    const auto rows
        = m_t->db()
              ->select("SELECT image FROM articles_images WHERE article_id=" + QString::number(id))
              .value();
    QCOMPARE(rows.size(), 0);
    QCOMPARE(stored(id).value("ImageThumb").toString(), QString());
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
}

// Editors opened and closed leave no decodes behind them: the queued ones are dropped. The
// next editor's save, right after it opened (its pictures page never shown), has its first
// picture decoded ahead of every other and makes the thumbnail of that one.
void TestAddArticleSave::saveAfterClosedEditors()
{
    const int id = article({});
    Database *db = m_t->db();
    const QString folder = db->getCurrentAdImageDir();
    for (int i = 0; i < 12; ++i) {
        QImage image(2400, 1600, QImage::Format_RGB32);
        image.fill(i == 0 ? Qt::red : Qt::blue);
        QVERIFY(image.save(folder + QString("p%1.jpg").arg(i), "JPEG"));
        QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", QString("p%1.jpg").arg(i) },
                                     { "sort", i } },
                                   "articles_images")
                > 0);
    }
    {
        TestSupport::HeldDecodes held;
        for (int round = 0; round < 3; ++round) {
            // What is left of the editor before are the decodes that had a decoder when it
            // closed (at most one a decoder process); the queued ones are dropped.
            QTRY_VERIFY2(ImageLimits::pendingDecodes() <= 4,
                         qPrintable(QString::number(ImageLimits::pendingDecodes())));
            const int before = ImageLimits::pendingDecodes();
            auto editor = std::make_unique<AddArticle>(nullptr, id, -10, false);
            EditorFixture::apply(editor.get(), { "show=TabPics" });
            QTRY_COMPARE(ImageLimits::pendingDecodes(), before + 12);
            editor.reset();
        }
        QVERIFY(held.entered());
        QTRY_VERIFY2(ImageLimits::pendingDecodes() <= 4,
                     qPrintable(QString::number(ImageLimits::pendingDecodes())));
        held.letGo(1000);
    }
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);

    // The last picture is taken out, so the pictures are written again.
    QVERIFY(db->executeSQL("DELETE FROM articles_images WHERE image='p11.jpg'"));
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, {});
    QVERIFY(QMetaObject::invokeMethod(&editor, "handleFileSaveAsBeforeCloseSelected",
                                      Q_ARG(QStringList, QStringList { folder + "p11.jpg" })));
    QElapsedTimer timer;
    timer.start();
    editor.accept();
    QTRY_COMPARE(editor.result(), 1);
    qInfo("The save took %lld ms", timer.elapsed());
    QCOMPARE(stored(id).value("ImageThumb").toString(), QString("thumb_p0.jpg"));
    const QString thumb = db->getCurrentAdImageDirThumbs() + "thumb_p0.jpg";
    const QImage written(thumb);
    QCOMPARE(written.size(), QSize(150, 100));
    QVERIFY2(qRed(written.pixel(75, 50)) > 200 && qBlue(written.pixel(75, 50)) < 60,
             "the thumbnail is not the first picture's");
    QCOMPARE(QFile::permissions(thumb) & 0x0077, QFileDevice::Permissions());
}

// A file the seller chose himself may be a link (his Pictures folder often is links): it is
// shown and saved as the picture it leads to, copied as a plain file of the picture folder.
// What a row names is never followed: a link in the picture folder is refused, and a row
// leading out of it ("../…", another workstation's or a restored backup's) is not even
// opened. Neither is saved again.
void TestAddArticleSave::picturesByWhoNamedThem_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<int>("decodes"); // asked for besides the first picture's
    QTest::addColumn<QString>("said"); // what the slot says instead of a picture; %1: path
    QTest::addColumn<bool>("saved");
    QTest::newRow("the seller's link to a photo") << "seller link" << 1 << QString() << true;
    QTest::newRow("the seller's link to a FIFO")
        << "seller fifo" << 1 << "„%1“ ist keine gewöhnliche Datei." << false;
    QTest::newRow("a row naming a link in the picture folder")
        << "row link" << 1 << "„%1“ ist eine Verknüpfung; ihr wird nicht gefolgt." << false;
    QTest::newRow("a row leading out of the picture folder")
        << "row outside" << 0 << QString() << false;
}

void TestAddArticleSave::picturesByWhoNamedThem()
{
    QFETCH(QString, shape);
    QFETCH(int, decodes);
    QFETCH(QString, said);
    QFETCH(bool, saved);
    // Its thumbnail is the first picture's, also when the pictures are not written again.
    const int id = article({ { "ImageThumb", "thumb_p0.png" } });
    Database *db = m_t->db();
    const QString folder = db->getCurrentAdImageDir();
    QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", "p0.png" }, { "sort", 0 } },
                               "articles_images")
            > 0);
    pictureFile(folder + "p0.png");
    QTemporaryDir elsewhere;
    const QString photo = pictureFile(elsewhere.filePath("Fotos/urlaub.png"));
    QVERIFY(QDir().mkpath(elsewhere.filePath("Bilder")));
    QString path; // the slot's file
    QString row; // the row naming it
    if (shape == "seller link") {
        path = elsewhere.filePath("Bilder/urlaub.png");
        QVERIFY(QFile::link(photo, path));
    } else if (shape == "seller fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(elsewhere.filePath("rohr")).constData(), 0600), 0);
        path = elsewhere.filePath("Bilder/rohr.png");
        QVERIFY(QFile::link(elsewhere.filePath("rohr"), path));
    } else if (shape == "row link") {
        row = "verlinkt.png";
        path = folder + row;
        QVERIFY(QFile::link(photo, path));
    } else {
        row = QDir(folder).relativeFilePath(photo);
        QVERIFY(row.startsWith("../"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("leads out of the picture folder"));
    }
    if (!row.isEmpty())
        QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", row }, { "sort", 1 } },
                                   "articles_images")
                > 0);

    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabPics" });
    if (row.isEmpty())
        QVERIFY(QMetaObject::invokeMethod(&editor, "handleFileSaveAsBeforeCloseSelected",
                                          Q_ARG(QStringList, QStringList { path })));
    // Asked for at once, each by its slot.
    QCOMPARE(ImageLimits::pendingDecodes(), 1 + decodes);
    QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
    const auto widgets = editor.findChildren<PictureWidget *>();
    PictureWidget *second = widgets.value(1);
    QVERIFY(second);
    if (!said.isEmpty())
        QTRY_COMPARE(second->findChild<QLabel *>("label")->text(), said.arg(path));
    for (PictureWidget *slot : widgets)
        QVERIFY2(slot->imagePath.isEmpty() || slot->imagePath == folder + "p0.png"
                     || (saved && slot->imagePath == path),
                 qPrintable(slot->imagePath));

    editor.accept();
    QTRY_COMPARE(editor.result(), 1);
    QStringList images;
    for (const auto &stored : db->select("SELECT image FROM articles_images WHERE article_id="
                                         + QString::number(id) + " ORDER BY sort")
                                  .value())
        images << stored.value("image").toString();
    QCOMPARE(images.size(), saved ? 2 : 1);
    QCOMPARE(images.first(), QString("p0.png"));
    QCOMPARE(stored(id).value("ImageThumb").toString(), QString("thumb_p0.png"));
    if (saved) {
        // A plain file of the picture folder with the photo's bytes, not the link.
        const QFileInfo copy(folder + images.last());
        QVERIFY2(images.last().endsWith("_urlaub.png"), qPrintable(images.last()));
        QVERIFY(copy.isFile() && !copy.isSymLink());
        QFile original(photo);
        QFile kept(copy.filePath());
        QVERIFY(original.open(QIODevice::ReadOnly) && kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), original.readAll());
    }
}

// Picture rows that can't be read when the editor opens are not "no pictures": the seller is
// told, the pictures page stays closed, and the save leaves the stored rows as they are.
void TestAddArticleSave::unreadPicturesKept()
{
    const int id = article({});
    Database *db = m_t->db();
    const QString folder = db->getCurrentAdImageDir();
    for (int i = 0; i < 2; ++i)
        QVERIFY(db->insertSqlClean({ { "article_id", id }, { "image", QString("k%1.png").arg(i) },
                                     { "sort", i } },
                                   "articles_images")
                > 0);
    pictureFile(folder + "k0.png");
    pictureFile(folder + "k1.png");
    QVERIFY(db->executeSQL("UPDATE articles SET ImageThumb='thumb_k0.png' WHERE id="
                           + QString::number(id)));
    QVERIFY(db->executeSQL("ALTER TABLE articles_images RENAME TO articles_images_away"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("articles_images"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("articles_images"));
    AddArticle editor(nullptr, id, -10, false);
    QVERIFY(db->executeSQL("ALTER TABLE articles_images_away RENAME TO articles_images"));
    QVERIFY2(m_answers->lastMessageText().startsWith(
                 "Die Bilder des Artikels konnten nicht gelesen werden: "),
             qPrintable(m_answers->lastMessageText()));
    QVERIFY2(m_answers->lastMessageText().endsWith(
                 "Sie bleiben gespeichert, wie sie sind; Änderungen an den Bildern werden nicht "
                 "gespeichert."),
             qPrintable(m_answers->lastMessageText()));
    EXPECT_FORM(&editor, { "page:TabPics:off" });
    EditorFixture::apply(&editor, { "Title=Lokomotive BR 218 neu" });
    editor.accept();
    QTRY_COMPARE(editor.result(), 1);
    QCOMPARE(stored(id).value("Title").toString(), QString("Lokomotive BR 218 neu"));
    QStringList images;
    for (const auto &row : db->select("SELECT image FROM articles_images WHERE article_id="
                                      + QString::number(id) + " ORDER BY sort")
                               .value())
        images << row.value("image").toString();
    QCOMPARE(images, QStringList({ "k0.png", "k1.png" }));
    QCOMPARE(stored(id).value("ImageThumb").toString(), QString("thumb_k0.png"));
}

void TestAddArticleSave::unreadTemplatePicturesKept_data()
{
    QTest::addColumn<bool>("cut"); // the read cut after its first row; else refused whole
    QTest::addColumn<bool>("asTemplate"); // saved onto itself as a template; else with OK
    QTest::newRow("refused, saved as the template") << false << true;
    QTest::newRow("cut short, saved as the template") << true << true;
    QTest::newRow("cut short, saved") << true << false;
}

// A template whose picture rows could not be read (or only some of them) keeps them all when
// it is saved, as a template onto itself or with OK.
void TestAddArticleSave::unreadTemplatePicturesKept()
{
    QFETCH(bool, cut);
    QFETCH(bool, asTemplate);
    Database *db = m_t->db();
    if (cut && db->isMySQL)
        QSKIP("The server hands a result over whole; a refused read is the other row");
    const int id = article({ { "Folder", -100 }, { "TemplateName", "Loks" } });
    const QString folder = db->getCurrentAdImageDir();
    for (int i = 0; i < 2; ++i) {
        QVERIFY(db->insertSqlClean(
                    { { "article_id", id }, { "image", QString("v%1.png").arg(i) }, { "sort", i } },
                    "articles_images")
                > 0);
        pictureFile(folder + QString("v%1.png").arg(i));
    }
    TestSupport::SqliteReadCut reads;
    if (cut) {
        reads.cutAfter("FROM articles_images WHERE article_id=" + QByteArray::number(id), 1);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("interrupted"));
    } else {
        QVERIFY(db->executeSQL("ALTER TABLE articles_images RENAME TO articles_images_away"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("articles_images"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("articles_images"));
    }
    AddArticle editor(nullptr, id, -100, false);
    if (!cut)
        QVERIFY(db->executeSQL("ALTER TABLE articles_images_away RENAME TO articles_images"));
    QCOMPARE(reads.cuts(), cut ? 1 : 0);
    QVERIFY2(m_answers->lastMessageText().startsWith(
                 "Die Bilder des Artikels konnten nicht gelesen werden: "),
             qPrintable(m_answers->lastMessageText()));
    EditorFixture::apply(&editor, { "SubTitle=neu gefasst" });
    if (asTemplate) {
        m_answers->pushQuestion(true); // the template of that name is overwritten
        onNextModal([](QDialog *chooser) {
            chooser->findChild<QLineEdit *>("lineEdit")->setText("Loks");
            chooser->accept();
            return true;
        });
        editor.findChild<QPushButton *>("SaveToTemplateButton")->click();
        QTRY_COMPARE(m_answers->lastMessageText(), QString("Die Vorlage wurde gespeichert"));
    } else {
        editor.accept();
        QTRY_COMPARE(editor.result(), 1);
    }

    QCOMPARE(db->selectCount("SELECT id FROM articles WHERE TemplateName='Loks'").value(), 1);
    QCOMPARE(stored(id).value("SubTitle").toString(), QString("neu gefasst"));
    QStringList images;
    for (const auto &row : db->select("SELECT image FROM articles_images WHERE article_id="
                                      + QString::number(id) + " ORDER BY sort")
                               .value())
        images << row.value("image").toString();
    QCOMPARE(images, QStringList({ "v0.png", "v1.png" }));
}

// The summary columns follow each step on the variations page; a running listing's variation
// keeps its row with quantity 0.
void TestAddArticleSave::variations()
{
    const auto addVariations = [this](int id) {
        for (const auto &price : { QString("9,90"), QString("12.5") })
            QVERIFY(m_t->db()->insertSqlClean({ { "article_id", id },
                                                { "SKU", "V-" + price },
                                                { "StartPrice", price },
                                                { "Quantity", 3 },
                                                { "VariantXml",
                                                  "<NameValueList><Name>Farbe</Name><Value>" + price
                                                      + "</Value></NameValueList>" } },
                                              "articles_variations")
                    > 0);
    };
    const int id = article({ { "SKU", "V" } });
    addVariations(id);
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabVars" });
    auto *list = editor.findChild<QTreeWidget *>("VariantList");
    const auto summary = [this, id] {
        const Columns row = stored(id);
        return row.value("HasVariation").toString() + " "
            + QString::number(row.value("HasVariationMinPrice").toDouble(), 'f', 2);
    };
    struct Step
    {
        const char *name;
        std::function<void()> run;
        QString summary;
    };
    const QList<Step> steps = {
        { "delete the cheaper",
          [&] {
              list->topLevelItem(0)->setSelected(true);
              editor.findChild<QPushButton *>("DelVars")->click();
          },
          "1 12.50" },
        { "edit the price",
          [&] {
              list->topLevelItem(0)->setSelected(true);
              onNextModal([](QDialog *dialog) {
                  dialog->findChild<QLineEdit *>("StartPrice")->setText("5,5");
                  dialog->accept();
                  return true;
              });
              editor.findChild<QPushButton *>("EditVars")->click();
          },
          "1 5.50" },
        { "generate a value",
          [&] {
              m_answers->pushText("grün");
              onNextModal([](QDialog *dialog) {
                  auto *tree = dialog->findChild<QTreeWidget *>("treeWidget");
                  tree->setCurrentItem(tree->topLevelItem(0));
                  dialog->findChild<QPushButton *>("NewValue")->click();
                  dialog->findChild<QDoubleSpinBox *>("PriceStart")->setValue(4);
                  dialog->accept();
                  return true;
              });
              editor.findChild<QPushButton *>("pushButton_3")->click();
          },
          "1 4.00" },
        { "delete all",
          [&] {
              list->selectAll();
              editor.findChild<QPushButton *>("DelVars")->click();
          },
          "0 4.00" },
    };
    for (const Step &step : steps) {
        m_answers->clear();
        step.run();
        QVERIFY2(summary() == step.summary, qPrintable(QString(step.name) + ": " + summary()));
    }
    QCOMPARE(list->topLevelItemCount(), 0);

    // A running listing.
    const int running = article({ { "Folder", -9 }, { "SKU", "V" } });
    addVariations(running);
    AddArticle active(nullptr, running, -9, false);
    EditorFixture::apply(&active, { "show=TabVars" });
    active.findChild<QTreeWidget *>("VariantList")->topLevelItem(0)->setSelected(true);
    m_answers->pushQuestion(true);
    active.findChild<QPushButton *>("DelVars")->click();
    QStringList quantities;
    for (const auto &row : m_t->db()
                               ->select("SELECT Quantity FROM articles_variations WHERE "
                                        "article_id="
                                        + QString::number(running) + " ORDER BY id")
                               .value())
        quantities << row.value("Quantity").toString();
    QCOMPARE(quantities, QStringList({ "0", "3" }));
    QCOMPARE(active.findChild<QTreeWidget *>("VariantList")->topLevelItem(0)->text(2), QString("0"));
}

// A value finds only its own picture ("_" is no wildcard); a newly chosen one is copied and
// replaces the row of its value when the article is saved.
void TestAddArticleSave::variationPictures()
{
    const int id = article({ { "SKU", "V" }, { "VariantImageOption", "Größe" } });
    for (const QString value : { "10_A", "10xA" })
        QVERIFY(m_t->db()->insertSqlClean({ { "article_id", id },
                                            { "SKU", "V-" + value },
                                            { "StartPrice", 5 },
                                            { "VariantXml",
                                              "<NameValueList><Name>Größe</Name><Value>" + value
                                                  + "</Value></NameValueList>" } },
                                          "articles_variations")
                > 0);
    QVERIFY(m_t->db()->insertSqlClean(
                { { "article_id", id }, { "image", "x.jpg" }, { "variant_name", "10xA" } },
                "articles_images")
            > 0);
    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabVars" });
    auto *pictures = editor.findChild<QTreeWidget *>("VariantImageList");
    QCOMPARE(pictures->topLevelItemCount(), 2);
    QCOMPARE(pictures->topLevelItem(0)->text(1), QString());
    QCOMPARE(pictures->topLevelItem(1)->text(1), QString("x.jpg"));
    pictures->topLevelItem(0)->setSelected(true);
    const QString file = pictureFile(QDir::tempPath() + "/zerire-pictures/groesse.png");
    QVERIFY(QMetaObject::invokeMethod(&editor, "handleFileSaveAsBeforeCloseSelected",
                                      Q_ARG(QString, file)));
    editor.accept();
    // The file from outside is copied beside the window: the save waits for it, its buttons
    // locked, and goes on by itself.
    QCOMPARE(editor.result(), 0);
    QVERIFY(!EditorFixture::saveSettled(&editor));
    QTRY_COMPARE(editor.result(), 1);
    const auto rows = m_t->db()
                          ->select("SELECT image, variant_name FROM articles_images WHERE "
                                   "article_id="
                                   + QString::number(id) + " ORDER BY variant_name")
                          .value();
    QCOMPARE(rows.size(), 2);
    QVERIFY(rows.at(0).value("image").toString().endsWith("_groesse.png"));
    QVERIFY(QFile::exists(m_t->db()->getCurrentAdImageDir() + rows.at(0).value("image").toString()));
    QCOMPARE(rows.at(1).value("image").toString(), QString("x.jpg"));
}

// Closed while the pictures from outside are copied: nothing is saved, and the copy that comes
// back finds no editor to go on with.
void TestAddArticleSave::closedWhileCopying()
{
    const int id = article({});
    const QString outside = pictureFile(QDir::tempPath() + "/zerire-pictures/spaet.png");
    {
        AddArticle editor(nullptr, id, -10, false);
        EditorFixture::apply(&editor, { "show=TabPics" });
        QVERIFY(QMetaObject::invokeMethod(&editor, "handleFileSaveAsBeforeCloseSelected",
                                          Q_ARG(QStringList, QStringList { outside })));
        QTRY_COMPARE(ImageLimits::pendingDecodes(), 0);
        editor.accept();
        QCOMPARE(editor.result(), 0);
        QVERIFY(!EditorFixture::saveSettled(&editor));
        editor.reject();
    }
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    QCOMPARE(m_t->db()
                 ->selectCount("SELECT id FROM articles_images WHERE article_id="
                               + QString::number(id))
                 .value(),
             0);
}

// Texts that need escaping reach TinyMCE and come back unchanged through the real web engine
// (German menus); saved before the editor has its text, the text it was given is kept.
void TestAddArticleSave::description_data()
{
    QTest::addColumn<bool>("ready");
    QTest::newRow("editor ready") << true;
    QTest::newRow("saved at once") << false;
}

void TestAddArticleSave::description()
{
    QFETCH(bool, ready);
    QVERIFY2(QFile::exists(QCoreApplication::applicationDirPath() + "/tinymce/tinymce.min.js"),
             "TinyMCE is not next to the test: run `npm ci --prefix web`");
    const QString text =
        "<p>Er sagt \"hallo\" und 'tsch\u00fc\u00df' \\ C:\\temp\\neu \\u00e4 \\n &lt;/script&gt; "
        "\u00c4\u00d6\u00dc \u20ac</p>";
    const int id = article({ { "Description", "<p>alt</p>" } });
    AddArticle editor(nullptr, id, -10, false);
    editor.show();
    EditorFixture::apply(&editor, { "show=TabDesc", "PlainHtmlCode=" + text });
    editor.findChild<QPushButton *>("OpenHtmlEditor")->click();
    auto *view = editor.findChild<QWebEngineView *>();
    QVERIFY(view);
    if (ready) {
        QVariant set;
        QTRY_VERIFY_WITH_TIMEOUT(
            (view->page()->runJavaScript("window.descriptionSet === true",
                                         [&set](const QVariant &v) { set = v; }),
             set.toBool()),
            20000);
        QVariant language;
        view->page()->runJavaScript("tinyMCE.activeEditor.translate('Bold')",
                                    [&language](const QVariant &v) { language = v; });
        QTRY_COMPARE(language.toString(), QString("Fett"));
    }
    editor.accept();
    QCOMPARE(editor.result(), 1);
    QCOMPARE(stored(id).value("Description").toString(), text);
}

// Deleted variations take their pictures and the option values no other variation has
// with them; the other article's rows stay.
void TestAddArticleSave::deletedVariationsTakeTheirRows()
{
    Database *db = m_t->db();
    const auto xml = [](const QString &colour, const QString &size) {
        return "<NameValueList><Name>Farbe</Name><Value>" + colour
            + "</Value></NameValueList><NameValueList><Name>Größe</Name><Value>" + size
            + "</Value></NameValueList>";
    };
    // An article with three variations, each with a picture of its own, pictures of the
    // colours and the option values.
    const auto fill = [&](int id) {
        QList<int> variations;
        for (const auto &[colour, size] :
             { std::pair { "rot", "S" }, std::pair { "blau", "S" }, std::pair { "blau", "M" } }) {
            variations << db->insertSqlClean({ { "article_id", id },
                                               { "SKU", QString("V-%1-%2").arg(colour, size) },
                                               { "StartPrice", 5 },
                                               { "VariantXml", xml(colour, size) } },
                                             "articles_variations");
            QVERIFY(variations.last() > 0);
            QVERIFY(db->insertSqlClean({ { "article_id", id },
                                         { "image", QString("%1%2.jpg").arg(colour, size) },
                                         { "variant_id", variations.last() } },
                                       "articles_images")
                    > 0);
        }
        for (const char *colour : { "rot", "blau" })
            QVERIFY(db->insertSqlClean({ { "article_id", id },
                                         { "image", QString(colour) + ".jpg" },
                                         { "variant_name", colour } },
                                       "articles_images")
                    > 0);
        QVERIFY(
            db->insertSqlClean({ { "article_id", id }, { "image", "haupt.jpg" }, { "sort", 0 } },
                               "articles_images")
            > 0);
        for (const auto &[name, value] :
             { std::pair { "Farbe", "rot" }, std::pair { "Farbe", "blau" },
               std::pair { "Größe", "S" }, std::pair { "Größe", "M" } })
            QVERIFY(db->insertSqlClean(
                        { { "article_id", id }, { "optionname", name }, { "optionvalue", value } },
                        "articles_variations_op_val")
                    > 0);
    };
    // Variations, pictures, option values of an article.
    const auto counts = [db](int id) {
        QList<int> numbers;
        for (const char *table :
             { "articles_variations", "articles_images", "articles_variations_op_val" })
            numbers << db->selectCount(
                             QString("SELECT id FROM %1 WHERE article_id=%2").arg(table).arg(id))
                           .value();
        return numbers;
    };
    const int id = article({ { "SKU", "V" } });
    const int other = article({ { "SKU", "W" } });
    fill(id);
    fill(other);

    AddArticle editor(nullptr, id, -10, false);
    EditorFixture::apply(&editor, { "show=TabVars" });
    auto *box = editor.findChild<QComboBox *>("ImageOptionSelectBox");
    box->setCurrentIndex(box->findData("Farbe"));
    auto *list = editor.findChild<QTreeWidget *>("VariantList");
    auto *pictures = editor.findChild<QTreeWidget *>("VariantImageList");
    QCOMPARE(pictures->topLevelItemCount(), 2);
    list->findItems("V-rot-S", Qt::MatchExactly).value(0)->setSelected(true);
    editor.findChild<QPushButton *>("DelVars")->click();
    // Red and its picture go; blue and both sizes are still in use.
    QCOMPARE(counts(id), QList<int>({ 2, 4, 3 }));
    // Only the other article's red rows are left.
    QCOMPARE(db->selectCount("SELECT id FROM articles_images WHERE image LIKE 'rot%'").value(), 2);
    QCOMPARE(db->selectCount("SELECT id FROM articles_variations_op_val WHERE optionvalue='rot'")
                 .value(),
             1);
    QCOMPARE(pictures->topLevelItemCount(), 1);
    QCOMPARE(pictures->topLevelItem(0)->text(0), QString("blau"));

    list->selectAll();
    editor.findChild<QPushButton *>("DelVars")->click();
    QCOMPARE(counts(id), QList<int>({ 0, 1, 0 }));
    QCOMPARE(counts(other), QList<int>({ 3, 6, 4 }));
    QCOMPARE(m_answers->messages().size(), 0);
}

APP_TEST_MAIN(TestAddArticleSave)
#include "test_addarticle_save.moc"
