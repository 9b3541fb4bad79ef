// Measures one synchronisation round for one account: 50,000 known listings (or the number
// given as the first argument) whose price, sales and watchers all changed, and 500 new ones
// with 3 pictures each, all served by a local fake marketplace. Prints the round's time (the
// fake server's own time, which includes writing the pages, taken out), the share of the
// database work (the same statements run alone on a database in the same state), and the
// peak memory before and after the round. Goal: under 60 s and under 150 MB.
#include "bench/benchlistings.h"
#include "core/database.h"
#include "marketplace/articlemodel.h"
#include "marketplace/itemmapping.h"
#include "marketplace/xmlnode.h"
#include "tests/support/fakehttpserver.h"
#include "workers/ebay.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>

using Bench::peakKilobytes;
using Bench::reply;
using TestSupport::RecordedRequest;
using TestSupport::FakeHttpServer;
using TestSupport::FakeReply;

namespace {

int kKnown = 50000;
constexpr int kNew = 500;
constexpr int kPictures = 3;
constexpr int kPerPage = 50;
const QString kFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QString itemId(int n)
{
    return QString::number(110000000000LL + n);
}

// Listings 0..kKnown-1 are known, the next kNew are new.
QString itemXml(int n, bool full, const QString &pictureBase)
{
    QString item
        = QStringLiteral("<Item><ItemID>%1</ItemID><Title>Armbanduhr Modell %2</Title>"
                         "<Quantity>5</Quantity><WatchCount>7</WatchCount><ListingType>"
                         "FixedPriceItem</ListingType><Site>Germany</Site><Currency>EUR</Currency>"
                         "<ListingDetails><StartTime>2026-01-01T09:00:00.000Z</StartTime>"
                         "<EndTime>2026-12-20T09:00:00.000Z</EndTime></ListingDetails>"
                         "<SellingStatus><CurrentPrice currencyID=\"EUR\">24.5</CurrentPrice>"
                         "<QuantitySold>2</QuantitySold><BidCount>0</BidCount><ListingStatus>"
                         "Active</ListingStatus></SellingStatus>")
              .arg(itemId(n))
              .arg(n);
    if (full) {
        item += QStringLiteral("<Description><![CDATA[%1]]></Description><PrimaryCategory>"
                               "<CategoryID>31387</CategoryID></PrimaryCategory><PictureDetails>")
                    .arg(QStringLiteral("<p>Eine ausführliche Beschreibung.</p>").repeated(40));
        for (int p = 0; p < kPictures; ++p)
            item += QStringLiteral("<PictureURL>%1/pics/%2_%3/$_12.JPG</PictureURL>")
                        .arg(pictureBase)
                        .arg(n)
                        .arg(p);
        item += QStringLiteral("</PictureDetails>");
    }
    return item + QStringLiteral("</Item>");
}

// The account and its known listings, as they were before the round.
void fillDatabase(Database &db)
{
    db.insertSqlClean({ { "token", "TOKEN" }, { "accountname", "verkaeufer" } },
                      QStringLiteral("accounts"));
    QSqlDatabase connection = db.connection();
    connection.transaction();
    for (int n = 0; n < kKnown; ++n) {
        db.insertSqlClean({ { "ItemID", itemId(n) },
                            { "Account", 1 },
                            { "Folder", -9 },
                            { "Title", QStringLiteral("Armbanduhr Modell %1").arg(n) },
                            { "ListingType", "FixedPriceItem" },
                            { "Currency", "EUR" },
                            { "CurrentPrice", 20.0 },
                            { "Quantity", 5 },
                            { "SoldCount", 1 },
                            { "WatchCount", 2 },
                            { "StartDate", "2026-01-01 10:00:00" } },
                          QStringLiteral("articles"));
    }
    connection.commit();
}

void addNews(Database &db, QMap<QString, QVariant> entry)
{
    entry.insert(QStringLiteral("indate"), QDateTime::currentDateTime().toString(kFormat));
    const int id = db.insertSqlClean(entry, QStringLiteral("itemshistory"));
    db.selectNews(QStringLiteral("id=") + QString::number(id));
}

// The statements of the round, in the same order and on the same kind of connection,
// without the marketplace, the pictures and the thumbnails.
qint64 replayStatements(Database &db, const QList<ArticleModel *> &fresh)
{
    const QString stamp = QDateTime::currentDateTime().toString(kFormat);
    QElapsedTimer timer;
    timer.start();
    db.select(QStringLiteral("SELECT * FROM accounts"));
    db.executeSQL(QStringLiteral("UPDATE accounts SET apiresult='<Ack>Success</Ack>' WHERE id=1"));
    db.getOption(QStringLiteral("read_account_1"), QString());
    db.select(QStringLiteral("SELECT ItemID FROM articles WHERE ItemID <> '' AND Account = 1"));
    const int pages = (kKnown + kNew + kPerPage - 1) / kPerPage;
    for (int page = 0; page < pages; ++page) {
        for (const char *name :
             { "NotiNewSale", "NotiNewMessage", "NotiNewWatcher", "NotiNewBids" })
            db.getOption(QString::fromLatin1(name), QStringLiteral("1"));
    }
    for (int n = 0; n < kKnown; ++n) {
        const auto rows = db.select(
            QStringLiteral("SELECT ListingType, CurrentPrice, Title, BidCount, Quantity, "
                           "QuestionCount, WatchCount, SoldCount, id, Folder, Trash, Currency "
                           "FROM articles WHERE ItemID = '%1' AND Account=1")
                .arg(itemId(n)));
        const QString id = rows.first().value(QStringLiteral("id")).toString();
        db.executeSQL(QStringLiteral("UPDATE articles SET CurrentPrice='24.50', Folder=-9, "
                                     "Quantity='5', QuestionCount='0', BidCount='0', "
                                     "SoldCount='2', WatchCount='7', RefreshHash='%1' WHERE id=%2")
                          .arg(stamp, id));
        const QString title = rows.first().value(QStringLiteral("Title")).toString();
        addNews(db,
                { { "title", title + "|||2" },
                  { "itemid", itemId(n) },
                  { "databaseid", id },
                  { "textinfo", "hat einen neuen Verkauf" },
                  { "infotype", "sellcount" } });
        addNews(db,
                { { "title", title + "|||7" },
                  { "itemid", itemId(n) },
                  { "databaseid", id },
                  { "textinfo", "hat 5 neue Beobachter" },
                  { "infotype", "watcher" } });
    }
    for (ArticleModel *record : fresh) {
        db.select(QStringLiteral("SELECT id FROM articles WHERE ItemID = '%1' AND Account=1")
                      .arg(record->ItemID));
        const int id = record->saveToDatabase(&db, 0);
        db.executeSQL(QStringLiteral("UPDATE articles SET ImageThumb='thumb_%1_0.jpg', "
                                     "RefreshHash='%2' WHERE id = %3")
                          .arg(record->ItemID, stamp)
                          .arg(id));
        addNews(db,
                { { "title", record->Title },
                  { "itemid", record->ItemID },
                  { "databaseid", id },
                  { "textinfo", "wurde neu eingelesen" },
                  { "infotype", "newarticle" } });
    }
    db.setOption(QStringLiteral("read_account_1"), stamp);
    const QString untouched = QStringLiteral(" AND RefreshHash NOT LIKE '%1' AND Trash=0 AND "
                                             "(StartDate IS NULL OR StartDate < '%1') AND "
                                             "Account=1")
                                  .arg(stamp);
    db.executeSQL(
        QStringLiteral("UPDATE articles SET Folder=-8 WHERE SoldCount<Quantity AND Folder=-9")
        + untouched);
    db.executeSQL(QStringLiteral("UPDATE articles SET Folder=-7 WHERE SoldCount=Quantity AND "
                                 "(Folder=-9 OR Folder=-8)")
                  + untouched);
    db.select(QStringLiteral("SELECT id FROM folders"));
    db.select(
        QStringLiteral("SELECT Folder,count(id) AS M FROM articles WHERE Trash=0 GROUP BY Folder"));
    return timer.nsecsElapsed();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]).toInt() > 0)
        kKnown = QByteArray(argv[1]).toInt();
    QLoggingCategory::setFilterRules(QStringLiteral("app.*.debug=false"));
    QTemporaryDir dir;
    auto db = std::make_unique<Database>(dir.path() + QStringLiteral("/data/"));
    fillDatabase(*db);

    FakeHttpServer server;
    server.pointConfigHere();
    const QString base = server.url().toString();

    // A page is made when it is asked for (in the server's time), so that the benchmark's
    // own replies do not count into the peak memory; the full items are made beforehand.
    const int total = kKnown + kNew;
    const int pageCount = (total + kPerPage - 1) / kPerPage;
    const auto pageFor = [total, pageCount, base](int page) {
        QString items;
        for (int n = (page - 1) * kPerPage; n < qMin(total, page * kPerPage); ++n)
            items += itemXml(n, false, base);
        return reply(QStringLiteral("GetSellerList"),
                     QStringLiteral("<PaginationResult><TotalNumberOfPages>%1"
                                    "</TotalNumberOfPages></PaginationResult>"
                                    "<ItemArray>%2</ItemArray>")
                         .arg(pageCount)
                         .arg(items));
    };
    QHash<QString, QByteArray> fullItems;
    QList<ArticleModel *> fresh; // the new listings as read, for the replay
    for (int n = kKnown; n < total; ++n) {
        const QByteArray body = reply(QStringLiteral("GetItem"), itemXml(n, true, base));
        fullItems.insert(itemId(n), body);
        auto *record = new ArticleModel;
        ItemMapping::readItem(XmlNode::parse(body).child(QStringLiteral("Item")), *record);
        record->Account = 1;
        for (int p = 0; p < record->PictureURLs.size(); ++p)
            record->PictureURLs[p] = QStringLiteral("%1_%2.jpg").arg(record->ItemID).arg(p);
        fresh.append(record);
    }
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray picture;
    QBuffer buffer(&picture);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");

    std::atomic<qint64> serverNs { 0 };
    std::atomic<int> pictureRequests { 0 };
    const auto ok = [](const QString &call) {
        return FakeReply::ok(reply(call, QString()), "text/xml");
    };
    server.setCallReply(QStringLiteral("GetUser"), ok(QStringLiteral("GetUser")));
    server.setCallReply(QStringLiteral("GetUserPreferences"),
                        ok(QStringLiteral("GetUserPreferences")));
    server.setCallReply(QStringLiteral("GetMemberMessages"),
                        ok(QStringLiteral("GetMemberMessages")));
    Bench::serveListings(server, pageFor, fullItems, serverNs);
    server.setDefaultReply(FakeReply::ok(picture, "image/jpeg"));

    Ebay ebay;
    int newsItems = 0;
    QObject::connect(&ebay, &Ebay::sendaddNewsItem, [&](const NewsItem &) { ++newsItems; });
    const long before = peakKilobytes();
    QElapsedTimer timer;
    timer.start();
    ebay.runRound();
    const qint64 roundNs = timer.nsecsElapsed() - serverNs.load();
    for (const RecordedRequest &request : server.requests())
        pictureRequests += request.path.startsWith(QLatin1String("/pics/")) ? 1 : 0;

    const int articles = db->selectOne(QStringLiteral("SELECT count(*) FROM articles")).toInt();
    const int changed = db->selectOne(QStringLiteral("SELECT count(*) FROM articles WHERE "
                                                     "SoldCount=2 AND WatchCount=7 AND "
                                                     "CurrentPrice>24.4"))
                            .toInt();
    if (articles != total || changed != total || pictureRequests != kNew * kPictures) {
        std::fprintf(stderr, "round incomplete: %d articles, %d changed, %d pictures\n", articles,
                     changed, pictureRequests.load());
        return 1;
    }
    const long peak = peakKilobytes();

    // The same statements alone, on a second database in the state before the round.
    db.reset();
    QTemporaryDir replayDir;
    Database replay(replayDir.path() + QStringLiteral("/data/"));
    fillDatabase(replay);
    const qint64 databaseNs = replayStatements(replay, fresh);
    qDeleteAll(fresh);

    std::printf("one round: %d known listings changed, %d new with %d pictures each\n", kKnown,
                kNew, kPictures);
    std::printf("%d pages, %d item reads, %d picture downloads, %d activity entries\n", pageCount,
                kNew, pictureRequests.load(), newsItems);
    std::printf("round time without the fake server: %.2f s (server's own time %.3f s)\n",
                roundNs / 1e9, serverNs.load() / 1e9);
    std::printf("database statements alone: %.2f s, %.1f %% of the round\n", databaseNs / 1e9,
                100.0 * databaseNs / roundNs);
    std::printf("peak memory before the round: %.1f MB, after it: %.1f MB\n", before / 1024.0,
                peak / 1024.0);
    return 0;
}
