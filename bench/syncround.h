#pragma once

// The synchronisation round bench_sync and bench_syncwindow measure: one account with `known`
// listings stored before the round (their price, sales and watchers all changed since), and
// kNew new ones with kPictures pictures each, served page by page by a local fake marketplace.
#include "bench/benchlistings.h"
#include "benchcheck.h"
#include "core/database.h"
#include "tests/support/fakehttpserver.h"

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QSqlDatabase>
#include <atomic>

namespace Bench::SyncRound {

constexpr int kNew = 500;
constexpr int kPictures = 3;
constexpr int kPerPage = 50;

inline QString itemId(int n)
{
    return QString::number(110000000000LL + n);
}

// Listings 0..known-1 are known, the next kNew are new. In each later `round` one more of a
// listing is sold and it has one more watcher.
inline QString itemXml(int n, bool full, const QString &pictureBase, int round = 0)
{
    QString item
        = QStringLiteral("<Item><ItemID>%1</ItemID><Title>Armbanduhr Modell %2</Title>"
                         "<Quantity>5</Quantity><WatchCount>%3</WatchCount><ListingType>"
                         "FixedPriceItem</ListingType><Site>Germany</Site><Currency>EUR</Currency>"
                         "<ListingDetails><StartTime>2026-01-01T09:00:00.000Z</StartTime>"
                         "<EndTime>2026-12-20T09:00:00.000Z</EndTime></ListingDetails>"
                         "<SellingStatus><CurrentPrice currencyID=\"EUR\">24.5</CurrentPrice>"
                         "<QuantitySold>%4</QuantitySold><BidCount>0</BidCount><ListingStatus>"
                         "Active</ListingStatus></SellingStatus>")
              .arg(itemId(n))
              .arg(n)
              .arg(7 + round)
              .arg(2 + round);
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
inline void fillDatabase(Database &db, int known)
{
    mustWrite(db.insertSqlClean({ { "token", "TOKEN" }, { "accountname", "verkaeufer" } },
                                QStringLiteral("accounts"))
                  > 0,
              db);
    QSqlDatabase connection = db.connection();
    connection.transaction();
    for (int n = 0; n < known; ++n) {
        mustWrite(db.insertSqlClean({ { "ItemID", itemId(n) },
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
                                    QStringLiteral("articles"))
                      > 0,
                  db);
    }
    connection.commit();
}

// Makes `server` the marketplace of the round. A page is made when it is asked for (in the
// server's time, added to `serverNs`), so that the benchmark's own replies do not count into
// the client's memory; the full items are made beforehand; every picture is one JPEG. The
// pages show the listings as they are in `*round` (0 without it). `newCount` listings follow
// the known ones.
inline void serve(TestSupport::FakeHttpServer &server, int known, std::atomic<qint64> &serverNs,
                  const std::atomic<int> *round = nullptr, int newCount = kNew)
{
    using TestSupport::FakeReply;
    const QString base = server.url().toString();
    const int total = known + newCount;
    const int pageCount = (total + kPerPage - 1) / kPerPage;
    const auto pageFor = [total, pageCount, base, round](int page) {
        const int shown = round ? round->load() : 0;
        QString items;
        for (int n = (page - 1) * kPerPage; n < qMin(total, page * kPerPage); ++n)
            items += itemXml(n, false, base, shown);
        return reply(QStringLiteral("GetSellerList"),
                     QStringLiteral("<PaginationResult><TotalNumberOfPages>%1"
                                    "</TotalNumberOfPages></PaginationResult>"
                                    "<ItemArray>%2</ItemArray>")
                         .arg(pageCount)
                         .arg(items));
    };
    QHash<QString, QByteArray> fullItems;
    for (int n = known; n < total; ++n)
        fullItems.insert(itemId(n), reply(QStringLiteral("GetItem"), itemXml(n, true, base)));
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray picture;
    QBuffer buffer(&picture);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");

    const auto ok = [](const QString &call) {
        return FakeReply::ok(reply(call, QString()), "text/xml");
    };
    for (const char *call : { "GetUser", "GetUserPreferences", "GetMemberMessages" })
        server.setCallReply(QLatin1String(call), ok(QLatin1String(call)));
    serveListings(server, pageFor, fullItems, serverNs);
    server.setDefaultReply(FakeReply::ok(picture, "image/jpeg"));
}

} // namespace Bench::SyncRound
