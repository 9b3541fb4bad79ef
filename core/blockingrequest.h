#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <vector>

class QNetworkAccessManager;

// One HTTP request sent synchronously on the calling thread: the request is started, then
// the thread waits in a local QEventLoop until the reply has finished or the time-out has
// passed. While it waits, the thread's queued calls and posted events are delivered (a
// worker's wake-up slot runs during the wait). Usable from any thread that has an event
// dispatcher (the GUI thread, QThread workers); each call touches only its own objects and
// its thread's (the network manager a call without one of its own uses).
//
// The body of a reply with "Content-Encoding: gzip" or "deflate" is unpacked. Redirects
// are not followed unless the request asks for it; the target of an unfollowed one is in
// Result::redirectTarget. TLS certificates are always verified.
//
// The request is logged at debug level (lcNet): verb, URL without user info, header names
// with values (secret ones masked), body size; never the body.
class BlockingRequest
{
public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request
    {
        QByteArray verb = QByteArrayLiteral("GET");
        QUrl url;
        // Sent in order; a later header replaces an earlier one of the same name (case
        // does not matter); an empty value removes it. When no "Accept-Encoding" is given,
        // "gzip, deflate" is sent (and the body unpacked here).
        QList<Header> headers;
        QByteArray body;
        int timeoutMs = 15000;
        // Follow redirects to http(s) addresses that do not lower security (https to http
        // is refused): 303, and 301/302 after a POST, continue as GET without body; secret
        // headers (see maskedHeaders) are not sent to another host. The time-out covers
        // all hops together.
        bool followRedirects = false;
        int maxRedirects = 5;
        // The request carries a token, a password or developer keys (in its body or its
        // headers): it goes nowhere but to the origin (scheme, host and port) it was
        // addressed to. A redirect elsewhere is not followed but refused
        // (InsecureRedirectError, Result::redirectTarget names it).
        bool carriesSecrets = false;
        // Largest body accepted, packed as it arrives and unpacked; a larger one is not
        // read on (Result::tooLarge). 0: replyLimit().
        qint64 maxReplyBytes = 0;
        // Only https, or http to this machine (loopback), for the request and every
        // redirect it follows: for what the maker's server names. Another address is not
        // asked (ProtocolUnknownError for the request, InsecureRedirectError for a
        // redirect).
        bool tlsOrLoopbackOnly = false;
        // Names of further headers whose values must never be logged (on top of the
        // built-in ones: authorisation, cookies, the marketplace's developer-key and token
        // headers, and any name containing "token", "password", "secret" or "auth").
        QList<QByteArray> maskedHeaders;
        // A manager living in the calling thread; null: the calling thread's own, made on
        // its first call and kept until the thread ends (it keeps no cookies between calls).
        QNetworkAccessManager *manager = nullptr;
    };

    struct Result
    {
        // HTTP status code; 0 when no HTTP answer arrived.
        int httpStatus = 0;
        // Qt's error for the reply; HTTP error statuses (4xx, 5xx) map to Qt's content and
        // server errors. TimeoutError after a time-out, UnknownContentError when a packed
        // body could not be unpacked, ProtocolUnknownError for an unusable URL,
        // TooManyRedirectsError and InsecureRedirectError when following redirects (also
        // for a redirect away from a request that carries secrets), UnknownContentError
        // for a body over the limit (tooLarge).
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QString errorString;
        bool timedOut = false;
        // The body was larger than the request's limit; nothing of it is kept.
        bool tooLarge = false;
        // The reply headers as received.
        QList<Header> headers;
        // The body, unpacked; empty after a time-out.
        QByteArray body;
        // The URL that answered (the last one when redirects were followed).
        QUrl url;
        // The "Location" of a 3xx answer that was not followed, resolved against `url`.
        QUrl redirectTarget;

        // The value of reply header `name` (case does not matter); empty when missing.
        QByteArray header(const QByteArray &name) const;
        // A 2xx status, no error, no time-out.
        bool ok() const;
        // A 3xx status with a redirect target.
        bool isRedirect() const;
    };

    static Result send(const Request &request);

    // Shorthand for a request without manager and extra settings.
    static Result send(const QByteArray &verb, const QUrl &url, const QList<Header> &headers = {},
                       const QByteArray &body = QByteArray(), int timeoutMs = 15000);

    // The largest reply body read by default (256 MB, far beyond any real reply: the
    // largest, a site's whole category tree, is some tens of MB). Tests lower it;
    // 0 or less restores the default.
    static qint64 replyLimit();
    static void setReplyLimit(qint64 bytes);

    // Whether `a` and `b` are one origin: same scheme, host and port.
    static bool sameOrigin(const QUrl &a, const QUrl &b);

    // The fixed desktop-browser User-Agent the program sends (Firefox on Linux).
    static QByteArray browserUserAgent();

    // Whether a redirect from `from` to `to` may be followed: to http or https only, and
    // not from https down to http.
    static bool isAllowedRedirect(const QUrl &from, const QUrl &to);

    // An https address, or an http one on this machine (localhost or a loopback address).
    static bool isTlsOrLoopback(const QUrl &url);

    // The URL as it may be logged: without user name and password.
    static QString loggableUrl(const QUrl &url);
};

// The request of BlockingRequest without the wait: the calling thread goes on, and
// finished() says when the reply, with the redirects it follows, is complete, refused or out
// of time. The same limits, unpacking, redirect rules and logging apply; BlockingRequest::send
// waits for one of these. Lives in the thread that starts it; deleting it abandons the
// request.
class PendingRequest : public QObject
{
    Q_OBJECT
public:
    explicit PendingRequest(BlockingRequest::Request request, QObject *parent = nullptr);
    ~PendingRequest() override;

    // Sends the request. An address that can't be asked finishes before this returns.
    void start();
    bool isFinished() const { return m_finished; }
    // Gives the request up as out of time, as if its time-out had passed.
    void abandon();
    // Complete once finished() was sent.
    const BlockingRequest::Result &result() const { return m_result; }

signals:
    void finished();

private:
    struct Hop
    {
        QByteArray verb;
        QUrl url;
        QList<BlockingRequest::Header> headers;
        QByteArray body;
    };

    void startHop();
    // The body so far plus what waits to be read is over the limit.
    bool overLimit() const;
    void readBody();
    void hopFinished();
    // Ends the current hop early: out of time, or its body over the limit.
    void giveUp(bool timedOut);
    // Takes the current hop's answer: follows a redirect or finishes.
    void takeAnswer(BlockingRequest::Result result);
    void finish(BlockingRequest::Result result);

    BlockingRequest::Request m_request;
    Hop m_hop;
    qint64 m_maxBytes = 0;
    QNetworkAccessManager *m_manager = nullptr;
    // m_manager is the thread's, shared with other calls: this call keeps its cookies in
    // m_cookies, and drops credentials it gave the manager when it is over.
    bool m_threadManager = false;
    bool m_leavesCredentials = false;
    QNetworkCookieJar m_cookies;
    // Every hop's reply, the current one last; released with this object, never while one
    // of them is signalling.
    std::vector<std::unique_ptr<QNetworkReply>> m_replies;
    QByteArray m_body;
    bool m_tooLarge = false;
    int m_redirects = 0;
    QElapsedTimer m_hopClock;
    QTimer m_deadline;
    bool m_started = false;
    bool m_finished = false;
    BlockingRequest::Result m_result;
};
