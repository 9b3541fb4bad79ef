#pragma once

// What the marketplace benchmarks share: the replies of the fake marketplace and the
// process's peak memory.
#include "tests/support/fakehttpserver.h"

#include <QElapsedTimer>
#include <QHash>
#include <QVector>
#include <atomic>
#include <functional>
#include <sys/resource.h>

namespace Bench {

// A successful Trading API reply of `call` with `payload` inside.
inline QByteArray reply(const QString &call, const QString &payload)
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?><%1Response "
               "xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Ack>Success</Ack>%2</%1Response>")
        .arg(call, payload)
        .toUtf8();
}

inline long peakKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The text of the first `element` of a request body.
inline QByteArray elementText(const QByteArray &body, const QByteArray &element)
{
    const QByteArray open = '<' + element + '>';
    const int at = body.indexOf(open) + open.size();
    return body.mid(at, body.indexOf('<', at) - at);
}

// GetSellerList answers with the page a request asks for, GetItem with the item it names;
// the time the server spends finding the answers is added to `serverNs`, so that it can be
// taken out of the client's figures.
// `pageFor` makes the reply of a page (counted from 1) when it is asked for.
inline void serveListings(TestSupport::FakeHttpServer &server,
                          const std::function<QByteArray(int)> &pageFor,
                          const QHash<QString, QByteArray> &items, std::atomic<qint64> &serverNs)
{
    using TestSupport::FakeReply;
    using TestSupport::RecordedRequest;
    server.setCallHandler(QStringLiteral("GetSellerList"),
                          [pageFor, &serverNs](const RecordedRequest &request) {
                              QElapsedTimer t;
                              t.start();
                              const int page = elementText(request.body, "PageNumber").toInt();
                              FakeReply answer = FakeReply::ok(pageFor(page), "text/xml");
                              serverNs += t.nsecsElapsed();
                              return answer;
                          });
    // The items are kept by the handler (a shared copy), the page maker too.
    server.setCallHandler(
        QStringLiteral("GetItem"), [items, &serverNs](const RecordedRequest &request) {
            QElapsedTimer t;
            t.start();
            const QString id = QString::fromLatin1(elementText(request.body, "ItemID"));
            FakeReply answer = FakeReply::ok(items.value(id), "text/xml");
            serverNs += t.nsecsElapsed();
            return answer;
        });
}

inline void serveListings(TestSupport::FakeHttpServer &server, const QVector<QByteArray> &pages,
                          const QHash<QString, QByteArray> &items, std::atomic<qint64> &serverNs)
{
    serveListings(
        server, [&pages](int page) { return pages.value(page - 1); }, items, serverNs);
}

} // namespace Bench
