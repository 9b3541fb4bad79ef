#include "marketplace/tradingtransport.h"

#include "core/config.h"
#include "core/logging.h"

#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QUuid>
#include <QXmlStreamWriter>

namespace {

const QString kTradingNamespace = QStringLiteral("urn:ebay:apis:eBLBaseComponents");
const QString kProfilesNamespace
    = QStringLiteral("http://www.ebay.com/marketplace/selling/v1/services");
constexpr int kLoggedReplyLength = 4000;

QString tr(const char *text)
{
    return QCoreApplication::translate("TradingTransport", text);
}

} // namespace

bool MarketplaceReply::succeeded() const
{
    return answered
        && (ack.compare(QLatin1String("Success"), Qt::CaseInsensitive) == 0
            || ack.compare(QLatin1String("Warning"), Qt::CaseInsensitive) == 0);
}

QString MarketplaceReply::message() const
{
    for (const MarketplaceError &error : errors) {
        if (error.severity.compare(QLatin1String("Warning"), Qt::CaseInsensitive) != 0)
            return error.longMessage.isEmpty() ? error.shortMessage : error.longMessage;
    }
    if (!errors.isEmpty())
        return errors.first().longMessage.isEmpty() ? errors.first().shortMessage
                                                    : errors.first().longMessage;
    return failure;
}

QString MarketplaceReply::line(const MarketplaceError &error)
{
    const QString shortText = error.shortMessage.trimmed();
    const QString longText = error.longMessage.trimmed();
    if (shortText.isEmpty() || shortText == longText)
        return longText;
    if (longText.isEmpty())
        return shortText;
    return shortText + QStringLiteral(": ") + longText;
}

QString MarketplaceReply::errorText() const
{
    QStringList lines;
    for (const MarketplaceError &error : errors) {
        if (error.severity.compare(QLatin1String("Error"), Qt::CaseInsensitive) == 0)
            lines << line(error);
    }
    if (lines.isEmpty() && !errors.isEmpty())
        lines << line(errors.first());
    if (lines.isEmpty())
        return failure;
    // "Short.: Long." reads as "Short: Long.".
    return lines.join(QLatin1Char(' ')).replace(QLatin1String(".:"), QLatin1String(":"));
}

TradingTransport::TradingTransport(bool sandbox, int timeoutMs)
    : m_sandbox(sandbox)
    , m_timeoutMs(timeoutMs)
{ }

QString TradingTransport::compatibilityLevel()
{
    return QStringLiteral("1423");
}

QString TradingTransport::globalId(const QString &siteId)
{
    static const QHash<QString, QString> ids = {
        { QStringLiteral("0"), QStringLiteral("EBAY-US") },
        { QStringLiteral("2"), QStringLiteral("EBAY-ENCA") },
        { QStringLiteral("3"), QStringLiteral("EBAY-GB") },
        { QStringLiteral("15"), QStringLiteral("EBAY-AU") },
        { QStringLiteral("16"), QStringLiteral("EBAY-AT") },
        { QStringLiteral("23"), QStringLiteral("EBAY-FRBE") },
        { QStringLiteral("71"), QStringLiteral("EBAY-FR") },
        { QStringLiteral("77"), QStringLiteral("EBAY-DE") },
        { QStringLiteral("100"), QStringLiteral("EBAY-MOTOR") },
        { QStringLiteral("101"), QStringLiteral("EBAY-IT") },
        { QStringLiteral("123"), QStringLiteral("EBAY-NLBE") },
        { QStringLiteral("146"), QStringLiteral("EBAY-NL") },
        { QStringLiteral("186"), QStringLiteral("EBAY-ES") },
        { QStringLiteral("193"), QStringLiteral("EBAY-CH") },
        { QStringLiteral("201"), QStringLiteral("EBAY-HK") },
        { QStringLiteral("203"), QStringLiteral("EBAY-IN") },
        { QStringLiteral("205"), QStringLiteral("EBAY-IE") },
        { QStringLiteral("207"), QStringLiteral("EBAY-MY") },
        { QStringLiteral("210"), QStringLiteral("EBAY-FRCA") },
        { QStringLiteral("211"), QStringLiteral("EBAY-PH") },
        { QStringLiteral("212"), QStringLiteral("EBAY-PL") },
        { QStringLiteral("216"), QStringLiteral("EBAY-SG") },
    };
    return ids.value(siteId.trimmed(), QStringLiteral("EBAY-DE"));
}

QString TradingTransport::withoutSecrets(QString xml)
{
    static const QRegularExpression secrets(
        QStringLiteral("<(eBayAuthToken|SecretID|Password)>[^<]*</\\1>"));
    return xml.replace(secrets, QStringLiteral("<\\1>***</\\1>"));
}

QByteArray TradingTransport::requestBody(const Call &call, const QString &token) const
{
    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kTradingNamespace);
    xml.writeStartElement(kTradingNamespace, call.name + QStringLiteral("Request"));
    if (call.credentials != Credentials::None) {
        xml.writeStartElement(QStringLiteral("RequesterCredentials"));
        if (call.credentials == Credentials::Token)
            xml.writeTextElement(QStringLiteral("eBayAuthToken"), token);
        else
            xml.writeTextElement(QStringLiteral("Username"), call.userName);
        xml.writeEndElement();
    }
    if (call.errorLanguage)
        xml.writeTextElement(QStringLiteral("ErrorLanguage"), QStringLiteral("de_DE"));
    if (call.warningLevelHigh)
        xml.writeTextElement(QStringLiteral("WarningLevel"), QStringLiteral("High"));
    if (call.fields)
        call.fields(xml);
    xml.writeEndElement();
    xml.writeEndDocument();
    return body;
}

QList<BlockingRequest::Header> TradingTransport::tradingHeaders(const Call &call) const
{
    return {
        { "X-EBAY-API-COMPATIBILITY-LEVEL", compatibilityLevel().toLatin1() },
        { "X-EBAY-API-DEV-NAME", Config::devId(m_sandbox).toUtf8() },
        { "X-EBAY-API-APP-NAME", Config::appId(m_sandbox).toUtf8() },
        { "X-EBAY-API-CERT-NAME", Config::certId(m_sandbox).toUtf8() },
        { "X-EBAY-API-CALL-NAME", call.name.toLatin1() },
        { "X-EBAY-API-SITEID", call.siteId.trimmed().toLatin1() },
        { "Content-Type", "text/xml; charset=utf-8" },
    };
}

MarketplaceReply TradingTransport::send(const Call &call, const QString &token) const
{
    return exchange(call.name, QUrl(Config::tradingUrl(m_sandbox)), tradingHeaders(call),
                    requestBody(call, token), call.timeoutMs > 0 ? call.timeoutMs : m_timeoutMs,
                    false);
}

MarketplaceReply TradingTransport::sendWithFile(const Call &call, const QString &token,
                                                const QByteArray &file,
                                                const QString &fileName) const
{
    const QByteArray boundary = "----zerire" + QUuid::createUuid().toRfc4122().toHex();
    QByteArray body;
    body += "--" + boundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"XML Payload\"\r\n";
    body += "Content-Type: text/xml; charset=utf-8\r\n\r\n";
    body += requestBody(call, token);
    body += "\r\n--" + boundary + "\r\n";
    QString safeName = fileName;
    safeName.replace(QLatin1Char('"'), QLatin1Char('_'));
    body += "Content-Disposition: form-data; name=\"image\"; filename=\"" + safeName.toUtf8()
        + "\"\r\n";
    body += "Content-Type: application/octet-stream\r\n";
    body += "Content-Transfer-Encoding: binary\r\n\r\n";
    body += file;
    body += "\r\n--" + boundary + "--\r\n";

    QList<BlockingRequest::Header> headers = tradingHeaders(call);
    headers.removeLast();
    headers.append({ "Content-Type", "multipart/form-data; boundary=" + boundary });
    return exchange(call.name, QUrl(Config::tradingUrl(m_sandbox)), headers, body,
                    call.timeoutMs > 0 ? call.timeoutMs : m_timeoutMs, false);
}

MarketplaceReply TradingTransport::sendProfiles(const ProfilesCall &call,
                                                const QString &token) const
{
    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(kProfilesNamespace);
    xml.writeStartElement(kProfilesNamespace, call.operation + QStringLiteral("Request"));
    if (call.fields)
        call.fields(xml);
    xml.writeEndElement();
    xml.writeEndDocument();

    const QList<BlockingRequest::Header> headers = {
        { "X-EBAY-SOA-OPERATION-NAME", call.operation.toLatin1() },
        { "X-EBAY-SOA-SERVICE-NAME", "SellerProfilesManagementService" },
        { "X-EBAY-SOA-SERVICE-VERSION", "1.0.0" },
        { "X-EBAY-SOA-GLOBAL-ID", globalId(call.siteId).toLatin1() },
        { "X-EBAY-SOA-SECURITY-TOKEN", token.toUtf8() },
        { "X-EBAY-SOA-REQUEST-DATA-FORMAT", "XML" },
        { "X-EBAY-SOA-RESPONSE-DATA-FORMAT", "XML" },
        { "Content-Type", "text/xml; charset=utf-8" },
    };
    return exchange(call.operation, QUrl(Config::profilesUrl(m_sandbox)), headers, body,
                    m_timeoutMs, true);
}

QStringList TradingTransport::missingKeys(bool sandbox)
{
    const QList<Config::Key> keys = sandbox
        ? QList<Config::Key> { Config::Key::DevIdSandbox, Config::Key::AppIdSandbox,
                               Config::Key::CertIdSandbox }
        : QList<Config::Key> { Config::Key::DevId, Config::Key::AppId, Config::Key::CertId };
    QStringList missing;
    for (const Config::Key key : keys) {
        if (!Config::isConfigured(key))
            missing << Config::environmentVariable(key);
    }
    return missing;
}

bool TradingTransport::noKeys()
{
    return !missingKeys(false).isEmpty() && !missingKeys(true).isEmpty();
}

QString TradingTransport::missingKeysText(bool sandbox)
{
    QStringList missing = missingKeys(sandbox);
    if (missing.isEmpty())
        missing = missingKeys(!sandbox);
    return tr("Ohne die Entwicklerschlüssel von eBay wird nichts an eBay gesendet (kein Abgleich, "
              "kein Einstellen, keine Auswahllisten). Es fehlt: %1. Tragen Sie die Schlüssel als "
              "Umgebungsvariablen ein (siehe README, „Marketplace keys and addresses“) und "
              "starten Sie das Programm neu.")
        .arg(missing.join(QStringLiteral(", ")));
}

MarketplaceReply TradingTransport::exchange(const QString &what, const QUrl &url,
                                            const QList<BlockingRequest::Header> &headers,
                                            const QByteArray &body, int timeoutMs,
                                            bool profiles) const
{
    // Without the developer keys the marketplace refuses every call: none is sent.
    if (!missingKeys(m_sandbox).isEmpty()) {
        MarketplaceReply reply;
        reply.failure = missingKeysText(m_sandbox);
        qCWarning(lcNet).noquote() << what << "not sent: developer keys missing"
                                   << missingKeys(m_sandbox).join(QStringLiteral(", "));
        return reply;
    }
    // Bodies hold the seller's address and e-mail (GetUser) and the buyers' names: in the
    // log only when asked for.
    const bool bodies = Logging::bodiesLogged();
    if (bodies)
        qCDebug(lcNet).noquote()
            << what << "request:"
            << withoutSecrets(QString::fromUtf8(body.left(65536))).left(kLoggedReplyLength);
    else
        qCDebug(lcNet).noquote() << what << "request:" << body.size() << "bytes";

    BlockingRequest::Request request;
    request.verb = QByteArrayLiteral("POST");
    request.url = url;
    request.headers = headers;
    request.body = body;
    request.timeoutMs = timeoutMs;
    // Token and developer keys: for the marketplace's own address only.
    request.carriesSecrets = true;
    const BlockingRequest::Result result = BlockingRequest::send(request);

    MarketplaceReply reply;
    reply.raw = result.body;
    if (bodies)
        qCDebug(lcNet).noquote()
            << what << "reply, HTTP" << result.httpStatus << ":"
            << withoutSecrets(QString::fromUtf8(result.body.left(65536))).left(kLoggedReplyLength);
    else
        qCDebug(lcNet).noquote() << what << "reply, HTTP" << result.httpStatus << ":"
                                 << result.body.size() << "bytes";

    if (result.timedOut) {
        reply.failure = tr("eBay hat nicht innerhalb von %1 Sekunden geantwortet.")
                            .arg((timeoutMs + 999) / 1000);
    } else if (result.tooLarge) {
        reply.failure = tr("Die Antwort von eBay ist größer als %1 MB und wurde nicht gelesen.")
                            .arg((BlockingRequest::replyLimit() + (1 << 20) - 1) >> 20);
    } else if (result.isRedirect()) {
        // Whatever answers in place of the marketplace gets no second chance at the
        // request.
        reply.failure = tr("Die Anfrage an eBay wurde an eine andere Adresse umgeleitet (%1) "
                           "und nicht dorthin gesendet.")
                            .arg(BlockingRequest::loggableUrl(result.redirectTarget));
    } else if (result.httpStatus == 0) {
        reply.failure = tr("Keine Verbindung zu eBay: %1").arg(result.errorString);
    }
    if (!reply.failure.isEmpty()) {
        qCWarning(lcNet).noquote() << what << "failed:" << reply.failure;
        return reply;
    }

    // A reply document counts even when it came with an error status; without one, the
    // status is the failure.
    QString parseError;
    XmlNode::Failure parseFailure = XmlNode::Failure::None;
    reply.root = XmlNode::parse(result.body, &parseError, &parseFailure);
    const QString ackPath = profiles ? QStringLiteral("ack") : QStringLiteral("Ack");
    if (reply.root.isNull() || !reply.root.has(ackPath)) {
        const bool refused = parseFailure == XmlNode::Failure::TooDeep
            || parseFailure == XmlNode::Failure::TooLarge
            || parseFailure == XmlNode::Failure::Declarations;
        if (refused)
            reply.failure = tr("Die Antwort von eBay wurde nicht gelesen: %1").arg(parseError);
        else if (result.httpStatus < 200 || result.httpStatus > 299)
            reply.failure
                = tr("Fehler bei der Verbindung zu eBay: HTTP %1").arg(result.httpStatus);
        else if (result.error != QNetworkReply::NoError)
            reply.failure = tr("Die Antwort von eBay kam nicht vollständig an: %1")
                                .arg(result.errorString);
        else
            reply.failure = tr("Unverständliche Antwort von eBay (%1).").arg(what);
        qCWarning(lcNet).noquote()
            << what << "failed:" << reply.failure << (refused ? QString() : parseError);
        return reply;
    }

    reply.answered = true;
    reply.ack = reply.root.value(ackPath).trimmed();
    if (profiles) {
        for (const XmlNode &error : reply.root.all(QStringLiteral("errorMessage/error"))) {
            const QString message = error.value(QStringLiteral("message"));
            reply.errors.append({ message, message, error.value(QStringLiteral("errorId")),
                                  error.value(QStringLiteral("severity")) });
        }
    } else {
        for (const XmlNode &error : reply.root.all(QStringLiteral("Errors"))) {
            reply.errors.append({ error.value(QStringLiteral("ShortMessage")),
                                  error.value(QStringLiteral("LongMessage")),
                                  error.value(QStringLiteral("ErrorCode")),
                                  error.value(QStringLiteral("SeverityCode")) });
        }
    }
    if (!reply.succeeded())
        qCWarning(lcNet).noquote() << what << "answered" << reply.ack << ":" << reply.message();
    return reply;
}
