#include "marketplace/api_ebay.h"

#include "core/clock.h"
#include "core/config.h"
#include "core/logging.h"
#include "marketplace/tradingtransport.h"

#include <QUuid>
#include <QXmlStreamWriter>

Api_Ebay::Api_Ebay(const QString &token, QObject *parent, int mode)
    : QObject(parent)
    , m_token(token)
    , m_sandbox(mode == 1)
{ }

Api_Ebay::~Api_Ebay() = default;

void Api_Ebay::setTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds > 0 ? milliseconds : 60000;
}

TradingTransport Api_Ebay::transport() const
{
    return TradingTransport(m_sandbox, m_timeoutMs);
}

QString Api_Ebay::getUidForSession()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString Api_Ebay::getAuthUrl(const QString &secretId)
{
    return Config::signInUrl(m_sandbox) + QStringLiteral("?SignIn&runame=")
        + Config::ruName(m_sandbox)
        + (m_sandbox ? QStringLiteral("&SessID=") : QStringLiteral("&sid=")) + secretId;
}

QString Api_Ebay::fetchToken(const QString &secretId, QString userName)
{
    m_lastFail.clear();
    TradingTransport::Call call;
    call.name = QStringLiteral("FetchToken");
    call.credentials = TradingTransport::Credentials::UserName;
    call.userName = userName;
    call.errorLanguage = true;
    call.warningLevelHigh = true;
    call.fields = [&secretId](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("SecretID"), secretId);
    };
    const MarketplaceReply reply = transport().send(call, m_token);
    const QString token = reply.root.value(QStringLiteral("eBayAuthToken")).trimmed();
    if (!reply.answered || reply.ack != QLatin1String("Success") || token.isEmpty()) {
        m_lastFail = reply.message();
        if (m_lastFail.isEmpty())
            m_lastFail = tr("eBay hat keinen Token ausgegeben.");
        return QString();
    }
    m_token = token;
    const QString expiry
        = Clock::currentDateTime().addDays(365).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return token + QStringLiteral("||") + expiry;
}

QString Api_Ebay::getUser()
{
    m_lastFail.clear();
    TradingTransport::Call user;
    user.name = QStringLiteral("GetUser");
    user.fields = [](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("DetailLevel"), QStringLiteral("ReturnAll"));
    };
    const MarketplaceReply userReply = transport().send(user, m_token);
    if (!userReply.succeeded())
        m_lastFail = userReply.message();

    TradingTransport::Call preferences;
    preferences.name = QStringLiteral("GetUserPreferences");
    preferences.fields = [](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("ShowSellerProfilePreferences"),
                             QStringLiteral("true"));
    };
    const MarketplaceReply preferencesReply = transport().send(preferences, m_token);
    if (m_lastFail.isEmpty() && !preferencesReply.succeeded())
        m_lastFail = preferencesReply.message();
    // Callers keep the account data only when this stays empty.
    if (m_lastFail.isEmpty() && !(userReply.succeeded() && preferencesReply.succeeded()))
        m_lastFail = tr("eBay hat die Kontodaten nicht geliefert.");

    // The replies go back exactly as they came: callers look for markers in the text.
    return QString::fromUtf8(userReply.raw) + QString::fromUtf8(preferencesReply.raw);
}

bool Api_Ebay::endItem(const QString &reason, const QString &itemId, const QString &siteId)
{
    m_lastFail.clear();
    TradingTransport::Call call;
    call.name = QStringLiteral("EndItem");
    call.siteId = siteId;
    call.errorLanguage = true;
    call.fields = [&](QXmlStreamWriter &xml) {
        xml.writeTextElement(QStringLiteral("EndingReason"), reason);
        xml.writeTextElement(QStringLiteral("ItemID"), itemId);
    };
    const MarketplaceReply reply = transport().send(call, m_token);
    // "Success" and "Warning" both mean the listing has ended.
    if (reply.succeeded())
        return true;
    m_lastFail = reply.message();
    if (m_lastFail.isEmpty())
        m_lastFail = tr("eBay hat das Angebot nicht beendet (%1).").arg(reply.ack);
    m_lastFail.remove(QStringLiteral("<![CDATA[")).remove(QStringLiteral("]]>"));
    return false;
}
