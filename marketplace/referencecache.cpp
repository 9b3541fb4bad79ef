#include "marketplace/referencecache.h"

#include "core/clock.h"
#include "core/database.h"
#include "core/logging.h"
#include "core/privatefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

ReferenceCache::ReferenceCache(Database *db, bool sandbox)
    : m_sandbox(sandbox)
{
    if (db) {
        m_folder = db->getCacheDir();
    } else {
        const QVariant dataDir = qApp ? qApp->property("datadir") : QVariant();
        QString folder = dataDir.isValid() ? dataDir.toString() : Database::defaultDataDir();
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        m_folder = folder + QStringLiteral("cache/");
        PrivateFile::makePath(m_folder);
    }
}

QString ReferenceCache::fileName(const QString &name) const
{
    return m_sandbox ? QStringLiteral("sandbox_") + name : name;
}

QString ReferenceCache::path(const QString &name) const
{
    return m_folder + fileName(name);
}

QByteArray ReferenceCache::fresh(const QString &name) const
{
    if (m_folder.isEmpty())
        return QByteArray();
    const QFileInfo info(path(name));
    if (!info.isFile() || info.lastModified().addDays(kMaxAgeDays) < Clock::currentDateTime())
        return QByteArray();
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QByteArray ReferenceCache::older(const QString &name) const
{
    if (m_folder.isEmpty())
        return QByteArray();
    QFile file(path(name));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool ReferenceCache::store(const QString &name, const QByteArray &content) const
{
    if (m_folder.isEmpty())
        return false;
    // QSaveFile would write into the target of a link planted in the file's place.
    QSaveFile file(path(name));
    if (!PrivateFile::replaceLink(path(name)) || !file.open(QIODevice::WriteOnly)
        || file.write(content) != content.size() || !file.commit()) {
        qCWarning(lcNet).noquote() << "Can't write cache file" << path(name) << file.errorString();
        return false;
    }
    return true;
}

void ReferenceCache::remove(const QString &name) const
{
    QFile::remove(path(name));
}
