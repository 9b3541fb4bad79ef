#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QUrl>

namespace TestSupport {

// One scripted answer of FakeHttpServer.
struct FakeReply
{
    int status = 200;
    QByteArray body;
    // Extra headers, sent after the server's own; a Content-Type given here replaces the
    // default "text/plain; charset=utf-8".
    QList<QPair<QByteArray, QByteArray>> headers;
    // Send the body gzip-packed with "Content-Encoding: gzip".
    bool gzip = false;
    // Wait this long before answering.
    int delayMs = 0;
    // Close the connection instead of answering (after the delay).
    bool drop = false;
    // Send no Content-Length: the body ends where the server closes the connection.
    bool unannounced = false;

    static FakeReply ok(const QByteArray &body,
                        const QByteArray &contentType
                        = QByteArrayLiteral("text/plain; charset=utf-8"));
    static FakeReply withStatus(int status, const QByteArray &body = QByteArray());
    // A redirect (301, 302, 303, 307 or 308) to `location` (absolute, or relative to the request).
    static FakeReply redirect(const QByteArray &location, int status = 302);
    static FakeReply dropped();

    FakeReply &header(const QByteArray &name, const QByteArray &value);
    FakeReply &gzipped();
    FakeReply &withoutLength();
    FakeReply &delayed(int milliseconds);
    // Held back longer than any test runs: the client's time-out is the only outcome, however
    // slow the machine (a short delay would race the time-out).
    FakeReply &neverInTime();
};

// One request as the server received it.
struct RecordedRequest
{
    QByteArray method;
    QString path; // percent-decoded, without the query
    QString query; // as sent (still percent-encoded), without "?"
    QMap<QByteArray, QByteArray> headers; // lower-case names; repeated headers joined by ", "
    QByteArray body;
    int connection = 0; // number of the connection it came on (1, 2, ... per server)

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    bool hasHeader(const QByteArray &name) const { return headers.contains(name.toLower()); }
    // The marketplace call name (X-EBAY-API-CALL-NAME), empty when absent.
    QString callName() const;
    // The value of query item `name` (percent-decoded), empty when absent.
    QString queryItem(const QString &name) const;
};

class FakeHttpServerThread;

// A small HTTP/1.1 server on 127.0.0.1 (a free port) for tests. It runs on a thread of its
// own, so it answers whether the client's thread runs an event loop, waits in a local one
// or blocks. Keep-alive connections and Content-Length bodies are supported.
//
// Answers are looked up by the X-EBAY-API-CALL-NAME header first (call routes), then by
// the path (path routes, exact match on the decoded path without query), else the default
// reply (404 by default). A route holds a queue of replies consumed in order; the last one
// repeats. A handler route computes the reply from the request instead (it runs on the
// server's thread).
//
// Like the marketplace, it lists an addition or relisting (AddItem, AddFixedPriceItem,
// RelistItem, RelistFixedPriceItem) with an Item.UUID only once: the first request whose
// reply succeeds with an ItemID binds the UUID to that ItemID when it arrives (also when its
// reply is held or dropped), and every later request with the same UUID is refused with
// error 488 "Duplicate UUID used", whose second parameter and long message name that ItemID.
class FakeHttpServer
{
public:
    using Handler = std::function<FakeReply(const RecordedRequest &)>;

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer &) = delete;
    FakeHttpServer &operator=(const FakeHttpServer &) = delete;

    bool isListening() const;
    quint16 port() const;
    // "http://127.0.0.1:<port>" followed by `path` (a "/" is put in front when missing; a
    // query may be part of it). Empty path: the base URL without a trailing "/".
    QUrl url(const QString &path = QString()) const;

    // Path routes: one reply (repeating), or a queue.
    void setReply(const QString &path, const FakeReply &reply);
    void setReplies(const QString &path, const QList<FakeReply> &replies);
    void setHandler(const QString &path, const Handler &handler);
    // Call routes, by the X-EBAY-API-CALL-NAME header.
    void setCallReply(const QString &callName, const FakeReply &reply);
    void setCallReplies(const QString &callName, const QList<FakeReply> &replies);
    void setCallHandler(const QString &callName, const Handler &handler);
    // The answer to an unmatched request (404 with an empty body unless set).
    void setDefaultReply(const FakeReply &reply);
    // Holds the answers to the call `callName`: its requests are recorded (and their replies
    // chosen) when they arrive, but answered only when releaseCall() is called.
    void holdCall(const QString &callName);
    void releaseCall(const QString &callName);
    // Removes every route and restores the default reply.
    void clearRoutes();

    QList<RecordedRequest> requests() const;
    // The newest request; an empty one when there is none.
    RecordedRequest lastRequest() const;
    int requestCount() const;
    void clearRequests();
    // Waits until at least `count` requests have arrived in all (since the last
    // clearRequests()), delivering the calling thread's events meanwhile. False on time-out.
    bool waitForRequests(int count, int timeoutMs = 5000) const;

    // Points every address of the configuration unit at this server (sets the ZERIRE_...
    // environment variables of the address keys: the default's path on this server, the
    // base URL for keys without default), and developer keys of test values where none are
    // set. The variables' previous state comes back when the server is destroyed.
    void pointConfigHere();

private:
    std::unique_ptr<FakeHttpServerThread> m_thread;
    QMap<QByteArray, QPair<bool, QByteArray>> m_savedEnvironment; // name -> (was set, value)
};

} // namespace TestSupport
