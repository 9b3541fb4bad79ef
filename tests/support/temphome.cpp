#include "tests/support/temphome.h"

#include <QDir>
#include <QFile>

namespace TestSupport {

namespace {
const char *const kVariables[]
    = { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR" };
}

TempHome::TempHome()
    : m_dir(QDir::tempPath() + QStringLiteral("/zerire-test-home-XXXXXX"))
{
    for (const char *name : kVariables) {
        if (qEnvironmentVariableIsSet(name))
            m_saved.insert(name, qgetenv(name));
    }

    const QString home = m_dir.path();
    const QStringList folders = { QStringLiteral("/.local/share"), QStringLiteral("/.config"),
                                  QStringLiteral("/.cache"),       QStringLiteral("/runtime"),
                                  QStringLiteral("/Desktop"),      QStringLiteral("/Documents") };
    for (const QString &folder : folders)
        QDir().mkpath(home + folder);
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home + QStringLiteral("/runtime")));
}

TempHome::~TempHome()
{
    for (const char *name : kVariables) {
        if (m_saved.contains(name))
            qputenv(name, m_saved.value(name));
        else
            qunsetenv(name);
    }
}

} // namespace TestSupport
