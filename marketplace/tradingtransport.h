#pragma once

#include "core/blockingrequest.h"
#include "marketplace/xmlnode.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QXmlStreamWriter;

// One error or warning of a marketplace reply.
struct MarketplaceError
{
    QString shortMessage;
    QString longMessage;
    QString code;
    QString severity; // "Error" or "Warning"
};

// The outcome of one marketplace request.
struct MarketplaceReply
{
    // A reply document arrived and could be read.
    bool answered = false;
    // Why not: the network error, the time-out, the HTTP status or an unreadable reply.
    QString failure;
    // The body as it arrived (unpacked when it came compressed).
    QByteArray raw;
    XmlNode root;
    // "Success", "Warning", "Failure" or "PartialFailure".
    QString ack;
    QList<MarketplaceError> errors;

    // Answered with Ack "Success" or "Warning".
    bool succeeded() const;
    // The long message of the first error (an error before a warning), else the failure.
    QString message() const;
    // Why the request failed, as the seller reads it for an article: every error of
    // severity "Error" in the order of the reply, each as its line(), joined by spaces;
    // without such an error the first error's line, else the failure.
    QString errorText() const;
    // An error as one line: "short: long", or the one text when both say the same.
    static QString line(const MarketplaceError &error);
};

// Builds, sends and reads the requests of the Trading API (XML over HTTPS) and of the
// seller-profiles service, synchronously on the calling thread. Endpoints and developer
// keys come from the configuration (Config) for the mode.
class TradingTransport
{
public:
    enum class Credentials {
        Token, // RequesterCredentials/eBayAuthToken
        UserName, // RequesterCredentials/Username (FetchToken)
        None
    };

    struct Call
    {
        QString name; // e.g. "GetUser"; the root is name + "Request"
        QString siteId = QStringLiteral("77");
        Credentials credentials = Credentials::Token;
        QString userName; // with Credentials::UserName
        bool errorLanguage = false; // ErrorLanguage de_DE
        bool warningLevelHigh = false; // WarningLevel High
        // Writes the call's own elements inside the root.
        std::function<void(QXmlStreamWriter &)> fields;
        int timeoutMs = 0; // 0: the transport's
    };

    struct ProfilesCall
    {
        QString operation; // e.g. "getSellerProfiles"
        QString siteId = QStringLiteral("77");
        std::function<void(QXmlStreamWriter &)> fields;
    };

    TradingTransport(bool sandbox, int timeoutMs);

    QByteArray requestBody(const Call &call, const QString &token) const;
    MarketplaceReply send(const Call &call, const QString &token) const;
    // The call with a file attached: a multipart request, the XML part first, then the
    // file's bytes (UploadSiteHostedPictures).
    MarketplaceReply sendWithFile(const Call &call, const QString &token, const QByteArray &file,
                                  const QString &fileName) const;
    MarketplaceReply sendProfiles(const ProfilesCall &call, const QString &token) const;

    // The developer keys of the mode that are not configured, by their environment variable
    // ("ZERIRE_DEV_ID", ...). Without them no request is sent.
    static QStringList missingKeys(bool sandbox);
    // True when the keys of both modes are missing: nothing at all can reach the marketplace,
    // and the workers leave their rounds out.
    static bool noKeys();
    // What the seller reads when the keys are missing: that nothing is sent, and what to do.
    static QString missingKeysText(bool sandbox = false);

    // The schema version the requests are written for.
    static QString compatibilityLevel();
    // The global id of a numeric site id ("77" -> "EBAY-DE").
    static QString globalId(const QString &siteId);
    // The text with tokens and secret ids replaced, for the log.
    static QString withoutSecrets(QString xml);

private:
    QList<BlockingRequest::Header> tradingHeaders(const Call &call) const;
    MarketplaceReply exchange(const QString &what, const QUrl &url,
                              const QList<BlockingRequest::Header> &headers, const QByteArray &body,
                              int timeoutMs, bool profiles) const;

    bool m_sandbox;
    int m_timeoutMs;
};
