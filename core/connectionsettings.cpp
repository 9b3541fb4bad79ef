#include "core/connectionsettings.h"

#include <QCoreApplication>

namespace {

// Every property the main Database publishes about its connection.
const char *const kNames[] = {
    "datadir",        "CurrentDataPath", "mysqlhostname",
    "mysqlport",      "mysqldatabase",   "mysqlusername",
    "mysqlpassword",  "mysqlimagepath",  "mysqlsyncworkstation",
    "sqlitereadonly",
};

thread_local const ConnectionSettings *t_current = nullptr;

} // namespace

ConnectionSettings ConnectionSettings::published()
{
    ConnectionSettings settings;
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return settings;
    for (const char *name : kNames) {
        const QVariant value = app->property(name);
        if (value.isValid())
            settings.m_values.insert(QLatin1String(name), value);
    }
    return settings;
}

ConnectionSettings ConnectionSettings::of(const QString &dataDir, const QString &host, int port,
                                          const QString &database, const QString &user,
                                          const QString &password, const QString &imagePath,
                                          bool syncWorkstation)
{
    ConnectionSettings settings;
    settings.m_values.insert(QStringLiteral("datadir"), dataDir);
    settings.m_values.insert(QStringLiteral("CurrentDataPath"), dataDir);
    if (!host.isEmpty()) {
        settings.m_values.insert(QStringLiteral("mysqlhostname"), host);
        settings.m_values.insert(QStringLiteral("mysqlport"), port);
        settings.m_values.insert(QStringLiteral("mysqldatabase"), database);
        settings.m_values.insert(QStringLiteral("mysqlusername"), user);
        settings.m_values.insert(QStringLiteral("mysqlpassword"), password);
        settings.m_values.insert(QStringLiteral("mysqlimagepath"), imagePath);
        settings.m_values.insert(QStringLiteral("mysqlsyncworkstation"), syncWorkstation);
    }
    return settings;
}

ConnectionSettings::Scope::Scope(const ConnectionSettings &settings)
    : m_outer(t_current)
    , m_settings(settings)
{
    t_current = &m_settings;
}

ConnectionSettings::Scope::~Scope()
{
    t_current = m_outer;
}

const ConnectionSettings *ConnectionSettings::ofThisThread()
{
    return t_current;
}
