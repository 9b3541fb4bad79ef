#include "core/blockingrequest.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QSslError>
#include <QStringList>
#include <QThread>
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

struct Hop
{
    QByteArray verb;
    QUrl url;
    QList<BlockingRequest::Header> headers;
    QByteArray body;
};

constexpr qint64 kDefaultReplyLimit = qint64(256) * 1024 * 1024;
std::atomic<qint64> g_replyLimit { kDefaultReplyLimit };

// Sends one request on `manager` and waits at most `timeoutMs` for it (no redirects). The
// body is taken as it arrives, and the request given up once it grows beyond `maxBytes`.
BlockingRequest::Result sendOnce(QNetworkAccessManager *manager, const Hop &hop, int timeoutMs,
                                 qint64 maxBytes, const QList<QByteArray> &masked)
{
    BlockingRequest::Result result;
    result.url = hop.url;
    const QString shownUrl = BlockingRequest::loggableUrl(hop.url);

    QNetworkRequest networkRequest(hop.url);
    for (const BlockingRequest::Header &header : hop.headers)
        networkRequest.setRawHeader(header.first, header.second);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                QNetworkRequest::ManualRedirectPolicy);

    qCDebug(lcNet).noquote() << "HTTP" << hop.verb << shownUrl << "|"
                             << describeHeaders(hop.headers, masked) << "| body" << hop.body.size()
                             << "bytes";

    QElapsedTimer clock;
    clock.start();
    // Before the reply: it may still signal while it goes.
    QEventLoop loop;
    QByteArray body;
    bool tooLarge = false;
    QNetworkReply *started = nullptr;
    if (hop.verb == "GET" && hop.body.isEmpty())
        started = manager->get(networkRequest);
    else if (hop.verb == "HEAD")
        started = manager->head(networkRequest);
    else if (hop.verb == "POST")
        started = manager->post(networkRequest, hop.body);
    else if (hop.verb == "PUT")
        started = manager->put(networkRequest, hop.body);
    else
        started = manager->sendCustomRequest(networkRequest, hop.verb, hop.body);
    std::unique_ptr<QNetworkReply> reply(started);

    QObject::connect(reply.get(), &QNetworkReply::sslErrors, reply.get(),
                     [shownUrl](const QList<QSslError> &errors) {
                         for (const QSslError &error : errors)
                             qCWarning(lcNet).noquote()
                                 << "TLS error for" << shownUrl << ":" << error.errorString();
                     });

    QNetworkReply *const current = reply.get();
    auto overLimit = [&body, &tooLarge, &loop, maxBytes, current]() {
        const qint64 announced = current->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (announced > maxBytes || body.size() + current->bytesAvailable() > maxBytes) {
            tooLarge = true;
            loop.quit();
            return true;
        }
        return false;
    };
    QObject::connect(current, &QNetworkReply::metaDataChanged, &loop, overLimit);
    QObject::connect(current, &QNetworkReply::readyRead, &loop, [&body, current, overLimit]() {
        if (!overLimit())
            body += current->readAll();
    });

    if (!reply->isFinished()) {
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(qMax(1, timeoutMs));
        loop.exec();
    }
    if (!tooLarge && !overLimit())
        body += reply->readAll();

    if (tooLarge) {
        reply->disconnect(&loop);
        reply->abort();
    } else if (!reply->isFinished()) {
        result.timedOut = true;
        // Aborting emits finished(); nothing listens to it any more.
        reply->abort();
    }

    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.headers = reply->rawHeaderPairs();
    if (tooLarge) {
        result.tooLarge = true;
        result.error = QNetworkReply::UnknownContentError;
        result.errorString = QStringLiteral("the reply is larger than %1 bytes").arg(maxBytes);
        qCDebug(lcNet).noquote() << "HTTP" << hop.verb << shownUrl
                                 << "-> given up:" << result.errorString;
        return result;
    }
    if (result.timedOut) {
        result.error = QNetworkReply::TimeoutError;
        result.errorString = QStringLiteral("no answer in time");
        qCDebug(lcNet).noquote() << "HTTP" << hop.verb << shownUrl << "-> time-out after"
                                 << clock.elapsed() << "ms";
        return result;
    }

    result.error = reply->error();
    result.errorString = result.error == QNetworkReply::NoError ? QString() : reply->errorString();
    result.body = std::move(body);

    const QByteArray location = result.header(QByteArrayLiteral("Location")).trimmed();
    if (result.httpStatus >= 300 && result.httpStatus <= 399 && !location.isEmpty())
        result.redirectTarget
            = hop.url.resolved(QUrl(QString::fromUtf8(location), QUrl::TolerantMode));

    const QByteArray encoding = result.header(QByteArrayLiteral("Content-Encoding"));
    if (!encoding.isEmpty() && !result.body.isEmpty()
        && !decodeBody(encoding, &result.body, int(qMin<qint64>(maxBytes, INT_MAX)))) {
        result.body.clear();
        if (result.error == QNetworkReply::NoError) {
            result.error = QNetworkReply::UnknownContentError;
            result.errorString = QStringLiteral("the body (Content-Encoding \"%1\") could not be "
                                                "unpacked")
                                     .arg(QString::fromLatin1(encoding));
        }
    }

    qCDebug(lcNet).noquote() << "HTTP" << hop.verb << shownUrl << "->" << result.httpStatus
                             << result.body.size() << "bytes," << clock.elapsed() << "ms"
                             << (result.error == QNetworkReply::NoError
                                     ? QString()
                                     : QStringLiteral("error: ") + result.errorString);
    return result;
}

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

BlockingRequest::Result BlockingRequest::send(const Request &request)
{
    Hop hop;
    hop.verb = request.verb.isEmpty() ? QByteArrayLiteral("GET") : request.verb.toUpper();
    hop.url = request.url;
    hop.headers = mergedHeaders(request.headers);
    hop.body = request.body;

    if (!request.url.isValid() || request.url.isRelative()
        || (isHttpUrl(request.url) && request.url.host().isEmpty())) {
        Result result;
        result.url = request.url;
        result.error = QNetworkReply::ProtocolUnknownError;
        result.errorString = QStringLiteral("unusable URL \"%1\"").arg(loggableUrl(request.url));
        qCDebug(lcNet).noquote() << "HTTP" << hop.verb << "not sent:" << result.errorString;
        return result;
    }

    // A manager of another thread must not be used here; fall back to our own.
    std::unique_ptr<QNetworkAccessManager> ownManager;
    QNetworkAccessManager *manager = request.manager;
    if (manager && manager->thread() != QThread::currentThread()) {
        qCWarning(lcNet) << "BlockingRequest: the given network manager lives in another thread;"
                            " using a manager of this call";
        manager = nullptr;
    }
    if (!manager) {
        ownManager = std::make_unique<QNetworkAccessManager>();
        manager = ownManager.get();
    }

    // One time-out for the request and all redirects it follows.
    QElapsedTimer clock;
    clock.start();
    const int timeoutMs = qMax(1, request.timeoutMs);
    const qint64 maxBytes = request.maxReplyBytes > 0 ? request.maxReplyBytes : replyLimit();
    for (int redirects = 0;; ++redirects) {
        const int left = qMax(1, timeoutMs - static_cast<int>(clock.elapsed()));
        Result result = sendOnce(manager, hop, left, maxBytes, request.maskedHeaders);
        if (result.timedOut)
            result.errorString = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
        if (!request.followRedirects || result.timedOut || !result.isRedirect())
            return result;

        // Redirects are followed here rather than by Qt, whose HTTP thread may send the
        // redirected request twice.
        const QUrl target = result.redirectTarget;
        if (redirects >= request.maxRedirects) {
            result.error = QNetworkReply::TooManyRedirectsError;
            result.errorString = QStringLiteral("more than %1 redirects").arg(request.maxRedirects);
            return result;
        }
        if (!isAllowedRedirect(hop.url, target)
            || (request.carriesSecrets && !sameOrigin(request.url, target))) {
            result.error = QNetworkReply::InsecureRedirectError;
            result.errorString
                = QStringLiteral("refused redirect to \"%1\"").arg(loggableUrl(target));
            return result;
        }
        // 303, and 301/302 after a POST, continue as GET without body (as browsers do).
        if (result.httpStatus == 303
            || ((result.httpStatus == 301 || result.httpStatus == 302) && hop.verb == "POST")) {
            if (hop.verb != "HEAD")
                hop.verb = QByteArrayLiteral("GET");
            hop.body.clear();
        }
        // Secrets go to the host they were meant for only.
        if (target.host().compare(hop.url.host(), Qt::CaseInsensitive) != 0
            || target.port() != hop.url.port()) {
            hop.headers.erase(std::remove_if(hop.headers.begin(), hop.headers.end(),
                                             [&request](const Header &header) {
                                                 return isSecretHeader(header.first,
                                                                       request.maskedHeaders);
                                             }),
                              hop.headers.end());
        }
        hop.url = target;
    }
}
