#pragma once

#include <QList>
#include <QString>

// Every address the program talks to, the marketplace developer keys and the sign-in
// redirect names. Each value has a compiled-in default and one environment variable
// (ZERIRE_...) that overrides it; a variable that is set but empty (or only white space)
// counts as not set.
// The environment is read at every call, so a test may change it at any time.
//
// Defaults that are empty in the sources (developer keys, redirect names, the maker's
// server and the newsletter service) can be given at build time through the CMake cache
// variables APP_DEFAULT_<NAME> (see core/CMakeLists.txt).
class Config
{
public:
    enum class Key {
        TradingUrl, // ZERIRE_TRADING_URL
        TradingSandboxUrl, // ZERIRE_TRADING_SANDBOX_URL
        ProfilesUrl, // ZERIRE_PROFILES_URL
        ProfilesSandboxUrl, // ZERIRE_PROFILES_SANDBOX_URL
        SignInUrl, // ZERIRE_SIGNIN_URL
        SignInSandboxUrl, // ZERIRE_SIGNIN_SANDBOX_URL
        ItemHost, // ZERIRE_ITEM_HOST
        ItemSandboxHost, // ZERIRE_ITEM_SANDBOX_HOST
        DevId, // ZERIRE_DEV_ID
        AppId, // ZERIRE_APP_ID
        CertId, // ZERIRE_CERT_ID
        DevIdSandbox, // ZERIRE_DEV_ID_SANDBOX
        AppIdSandbox, // ZERIRE_APP_ID_SANDBOX
        CertIdSandbox, // ZERIRE_CERT_ID_SANDBOX
        RuName, // ZERIRE_RUNAME
        RuNameSandbox, // ZERIRE_RUNAME_SANDBOX
        ServerUrl, // ZERIRE_SERVER_URL (https, or http on a loopback address)
        NewsletterUrl, // ZERIRE_NEWSLETTER_URL
        // The sandbox test account's token and expiry: token + "||" + "yyyy-MM-dd HH:mm:ss".
        SandboxToken, // ZERIRE_SANDBOX_TOKEN
        ProjectUrl, // ZERIRE_PROJECT_URL: the developer's project page
    };

    // The value in force: the environment variable when it is set and not empty, else
    // the default. The maker's server (ServerUrl) only as an https address or one on this
    // machine (loopback, for tests); any other counts as not configured (empty).
    static QString value(Key key);
    // The compiled-in (or build-time) default.
    static QString defaultValue(Key key);
    // The name of the overriding environment variable, e.g. "ZERIRE_TRADING_URL".
    static QString environmentVariable(Key key);
    // Every key, in declaration order.
    static QList<Key> allKeys();
    // True when value(key) is not empty.
    static bool isConfigured(Key key);
    // True for the keys whose value is an address (URL or scheme + host), false for the
    // developer keys and redirect names.
    static bool isAddress(Key key);

    // The value in force for the marketplace mode (sandbox or production).
    static QString tradingUrl(bool sandbox);
    static QString profilesUrl(bool sandbox);
    static QString signInUrl(bool sandbox);
    static QString itemHost(bool sandbox);
    static QString devId(bool sandbox);
    static QString appId(bool sandbox);
    static QString certId(bool sandbox);
    static QString ruName(bool sandbox);

    // Base URLs of the maker's server and of the newsletter sign-up service (may be empty).
    static QString serverUrl();
    static QString newsletterUrl();

    // The address `path` (e.g. "/zaruvovezira/banner.php", a query may follow) on the
    // base URL of `key`, with exactly one "/" between the two. The empty text when that
    // base is not configured, so callers can report "not reachable" without sending.
    static QString address(Key key, const QString &path);
    // address(Key::ServerUrl, path) and address(Key::NewsletterUrl, path).
    static QString serverAddress(const QString &path);
    static QString newsletterAddress(const QString &path);
};
