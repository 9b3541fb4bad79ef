// The import of Rovive 2's XML export: folders, accounts, articles with every mapped field and
// their pictures, read in the file's declared encoding and as Rovive 2 wrote it (bare "&",
// control characters); accounts matched ignoring letter case; values that are no numbers
// named. Broken or hostile files end with a clear notice before anything is written. Each
// article is stored whole with its pictures or not at all; Abbrechen ends the run between two
// of them, and the same file imported again adds only what is missing.

#include "core/database.h"
#include "core/statics.h"
#include "import/pictureimport.h"
#include "import/rovive2import.h"
#include "tests/support/databaseoutage.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/helddecodes.h"
#include "tests/support/memorylimit.h"
#include "tests/support/messagecapture.h"
#include "tests/support/mysqlproxy.h"
#include "tests/support/otherworkstation.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <thread>

using TestSupport::FakeReply;

namespace {

QString field(const QString &tag, const QString &value)
{
    return QStringLiteral("<%1><![CDATA[%2]]></%1>").arg(tag, value);
}

// An export of one folder, one account and three articles in that folder, each with
// `itemFields` besides its title.
QString threeArticles(const QString &itemFields = QString())
{
    QString xml = QStringLiteral("<export><categories><category><id>7</id><text>Möbel</text>"
                                 "<parentid></parentid></category></categories><users><user>")
        + field("username", "neu")
        + QStringLiteral("</user></users><ItemsTotal>3</ItemsTotal><Items>");
    for (const char *title : { "Stuhl", "Tisch", "Bank" })
        xml += QStringLiteral("<Item>") + field("Title", QLatin1String(title))
            + field("folder", "7") + itemFields + QStringLiteral("</Item>");
    return xml + QStringLiteral("</Items></export>");
}

QByteArray jpeg()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

// An export with one category and one item (filed in it), put together as Rovive 2 wrote
// it, byte for byte: `category` is the category's text, `item` the item's fields.
QByteArray smallExport(const QByteArray &category, const QByteArray &item)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<export>\n<categories>\n"
           "<category><id>7</id><text>" + category + "</text><parentid></parentid></category>\n"
           "</categories>\n<ItemsTotal>1</ItemsTotal>\n<Items>\n<Item>"
           "<Title><![CDATA[Stuhl]]></Title><folder><![CDATA[7]]></folder>" + item
        + "</Item>\n</Items>\n</export>\n";
}

// An export of `levels` categories, each in the one before (the first in `parent`), one
// per line from line 3, and no item.
QByteArray nestedCategories(int levels, const QString &parent = QString())
{
    QString xml = QStringLiteral("<export>\n<categories>\n");
    for (int level = 1; level <= levels; ++level)
        xml += QStringLiteral("<category><id>e%1</id><text>Ebene %1</text><parentid>%2</parentid>"
                              "</category>\n")
                   .arg(level)
                   .arg(level == 1 ? parent : QStringLiteral("e%1").arg(level - 1));
    return (xml + QStringLiteral("</categories>\n<ItemsTotal>0</ItemsTotal>\n</export>\n"))
        .toUtf8();
}

const QString kDone
    = QStringLiteral("Import abgeschlossen§§§Die Daten wurden importiert, bitte das Programm "
                     "neu starten");

const char *const kMappedColumns
    = "ItemSpecifics,BuyItNowPrice,Country,Currency,Description,ListingDuration,ListingType,"
      "Location,LotSize,PayPalEmailAddress,GalleryType,PhotoDisplay,PostalCode,PrimaryCategory,"
      "Quantity,ReservePrice,SecondaryCategory,Site,StartPrice,StoreCategoryID,StoreCategory2ID,"
      "SubTitle,Title,FolderOld,ItemID,ShippingService_1,ShippingService_1_Cost,"
      "ShippingService_1_Cost_Add,ShippingServiceInt_1,ShippingServiceInt_1_Cost,"
      "ShippingServiceInt_1_Cost_Add,ShippingServiceInt_1_Loc,PaymentInstructions,PaymentMethods,"
      "BestOfferEnabled,MinimumBestOfferPrice,ApplicationData,ConditionID,DispatchTimeMax,"
      "VAT_VATPercent,PrimaryCategoryText,SecondaryCategoryText,RP_ReturnsAcceptedOption,"
      "RP_ShippingCostPaidByOption,RP_ReturnsWithinOption,EAN,ISBN,UPC";

} // namespace

class TestRovive2Import : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::FakeHttpServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;

    // Runs the import of `xml` (written in `encoding`); the notification sent.
    QString runImport(const QString &xml, const QByteArray &encoding)
    {
        return runImportOf(QTextCodec::codecForName(encoding)->fromUnicode(xml));
    }
    // `onStatus` hears every progress text as the import sends it.
    QString runImportOf(const QByteArray &bytes,
                        const std::function<void(const QString &)> &onStatus = {},
                        const std::function<bool()> &cancelled = {})
    {
        const QString path = m_dir->filePath(QStringLiteral("export.xml"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        file.close();
        Rovive2Import import(path);
        import.setCancelCheck(cancelled);
        if (onStatus)
            connect(&import, &Rovive2Import::getStatus, this,
                    [&onStatus](const QString &text) { onStatus(text); });
        QSignalSpy notes(&import, &Rovive2Import::sendNotification);
        QSignalSpy done(&import, &Rovive2Import::finished);
        import.work();
        return done.size() == 1 && notes.size() == 1 ? notes.first().first().toString()
                                                     : QStringLiteral("no end");
    }

    // Nothing of the export is stored: no folder, account, article or picture row.
    static QString storedRows(Database *db)
    {
        QStringList counts;
        for (const char *table : { "folders", "accounts", "articles", "articles_images" })
            counts << QString::number(
                db->selectCount(QStringLiteral("SELECT * FROM %1").arg(QLatin1String(table)))
                    .value());
        return counts.join(QLatin1Char(','));
    }

    // Three articles, each with one picture of its own, in a folder; and an account.
    QString threeArticlesWithPictures()
    {
        QString xml = threeArticles();
        for (const char *title : { "Stuhl", "Tisch", "Bank" }) {
            const QString picture = m_dir->filePath(QLatin1String(title) + QStringLiteral(".jpg"));
            if (!QFileInfo::exists(picture))
                QImage::fromData(jpeg()).save(picture);
            xml.replace(field("Title", QLatin1String(title)),
                        field("Title", QLatin1String(title)) + field("image0", picture));
        }
        return xml;
    }

    // Every stored article of the export is whole: its picture row, its thumbnail and the
    // record of its item; "Title:pictures" of each, in the order stored, marked when it is
    // not whole.
    static QStringList wholeArticles(Database *db)
    {
        QStringList shown;
        const SqlRows rows
            = db->select(QStringLiteral(
                             "SELECT a.id, a.Title, a.ImageThumb, (SELECT COUNT(*) FROM "
                             "articles_images p WHERE p.article_id=a.id) AS pictures, (SELECT "
                             "COUNT(*) FROM imported_items i WHERE i.article_id=a.id) AS marks "
                             "FROM articles a ORDER BY a.id"))
                  .value();
        for (const ArticleRow &row : rows) {
            QString entry = row.value("Title").toString() + QLatin1Char(':')
                + row.value("pictures").toString();
            const bool thumbMissing
                = row.value("pictures").toInt() > 0 && row.value("ImageThumb").toString().isEmpty();
            if (thumbMissing || row.value("marks").toInt() != 1)
                entry += QStringLiteral(" (unvollständig)");
            shown << entry;
        }
        return shown;
    }

    // The files of the picture and thumbnail folders that no row names, and the rows whose
    // file is missing: empty when files and rows match.
    static QStringList unmatchedFiles(Database *db)
    {
        QStringList named;
        QStringList thumbs;
        for (const ArticleRow &row :
             db->select(QStringLiteral("SELECT image FROM articles_images")).value())
            named << row.value("image").toString();
        for (const ArticleRow &row :
             db->select(QStringLiteral("SELECT ImageThumb FROM articles WHERE ImageThumb <> ''"))
                 .value())
            thumbs << row.value("ImageThumb").toString();
        QStringList unmatched;
        const auto compare = [&](const QString &folder, const QStringList &rows) {
            const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
            for (const QString &file : files)
                if (!rows.contains(file))
                    unmatched << QStringLiteral("Datei ohne Zeile: ") + file;
            for (const QString &row : rows)
                if (!files.contains(row))
                    unmatched << QStringLiteral("Zeile ohne Datei: ") + row;
        };
        compare(db->getCurrentAdImageDir(), named);
        compare(db->getCurrentAdImageDirThumbs(), thumbs);
        return unmatched;
    }

private slots:
    // "Abbrechen" (or the program closing) is asked between units: the unit in hand is
    // stored whole, nothing after it is; the seller reads how far it got. The same file
    // imported again adds exactly what is missing.
    void cancelledBetweenUnits_data()
    {
        QTest::addColumn<QString>("at"); // the status after which it is cancelled; empty: at once
        QTest::addColumn<QString>("stored"); // folders,accounts,articles,pictures afterwards
        QTest::addColumn<QStringList>("articles");
        QTest::addColumn<QString>("told");
        const QString again = QStringLiteral(" Wird dieselbe Datei noch einmal importiert, kommt "
                                             "nur hinzu, was noch fehlt");
        QTest::newRow("before anything is stored")
            << QString() << "0,0,0,0" << QStringList()
            << "Import abgebrochen§§§Der Import wurde abgebrochen, bevor etwas gespeichert "
               "wurde. Es wurde nichts importiert.";
        QTest::newRow("after the folders")
            << "Kategorien anlegen abgeschlossen"
            << "1,0,0,0" << QStringList()
            << "Import abgebrochen§§§Der Import wurde abgebrochen: 0 Artikel wurden "
               "importiert, jeder vollständig mit seinen Bildern; 3 von 3 Artikeln der Datei "
               "wurden nicht mehr gelesen."
                + again;
        QTest::newRow("while the second article is stored")
            << "Importiere Tisch"
            << "1,1,2,2" << QStringList { "Stuhl:1", "Tisch:1" }
            << "Import abgebrochen§§§Der Import wurde abgebrochen: 2 Artikel wurden "
               "importiert, jeder vollständig mit seinen Bildern; 1 von 3 Artikeln der Datei "
               "wurde nicht mehr gelesen."
                + again;
        // Nothing was left to stop: the whole file is imported and told so.
        QTest::newRow("while the last article is stored")
            << "Importiere Bank"
            << "1,1,3,3" << QStringList { "Stuhl:1", "Tisch:1", "Bank:1" } << kDone;
    }
    void cancelledBetweenUnits()
    {
        QFETCH(QString, at);
        QFETCH(QString, stored);
        QFETCH(QStringList, articles);
        QFETCH(QString, told);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QByteArray xml = threeArticlesWithPictures().toUtf8();
        bool cancel = at.isEmpty();
        const QString sent = runImportOf(
            xml, [&](const QString &status) { cancel = cancel || status == at; },
            [&cancel] { return cancel; });
        QCOMPARE(sent, told);
        QCOMPARE(storedRows(db), stored);
        QCOMPARE(wholeArticles(db), articles);
        // Told in the activity list as well, a cancelled run not as a success.
        const SqlRows entries
            = db->select(QStringLiteral("SELECT title, infotype FROM itemshistory")).value();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().value("title").toString(),
                 told.section(QStringLiteral("§§§"), 0, 0));
        QCOMPARE(entries.first().value("infotype").toString(),
                 QLatin1String(told == kDone ? "success" : "error"));

        // Again, to its end: nothing twice.
        QCOMPARE(runImportOf(xml), kDone);
        QCOMPARE(storedRows(db), QStringLiteral("1,1,3,3"));
        QCOMPARE(wholeArticles(db), (QStringList { "Stuhl:1", "Tisch:1", "Bank:1" }));
    }

    // Importing the same file after a run that stopped short adds nothing twice, also for
    // drafts and articles in the seller's folders, whose item id is not kept, and for equal
    // items in one file; an article the seller deleted since comes back.
    void sameFileAgain_data()
    {
        QTest::addColumn<QString>("first"); // what happens to the first run
        QTest::addColumn<QString>("xml"); // "three", "equal": two equal drafts and one more
        QTest::addColumn<QStringList>("afterFirst");
        QTest::addColumn<QStringList>("afterSecond");
        QTest::newRow("an article refused") << "refused"
                                            << "three" << QStringList { "Stuhl:1", "Bank:1" }
                                            << QStringList { "Stuhl:1", "Bank:1", "Tisch:1" };
        QTest::newRow("finished") << "nothing"
                                  << "three" << QStringList { "Stuhl:1", "Tisch:1", "Bank:1" }
                                  << QStringList { "Stuhl:1", "Tisch:1", "Bank:1" };
        QTest::newRow("an article deleted since") << "deleted"
                                                  << "three" << QStringList { "Stuhl:1", "Bank:1" }
                                                  << QStringList { "Stuhl:1", "Bank:1", "Tisch:1" };
        QTest::newRow("equal drafts") << "nothing"
                                      << "equal" << QStringList { "Stuhl:0", "Stuhl:0", "Tisch:0" }
                                      << QStringList { "Stuhl:0", "Stuhl:0", "Tisch:0" };
    }
    void sameFileAgain()
    {
        QFETCH(QString, first);
        QFETCH(QString, xml);
        QFETCH(QStringList, afterFirst);
        QFETCH(QStringList, afterSecond);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        // Drafts keep no item id: only the record of the import can tell them.
        const QString draft = QStringLiteral("<Item>") + field("ItemID", "4711")
            + field("Title", "Stuhl") + field("folder", "") + QStringLiteral("</Item>");
        const QByteArray file = xml == "three"
            ? threeArticlesWithPictures().toUtf8()
            : (QStringLiteral("<export><ItemsTotal>3</ItemsTotal><Items>") + draft + draft
               + QStringLiteral("<Item>") + field("Title", "Tisch") + QStringLiteral("</Item>")
               + QStringLiteral("</Items></export>"))
                  .toUtf8();
        if (first == "refused")
            QVERIFY(TestSupport::refuseRows(db, "articles", "INSERT", "refused",
                                            "NEW.Title = 'Tisch'"));
        const QString sent = runImportOf(file);
        QVERIFY2(first == "refused" ? sent.startsWith("Import unvollständig") : sent == kDone,
                 qPrintable(sent));
        if (first == "refused")
            QVERIFY(db->executeSQL(QStringLiteral("DROP TRIGGER refuse_articles_insert")));
        if (first == "deleted")
            QVERIFY(db->executeSQL(QStringLiteral("DELETE FROM articles WHERE Title='Tisch'")));
        QCOMPARE(wholeArticles(db), afterFirst);

        QCOMPARE(runImportOf(file), kDone);
        QCOMPARE(wholeArticles(db), afterSecond);
        // A folder made of a category is not made again either.
        QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM folders")).value(),
                 xml == "three" ? 1 : 0);
    }

    // The pictures belong to their article's unit: when their rows can't be written the
    // article is not stored either (never an article without the pictures the export gave
    // it), and the seller is told which were not stored.
    void pictureRowsRefused()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        QVERIFY(TestSupport::refuseRows(db, "articles_images", "INSERT", "refused"));
        const QByteArray xml = threeArticlesWithPictures().toUtf8();
        const QString sent = runImportOf(xml);
        QVERIFY2(sent.startsWith("Import unvollständig§§§Die Daten wurden nur zum Teil importiert, "
                                 "bitte das Programm neu starten. 3 von 3 Artikeln konnten nicht "
                                 "gespeichert werden (Fehler der Datenbank: "),
                 qPrintable(sent));
        QCOMPARE(storedRows(db), QStringLiteral("1,1,0,0"));
        QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM imported_items")).value(), 0);

        // Stored once the rows are taken.
        QVERIFY(db->executeSQL(QStringLiteral("DROP TRIGGER refuse_articles_images_insert")));
        QCOMPARE(runImportOf(xml), kDone);
        QCOMPARE(wholeArticles(db), (QStringList { "Stuhl:1", "Tisch:1", "Bank:1" }));
    }

    // Another program or workstation holding the database when the second article is to be
    // stored: the run ends there after one wait for the lock (no later article is taken up),
    // says so with what was stored, and the entry is shown though it could not be stored.
    // Three articles sharing one downloaded picture leave no file that no row names.
    void heldByAnother()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        QString xml = threeArticles(field("image0", m_server->url("/pic.jpg").toString()));
        std::unique_ptr<TestSupport::OtherWorkstation> other;
        QStringList taken; // the articles whose pictures were fetched
        const QString path = m_dir->filePath(QStringLiteral("export.xml"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(xml.toUtf8()) > 0);
        }
        Rovive2Import import(path);
        connect(&import, &Rovive2Import::getStatus, this, [&](const QString &status) {
            static const QRegularExpression fetching(QStringLiteral("^Importiere Bilder für (.*)$"));
            const auto match = fetching.match(status);
            if (!match.hasMatch())
                return;
            taken << match.captured(1);
            if (match.captured(1) == QLatin1String("Tisch"))
                other = std::make_unique<TestSupport::OtherWorkstation>(
                    data, QStringLiteral("SELECT id FROM articles"));
        });
        qRegisterMetaType<NewsItem>();
        QSignalSpy notes(&import, &Rovive2Import::sendNotification);
        QSignalSpy entries(&import, &Rovive2Import::sendaddNewsItem);
        import.work(*db);
        QVERIFY(other);
        QVERIFY2(other->error().isEmpty(), qPrintable(other->error()));
        other.reset();

        const QString told
            = "Die Datenbank ist gerade von einem anderen Programm oder Arbeitsplatz gesperrt, "
              "deshalb wurde der Import abgebrochen: 1 Artikel wurde importiert, vollständig mit "
              "seinen Bildern; 2 von 3 Artikeln der Datei wurden nicht importiert. Wird dieselbe "
              "Datei später noch einmal importiert, kommt nur hinzu, was noch fehlt";
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes.first().first().toString(), "Import abgebrochen§§§" + told);
        QCOMPARE(entries.size(), 1);
        const NewsItem entry = entries.first().first().value<NewsItem>();
        QCOMPARE(entry.textinfo, told);
        QCOMPARE(entry.infotype, QStringLiteral("error"));
        QCOMPARE(taken, (QStringList { "Stuhl", "Tisch" }));
        QCOMPARE(wholeArticles(db), QStringList { "Stuhl:1" });
        QCOMPARE(unmatchedFiles(db), QStringList());

        // Once the lock is gone, what is missing.
        QCOMPARE(runImportOf(xml.toUtf8()), kDone);
        QCOMPARE(wholeArticles(db), (QStringList { "Stuhl:1", "Tisch:1", "Bank:1" }));
        QCOMPARE(unmatchedFiles(db), QStringList());
    }

    // The file a download is written to goes once the pictures are copied from it, whether
    // the article was stored or not; one that lay in the picture folder before stays.
    void downloadsRemoved_data()
    {
        QTest::addColumn<bool>("refused"); // "Tisch" is refused
        QTest::addColumn<bool>("there"); // the download's file was there before, a row names it
        QTest::newRow("all stored") << false << false;
        QTest::newRow("an article refused") << true << false;
        QTest::newRow("the file named by a stored row") << false << true;
    }
    void downloadsRemoved()
    {
        QFETCH(bool, refused);
        QFETCH(bool, there);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QString address = m_server->url("/pic.jpg").toString();
        const QString download = PictureImport::downloadPath(db->getCurrentAdImageDir(), address);
        QVERIFY(!download.isEmpty());
        if (there) {
            QVERIFY(QImage::fromData(jpeg()).save(download));
            const int id = db->insertSqlClean({ { "Title", "Alt" } }, QStringLiteral("articles"));
            QVERIFY(id > 0);
            QVERIFY(db->executeSQL(
                QStringLiteral("INSERT INTO articles_images (article_id, image, sort) VALUES "
                               "(%1, '%2', 0)")
                    .arg(id)
                    .arg(QFileInfo(download).fileName())));
        }
        if (refused)
            QVERIFY(TestSupport::refuseRows(db, "articles", "INSERT", "refused",
                                            "NEW.Title = 'Tisch'"));
        const QString sent = runImportOf(threeArticles(field("image0", address)).toUtf8());
        QVERIFY2(refused ? sent.startsWith("Import unvollständig") : sent == kDone,
                 qPrintable(sent));
        QCOMPARE(QFileInfo::exists(download), there);
        QCOMPARE(unmatchedFiles(db), QStringList());
    }

    void initTestCase_data() { TestSupport::addBackendRows(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<TestSupport::FakeHttpServer>();
        m_server->setReply(QStringLiteral("/pic.jpg"), FakeReply::ok(jpeg(), "image/jpeg"));
        m_server->setReply(QStringLiteral("/missing.jpg"), FakeReply::withStatus(404, "<html>"));
        m_server->setReply(QStringLiteral("/drop.jpg"), FakeReply::dropped());
        m_server->setReply(QStringLiteral("/empty.jpg"), FakeReply::ok(QByteArray()));
        Statics::setHttpTimeout(3000);
    }

    void fullExport_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::newRow("UTF-8") << QByteArray("UTF-8");
        QTest::newRow("ISO-8859-1") << QByteArray("ISO-8859-1");
    }
    void fullExport()
    {
        QFETCH(QByteArray, encoding);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        ArticleRow account { { QStringLiteral("accountname"), QStringLiteral("Shop_1") } };
        const int existingAccount = db->insertSqlClean(account, QStringLiteral("accounts"));
        const int listed = db->insertSqlClean({ { "ItemID", "777" } }, QStringLiteral("articles"));
        QVERIFY(listed > 0);

        const QString imageDir = db->getCurrentAdImageDir();
        QFile(imageDir + QStringLiteral("vorhanden.jpg")).open(QIODevice::WriteOnly);
        const QString local = m_dir->filePath(QStringLiteral("eigenes Bild.png"));
        QVERIFY(QImage::fromData(jpeg()).save(local));
        // A real picture, but beside the picture folder, not in it.
        QVERIFY(QImage::fromData(jpeg()).save(imageDir + QStringLiteral("../draussen.jpg")));

        const QString base = m_server->url().toString();
        QString itemA = field("AttrXML", "<ItemSpecifics><NameValueList><Name>Farbe</Name>"
                                         "<Value>Grün</Value></NameValueList></ItemSpecifics>");
        const QList<QPair<const char *, QString>> plain = {
            { "BuyItNowPrice", "1.234,50" }, { "Country", "DE" }, { "Currency", "EUR" },
            { "Description", "Zeile 1\nZeile 2 äöü" }, { "ListingDuration", "7" },
            { "ListingType", "FixedPriceItem" }, { "Location", "Köln" }, { "LotSize", "2" },
            { "PayPalEmailAddress", "a@b.de" }, { "GalleryType", "Gallery" },
            { "PhotoDisplay", "None" }, { "PostalCode", "50667" }, { "PrimaryCategory", "1234" },
            { "Quantity", "3" }, { "ReservePrice", "5,5" }, { "SecondaryCategory", "99" },
            { "SiteID", "77" }, { "StartPrice", "12,50" }, { "StoreCategory1ID", "1" },
            { "StoreCategory2ID", "2" }, { "SubTitle", "Untertitel" },
            { "Title", "Stuhl Ökonom ß" }, { "folder", "11" }, { "ItemID", "888" },
            { "username", "shop_1" }, { "ship1", "DE_DHLPaket" }, { "ship1kosten", "4,90" },
            { "ship1kostenWeitere", "1,00" }, { "shipausland1", "DE_X" },
            { "shipausland1kosten", "9,90" }, { "shipausland1kostenWeitere", "2" },
            { "shipausland1locs", "Europe" }, { "paymentdesc", "Überweisung" },
            { "PayPal", "1" }, { "COD", "1" }, { "MOCC", "0" }, { "BestOffer", "1" },
            { "MinimumBestOfferPrice", "10,00" }, { "ApplicationData", "app" },
            { "Condition", "1000" }, { "DispatchTimeMax", "2" }, { "VATPercent", "19" },
            { "PrimaryCategoryDesc", "Möbel > Stühle" }, { "SecondaryCategoryDesc", "Sonst" },
            { "R14", "1" }, { "R14CostBy", "Buyer" }, { "R14Option", "31" },
            { "ExternalProductID", "EAN:4006381333931" },
            { "image0", local }, { "image1", "vorhanden.jpg" },
            { "image2", base + "/pic.jpg?size=1" }, { "image3", base + "/missing.jpg" },
            { "image4", base + "/drop.jpg" }, { "image5", base + "/empty.jpg" },
            { "image6", "/nirgends/fehlt.jpg" }, { "image7", "../draussen.jpg" },
        };
        for (const auto &pair : plain)
            itemA += field(QLatin1String(pair.first), pair.second);
        // Item B: a title without CDATA, a description holding "</Item>" and a CDATA split
        // around "]]>", and numbers that are none.
        const QString itemB = field("ItemID", "555") + field("folder", "WAITFORLIST")
            + QStringLiteral("<Title>Tasse &amp; Untertasse &lt;neu&gt;</Title>")
            + QStringLiteral("<Description><![CDATA[Text mit </Item> und ]]]]><![CDATA[> Ende]]>"
                             "</Description>")
            + field("ListingDuration", "abc") + field("StartPrice", "1,234.50")
            + field("Quantity", "x") + field("VATPercent", "-1")
            + field("ExternalProductID", "ISBN:Nicht zutreffend");
        const QString itemC = field("ItemID", "777") + field("folder", "ActiveList")
            + field("Title", "schon da");
        const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n<export>\n")
                                .arg(QString::fromLatin1(encoding))
            + QStringLiteral("<categories>\n"
                             "<category><id>10</id><text>Möbel &amp; Co</text><parentid></parentid>"
                             "</category>\n<category><id>11</id><text>Stühle</text>"
                             "<parentid>10</parentid></category>\n<category><id>12</id>"
                             "<text>Waisen</text><parentid>99</parentid></category>\n"
                             "</categories>\n<users>\n<user>")
            + field("username", "neu_shop") + field("usertoken", "tök")
            + field("usertokenexpire", "2027-01-01") + QStringLiteral("</user>\n<user>")
            + field("username", "SHOP_1") + QStringLiteral("</user>\n</users>\n")
            + QStringLiteral("<ItemsTotal>3</ItemsTotal>\n<Items>\n<Item>") + itemA
            + QStringLiteral("</Item>\n<Item>") + itemB + QStringLiteral("</Item><Item>") + itemC
            + QStringLiteral("</Item>\n</Items>\n</export>\n");

        // Pictures that fail are counted; values no number column takes are named, the
        // article once, the fields as the editor names them.
        QCOMPARE(runImport(xml, encoding),
                 QStringLiteral("Import abgeschlossen§§§Die Daten wurden importiert, bitte das "
                                "Programm neu starten. 5 Bilder konnten nicht übernommen "
                                "werden: „Stuhl Ökonom ß“: %1/missing.jpg, %1/drop.jpg, "
                                "%1/empty.jpg, /nirgends/fehlt.jpg, ../draussen.jpg. 2 Werte "
                                "wurden nicht übernommen, weil sie keine Zahlen "
                                "sind: „Tasse & Untertasse <neu>“: Laufzeit „abc“, "
                                "Stückzahl „x“.")
                     .arg(base));

        // Folders: an unknown parent puts the folder under "Artikelvorlagen".
        const SqlRows folders
            = db->select(QStringLiteral(
                             "SELECT id, foldername, folderparentid FROM folders ORDER BY id"))
                  .value();
        QCOMPARE(folders.size(), 3);
        const int top = folders.at(0).value("id").toInt();
        QStringList shape;
        for (const auto &row : folders)
            shape << row.value("foldername").toString() + QLatin1Char(':')
                    + (row.value("folderparentid").toInt() == top
                           ? QStringLiteral("top")
                           : row.value("folderparentid").toString());
        QCOMPARE(shape, (QStringList { "Möbel & Co:-10", "Stühle:top", "Waisen:-10" }));

        // Accounts: "SHOP_1" is the account "Shop_1", so only "neu_shop" is new.
        const SqlRows accounts
            = db->select(
                    QStringLiteral("SELECT id, accountname, token, tokenexp, active FROM accounts "
                                   "ORDER BY id"))
                  .value();
        QCOMPARE(accounts.size(), 2);
        QCOMPARE(accounts.at(0).value("id").toInt(), existingAccount);
        const int newAccount = accounts.at(1).value("id").toInt();
        QCOMPARE(QStringList({ accounts.at(1).value("accountname").toString(),
                               accounts.at(1).value("token").toString(),
                               accounts.at(1).value("tokenexp").toString(),
                               accounts.at(1).value("active").toString() }),
                 QStringList({ "neu_shop", "tök", "2027-01-01", "1" }));

        const SqlRows articles
            = db->select(QStringLiteral("SELECT id, Folder, Account, ImageThumb FROM articles "
                                        "WHERE id <> %1 ORDER BY id")
                             .arg(listed))
                  .value();
        QCOMPARE(articles.size(), 2);
        const int a = articles.at(0).value("id").toInt();
        const int b = articles.at(1).value("id").toInt();
        QCOMPARE(articles.at(0).value("Folder").toInt(), folders.at(1).value("id").toInt());
        QVERIFY(newAccount != existingAccount);
        QCOMPARE(articles.at(0).value("Account").toInt(), existingAccount);
        QCOMPARE(TestSupport::values(db, a, QLatin1String(kMappedColumns)),
                 QStringLiteral(
                     "<NameValueList><Name>Farbe</Name><Value>Grün</Value></NameValueList>|1234.5|"
                     "DE|EUR|Zeile 1\nZeile 2 äöü|Days_7|FixedPriceItem|Köln|2|a@b.de|Gallery|None|"
                     "50667|1234|3|5.5|99|77|12.5|1|2|Untertitel|Stuhl Ökonom ß|0||DE_DHLPaket|4.9|"
                     "1|DE_X|9.9|2|Europe|Überweisung|COD|PayPal|1|10|app|1000|2|19|Möbel > Stühle|"
                     "Sonst|ReturnsAccepted|Buyer|Months_1|4006381333931||"));
        QCOMPARE(TestSupport::values(
                     db, b,
                     QStringLiteral(
                         "Folder,FolderOld,ItemID,Title,Description,ListingDuration,StartPrice,"
                         "Quantity,DispatchTimeMax,VAT_VATPercent,RP_ShippingCostPaidByOption,EAN,"
                         "ISBN,UPC,Account")),
                 QStringLiteral("-2|-10|555|Tasse & Untertasse <neu>|Text mit </Item> und ]]> Ende|"
                                "|1234.5|0|0|0|Seller|Nicht zutreffend|Nicht zutreffend|"
                                "Nicht zutreffend|0"));

        // Pictures: the local file and the download are copied under stamped names, the name
        // in the picture folder is taken as it is; failed downloads leave nothing behind.
        const SqlRows images
            = db->select(QStringLiteral(
                             "SELECT image, sort FROM articles_images WHERE article_id=%1 ORDER BY "
                             "sort")
                             .arg(a))
                  .value();
        QStringList stored;
        for (const auto &row : images)
            stored << row.value("sort").toString() + QLatin1Char(':')
                    + row.value("image").toString().remove(QRegularExpression("^\\d{14}_"));
        QCOMPARE(stored,
                 (QStringList { QStringLiteral("0:%1_0.png").arg(a), "1:vorhanden.jpg",
                                QStringLiteral("2:%1_2.jpg").arg(a) }));
        QCOMPARE(articles.at(0).value("ImageThumb").toString(),
                 QStringLiteral("thumb_") + images.at(0).value("image").toString());
        QVERIFY(QFileInfo(db->getCurrentAdImageDirThumbs()
                          + articles.at(0).value("ImageThumb").toString())
                    .isFile());
        // The download the stored copy was made of is gone.
        const QString downloaded = Statics::hashString(base + "/pic.jpg?size=1") + ".jpg";
        const QStringList pictureFiles = QDir(imageDir).entryList(QDir::Files);
        QCOMPARE(pictureFiles.size(), 3);
        QVERIFY(!pictureFiles.contains(downloaded));
        QCOMPARE(
            db->selectCount(QStringLiteral("SELECT id FROM articles WHERE ItemID='777'")).value(),
            1);
    }

    void brokenExport_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("category without end tag")
            << QByteArray("<export><categories><category><id>1</id><text>x</text></categories>"
                          "<Items><Item><Title>a</Title></Item></Items></export>")
            << 1 << QString();
        QTest::newRow("user without end tag")
            << QByteArray("<export><users><user><username>u</username></users></export>") << 1
            << QString();
        QTest::newRow("cut off inside an item")
            << QByteArray("<export><Items><Item><Title><![CDATA[halb") << 1
            << QStringLiteral("die Datei endet, bevor der Export vollständig ist");
        // Folders, an account and a whole item come before the cut: none of them is stored.
        QByteArray half = smallExport("Möbel", "<Description><![CDATA[Zeile 1\nZeile 2]]>"
                                               "</Description><username><![CDATA[neu]]>"
                                               "</username>");
        half.replace("<ItemsTotal>", "<users><user><username><![CDATA[neu]]></username></user>"
                                     "</users>\n<ItemsTotal>");
        half.truncate(half.indexOf("</Items>"));
        half += "<Item><Title><![CDATA[Tisch]]></Title>\n<Description><![CDATA[Zeile 1\nZei";
        QTest::newRow("cut off in the middle")
            << half << 12 << QStringLiteral("die Datei endet, bevor der Export vollständig ist");
        QTest::newRow("not XML at all")
            << QByteArray("Titel;Preis\nStuhl;12,50\n") << 1 << QString();
        QTest::newRow("unknown encoding")
            << QByteArray("<?xml version=\"1.0\" encoding=\"X-UNBEKANNT\"?>\n<export/>") << 1
            << QStringLiteral("die Zeichenkodierung X-UNBEKANNT ist unbekannt");
        QTest::newRow("17,000 nested categories")
            << nestedCategories(17000) << 67
            << QStringLiteral("die Kategorie „Ebene 65“ läge tiefer als 64 Ebenen, so tief "
                              "können Ordner nicht ineinander liegen");
        QTest::newRow("no UTF-8")
            << smallExport("M\xf6" "bel", QByteArray()) << 4
            << QStringLiteral("die Datei enthält Bytes, die in ihrer Zeichenkodierung keine "
                              "Zeichen sind");
    }
    void brokenExport()
    {
        QFETCH(QByteArray, xml);
        QFETCH(int, line);
        QFETCH(QString, reason);
        APP_TEST_DATABASE(data);
        const QString note = runImportOf(xml);
        const QString path = m_dir->filePath(QStringLiteral("export.xml"));
        const QString start = QStringLiteral("Import abgebrochen§§§Die Datei %1 ist ab Zeile %2 "
                                             "keine gültige Exportdatei (")
                                  .arg(path)
                                  .arg(line);
        QVERIFY2(note.startsWith(start), qPrintable(note));
        QVERIFY2(note.endsWith(QStringLiteral("). Es wurde nichts importiert.")),
                 qPrintable(note));
        if (!reason.isEmpty())
            QCOMPARE(note.mid(start.size()).section(QLatin1Char(')'), 0, 0), reason);
        QCOMPARE(storedRows(data.db()), QStringLiteral("0,0,0,0"));
    }

    // Categories become folders no deeper than the folder tree's levels, counted from
    // "Artikelvorlagen" also through a folder an earlier import stored; a deeper export is
    // refused before anything is written.
    void folderDepth_data()
    {
        QTest::addColumn<int>("stored"); // levels stored before, external ids s1, s2, ...
        QTest::addColumn<int>("levels"); // in the export, the first in the deepest stored
        QTest::addColumn<bool>("refused");
        QTest::newRow("64 levels") << 0 << 64 << false;
        QTest::newRow("65 levels") << 0 << 65 << true;
        QTest::newRow("below a stored folder, 64 levels in all") << 60 << 4 << false;
        QTest::newRow("below a stored folder, 65 levels in all") << 60 << 5 << true;
    }
    void folderDepth()
    {
        QFETCH(int, stored);
        QFETCH(int, levels);
        QFETCH(bool, refused);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        for (int level = 1; level <= stored; ++level)
            QVERIFY(db->executeSQL(QStringLiteral("INSERT INTO folders (id, foldername, "
                                                  "folderparentid, externalid) VALUES (%1, "
                                                  "'Alt %1', %2, 's%1')")
                                       .arg(level)
                                       .arg(level == 1 ? -10 : level - 1)));
        const QString note = runImportOf(
            nestedCategories(levels, stored > 0 ? QStringLiteral("s%1").arg(stored) : QString()));
        QVERIFY2(note.startsWith(refused ? QStringLiteral("Import abgebrochen§§§")
                                         : QStringLiteral("Import abgeschlossen§§§")),
                 qPrintable(note));
        QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM folders")).value(),
                 stored + (refused ? 0 : levels));
        if (!refused) {
            // The deepest category in the one before it.
            QCOMPARE(db->selectOne(QStringLiteral("SELECT p.externalid FROM folders f, folders p "
                                                  "WHERE f.externalid='e%1' AND "
                                                  "p.id=f.folderparentid")
                                       .arg(levels))
                         .value(),
                     levels > 1 ? QStringLiteral("e%1").arg(levels - 1)
                                : QStringLiteral("s%1").arg(stored));
        }
    }

    // Rovive 2 wrote names and descriptions without escaping them.
    void strayCharacters_data()
    {
        QTest::addColumn<QByteArray>("category");
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("logged");
        QTest::newRow("bare & in a category name")
            << QByteArray("Haus & Garten") << QByteArray("<![CDATA[Text]]>")
            << "Haus & Garten" << "Text" << "read 1 bare \"&\" as text, dropped 0";
        QTest::newRow("& that only looks like a reference")
            << QByteArray("A&B;C &nbsp; &# &#xZZ; &amp") << QByteArray("Tom & Jerry")
            << "A&B;C &nbsp; &# &#xZZ; &amp" << "Tom & Jerry"
            << "read 6 bare \"&\" as text, dropped 0";
        QTest::newRow("references are read")
            << QByteArray("A &amp; B &lt;&gt;&quot;&apos; &#228;&#xE4;&#x1F600;")
            << QByteArray("<![CDATA[Tom & Jerry &amp;]]>")
            << QString::fromUtf8("A & B <>\"' ää\xF0\x9F\x98\x80") << "Tom & Jerry &amp;"
            << QString();
        QTest::newRow("forbidden characters, also as references")
            << QByteArray("a&#1;b&#x1F;c\x08")
            << QByteArray("<![CDATA[Zeile\x01 eins\x0b\n\tzwei\x1f\x7f]]>&#0;")
            << "abc" << "Zeile eins\n\tzwei\x7f" << "read 0 bare \"&\" as text, dropped 7";
    }
    void strayCharacters()
    {
        QFETCH(QByteArray, category);
        QFETCH(QByteArray, description);
        QFETCH(QString, folder);
        QFETCH(QString, stored);
        QFETCH(QString, logged);
        APP_TEST_DATABASE(data);
        TestSupport::MessageCapture log({ QStringLiteral("app") });
        QCOMPARE(runImportOf(smallExport(category,
                                         "<Description>" + description + "</Description>")),
                 kDone);
        const SqlRows folders
            = data.db()->select(QStringLiteral("SELECT id, foldername FROM folders")).value();
        QCOMPARE(folders.size(), 1);
        QCOMPARE(folders.first().value(QStringLiteral("foldername")).toString(), folder);
        const SqlRows articles
            = data.db()->select(QStringLiteral("SELECT Folder, Description FROM articles")).value();
        QCOMPARE(articles.size(), 1);
        QCOMPARE(articles.first().value(QStringLiteral("Folder")),
                 folders.first().value(QStringLiteral("id")));
        QCOMPARE(articles.first().value(QStringLiteral("Description")).toString(), stored);
        QCOMPARE(log.count(QStringLiteral("characters that XML does not allow")),
                 logged.isEmpty() ? 0 : 1);
        if (!logged.isEmpty())
            QCOMPARE(log.count(logged), 1);
    }

    // A user name is an existing account when it is equal to its name ignoring letter case.
    void accountMatching_data()
    {
        QTest::addColumn<QStringList>("accounts");
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("match"); // index into `accounts`, -1: a new account is made
        QTest::newRow("upper case of lower case")
            << QStringList { "moebel_mueller" } << "MOEBEL_MUELLER" << 0;
        QTest::newRow("upper case of mixed case")
            << QStringList { "Sammlerstube" } << "SAMMLERSTUBE" << 0;
        QTest::newRow("umlauts") << QStringList { "möbelhaus" } << "MÖBELHAUS" << 0;
        QTest::newRow("first of two") << QStringList { "x", "Shop", "SHOP" } << "shop" << 1;
        QTest::newRow("underscore is no wildcard") << QStringList { "shopX1" } << "shop_1" << -1;
        QTest::newRow("percent is no wildcard") << QStringList { "abc", "a" } << "a%" << -1;
    }
    void accountMatching()
    {
        QFETCH(QStringList, accounts);
        QFETCH(QString, user);
        QFETCH(int, match);
        APP_TEST_DATABASE(data);
        QList<int> ids;
        for (const QString &name : accounts)
            ids << data.db()->insertSqlClean({ { "accountname", name } },
                                             QStringLiteral("accounts"));
        QByteArray xml = smallExport("Möbel", "<username><![CDATA[" + user.toUtf8()
                                                  + "]]></username>");
        xml.replace("<ItemsTotal>", "<users><user><username><![CDATA[" + user.toUtf8()
                                        + "]]></username><usertoken><![CDATA[t]]></usertoken>"
                                          "</user></users>\n<ItemsTotal>");
        QCOMPARE(runImportOf(xml), kDone);

        const SqlRows made
            = data.db()
                  ->select(QStringLiteral("SELECT id, accountname FROM accounts WHERE id > %1")
                               .arg(ids.last()))
                  .value();
        const SqlRows article
            = data.db()->select(QStringLiteral("SELECT Account FROM articles")).value();
        QCOMPARE(article.size(), 1);
        if (match >= 0) {
            QCOMPARE(made.size(), 0);
            QCOMPARE(article.first().value(QStringLiteral("Account")).toInt(), ids.at(match));
        } else {
            QCOMPARE(made.size(), 1);
            QCOMPARE(made.first().value(QStringLiteral("accountname")).toString(), user);
            QCOMPARE(article.first().value(QStringLiteral("Account")),
                     made.first().value(QStringLiteral("id")));
        }
    }

    // Number fields that are no numbers keep the column's default and are named at the end:
    // each article once with its fields, under the names the editor shows.
    void rejectedValues_data()
    {
        QTest::addColumn<QStringList>("items"); // title, then tag=value pairs, by "|"
        QTest::addColumn<QString>("named");
        QTest::newRow("one value")
            << QStringList { "Stuhl|StartPrice=abc|Quantity=2" }
            << "1 Wert wurde nicht übernommen, weil er keine Zahl ist: „Stuhl“: Preis „abc“.";
        QTest::newRow("the first three articles, each once")
            << QStringList { "Stuhl|StartPrice=abc|Quantity=zwei", "Tisch|BuyItNowPrice=1,2.3,4",
                             "Bank|LotSize=viele|ship1kosten=12,3,4",
                             "Hocker|shipausland2kostenWeitere=x" }
            << "6 Werte wurden nicht übernommen, weil sie keine Zahlen sind: „Stuhl“: Stückzahl "
               "„zwei“, Preis „abc“; „Tisch“: Sofort-Kaufen-Preis „1,2.3,4“; „Bank“: Posten pro "
               "Artikel „viele“, Versandkosten Inland 1 „12,3,4“; und 1 weiterer Wert in einem "
               "weiteren Artikel.";
        QTest::newRow("six fields of one article, five articles")
            << QStringList { "Stuhl|StartPrice=a|BuyItNowPrice=b|ReservePrice=c|Quantity=d|"
                             "LotSize=e|VATPercent=f",
                             "Tisch|StartPrice=g", "Bank|StartPrice=h",
                             "Hocker|StartPrice=i|Quantity=j", "Regal|StartPrice=k" }
            << "11 Werte wurden nicht übernommen, weil sie keine Zahlen sind: „Stuhl“: "
               "Stückzahl „d“, Preis „a“, Sofort-Kaufen-Preis „b“, Mindestpreis „c“, Posten pro "
               "Artikel „e“ und 1 weiterer; „Tisch“: Preis „g“; „Bank“: Preis „h“; und 3 weitere "
               "Werte in 2 weiteren Artikeln.";
        // Pictures not taken are named with their article, the ones past ten counted.
        QStringList pictures { "Lampe" };
        QStringList missing;
        for (int i = 0; i < 12; ++i) {
            pictures << QString("image%1=/fehlt/bild%1.jpg").arg(i);
            missing << QString("/fehlt/bild%1.jpg").arg(i);
        }
        QTest::newRow("twelve pictures not found")
            << QStringList { pictures.join('|') }
            << "12 Bilder konnten nicht übernommen werden: „Lampe“: "
                + missing.mid(0, 10).join(", ") + "; und 2 weitere.";
        QTest::newRow("a long value is shortened")
            << QStringList { "Lampe|Quantity=" + QString(50, QLatin1Char('z')) }
            << "1 Wert wurde nicht übernommen, weil er keine Zahl ist: „Lampe“: Stückzahl „"
                + QString(39, QLatin1Char('z')) + "…“.";
        const QString longTitle = "Sehr langer Titel mit Sonderzeichen & Umlauten, deutlich über "
                                  "achtzig Zeichen lang";
        QTest::newRow("a long title is shortened")
            << QStringList { longTitle + "|shipausland1kostenWeitere=x|VATPercent=neunzehn" }
            << "2 Werte wurden nicht übernommen, weil sie keine Zahlen sind: „" + longTitle.left(40)
                + "…“: MwSt „neunzehn“, Versandkosten Ausland 1 (weitere Artikel) „x“.";
    }
    void rejectedValues()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, named);
        APP_TEST_DATABASE(data);
        const int plain = data.db()->insertSqlClean({ { "Title", "leer" } },
                                                    QStringLiteral("articles"));
        QString xml = QStringLiteral("<export><ItemsTotal>%1</ItemsTotal><Items>")
                          .arg(items.size());
        for (const QString &item : items) {
            const QStringList parts = item.split(QLatin1Char('|'));
            xml += QStringLiteral("<Item>") + field(QStringLiteral("Title"), parts.first());
            for (const QString &pair : parts.mid(1))
                xml += field(pair.section(QLatin1Char('='), 0, 0),
                             pair.section(QLatin1Char('='), 1));
            xml += QStringLiteral("</Item>");
        }
        xml += QStringLiteral("</Items></export>");
        QCOMPARE(runImport(xml, "UTF-8"), kDone + QStringLiteral(". ") + named);

        const QString columns = QStringLiteral(
            "StartPrice,BuyItNowPrice,LotSize,ShippingService_1_Cost");
        const SqlRows rows
            = data.db()
                  ->select(
                      QStringLiteral(
                          "SELECT id, Title, Quantity FROM articles WHERE id <> %1 ORDER BY id")
                          .arg(plain))
                  .value();
        QCOMPARE(rows.size(), items.size());
        for (const auto &row : rows) {
            const int id = row.value(QStringLiteral("id")).toInt();
            QCOMPARE(TestSupport::values(data.db(), id, columns),
                     TestSupport::values(data.db(), plain, columns));
        }
        // A number next to them is taken.
        if (items.first().contains(QLatin1String("Quantity=2")))
            QCOMPARE(rows.first().value(QStringLiteral("Quantity")).toString(),
                     QStringLiteral("2"));
    }

    // An article whose description the marketplace would refuse (over 500,000 characters) is
    // left out and named; one at the limit is imported whole.
    void longDescription_data()
    {
        QTest::addColumn<QStringList>("lengths"); // of the descriptions of "Artikel 1", 2, ...
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("stored"); // titles
        const QString part = "Import unvollständig§§§Die Daten wurden nur zum Teil importiert, "
                             "bitte das Programm neu starten. ";
        QTest::newRow("the second of three one over") << QStringList { "200", "500001", "500000" }
                                                      << part
                + "1 Artikel wurde nicht importiert, weil seine Beschreibung länger ist, als "
                  "eBay erlaubt (höchstens 500.000 Zeichen): „Artikel 2“."
                                                      << "Artikel 1,Artikel 3";
        QTest::newRow("five over")
            << QStringList { "600000", "500001", "500001", "500001", "700000", "12" }
            << part
                + "5 Artikel wurden nicht importiert, weil ihre Beschreibung länger ist, als "
                  "eBay erlaubt (höchstens 500.000 Zeichen): „Artikel 1“, „Artikel 2“, "
                  "„Artikel 3“ und 2 weitere."
            << "Artikel 6";
        QTest::newRow("at the limit") << QStringList { "500000" } << kDone << "Artikel 1";
    }
    void longDescription()
    {
        QFETCH(QStringList, lengths);
        QFETCH(QString, note);
        QFETCH(QString, stored);
        APP_TEST_DATABASE(data);
        QString xml
            = QStringLiteral("<export><ItemsTotal>%1</ItemsTotal><Items>").arg(lengths.size());
        for (int i = 0; i < lengths.size(); ++i)
            xml += QStringLiteral("<Item>") + field("Title", QString("Artikel %1").arg(i + 1))
                + field("StartPrice", "12345.67")
                + field("Description", QString(lengths.at(i).toInt(), QLatin1Char('x')))
                + QStringLiteral("</Item>");
        xml += QStringLiteral("</Items></export>");
        QCOMPARE(runImport(xml, "UTF-8"), note);
        const SqlRows rows
            = data.db()
                  ->select(QStringLiteral(
                      "SELECT Title, LENGTH(Description) AS n FROM articles ORDER BY id"))
                  .value();
        QStringList titles;
        for (const auto &row : rows) {
            titles << row.value("Title").toString();
            QCOMPARE(row.value("n").toInt(),
                     lengths.at(titles.last().section(' ', 1).toInt() - 1).toInt());
        }
        QCOMPARE(titles.join(','), stored);
    }

    // Every form a number column meets, for each kind of number column: prices and costs
    // (real), the VAT rate (real) and counts (whole). Read right or refused, never another
    // number.
    void numberForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored"); // StartPrice|ship1kosten|VAT_VATPercent|Quantity
        QTest::addColumn<QString>("named"); // the fields named as no number
        QTest::newRow("German marks") << "1.234,50"
                                      << "1234.5|1234.5|1234.5|0"
                                      << "Stückzahl";
        QTest::newRow("English marks") << "1,234.50"
                                       << "1234.5|1234.5|1234.5|0"
                                       << "Stückzahl";
        QTest::newRow("decimal point") << "1234.50"
                                       << "1234.5|1234.5|1234.5|0"
                                       << "Stückzahl";
        QTest::newRow("decimal comma") << "12,5"
                                       << "12.5|12.5|12.5|0"
                                       << "Stückzahl";
        QTest::newRow("currency-formatted cell") << "19,99 €"
                                                 << "19.99|19.99|19.99|0"
                                                 << "Stückzahl";
        QTest::newRow("code before, thousands point") << "EUR 1.000"
                                                      << "1000|1000|1000|1000"
                                                      << "";
        // One mark before three digits and nothing else in the column to decide it: a
        // thousand as a count, refused as a price, never a price of 1.
        const QString ambiguous = "(mehrdeutig: Tausendertrennzeichen oder Dezimalzeichen)";
        QTest::newRow("ambiguous comma") << "1,000"
                                         << "0|0|0|1000"
                                         << "Preis " + ambiguous + ", MwSt " + ambiguous
                + ", Versandkosten Inland 1 " + ambiguous;
        QTest::newRow("dollar sign: English") << "$2,500"
                                              << "2500|2500|2500|2500"
                                              << "";
        QTest::newRow("negative") << "-3,00"
                                  << "0|0|0|0"
                                  << "Stückzahl (negativ), Preis (negativ), MwSt (negativ), "
                                     "Versandkosten Inland 1 (negativ)";
        QTest::newRow("nineteen nines")
            << "9999999999999999999"
            << "0|0|0|0"
            << "Stückzahl (keine Zahl), Preis (größer als 999.999,99), MwSt (größer als "
               "999.999,99), Versandkosten Inland 1 (größer als 999.999,99)";
        QTest::newRow("three decimals")
            << "1234,567"
            << "0|0|0|0"
            << "Stückzahl (keine Zahl), Preis (mehr als zwei Nachkommastellen), MwSt (mehr als "
               "zwei Nachkommastellen), Versandkosten Inland 1 (mehr als zwei Nachkommastellen)";
        QTest::newRow("marks in an impossible order")
            << "1,2.3,4"
            << "0|0|0|0"
            << "Stückzahl, Preis, MwSt, Versandkosten Inland 1";
        QTest::newRow("several decimal marks") << "12,3,4"
                                               << "0|0|0|0"
                                               << "Stückzahl, Preis, MwSt, Versandkosten Inland 1";
    }
    void numberForms()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QFETCH(QString, named);
        APP_TEST_DATABASE(data);
        const QString xml = QStringLiteral("<export><ItemsTotal>1</ItemsTotal><Items><Item>")
            + field("Title", "Stuhl") + field("StartPrice", text) + field("ship1kosten", text)
            + field("VATPercent", text) + field("Quantity", text)
            + QStringLiteral("</Item></Items></export>");
        const QString note = runImport(xml, "UTF-8");
        // Each field named with the value, and the reason after it when there is one.
        QStringList fields;
        for (const QString &name : named.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
            const int reason = name.indexOf(QStringLiteral(" ("));
            fields << (reason < 0 ? name + QStringLiteral(" „") + text + QStringLiteral("“")
                                  : name.left(reason) + QStringLiteral(" „") + text
                               + QStringLiteral("“") + name.mid(reason));
        }
        QCOMPARE(note.section(QStringLiteral("„Stuhl“: "), 1),
                 fields.isEmpty() ? QString() : fields.join(QStringLiteral(", ")) + '.');
        const int id
            = data.db()->selectOne(QStringLiteral("SELECT MAX(id) FROM articles")).value().toInt();
        QCOMPARE(TestSupport::values(data.db(), id,
                                     QStringLiteral("StartPrice,ShippingService_1_Cost,"
                                                    "VAT_VATPercent,Quantity")),
                 stored);
    }

    // A number such as "1,234" is read by what the same field of the other items shows.
    void numbersByTheirColumn_data()
    {
        QTest::addColumn<QStringList>("prices"); // StartPrice of each item
        QTest::addColumn<QString>("stored"); // of the last item
        QTest::newRow("English decimals in another item")
            << QStringList { "1,234.50", "1,234" } << "1234";
        QTest::newRow("German decimals in another item")
            << QStringList { "3,99", "1.000" } << "1000";
        QTest::newRow("both kinds: undecided") << QStringList { "3,99", "3.99", "1,000" } << "0";
    }
    void numbersByTheirColumn()
    {
        QFETCH(QStringList, prices);
        QFETCH(QString, stored);
        APP_TEST_DATABASE(data);
        QString items;
        for (const QString &price : prices)
            items += QStringLiteral("<Item>") + field("Title", "Stuhl") + field("StartPrice", price)
                + QStringLiteral("</Item>");
        runImport(QStringLiteral("<export><ItemsTotal>%1</ItemsTotal><Items>").arg(prices.size())
                      + items + QStringLiteral("</Items></export>"),
                  "UTF-8");
        const int id
            = data.db()->selectOne(QStringLiteral("SELECT MAX(id) FROM articles")).value().toInt();
        QCOMPARE(TestSupport::values(data.db(), id, QStringLiteral("StartPrice")), stored);
    }

    // What the database refuses to store is counted and named: "Import abgeschlossen" only
    // when nothing was lost, an activity entry of the error kind otherwise.
    void refusedRows_data()
    {
        QTest::addColumn<QStringList>("refused"); // table:condition of an insert refused
        QTest::addColumn<QString>("note"); // its start; the database's reason follows
        QTest::addColumn<int>("articles"); // stored
        const QString part = "Import unvollständig§§§Die Daten wurden nur zum Teil importiert, "
                             "bitte das Programm neu starten. ";
        QTest::newRow("nothing stored")
            << QStringList { "articles:1 = 1", "folders:1 = 1", "accounts:1 = 1" }
            << "Import fehlgeschlagen§§§Es wurde nichts importiert. 3 von 3 Artikeln, 1 von 1 "
               "Ordner und 1 von 1 Konto konnten nicht gespeichert werden"
            << 0;
        QTest::newRow("one of three articles")
            << QStringList { "articles:NEW.Title = 'Tisch'" }
            << part + "1 von 3 Artikeln konnte nicht gespeichert werden" << 2;
        QTest::newRow("the folder") << QStringList { "folders:1 = 1" }
                                    << part + "1 von 1 Ordner konnte nicht gespeichert werden" << 3;
        QTest::newRow("an account and an article")
            << QStringList { "accounts:1 = 1", "articles:NEW.Title = 'Tisch'" }
            << part + "1 von 3 Artikeln und 1 von 1 Konto konnten nicht gespeichert werden" << 2;
    }
    void refusedRows()
    {
        QFETCH(QStringList, refused);
        QFETCH(QString, note);
        QFETCH(int, articles);
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        for (const QString &rule : refused)
            QVERIFY(TestSupport::refuseRows(db, rule.section(':', 0, 0), QStringLiteral("INSERT"),
                                            QStringLiteral("refused"), rule.section(':', 1)));
        const QString sent = runImport(threeArticles(), "UTF-8");
        QVERIFY2(sent.startsWith(note + QStringLiteral(" (Fehler der Datenbank: "))
                     && sent.contains(QStringLiteral("refused")),
                 qPrintable(sent));
        QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM articles")).value(), articles);
        // The activity entry says the same, as an error.
        const SqlRows entries
            = db->select(QStringLiteral("SELECT title, textinfo, infotype FROM itemshistory"))
                  .value();
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries.first().value(QStringLiteral("infotype")).toString(),
                 QStringLiteral("error"));
        QCOMPARE(entries.first().value(QStringLiteral("title")).toString() + QStringLiteral("§§§")
                     + entries.first().value(QStringLiteral("textinfo")).toString(),
                 sent);
    }

    // A row whose answer the connection lost may be stored: it is looked up before it is
    // written again, so each is stored once and counted as stored.
    void lostAnswers_data()
    {
        QTest::addColumn<QByteArray>("statement");
        QTest::newRow("folder") << QByteArray("INSERT INTO folders");
        QTest::newRow("account") << QByteArray("INSERT INTO accounts");
        QTest::newRow("second article") << QByteArray("INSERT INTO articles");
        QTest::newRow("second article's commit") << QByteArray("COMMIT");
    }
    void lostAnswers()
    {
        QFETCH(QByteArray, statement);
        APP_TEST_DATABASE_BEHIND_PROXY(proxy, data, "A lost answer needs a server connection");
        // Each folder, account and article is committed on its own: the second article's
        // commit is the first one after its look-ups.
        const bool commit = statement == "COMMIT";
        if (!commit)
            proxy.cutAfter(statement, statement.endsWith("articles") ? 2 : 1);
        const QString sent = runImportOf(threeArticles(field("StartPrice", "12,50")).toUtf8(),
                                         [&](const QString &status) {
                                             if (commit && status == "Importiere Tisch")
                                                 proxy.cutAfter(statement);
                                         });

        QCOMPARE(proxy.cuts(), 1);
        QCOMPARE(sent, kDone);
        Database *db = data.db();
        QCOMPARE(storedRows(db), QStringLiteral("1,1,3,0"));
        QCOMPARE(db->selectCount(QStringLiteral("SELECT DISTINCT Title FROM articles")).value(), 3);
    }

    // The pictures are checked before their article's transaction is begun: the window's
    // connection saves while the import waits for the picture decoder.
    void windowSavesWhilePictureIsChecked()
    {
        APP_TEST_DATABASE(data);
        Database *db = data.db();
        const QString path = m_dir->filePath(QStringLiteral("export.xml"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(threeArticlesWithPictures().toUtf8());
        file.close();
        Rovive2Import import(path);
        QSignalSpy notes(&import, &Rovive2Import::sendNotification);
        TestSupport::HeldDecodes held;
        std::thread worker([&import] { import.work(); });
        auto joined = qScopeGuard([&] {
            held.letGo(100);
            worker.join();
        });
        QVERIFY(held.entered(1, 60000));
        db->setLockTimeout(2000); // as long as the window's connection waits for a lock
        const bool saved = db->executeSQL("INSERT INTO folders (foldername, folderparentid) "
                                          "VALUES ('Während des Prüfens', -10)");
        const QString error = db->lastErrorText;
        held.letGo(100);
        worker.join();
        joined.dismiss();

        QVERIFY2(saved, qPrintable(error));
        QCOMPARE(db->selectCount("SELECT id FROM folders WHERE foldername = "
                                 "'Während des Prüfens'")
                     .value(),
                 1);
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes.first().first().toString(), kDone);
        QCOMPARE(wholeArticles(db), (QStringList { "Stuhl:1", "Tisch:1", "Bank:1" }));
        QCOMPARE(unmatchedFiles(db), QStringList());
    }

    // An article whose commit was lost or refused, or whose connection was lost after its
    // pictures were named, leaves exactly the picture files its rows name: none twice for a
    // unit written again, none for a unit not stored, and a unit written again has its
    // pictures.
    void picturesOfAnUncertainCommit_data()
    {
        QTest::addColumn<QByteArray>("statement");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("commit's answer lost")
            << QByteArray("COMMIT") << false << QStringList { "Stuhl:1", "Tisch:1", "Bank:1" };
        QTest::newRow("commit refused")
            << QByteArray("COMMIT") << true << QStringList { "Stuhl:1", "Bank:1" };
        QTest::newRow("connection lost after the pictures were named")
            << QByteArray("UPDATE articles SET ImageThumb") << false
            << QStringList { "Stuhl:1", "Tisch:1", "Bank:1" };
    }
    void picturesOfAnUncertainCommit()
    {
        QFETCH(QByteArray, statement);
        QFETCH(bool, refused);
        QFETCH(QStringList, stored);
        APP_TEST_DATABASE_BEHIND_PROXY(proxy, data, "A lost answer needs a server connection");
        bool armed = false; // once: an attempt that writes the unit again goes through
        const QString sent
            = runImportOf(threeArticlesWithPictures().toUtf8(), [&](const QString &status) {
                  if (armed || status != "Importiere Tisch")
                      return;
                  armed = true;
                  if (refused)
                      proxy.refuse(statement);
                  else
                      proxy.cutAfter(statement);
              });
        QCOMPARE(proxy.cuts() + proxy.refusals(), 1);
        QVERIFY2(refused ? sent.startsWith("Import unvollständig") : sent == kDone,
                 qPrintable(sent));
        Database *db = data.db();
        QCOMPARE(wholeArticles(db), stored);
        QCOMPARE(unmatchedFiles(db), QStringList());
    }

    // A look-up that fails is no row that is missing: the folder, account or article that
    // depends on it is not stored (never a second account, never an article in the wrong
    // folder), and the notification names the database's reason.
    void failedLookUp_data()
    {
        QTest::addColumn<QString>("lookUp"); // "account", "folder" of an article, "stored" folders
        QTest::addColumn<bool>("serverGone"); // else the database refuses the read
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("stored"); // folders, accounts, articles afterwards
        const QString part = "Import unvollständig§§§Die Daten wurden nur zum Teil importiert, "
                             "bitte das Programm neu starten. ";
        QTest::newRow("account refused")
            << "account" << false << part + "1 von 1 Konto konnte nicht gespeichert werden"
            << "1,1,3";
        QTest::newRow("account, server gone")
            << "account" << true
            << part + "3 von 3 Artikeln und 1 von 1 Konto konnten nicht gespeichert werden"
            << "1,1,0";
        QTest::newRow("folder of an article refused")
            << "folder" << false << part + "1 von 3 Artikeln konnte nicht gespeichert werden"
            << "1,1,2";
        QTest::newRow("folder of an article, server gone")
            << "folder" << true << part + "3 von 3 Artikeln konnten nicht gespeichert werden"
            << "1,1,0";
        QTest::newRow("stored folders refused")
            << "stored" << false
            << "Import abgebrochen§§§Die Ordner konnten nicht aus der Datenbank gelesen werden, "
               "es wurde nichts importiert: "
            << "0,1,0";
    }
    void failedLookUp()
    {
        QFETCH(QString, lookUp);
        QFETCH(bool, serverGone);
        QFETCH(QString, note);
        QFETCH(QString, stored);
        APP_TEST_READ_OUTAGE(failing, serverGone);
        Database *db = failing.db();
        const int account = db->insertSqlClean({ { "accountname", "neu" } }, "accounts");
        QVERIFY(account > 0);
        TestSupport::MessageCapture log({ QStringLiteral("app.db"), QStringLiteral("app") });

        const QByteArray statement = lookUp == "account" ? "SELECT id, accountname FROM accounts"
            : lookUp == "folder"                         ? "WHERE externalid='7'"
                                                         : "FROM folders ORDER BY";
        const QString table = lookUp == "account" ? "accounts" : "folders";
        // When it fails: an article's folder is looked up once the folders are stored; the
        // server goes as the accounts are stored, or as the first article is imported.
        const QString when = lookUp == "stored" || (lookUp == "account" && !serverGone) ? QString()
            : !serverGone         ? QStringLiteral("Kategorien anlegen abgeschlossen")
            : lookUp == "account" ? QStringLiteral("Lege Konten an...")
                                  : QStringLiteral("Importiere Stuhl");
        if (when.isEmpty())
            QVERIFY(failing.strike(statement, table));
        const QString sent = runImportOf(threeArticles(field("username", "neu")).toUtf8(),
                                         [&](const QString &status) {
                                             if (status == when)
                                                 QVERIFY(failing.strike(statement, table));
                                         });
        QVERIFY(failing.mend());

        QVERIFY2(sent.startsWith(note), qPrintable(sent));
        QVERIFY2((serverGone || failing.tellsRefusal(sent)) && sent.size() > note.size() + 10,
                 qPrintable(sent));
        QStringList counts;
        for (const char *name : { "folders", "accounts", "articles" })
            counts << db->selectOne(QStringLiteral("SELECT COUNT(*) FROM ") + name).value();
        QCOMPARE(counts.join(','), stored);
        // Every article stored is filed and assigned as the export says.
        QCOMPARE(db->selectCount(QStringLiteral("SELECT a.id FROM articles a, folders f WHERE "
                                                "f.externalid='7' AND a.Folder=f.id AND "
                                                "a.Account=%1")
                                     .arg(account))
                     .value(),
                 stored.section(',', 2).toInt());
        QCOMPARE(log.count("A failed read was taken"), 0);
    }

    // Exports no program writes end with a reason, never with a crash; generated here.
    void hostileExport_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");
        const QString deep = QStringLiteral("die Elemente sind tiefer als 256 Ebenen ineinander "
                                            "verschachtelt, so tief ist keine Exportdatei");
        const QString large = QStringLiteral("ein Element ist länger als 64 MB, so große "
                                             "Einträge enthält keine Exportdatei");
        const int nested = 100000;
        QTest::newRow("100,000 nested elements")
            << "<export><Items><Item><Description>" + QByteArray("<a>").repeated(nested)
                + QByteArray("</a>").repeated(nested) + "</Description></Item></Items></export>"
            << 1 << deep;
        QTest::newRow("257 levels")
            << QByteArray("<a>").repeated(257) + QByteArray("</a>").repeated(257) << 1 << deep;
        const qint64 limit = Rovive2Import::kMaxElementChars;
        // Refused while it is read, before the XML reader holds all of it: the notice names
        // the line where it begins.
        QTest::newRow("one element of 64 MB")
            << "<export>\n<Items><Item>\n<Description><![CDATA[" + QByteArray(int(limit / 2), 'x')
                + "\n" + QByteArray(int(limit / 2), 'x')
                + "]]></Description></Item></Items></export>"
            << 3 << large;
        QTest::newRow("64 MB in two parts")
            << "<export><Items><Item><Description><p>" + QByteArray(int(limit / 2), 'x')
                + "</p><p>" + QByteArray(int(limit / 2) + 1, 'y')
                + "</p></Description></Item></Items></export>"
            << 1 << large;
        // 1.9 MB of attribute defaults between quotes in a comment and an instruction, which
        // are no literals: the document type of its own is refused where it opens.
        QByteArray defaults;
        for (int i = 0; i < 60000; ++i)
            defaults += "<!ATTLIST Item a" + QByteArray::number(i) + " CDATA 'v'>\n";
        QTest::newRow("a DTD of its own, quotes in its comments and instructions")
            << smallExport("Möbel", QByteArray())
                   .replace("<export>",
                            "<!DOCTYPE export [ <!-- ' --> <?pi \" ?>\n" + defaults
                                + "<!-- ' --> <?pi \" ?> ]>\n<export>")
            << 2
            << QStringLiteral("die Datei bringt eine eigene DTD mit (<!DOCTYPE … [ … ]>), so "
                              "etwas enthält keine Exportdatei");
    }
    void hostileExport()
    {
        QFETCH(QByteArray, xml);
        QFETCH(int, line);
        QFETCH(QString, reason);
        APP_TEST_DATABASE(data);
        const QString note = runImportOf(xml);
        xml.clear();
        QCOMPARE(note,
                 QStringLiteral("Import abgebrochen§§§Die Datei %1 ist ab Zeile %2 keine gültige "
                                "Exportdatei (%3). Es wurde nichts importiert.")
                     .arg(m_dir->filePath(QStringLiteral("export.xml")))
                     .arg(line)
                     .arg(reason));
        QCOMPARE(storedRows(data.db()), QStringLiteral("0,0,0,0"));
    }

    // An element of more attributes than any export has is refused at once, before the XML
    // reader compares them with each other (that took minutes), naming the element's line.
    void manyAttributes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("100,000 attributes") << 100000 << QByteArray();
        QTest::newRow("257 attributes") << 257 << QByteArray("x");
        QTest::newRow("256 attributes, '=' and '>' in values") << 256 << QByteArray("a=b>c=d");
    }
    void manyAttributes()
    {
        QFETCH(int, count);
        QFETCH(QByteArray, value);
        APP_TEST_DATABASE(data);
        QByteArray attributes;
        for (int i = 1; i <= count; ++i)
            attributes += " a" + QByteArray::number(i) + "='" + value + "'";
        QByteArray xml = smallExport("Möbel", QByteArray());
        xml.replace("<Item>", "\n<Item" + attributes + ">");
        QString said;
        QElapsedTimer timer;
        {
            TestSupport::AddressSpaceLimit cap(512 * 1024 * 1024);
            QVERIFY(cap.active());
            timer.start();
            said = runImportOf(xml);
        }
        const bool refused = count > 256;
        QVERIFY2(!refused || timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(said,
                 refused ? QStringLiteral("Import abgebrochen§§§Die Datei %1 ist ab Zeile 9 keine "
                                          "gültige Exportdatei (ein Element hat mehr als 256 "
                                          "Attribute, so viele hat keine Exportdatei). Es wurde "
                                          "nichts importiert.")
                               .arg(m_dir->filePath(QStringLiteral("export.xml")))
                         : kDone);
        QCOMPARE(storedRows(data.db()), QLatin1String(refused ? "0,0,0,0" : "1,0,1,0"));
    }
};

APP_TEST_GUILESS_MAIN(TestRovive2Import)
#include "test_rovive2import.moc"
