#pragma once

#include <QString>
#include <QVariant>
#include <QVariantHash>

// Where the connections to the program's database go: the data folder and, for a shared
// database, the server with its account, the shared picture folder and whether this
// workstation synchronises. The main Database publishes these for the running program as
// application properties; a further connection normally reads them from there when it is
// made. A thread that must not follow what another main Database publishes meanwhile (the
// background worker, the settings dialog storing into the default folder) holds the
// settings it was given and opens its connections through a Scope.
class ConnectionSettings
{
public:
    ConnectionSettings() = default;

    // What the running program's main Database published.
    static ConnectionSettings published();
    // The data folder `dataDir` (ending with a separator), on its local file, or on the
    // shared database when `host` is not empty.
    static ConnectionSettings of(const QString &dataDir, const QString &host = QString(),
                                 int port = 3306, const QString &database = QString(),
                                 const QString &user = QString(),
                                 const QString &password = QString(),
                                 const QString &imagePath = QString(),
                                 bool syncWorkstation = false);

    // False for settings never taken from a data folder.
    bool isValid() const { return !dataDir().isEmpty(); }
    QString dataDir() const { return m_values.value(QStringLiteral("datadir")).toString(); }
    bool isMySQL() const { return m_values.contains(QStringLiteral("mysqlhostname")); }
    // The setting published under `name` (invalid when it is not set).
    QVariant value(const char *name) const { return m_values.value(QLatin1String(name)); }

    bool operator==(const ConnectionSettings &other) const { return m_values == other.m_values; }
    bool operator!=(const ConnectionSettings &other) const { return !(*this == other); }

    // While it lives, the connections the calling thread makes (and what they look up of
    // their settings later) take `settings` instead of the published ones. Scopes nest.
    class Scope;
    // The settings of the innermost Scope of the calling thread; null outside any.
    static const ConnectionSettings *ofThisThread();

private:
    QVariantHash m_values;
};

class ConnectionSettings::Scope
{
public:
    explicit Scope(const ConnectionSettings &settings);
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;

private:
    const ConnectionSettings *m_outer;
    ConnectionSettings m_settings;
};
