#include "mainwindow/mysqlsetup.h"

#include "core/privatefile.h"
#include "core/simplecrypt.h"

#include <QSettings>

namespace {
// Key of the password scrambler; the main database reads the file with the same key.
constexpr unsigned long long kPasswordKey = 0x5e17a0c4d29b3f68ULL;

QString fileOf(const QString &dataDir)
{
    return dataDir + QStringLiteral("mysql.setup");
}
} // namespace

MySqlSetup MySqlSetup::load(const QString &dataDir)
{
    const QSettings file(fileOf(dataDir), QSettings::IniFormat);
    MySqlSetup setup;
    setup.hostname = file.value(QStringLiteral("hostname")).toString();
    setup.port = file.value(QStringLiteral("port"), 3306).toInt();
    setup.username = file.value(QStringLiteral("username")).toString();
    setup.password = SimpleCrypt(kPasswordKey)
                         .decryptToString(file.value(QStringLiteral("password")).toString());
    setup.database = file.value(QStringLiteral("database")).toString();
    setup.active = file.value(QStringLiteral("active"), false).toBool();
    setup.syncWorkstation = file.value(QStringLiteral("syncworkstation"), false).toBool();
    setup.imagePath = file.value(QStringLiteral("imagepath")).toString();
    return setup;
}

bool MySqlSetup::save(const QString &dataDir) const
{
    // QSettings would write into the target of a link planted in the file's place.
    if (!PrivateFile::replaceLink(fileOf(dataDir)))
        return false;
    QSettings file(fileOf(dataDir), QSettings::IniFormat);
    file.setValue(QStringLiteral("hostname"), hostname);
    file.setValue(QStringLiteral("port"), port);
    file.setValue(QStringLiteral("username"), username);
    file.setValue(QStringLiteral("password"), SimpleCrypt(kPasswordKey).encryptToString(password));
    file.setValue(QStringLiteral("database"), database);
    file.setValue(QStringLiteral("active"), active);
    file.setValue(QStringLiteral("syncworkstation"), syncWorkstation);
    file.setValue(QStringLiteral("imagepath"), imagePath);
    file.sync();
    return file.status() == QSettings::NoError;
}
