#include "import/foldercompressor.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

// Sub-folders that never go into an archive: older backups, temporary pictures, log files.
bool skippedFolder(const QString &name)
{
    const QString lower = name.toLower();
    return lower == QLatin1String("backup") || lower == QLatin1String("tmpimages")
        || lower == QLatin1String("logs") || name.contains(QLatin1String(".zip"));
}

// A record path names a file below the target: "/" first, no empty, "." or ".." part.
bool safeRecordPath(const QString &path)
{
    if (path.size() < 2 || path.at(0) != QLatin1Char('/') || path.contains(QChar(0)))
        return false;
    const QStringList parts = path.mid(1).split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty())
            return false;
        // A backslash is no separator here, but keep names that would be one elsewhere
        // from climbing out either.
        for (const QString &segment : part.split(QLatin1Char('\\')))
            if (segment == QLatin1String(".") || segment == QLatin1String(".."))
                return false;
    }
    return true;
}

// The unpacked length qCompress put in front of the zlib stream.
quint32 unpackedLength(const QByteArray &packed)
{
    const auto *bytes = reinterpret_cast<const uchar *>(packed.constData());
    return (quint32(bytes[0]) << 24) | (quint32(bytes[1]) << 16) | (quint32(bytes[2]) << 8)
        | quint32(bytes[3]);
}

// zlib never packs better than about 1:1032; a larger claim is a forged length that would
// only make qUncompress allocate for nothing.
bool plausibleLength(const QByteArray &packed)
{
    return qint64(unpackedLength(packed)) <= qint64(packed.size() - 4) * 1032 + 64;
}

} // namespace

FolderCompressor::FolderCompressor(QString source, QString destination)
    : m_source(std::move(source)), m_destination(std::move(destination))
{
}

FolderCompressor::~FolderCompressor() = default;

qint64 FolderCompressor::maxFileSize()
{
    // qCompress takes an int length and its packed bound must fit a QByteArray too.
    return qint64(2000) * 1024 * 1024;
}

QString FolderCompressor::freeName(const QString &path, const QString &suffix)
{
    QString name = path + suffix;
    while (QFileInfo::exists(name))
        name += suffix;
    return name;
}

void FolderCompressor::substituteFile(const QString &path, const QString &file)
{
    m_substitutes.insert(path, file);
}

void FolderCompressor::leaveOut(const QString &path)
{
    m_leftOut.insert(path);
}

void FolderCompressor::reportProgress(const QString &text, qint64 maximum, qint64 value)
{
    const qint64 scale = std::max(maximum, value) / std::numeric_limits<int>::max() + 1;
    emit getStatus(text, int(maximum / scale), int(value / scale));
}

bool FolderCompressor::compressFolder(QString source, QString archive)
{
    if (!QFileInfo(source).isDir())
        return false;
    m_file.setFileName(archive);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCWarning(lcApp).noquote() << "Backup: can't write" << archive << m_file.errorString();
        return false;
    }
    // The archive holds the database with the accounts' tokens: the seller's eyes only.
    m_file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_stream.setDevice(&m_file);
    bool ok = compress(source, QString());
    ok = ok && m_stream.status() == QDataStream::Ok && m_file.flush();
    m_stream.setDevice(nullptr);
    m_file.close();
    ok = ok && m_file.error() == QFileDevice::NoError;
    if (!ok) {
        // Half an archive would later restore as if it were whole.
        qCWarning(lcApp).noquote() << "Backup into" << archive << "failed, archive removed";
        m_file.remove();
    }
    return ok;
}

bool FolderCompressor::compress(QString folder, QString prefix)
{
    const QString starting = tr("Beginne Backup...");
    emit getStatus(starting, 0, 100);
    QDir dir(folder);
    if (!dir.exists())
        return false;

    const QDir::SortFlags order = QDir::Name | QDir::IgnoreCase;
    // Links to folders are not followed: one could point back up the tree.
    const QStringList folders
        = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, order);
    emit getStatus(starting, folders.size(), 0);
    for (int i = 0; i < folders.size(); ++i) {
        const QString &name = folders.at(i);
        if (skippedFolder(name))
            continue;
        if (!compress(dir.absoluteFilePath(name), prefix + QLatin1Char('/') + name))
            return false;
        emit getStatus(tr("Sichere %1...").arg(name), folders.size(), i);
    }

    const QStringList files = dir.entryList(QDir::Files, order);
    emit getStatus(starting, files.size(), 0);
    for (int i = 0; i < files.size(); ++i) {
        const QString &name = files.at(i);
        const QString path = prefix + QLatin1Char('/') + name;
        if (!m_leftOut.contains(path)
            && !writeRecord(path, m_substitutes.value(path, dir.absoluteFilePath(name))))
            return false;
        emit getStatus(tr("Sichere %1...").arg(name), files.size(), i);
    }
    return true;
}

bool FolderCompressor::writeRecord(const QString &path, const QString &fileName)
{
    QFile input(fileName);
    if (!input.open(QIODevice::ReadOnly)) {
        qCWarning(lcApp).noquote() << "Backup: can't read" << fileName << input.errorString();
        return false;
    }
    if (input.size() > maxFileSize()) {
        qCWarning(lcApp).noquote() << "Backup: file too large to pack" << fileName << input.size();
        return false;
    }
    const QByteArray content = input.readAll();
    if (input.error() != QFileDevice::NoError || content.size() != input.size()) {
        qCWarning(lcApp).noquote() << "Backup: reading" << fileName << "failed"
                                   << input.errorString();
        return false;
    }
    m_stream << path << qCompress(content, -1);
    return m_stream.status() == QDataStream::Ok;
}

bool FolderCompressor::decompressFolder(QString archive, QString target)
{
    if (!QFileInfo(archive).isFile())
        return false;
    const bool targetIsNew = !QFileInfo::exists(target);
    if (!QDir().mkpath(target))
        return false;
    // It becomes the data folder at the next start.
    if (targetIsNew)
        Statics::setOwnerOnly(target);
    m_file.setFileName(archive);
    if (!m_file.open(QIODevice::ReadOnly)) {
        if (targetIsNew)
            QDir(target).removeRecursively();
        return false;
    }
    m_stream.setDevice(&m_file);
    const qint64 size = m_file.size();
    reportProgress(tr("Wiederherstellung..."), 0, size);
    const bool ok = unpackAll(target, size);
    m_stream.setDevice(nullptr);
    m_file.close();
    if (!ok && targetIsNew) {
        // A partly unpacked folder must never be swapped in for the data.
        QDir(target).removeRecursively();
    }
    return ok;
}

bool FolderCompressor::unpackAll(const QString &target, qint64 archiveSize)
{
    const QString root = QDir::cleanPath(QDir(target).absolutePath());
    while (!m_stream.atEnd()) {
        QString path;
        QByteArray packed;
        m_stream >> path >> packed;
        if (m_stream.status() != QDataStream::Ok) {
            qCWarning(lcApp).noquote() << "Restore: archive cut short at" << m_file.pos();
            return false;
        }
        const QString outName = root + QLatin1Char('/') + path;
        if (!safeRecordPath(path)
            || !QDir::cleanPath(outName).startsWith(root + QLatin1Char('/'))) {
            qCWarning(lcApp).noquote() << "Restore: refused path" << path;
            return false;
        }
        if (packed.size() < 4 || !plausibleLength(packed)) {
            qCWarning(lcApp).noquote() << "Restore: broken content of" << path;
            return false;
        }
        const QByteArray content = qUncompress(packed);
        if (quint32(content.size()) != unpackedLength(packed)) {
            qCWarning(lcApp).noquote() << "Restore: content of" << path << "does not unpack";
            return false;
        }

        // The folder part ends at the last separator after the first character.
        const int separator = std::max(path.lastIndexOf(QLatin1Char('/')),
                                       path.lastIndexOf(QLatin1Char('\\')));
        if (separator > 0)
            QDir().mkpath(root + QLatin1Char('/') + path.left(separator));
        QFile output(outName);
        const bool opened = output.open(QIODevice::WriteOnly | QIODevice::Truncate);
        if (opened)
            output.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (!opened || output.write(content) != content.size() || !output.flush()) {
            qCWarning(lcApp).noquote() << "Restore: can't write" << outName
                                       << output.errorString();
            return false;
        }
        output.close();
        reportProgress(tr("Wiederherstellung..."), archiveSize, m_file.pos());
    }
    return true;
}

bool FolderCompressor::snapshotDatabase(Database &db, const QString &snapshotDir)
{
    if (db.isMySQL || !db.isOpen())
        return true;
    const QFileInfo live(db.connection().databaseName());
    if (live.absoluteDir().canonicalPath() != QDir(m_source).canonicalPath())
        return true;
    // VACUUM INTO writes the state of one read transaction: every row committed before it,
    // none half written, while the workers go on writing the live file and its journal.
    const QString snapshot = snapshotDir + QLatin1Char('/') + live.fileName();
    if (snapshotDir.isEmpty()
        || !db.executeSQL(QStringLiteral("VACUUM INTO '") + Database::escapeString(snapshot)
                          + QLatin1Char('\''))) {
        qCWarning(lcApp).noquote() << "Backup: no snapshot of the database" << db.lastErrorText;
        return false;
    }
    const QString path = QLatin1Char('/') + live.fileName();
    substituteFile(path, snapshot);
    for (const char *journal : { "-wal", "-shm", "-journal" })
        leaveOut(path + QLatin1String(journal));
    return true;
}

void FolderCompressor::work()
{
    QString title = tr("Backup wurde erstellt");
    QString text;
    auto info = std::make_unique<Database>(true, QStringLiteral("BackupInfo"));
    bool ok = false;
    {
        // Hidden, so the folder is not packed itself; removed with its snapshot afterwards.
        QTemporaryDir snapshotDir(m_source + QStringLiteral("/.backup-XXXXXX"));
        ok = snapshotDatabase(*info, snapshotDir.isValid() ? snapshotDir.path() : QString())
            && compressFolder(m_source, m_destination);
    }
    if (ok) {
        text = tr("Das Backup wurde hier erstellt: %1").arg(m_destination);
    } else {
        title = tr("Backup fehlgeschlagen");
        text = tr("Das Backup konnte nicht erstellt werden");
    }
    emit sendNotification(Statics::notificationMessage(title, text));

    const NewsItem entry = info->addOutcomeNews(title, text, ok);
    if (entry.id > 0)
        emit sendaddNewsItem(entry);
    info->close();
    info.reset();

    emit getStatus(tr("Backup beendet"), 100, 100);
    emit runFinished(ok);
    emit finished();
}

void FolderCompressor::workdecomp()
{
    QString title = tr("Wiederherstellung");
    QString text;
    const bool ok = decompressFolder(m_source, m_destination);
    if (ok) {
        text = tr("Die Wiederherstellung wurde temporär durchgeführt");
    } else {
        title = tr("Wiederherstellung fehlgeschlagen");
        text = tr("Die Wiederherstellung ist fehlgeschlagen");
    }
    emit sendNotification(Statics::notificationMessage(title, text));
    emit getStatus(tr("Wiederherstellung beendet"), 100, 100);
    emit runFinished(ok);
    emit finished();
}
