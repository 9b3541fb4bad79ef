// The import of Rovive 2's XML export: folders, accounts, articles with every mapped field and
// their pictures, read in the file's declared encoding; broken files end with a clear notice.

#include "core/database.h"
#include "core/statics.h"
#include "import/rovive2import.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QImage>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

using TestSupport::FakeReply;

namespace {

QString field(const QString &tag, const QString &value)
{
    return QStringLiteral("<%1><![CDATA[%2]]></%1>").arg(tag, value);
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
        const QString path = m_dir->filePath(QStringLiteral("export.xml"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(QTextCodec::codecForName(encoding)->fromUnicode(xml));
        file.close();
        Rovive2Import import(path);
        QSignalSpy notes(&import, &Rovive2Import::sendNotification);
        QSignalSpy done(&import, &Rovive2Import::finished);
        import.work();
        return done.size() == 1 ? notes.value(0).value(0).toString() : QStringLiteral("no end");
    }

private slots:
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
            { "image6", "/nirgends/fehlt.jpg" },
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
            + field("username", "shop_1") + field("usertoken", "tök")
            + field("usertokenexpire", "2027-01-01") + QStringLiteral("</user>\n<user>")
            + field("username", "Shop_1") + QStringLiteral("</user>\n</users>\n")
            + QStringLiteral("<ItemsTotal>3</ItemsTotal>\n<Items>\n<Item>") + itemA
            + QStringLiteral("</Item>\n<Item>") + itemB + QStringLiteral("</Item><Item>") + itemC
            + QStringLiteral("</Item>\n</Items>\n</export>\n");

        QCOMPARE(runImport(xml, encoding),
                 QStringLiteral("Import abgeschlossen§§§Die Daten wurden importiert, bitte das "
                                "Programm neu starten 4 Bilder konnten nicht übernommen werden."));

        // Folders: an unknown parent puts the folder under "Artikelvorlagen".
        const SqlRows folders = db->select(
            QStringLiteral("SELECT id, foldername, folderparentid FROM folders ORDER BY id"));
        QCOMPARE(folders.size(), 3);
        const int top = folders.at(0).value("id").toInt();
        QStringList shape;
        for (const auto &row : folders)
            shape << row.value("foldername").toString() + QLatin1Char(':')
                    + (row.value("folderparentid").toInt() == top
                           ? QStringLiteral("top")
                           : row.value("folderparentid").toString());
        QCOMPARE(shape, (QStringList { "Möbel & Co:-10", "Stühle:top", "Waisen:-10" }));

        // Accounts: names match exactly, so "shop_1" is not "Shop_1".
        const SqlRows accounts = db->select(
            QStringLiteral("SELECT id, accountname, token, tokenexp, active FROM accounts "
                           "ORDER BY id"));
        QCOMPARE(accounts.size(), 2);
        QCOMPARE(accounts.at(0).value("id").toInt(), existingAccount);
        const int newAccount = accounts.at(1).value("id").toInt();
        QCOMPARE(QStringList({ accounts.at(1).value("accountname").toString(),
                               accounts.at(1).value("token").toString(),
                               accounts.at(1).value("tokenexp").toString(),
                               accounts.at(1).value("active").toString() }),
                 QStringList({ "shop_1", "tök", "2027-01-01", "1" }));

        const SqlRows articles
            = db->select(QStringLiteral("SELECT id, Folder, Account, ImageThumb FROM articles "
                                        "WHERE id <> %1 ORDER BY id")
                             .arg(listed));
        QCOMPARE(articles.size(), 2);
        const int a = articles.at(0).value("id").toInt();
        const int b = articles.at(1).value("id").toInt();
        QCOMPARE(articles.at(0).value("Folder").toInt(), folders.at(1).value("id").toInt());
        QCOMPARE(articles.at(0).value("Account").toInt(), newAccount);
        QCOMPARE(TestSupport::values(db, a, QLatin1String(kMappedColumns)),
                 QStringLiteral(
                     "<NameValueList><Name>Farbe</Name><Value>Grün</Value></NameValueList>|1234.5|"
                     "DE|EUR|Zeile 1\nZeile 2 äöü|Days_7|FixedPriceItem|Köln|2|a@b.de|Gallery|None|"
                     "50667|1234|3|5.5|99|77|12.5|1|2|Untertitel|Stuhl Ökonom ß|0||DE_DHLPaket|4.9|"
                     "1|DE_X|9.9|2|Europe|Überweisung|COD|PayPal|1|10|app|1000|2|19|Möbel > Stühle|"
                     "Sonst|ReturnsAccepted|Buyer|Months_1|4006381333931||"));
        QCOMPARE(TestSupport::values(db, b, QStringLiteral(
                     "Folder,FolderOld,ItemID,Title,Description,ListingDuration,StartPrice,"
                     "Quantity,DispatchTimeMax,VAT_VATPercent,RP_ShippingCostPaidByOption,EAN,"
                     "ISBN,UPC,Account")),
                 QStringLiteral("-2|-10|555|Tasse & Untertasse <neu>|Text mit </Item> und ]]> Ende|"
                                "|0|0|0|0|Seller|Nicht zutreffend|Nicht zutreffend|"
                                "Nicht zutreffend|0"));

        // Pictures: the local file and the download are copied under stamped names, the name
        // in the picture folder is taken as it is; failed downloads leave nothing behind.
        const SqlRows images = db->select(
            QStringLiteral("SELECT image, sort FROM articles_images WHERE article_id=%1 ORDER BY "
                           "sort")
                .arg(a));
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
        const QString downloaded = Statics::hashString(base + "/pic.jpg?size=1") + ".jpg";
        const QStringList pictureFiles = QDir(imageDir).entryList(QDir::Files);
        QCOMPARE(pictureFiles.size(), 4);
        QVERIFY(pictureFiles.contains(downloaded));
        QCOMPARE(db->selectCount(QStringLiteral("SELECT id FROM articles WHERE ItemID='777'")), 1);
    }

    void brokenExport_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::newRow("category without end tag")
            << "<export><categories><category><id>1</id><text>x</text></categories><Items><Item>"
               "<Title>a</Title></Item></Items></export>";
        QTest::newRow("user without end tag")
            << "<export><users><user><username>u</username></users></export>";
        QTest::newRow("cut off inside an item")
            << "<export><Items><Item><Title><![CDATA[halb";
    }
    void brokenExport()
    {
        QFETCH(QString, xml);
        APP_TEST_DATABASE(data);
        const QString note = runImport(xml, "UTF-8");
        QVERIFY2(note.startsWith(QStringLiteral("Import abgebrochen§§§Die Datei ")), qPrintable(note));
        QVERIFY2(note.contains(QStringLiteral("keine gültige Exportdatei")), qPrintable(note));
        QCOMPARE(data.db()->selectCount(QStringLiteral("SELECT id FROM articles")), 0);
    }
};

APP_TEST_GUILESS_MAIN(TestRovive2Import)
#include "test_rovive2import.moc"
