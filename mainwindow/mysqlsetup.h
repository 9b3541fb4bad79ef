#pragma once

#include <QString>

// The connection settings of the shared MySQL/MariaDB database, kept in the file
// "mysql.setup" of a data folder (INI format, keys without a group). The password is
// stored scrambled; a value that does not unscramble reads as an empty password.
struct MySqlSetup
{
    QString hostname;
    int port = 3306;
    QString username;
    QString password;
    QString database;
    bool active = false;
    bool syncWorkstation = false;
    QString imagePath;

    // `dataDir` ends with a separator. Absent keys keep their defaults.
    static MySqlSetup load(const QString &dataDir);
    // Writes all eight keys; false when the file could not be written.
    bool save(const QString &dataDir) const;
};
