#pragma once

#include <QByteArray>
#include <QString>

class Database;

// The marketplace's reference data kept as files in the data folder's "cache/" folder and
// reused for 7 days. Sandbox files carry the prefix "sandbox_", so the two never mix.
class ReferenceCache
{
public:
    // `db` names the data folder; without one the folder of the running program is used.
    ReferenceCache(Database *db, bool sandbox);

    // The file name of `name` for the mode: name, or "sandbox_" + name.
    QString fileName(const QString &name) const;
    QString path(const QString &name) const;
    // The content when the file exists and is younger than 7 days; else empty.
    QByteArray fresh(const QString &name) const;
    // The content whatever its age (for when the marketplace can't be reached); else empty.
    QByteArray older(const QString &name) const;
    // Writes the content whole or not at all.
    bool store(const QString &name, const QByteArray &content) const;
    // Forgets the file (e.g. when it can't be read).
    void remove(const QString &name) const;

    static constexpr int kMaxAgeDays = 7;

private:
    QString m_folder;
    bool m_sandbox;
};
