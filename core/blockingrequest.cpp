#include "core/blockingrequest.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSslError>
#include <QStringList>
#include <QThread>
#include <QThreadStorage>
#include <QTimer>

#include "core/gzip.h"
#include "core/logging.h"

namespace {

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Headers in sending order; a later one replaces an earlier one of the same name, an empty
// value removes it. Accept-Encoding defaults to what the program can unpack itself.
QList<BlockingRequest::Header> mergedHeaders(const QList<BlockingRequest::Header> &given)
{
    QList<BlockingRequest::Header> merged;
    merged.append({ QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("gzip, deflate") });
    for (const BlockingRequest::Header &header : given) {
        const QByteArray name = header.first.trimmed();
        if (name.isEmpty())
            continue;
        merged.erase(std::remove_if(merged.begin(), merged.end(),
                                    [&name](const BlockingRequest::Header &h) {
                                        return sameName(h.first, name);
                                    }),
                     merged.end());
        if (!header.second.isEmpty())
            merged.append({ name, header.second });
    }
    return merged;
}

bool isSecretHeader(const QByteArray &name, const QList<QByteArray> &extra)
{
    static const char *const kNames[] = { "cookie",
                                          "set-cookie",
                                          "x-ebay-api-dev-name",
                                          "x-ebay-api-app-name",
                                          "x-ebay-api-cert-name",
                                          "x-ebay-api-iaf-token" };
    static const char *const kFragments[] = { "token", "password", "passwd", "secret", "auth" };
    const QByteArray lower = name.toLower();
    for (const char *secret : kNames) {
        if (lower == secret)
            return true;
    }
    for (const char *fragment : kFragments) {
        if (lower.contains(fragment))
            return true;
    }
    for (const QByteArray &other : extra) {
        if (sameName(other, name))
            return true;
    }
    return false;
}

QString describeHeaders(const QList<BlockingRequest::Header> &headers,
                        const QList<QByteArray> &masked)
{
    QStringList parts;
    for (const BlockingRequest::Header &header : headers) {
        const QByteArray value
            = isSecretHeader(header.first, masked) ? QByteArrayLiteral("***") : header.second;
        parts.append(QString::fromLatin1(header.first) + QStringLiteral(": ")
                     + QString::fromUtf8(value));
    }
    return parts.join(QStringLiteral("; "));
}

bool isHttpUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Unpacks the body according to Content-Encoding (codings are undone last first). An
// unknown coding leaves the body as it is. False when a packed body is corrupt or unpacks
// to more than `maxBytes`.
bool decodeBody(const QByteArray &contentEncoding, QByteArray *body, int maxBytes)
{
    const QList<QByteArray> codings = contentEncoding.toLower().split(',');
    for (int i = codings.size() - 1; i >= 0; --i) {
        const QByteArray coding = codings.at(i).trimmed();
        if (coding.isEmpty() || coding == "identity")
            continue;
        if (coding != "gzip" && coding != "x-gzip" && coding != "deflate")
            return true;
        bool ok = false;
        *body = Gzip::inflate(*body, &ok, maxBytes);
        if (!ok)
            return false;
    }
    return true;
}

// Keeps no cookie: the thread's manager serves calls of every kind and every account, and
// what one server set must not go out with another call. A call keeps its own (see
// PendingRequest::m_cookies), as a manager of its own would.
class NoCookies : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// One manager per thread for the requests that bring none: its connections stay open for
// the thread's next call, and it is made once instead of once per call (with the HTTP
// thread Qt starts for each). It belongs to the thread and is deleted in it when the
// thread ends (for the main thread: when the application object goes).
QThreadStorage<QNetworkAccessManager *> g_threadManagers;

QNetworkAccessManager *threadManager()
{
    if (!g_threadManagers.hasLocalData()) {
        auto *manager = new QNetworkAccessManager;
        manager->setCookieJar(new NoCookies(manager));
        g_threadManagers.setLocalData(manager);
    }
    return g_threadManagers.localData();
}

constexpr qint64 kDefaultReplyLimit = qint64(256) * 1024 * 1024;
std::atomic<qint64> g_replyLimit { kDefaultReplyLimit };

} // namespace

QByteArray BlockingRequest::Result::header(const QByteArray &name) const
{
    for (const Header &h : headers) {
        if (sameName(h.first, name))
            return h.second;
    }
    return QByteArray();
}

bool BlockingRequest::Result::ok() const
{
    return !timedOut && error == QNetworkReply::NoError && httpStatus >= 200 && httpStatus <= 299;
}

bool BlockingRequest::Result::isRedirect() const
{
    return httpStatus >= 300 && httpStatus <= 399 && redirectTarget.isValid();
}

QByteArray BlockingRequest::browserUserAgent()
{
    return QByteArrayLiteral(
        "Mozilla/5.0 (X11; Linux x86_64; rv:140.0) Gecko/20100101 Firefox/140.0");
}

QString BlockingRequest::loggableUrl(const QUrl &url)
{
    return url.toString(QUrl::RemoveUserInfo);
}

BlockingRequest::Result BlockingRequest::send(const QByteArray &verb, const QUrl &url,
                                              const QList<Header> &headers, const QByteArray &body,
                                              int timeoutMs)
{
    Request request;
    request.verb = verb;
    request.url = url;
    request.headers = headers;
    request.body = body;
    request.timeoutMs = timeoutMs;
    return send(request);
}

qint64 BlockingRequest::replyLimit()
{
    return g_replyLimit.load();
}

void BlockingRequest::setReplyLimit(qint64 bytes)
{
    g_replyLimit.store(bytes > 0 ? bytes : kDefaultReplyLimit);
}

bool BlockingRequest::sameOrigin(const QUrl &a, const QUrl &b)
{
    const QString scheme = a.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443
        : scheme == QLatin1String("http")                    ? 80
                                                             : -1;
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
        && a.port(defaultPort) == b.port(defaultPort);
}

bool BlockingRequest::isAllowedRedirect(const QUrl &from, const QUrl &to)
{
    if (!to.isValid() || !isHttpUrl(to) || to.host().isEmpty())
        return false;
    const bool fromHttps = from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const bool toHttps = to.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    return toHttps || !fromHttps;
}

bool BlockingRequest::isTlsOrLoopback(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

BlockingRequest::Result BlockingRequest::send(const Request &request)
{
    PendingRequest pending(request);
    QEventLoop loop;
    QObject::connect(&pending, &PendingRequest::finished, &loop, &QEventLoop::quit);
    pending.start();
    if (!pending.isFinished())
        loop.exec();
    // The loop ends early when the thread is asked to quit: given up as out of time.
    if (!pending.isFinished())
        pending.abandon();
    return pending.result();
}

// --- PendingRequest ---------------------------------------------------------------------

PendingRequest::PendingRequest(BlockingRequest::Request request, QObject *parent)
    : QObject(parent)
    , m_request(std::move(request))
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { giveUp(true); });
}

PendingRequest::~PendingRequest()
{
    if (!m_replies.empty() && !m_replies.back()->isFinished()) {
        m_replies.back()->disconnect(this);
        m_replies.back()->abort();
    }
    // The replies go before the manager that made them.
    m_replies.clear();
}

void PendingRequest::start()
{
    if (m_started)
        return;
    m_started = true;
    m_hop.verb = m_request.verb.isEmpty() ? QByteArrayLiteral("GET") : m_request.verb.toUpper();
    m_hop.url = m_request.url;
    m_hop.headers = mergedHeaders(m_request.headers);
    m_hop.body = m_request.body;

    const QUrl &url = m_request.url;
    if (!url.isValid() || url.isRelative() || (isHttpUrl(url) && url.host().isEmpty())
        || (m_request.tlsOrLoopbackOnly && !BlockingRequest::isTlsOrLoopback(url))) {
        BlockingRequest::Result result;
        result.url = url;
        result.error = QNetworkReply::ProtocolUnknownError;
        result.errorString = m_request.tlsOrLoopbackOnly && url.isValid()
            ? QStringLiteral("refused \"%1\": neither https nor on this machine")
                  .arg(BlockingRequest::loggableUrl(url))
            : QStringLiteral("unusable URL \"%1\"").arg(BlockingRequest::loggableUrl(url));
        qCDebug(lcNet).noquote() << "HTTP" << m_hop.verb << "not sent:" << result.errorString;
        finish(result);
        return;
    }

    // A manager of another thread must not be used here; fall back to the thread's.
    m_manager = m_request.manager;
    if (m_manager && m_manager->thread() != QThread::currentThread()) {
        qCWarning(lcNet) << "BlockingRequest: the given network manager lives in another thread;"
                            " using the manager of this thread";
        m_manager = nullptr;
    }
    if (!m_manager) {
        m_manager = threadManager();
        m_threadManager = true;
    }
    m_maxBytes
        = m_request.maxReplyBytes > 0 ? m_request.maxReplyBytes : BlockingRequest::replyLimit();
    // One time-out for the request and all redirects it follows.
    m_deadline.start(qMax(1, m_request.timeoutMs));
    startHop();
}

void PendingRequest::startHop()
{
    QNetworkRequest networkRequest(m_hop.url);
    for (const BlockingRequest::Header &header : qAsConst(m_hop.headers))
        networkRequest.setRawHeader(header.first, header.second);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::ManualRedirectPolicy);
    if (m_threadManager) {
        // The call's own cookies, as a manager's jar would add them.
        const QList<QNetworkCookie> cookies = m_cookies.cookiesForUrl(m_hop.url);
        if (!cookies.isEmpty())
            networkRequest.setHeader(QNetworkRequest::CookieHeader, QVariant::fromValue(cookies));
        // Credentials in an address are kept by the manager for its host: dropped again when
        // the call is over (finish()).
        m_leavesCredentials = m_leavesCredentials || !m_hop.url.userInfo().isEmpty();
        // Without TLS, Qt writes a request's head and its body to the socket one after the
        // other: on a connection kept from an earlier call the body then waits for the
        // server's delayed acknowledgement of the head (some 40 ms a call). Such a request
        // ends its connection, so the next one starts on a fresh one as each call did
        // before; over TLS both go out together and connections are kept.
        if (!m_hop.body.isEmpty()
            && m_hop.url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
            && !networkRequest.hasRawHeader(QByteArrayLiteral("Connection")))
            networkRequest.setRawHeader(QByteArrayLiteral("Connection"), QByteArrayLiteral("close"));
    }

    qCDebug(lcNet).noquote() << "HTTP" << m_hop.verb << BlockingRequest::loggableUrl(m_hop.url)
                             << "|" << describeHeaders(m_hop.headers, m_request.maskedHeaders)
                             << "| body" << m_hop.body.size() << "bytes";

    m_hopClock.start();
    m_body.clear();
    m_tooLarge = false;
    QNetworkReply *reply = nullptr;
    if (m_hop.verb == "GET" && m_hop.body.isEmpty())
        reply = m_manager->get(networkRequest);
    else if (m_hop.verb == "HEAD")
        reply = m_manager->head(networkRequest);
    else if (m_hop.verb == "POST")
        reply = m_manager->post(networkRequest, m_hop.body);
    else if (m_hop.verb == "PUT")
        reply = m_manager->put(networkRequest, m_hop.body);
    else
        reply = m_manager->sendCustomRequest(networkRequest, m_hop.verb, m_hop.body);
    m_replies.emplace_back(reply);

    const QString shownUrl = BlockingRequest::loggableUrl(m_hop.url);
    connect(reply, &QNetworkReply::sslErrors, reply, [shownUrl](const QList<QSslError> &errors) {
        for (const QSslError &error : errors)
            qCWarning(lcNet).noquote() << "TLS error for" << shownUrl << ":" << error.errorString();
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, &PendingRequest::readBody);
    connect(reply, &QNetworkReply::readyRead, this, &PendingRequest::readBody);
    connect(reply, &QNetworkReply::finished, this, &PendingRequest::hopFinished);
    // Finished before anyone listened: taken up once the caller's loop runs.
    if (reply->isFinished())
        QMetaObject::invokeMethod(this, &PendingRequest::hopFinished, Qt::QueuedConnection);
}

bool PendingRequest::overLimit() const
{
    QNetworkReply *reply = m_replies.back().get();
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    return announced > m_maxBytes || m_body.size() + reply->bytesAvailable() > m_maxBytes;
}

void PendingRequest::readBody()
{
    if (m_finished || m_tooLarge)
        return;
    if (overLimit()) {
        // Not read on; the reply is let go once its signal is over.
        m_tooLarge = true;
        m_replies.back()->disconnect(this);
        QMetaObject::invokeMethod(
            this, [this] { giveUp(false); }, Qt::QueuedConnection);
        return;
    }
    m_body += m_replies.back()->readAll();
}

void PendingRequest::abandon()
{
    if (m_started)
        giveUp(true);
}

void PendingRequest::giveUp(bool timedOut)
{
    if (m_finished)
        return;
    QNetworkReply *reply = m_replies.back().get();
    const QString shownUrl = BlockingRequest::loggableUrl(m_hop.url);
    reply->disconnect(this);
    // Aborting emits finished(); nothing listens to it any more.
    reply->abort();
    BlockingRequest::Result result;
    result.url = m_hop.url;
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.headers = reply->rawHeaderPairs();
    if (timedOut) {
        result.timedOut = true;
        result.error = QNetworkReply::TimeoutError;
        result.errorString = QStringLiteral("no answer within %1 ms").arg(m_request.timeoutMs);
        qCDebug(lcNet).noquote() << "HTTP" << m_hop.verb << shownUrl << "-> time-out after"
                                 << m_hopClock.elapsed() << "ms";
    } else {
        result.tooLarge = true;
        result.error = QNetworkReply::UnknownContentError;
        result.errorString = QStringLiteral("the reply is larger than %1 bytes").arg(m_maxBytes);
        qCDebug(lcNet).noquote() << "HTTP" << m_hop.verb << shownUrl
                                 << "-> given up:" << result.errorString;
    }
    m_body.clear();
    finish(result);
}

void PendingRequest::hopFinished()
{
    if (m_finished || m_tooLarge)
        return;
    QNetworkReply *reply = m_replies.back().get();
    if (overLimit()) {
        m_tooLarge = true;
        reply->disconnect(this);
        giveUp(false);
        return;
    }
    m_body += reply->readAll();

    BlockingRequest::Result result;
    result.url = m_hop.url;
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.headers = reply->rawHeaderPairs();
    result.error = reply->error();
    result.errorString = result.error == QNetworkReply::NoError ? QString() : reply->errorString();
    if (m_threadManager)
        m_cookies.setCookiesFromUrl(
            reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>(),
            m_hop.url);
    result.body = std::move(m_body);
    m_body = QByteArray();

    const QByteArray location = result.header(QByteArrayLiteral("Location")).trimmed();
    if (result.httpStatus >= 300 && result.httpStatus <= 399 && !location.isEmpty())
        result.redirectTarget
            = m_hop.url.resolved(QUrl(QString::fromUtf8(location), QUrl::TolerantMode));

    const QByteArray encoding = result.header(QByteArrayLiteral("Content-Encoding"));
    if (!encoding.isEmpty() && !result.body.isEmpty()
        && !decodeBody(encoding, &result.body, int(qMin<qint64>(m_maxBytes, INT_MAX)))) {
        result.body.clear();
        if (result.error == QNetworkReply::NoError) {
            result.error = QNetworkReply::UnknownContentError;
            result.errorString = QStringLiteral("the body (Content-Encoding \"%1\") could not be "
                                                "unpacked")
                                     .arg(QString::fromLatin1(encoding));
        }
    }

    qCDebug(lcNet).noquote() << "HTTP" << m_hop.verb << BlockingRequest::loggableUrl(m_hop.url)
                             << "->" << result.httpStatus << result.body.size() << "bytes,"
                             << m_hopClock.elapsed() << "ms"
                             << (result.error == QNetworkReply::NoError
                                     ? QString()
                                     : QStringLiteral("error: ") + result.errorString);
    takeAnswer(std::move(result));
}

void PendingRequest::takeAnswer(BlockingRequest::Result result)
{
    if (!m_request.followRedirects || !result.isRedirect()) {
        finish(std::move(result));
        return;
    }
    // Redirects are followed here rather than by Qt, whose HTTP thread may send the
    // redirected request twice.
    const QUrl target = result.redirectTarget;
    if (m_redirects >= m_request.maxRedirects) {
        result.error = QNetworkReply::TooManyRedirectsError;
        result.errorString = QStringLiteral("more than %1 redirects").arg(m_request.maxRedirects);
        finish(std::move(result));
        return;
    }
    if (!BlockingRequest::isAllowedRedirect(m_hop.url, target)
        || (m_request.carriesSecrets && !BlockingRequest::sameOrigin(m_request.url, target))
        || (m_request.tlsOrLoopbackOnly && !BlockingRequest::isTlsOrLoopback(target))) {
        result.error = QNetworkReply::InsecureRedirectError;
        result.errorString = QStringLiteral("refused redirect to \"%1\"")
                                 .arg(BlockingRequest::loggableUrl(target));
        finish(std::move(result));
        return;
    }
    ++m_redirects;
    // 303, and 301/302 after a POST, continue as GET without body (as browsers do).
    if (result.httpStatus == 303
        || ((result.httpStatus == 301 || result.httpStatus == 302) && m_hop.verb == "POST")) {
        if (m_hop.verb != "HEAD")
            m_hop.verb = QByteArrayLiteral("GET");
        m_hop.body.clear();
    }
    // Secrets go to the host they were meant for only.
    if (target.host().compare(m_hop.url.host(), Qt::CaseInsensitive) != 0
        || target.port() != m_hop.url.port()) {
        const QList<QByteArray> &masked = m_request.maskedHeaders;
        m_hop.headers.erase(std::remove_if(m_hop.headers.begin(), m_hop.headers.end(),
                                           [&masked](const BlockingRequest::Header &header) {
                                               return isSecretHeader(header.first, masked);
                                           }),
                            m_hop.headers.end());
    }
    m_hop.url = target;
    startHop();
}

void PendingRequest::finish(BlockingRequest::Result result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    if (m_leavesCredentials) {
        m_manager->clearAccessCache();
    } else if (m_threadManager && result.error == QNetworkReply::SslHandshakeFailedError) {
        // A connection keeps the TLS settings it was made with; the next call may bring
        // others (certificates trusted meanwhile), as a manager of its own would.
        m_manager->clearConnectionCache();
    }
    m_result = std::move(result);
    emit finished();
}
