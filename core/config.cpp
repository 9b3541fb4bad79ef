#include "core/config.h"

#include <QMutex>
#include <QUrl>
#include <QtGlobal>

#include "core/blockingrequest.h"
#include "core/logging.h"

// Build-time defaults (CMake cache variables, see core/CMakeLists.txt); empty otherwise.
#ifndef APP_DEFAULT_DEV_ID
#define APP_DEFAULT_DEV_ID ""
#endif
#ifndef APP_DEFAULT_APP_ID
#define APP_DEFAULT_APP_ID ""
#endif
#ifndef APP_DEFAULT_CERT_ID
#define APP_DEFAULT_CERT_ID ""
#endif
#ifndef APP_DEFAULT_DEV_ID_SANDBOX
#define APP_DEFAULT_DEV_ID_SANDBOX ""
#endif
#ifndef APP_DEFAULT_APP_ID_SANDBOX
#define APP_DEFAULT_APP_ID_SANDBOX ""
#endif
#ifndef APP_DEFAULT_CERT_ID_SANDBOX
#define APP_DEFAULT_CERT_ID_SANDBOX ""
#endif
#ifndef APP_DEFAULT_RUNAME
#define APP_DEFAULT_RUNAME ""
#endif
#ifndef APP_DEFAULT_RUNAME_SANDBOX
#define APP_DEFAULT_RUNAME_SANDBOX ""
#endif
#ifndef APP_DEFAULT_SERVER_URL
#define APP_DEFAULT_SERVER_URL ""
#endif
#ifndef APP_DEFAULT_NEWSLETTER_URL
#define APP_DEFAULT_NEWSLETTER_URL ""
#endif

namespace {

struct Entry
{
    Config::Key key;
    const char *variable;
    const char *defaultValue;
    bool address;
};

// One line per key: its environment variable, its default, whether it is an address.
const Entry kEntries[] = {
    { Config::Key::TradingUrl, "ZERIRE_TRADING_URL", "https://api.ebay.com/ws/api.dll", true },
    { Config::Key::TradingSandboxUrl, "ZERIRE_TRADING_SANDBOX_URL",
      "https://api.sandbox.ebay.com/ws/api.dll", true },
    { Config::Key::ProfilesUrl, "ZERIRE_PROFILES_URL",
      "https://svcs.ebay.com/services/selling/v1/SellerProfilesManagementService", true },
    { Config::Key::ProfilesSandboxUrl, "ZERIRE_PROFILES_SANDBOX_URL",
      "https://svcs.sandbox.ebay.com/services/selling/v1/SellerProfilesManagementService", true },
    { Config::Key::SignInUrl, "ZERIRE_SIGNIN_URL", "https://signin.ebay.de/ws/eBayISAPI.dll",
      true },
    { Config::Key::SignInSandboxUrl, "ZERIRE_SIGNIN_SANDBOX_URL",
      "https://signin.sandbox.ebay.com/ws/eBayISAPI.dll", true },
    { Config::Key::ItemHost, "ZERIRE_ITEM_HOST", "https://www.ebay.de", true },
    { Config::Key::ItemSandboxHost, "ZERIRE_ITEM_SANDBOX_HOST", "https://www.sandbox.ebay.com",
      true },
    { Config::Key::DevId, "ZERIRE_DEV_ID", APP_DEFAULT_DEV_ID, false },
    { Config::Key::AppId, "ZERIRE_APP_ID", APP_DEFAULT_APP_ID, false },
    { Config::Key::CertId, "ZERIRE_CERT_ID", APP_DEFAULT_CERT_ID, false },
    { Config::Key::DevIdSandbox, "ZERIRE_DEV_ID_SANDBOX", APP_DEFAULT_DEV_ID_SANDBOX, false },
    { Config::Key::AppIdSandbox, "ZERIRE_APP_ID_SANDBOX", APP_DEFAULT_APP_ID_SANDBOX, false },
    { Config::Key::CertIdSandbox, "ZERIRE_CERT_ID_SANDBOX", APP_DEFAULT_CERT_ID_SANDBOX, false },
    { Config::Key::RuName, "ZERIRE_RUNAME", APP_DEFAULT_RUNAME, false },
    { Config::Key::RuNameSandbox, "ZERIRE_RUNAME_SANDBOX", APP_DEFAULT_RUNAME_SANDBOX, false },
    { Config::Key::ServerUrl, "ZERIRE_SERVER_URL", APP_DEFAULT_SERVER_URL, true },
    { Config::Key::NewsletterUrl, "ZERIRE_NEWSLETTER_URL", APP_DEFAULT_NEWSLETTER_URL, true },
    { Config::Key::SandboxToken, "ZERIRE_SANDBOX_TOKEN", "", false },
    { Config::Key::ProjectUrl, "ZERIRE_PROJECT_URL", APP_DEFAULT_PROJECT_URL, true },
};

// The maker's server receives the seller's token with every scheduled start: it is
// reached over TLS only, or on this machine (where tests run their fake server).
bool isSafeServerUrl(const QString &text)
{
    return BlockingRequest::isTlsOrLoopback(QUrl(text, QUrl::StrictMode));
}

// Says once per refused address why the server counts as not configured.
void reportRefusedServerUrl(const QString &text)
{
    static QMutex mutex;
    static QString reported;
    QMutexLocker locker(&mutex);
    if (reported == text)
        return;
    reported = text;
    qCWarning(lcNet).noquote() << "The address of the maker's server" << text
                               << "is neither https nor on this machine; not used";
}

const Entry &entry(Config::Key key)
{
    for (const Entry &e : kEntries) {
        if (e.key == key)
            return e;
    }
    Q_UNREACHABLE();
    return kEntries[0];
}

} // namespace

QString Config::value(Key key)
{
    const Entry &e = entry(key);
    const QString fromEnvironment = qEnvironmentVariable(e.variable).trimmed();
    const QString chosen
        = fromEnvironment.isEmpty() ? QString::fromUtf8(e.defaultValue) : fromEnvironment;
    if (key == Key::ServerUrl && !chosen.isEmpty() && !isSafeServerUrl(chosen)) {
        reportRefusedServerUrl(chosen);
        return QString();
    }
    return chosen;
}

QString Config::defaultValue(Key key)
{
    return QString::fromUtf8(entry(key).defaultValue);
}

QString Config::environmentVariable(Key key)
{
    return QString::fromLatin1(entry(key).variable);
}

QList<Config::Key> Config::allKeys()
{
    QList<Key> keys;
    for (const Entry &e : kEntries)
        keys.append(e.key);
    return keys;
}

bool Config::isConfigured(Key key)
{
    return !value(key).isEmpty();
}

bool Config::isAddress(Key key)
{
    return entry(key).address;
}

QString Config::tradingUrl(bool sandbox)
{
    return value(sandbox ? Key::TradingSandboxUrl : Key::TradingUrl);
}

QString Config::profilesUrl(bool sandbox)
{
    return value(sandbox ? Key::ProfilesSandboxUrl : Key::ProfilesUrl);
}

QString Config::signInUrl(bool sandbox)
{
    return value(sandbox ? Key::SignInSandboxUrl : Key::SignInUrl);
}

QString Config::itemHost(bool sandbox)
{
    return value(sandbox ? Key::ItemSandboxHost : Key::ItemHost);
}

QString Config::devId(bool sandbox)
{
    return value(sandbox ? Key::DevIdSandbox : Key::DevId);
}

QString Config::appId(bool sandbox)
{
    return value(sandbox ? Key::AppIdSandbox : Key::AppId);
}

QString Config::certId(bool sandbox)
{
    return value(sandbox ? Key::CertIdSandbox : Key::CertId);
}

QString Config::ruName(bool sandbox)
{
    return value(sandbox ? Key::RuNameSandbox : Key::RuName);
}

QString Config::serverUrl()
{
    return value(Key::ServerUrl);
}

QString Config::newsletterUrl()
{
    return value(Key::NewsletterUrl);
}

QString Config::address(Key key, const QString &path)
{
    QString base = value(key);
    if (base.isEmpty())
        return QString();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (path.isEmpty())
        return base;
    if (path.startsWith(QLatin1Char('/')))
        return base + path;
    return base + QLatin1Char('/') + path;
}

QString Config::serverAddress(const QString &path)
{
    return address(Key::ServerUrl, path);
}

QString Config::newsletterAddress(const QString &path)
{
    return address(Key::NewsletterUrl, path);
}
