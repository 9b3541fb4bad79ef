// The HTTP helpers of Statics: HttpGet, DownloadURL and their time-out.
#include "core/statics.h"

#include <atomic>

#include <QCoreApplication>
#include <QFile>
#include <QUrl>

#include "core/blockingrequest.h"
#include "core/logging.h"
#include "core/stagedfiles.h"

namespace {

constexpr int kDefaultTimeoutMs = 15000;
// Redirects followed at most by HttpGet and DownloadURL.
constexpr int kMaxRedirects = 5;

std::atomic<int> g_timeoutMs { kDefaultTimeoutMs };

QUrl toUrl(const QString &text)
{
    return QUrl(text.trimmed(), QUrl::TolerantMode);
}

// Why a request gave nothing usable, for the log.
QString failureText(const BlockingRequest::Result &result)
{
    if (result.timedOut)
        return QStringLiteral("time-out (%1 ms)").arg(Statics::httpTimeout());
    if (result.tooLarge || result.error == QNetworkReply::InsecureRedirectError)
        return result.errorString;
    // An HTTP error status, or an answer that was neither 2xx nor an error of the transfer.
    const bool statusError = result.httpStatus >= 400
        || (result.httpStatus != 0 && result.error == QNetworkReply::NoError);
    if (statusError)
        return QStringLiteral("HTTP status %1").arg(result.httpStatus);
    return QStringLiteral("network error %1 (%2)")
        .arg(static_cast<int>(result.error))
        .arg(result.errorString);
}

QString tr(const char *text)
{
    return QCoreApplication::translate("Statics", text);
}

// Why a request gave nothing usable, as the seller reads it.
QString germanFailure(const BlockingRequest::Result &result)
{
    if (result.timedOut)
        return tr("Der Server hat nicht innerhalb von %1 Sekunden geantwortet.")
            .arg((Statics::httpTimeout() + 999) / 1000);
    if (result.tooLarge)
        return tr("Die Antwort des Servers ist größer als %1 und wurde nicht gelesen.")
            .arg(Statics::sizeText(BlockingRequest::replyLimit()));
    if (result.error == QNetworkReply::InsecureRedirectError)
        return tr("Der Server hat die Anfrage an eine andere Adresse umgeleitet (%1); sie "
                  "wurde nicht dorthin gesendet.")
            .arg(BlockingRequest::loggableUrl(result.redirectTarget));
    if (result.error == QNetworkReply::TooManyRedirectsError)
        return tr("Der Server hat die Anfrage zu oft umgeleitet.");
    if (result.httpStatus != 0
        && (result.httpStatus >= 300 || result.error == QNetworkReply::NoError))
        return tr("Der Server hat mit dem HTTP-Status %1 geantwortet.").arg(result.httpStatus);
    if (result.httpStatus != 0 && result.error == QNetworkReply::UnknownContentError)
        return tr("Die Antwort des Servers ließ sich nicht entpacken.");
    return tr("Keine Verbindung zum Server: %1").arg(result.errorString);
}

} // namespace

int Statics::httpTimeout()
{
    return g_timeoutMs.load();
}

void Statics::setHttpTimeout(int milliseconds)
{
    g_timeoutMs.store(milliseconds > 0 ? milliseconds : kDefaultTimeoutMs);
}

QString Statics::HttpGet(QString url, QString data, QMap<QString, QString> headers,
                         QString *failure)
{
    if (failure)
        failure->clear();
    BlockingRequest::Request request;
    request.url = toUrl(url);
    request.verb = data.isEmpty() ? QByteArrayLiteral("GET") : QByteArrayLiteral("POST");
    request.body = data.toUtf8();
    request.headers = {
        { QByteArrayLiteral("Content-Type"),
          QByteArrayLiteral("application/x-www-form-urlencoded") },
        { QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("gzip, deflate") },
        { QByteArrayLiteral("User-Agent"), BlockingRequest::browserUserAgent() },
    };
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        request.headers.append({ it.key().toUtf8(), it.value().toUtf8() });
    request.timeoutMs = httpTimeout();
    request.followRedirects = true;
    request.maxRedirects = kMaxRedirects;
    // What is posted (a listing with its token, account names, a seller's address) and
    // the caller's own headers are meant for this server alone.
    request.carriesSecrets = !data.isEmpty() || !headers.isEmpty();

    const BlockingRequest::Result result = BlockingRequest::send(request);
    if (!result.ok()) {
        qCWarning(lcNet).noquote()
            << "HttpGet" << request.verb << BlockingRequest::loggableUrl(request.url)
            << "failed:" << failureText(result);
        if (failure)
            *failure = germanFailure(result);
        return QString();
    }
    return QString::fromUtf8(result.body);
}

bool Statics::DownloadURL(QString url, QString file, bool overwrite, QString referer,
                          QNetworkAccessManager *manager, StagedFiles *staged)
{
    if (!overwrite && !file.isEmpty()
        && (QFile::exists(file) || (staged && staged->contains(file))))
        return true;

    QUrl current = toUrl(url);
    QString currentReferer = referer;
    for (int redirects = 0;; ++redirects) {
        BlockingRequest::Request request;
        request.url = current;
        request.headers = {
            { QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("gzip, deflate") },
            { QByteArrayLiteral("User-Agent"), BlockingRequest::browserUserAgent() },
        };
        if (!currentReferer.isEmpty())
            request.headers.append({ QByteArrayLiteral("Referer"), currentReferer.toUtf8() });
        request.timeoutMs = httpTimeout();
        request.manager = manager;
        const QString shownUrl = BlockingRequest::loggableUrl(current);

        const BlockingRequest::Result result = BlockingRequest::send(request);
        if (!result.timedOut && result.isRedirect()) {
            const QUrl target = result.redirectTarget;
            if (redirects >= kMaxRedirects) {
                qCWarning(lcNet).noquote() << "DownloadURL" << shownUrl << "failed: more than"
                                           << kMaxRedirects << "redirects";
                return false;
            }
            if (!BlockingRequest::isAllowedRedirect(current, target)) {
                qCWarning(lcNet).noquote()
                    << "DownloadURL" << shownUrl << "failed: refused redirect to"
                    << BlockingRequest::loggableUrl(target);
                return false;
            }
            current = target;
            currentReferer.clear();
            continue;
        }
        if (!result.ok()) {
            qCWarning(lcNet).noquote()
                << "DownloadURL" << shownUrl << "failed:" << failureText(result);
            return false;
        }

        // Never under its name half-written, nor written through a link planted there.
        StagedFiles own;
        QString error;
        if (!(staged ? staged : &own)->write(file, result.body, &error) || !own.commit(&error)) {
            qCWarning(lcNet).noquote()
                << "DownloadURL" << shownUrl << "can't write" << file << ":" << error;
            return false;
        }
        return true;
    }
}

QString Statics::sizeText(qint64 bytes)
{
    constexpr qint64 kMegabyte = 1024 * 1024;
    if (bytes >= kMegabyte)
        return tr("%1 MB").arg(bytes / kMegabyte);
    return tr("%1 KB").arg(qMax<qint64>(1, bytes / 1024));
}
