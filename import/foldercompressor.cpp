#include "import/foldercompressor.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/privatefile.h"
#include "core/statics.h"
#include "core/untrustedfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QStorageInfo>
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

// Below this much free space a disk counts as full.
constexpr qint64 kFullBelowBytes = 1024 * 1024;
// What a restore may unpack at most: this many times the archive's size, or this much for a
// small archive.
constexpr qint64 kPlausibleRatio = 100;
constexpr qint64 kPlausibleBytes = qint64(64) * 1024 * 1024;
constexpr qint64 kBlockBytes = 4096;

// The disk holding `path` is known and has less than kFullBelowBytes free.
bool diskFull(const QString &path)
{
    const QStorageInfo storage(path);
    return storage.isValid() && storage.bytesAvailable() < kFullBelowBytes;
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
    m_failureReason.clear();
    if (!QFileInfo(source).isDir()) {
        m_failureReason = tr("Der Datenordner \"%1\" ist nicht vorhanden.")
                              .arg(QDir::toNativeSeparators(source));
        return false;
    }
    // The archive holds the database with the accounts' tokens: the seller's eyes only,
    // from its first byte on.
    QString error;
    if (!PrivateFile::open(m_file, archive, QIODevice::WriteOnly | QIODevice::Truncate, &error)) {
        qCWarning(lcApp).noquote() << "Backup: can't write" << archive << error;
        m_failureReason = writeFailure(archive, error);
        return false;
    }
    m_archive = archive;
    m_stream.setDevice(&m_file);
    bool ok = compress(source, QString());
    const bool written = m_stream.status() == QDataStream::Ok && m_file.flush();
    m_stream.setDevice(nullptr);
    m_file.close();
    if (ok && !(written && m_file.error() == QFileDevice::NoError)) {
        ok = false;
        m_failureReason = writeFailure(archive, m_file.errorString());
    }
    if (!ok) {
        // Half an archive would later restore as if it were whole.
        qCWarning(lcApp).noquote()
            << "Backup into" << archive << "failed, archive removed:" << m_failureReason;
        QFile::remove(archive);
    }
    m_archive.clear();
    return ok;
}

QString FolderCompressor::writeFailure(const QString &file, const QString &systemText)
{
    const QString folder = QFileInfo(file).absolutePath();
    if (diskFull(folder))
        return tr("Auf dem Datenträger von \"%1\" ist kein Platz mehr frei.")
            .arg(QDir::toNativeSeparators(folder));
    return tr("\"%1\" konnte nicht geschrieben werden: %2")
        .arg(QDir::toNativeSeparators(file), systemText);
}

bool FolderCompressor::compress(QString folder, QString prefix)
{
    const QString starting = tr("Beginne Backup...");
    emit getStatus(starting, 0, 100);
    QDir dir(folder);
    if (!dir.exists()) {
        m_failureReason
            = tr("Der Ordner \"%1\" ist nicht vorhanden.").arg(QDir::toNativeSeparators(folder));
        return false;
    }

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

    // Links to files are not packed either: none belongs in the data folder, and one could
    // lead to any file of the seller's.
    const QStringList files = dir.entryList(QDir::Files | QDir::NoSymLinks, order);
    emit getStatus(starting, files.size(), 0);
    for (int i = 0; i < files.size(); ++i) {
        if (stopRequested())
            return false;
        const QString &name = files.at(i);
        const QString path = prefix + QLatin1Char('/') + name;
        if (!m_leftOut.contains(path)
            && !writeRecord(path, m_substitutes.value(path, dir.absoluteFilePath(name))))
            return false;
        emit getStatus(tr("Sichere %1...").arg(name), files.size(), i);
    }
    return true;
}

bool FolderCompressor::stopRequested()
{
    if (!m_cancelled || !m_cancelled())
        return false;
    m_failureReason = tr("Der Vorgang wurde abgebrochen.");
    return true;
}

bool FolderCompressor::writeRecord(const QString &path, const QString &fileName)
{
    const QString shown = QDir::toNativeSeparators(QDir::cleanPath(m_source + path));
    // Opened once, not through a link put in its place since it was listed, never waiting on
    // a pipe; what was opened is what is read.
    QFile input;
    QString error;
    if (!UntrustedFile::openForReading(input, fileName, &error)) {
        qCWarning(lcApp).noquote() << "Backup: can't read" << fileName << error;
        m_failureReason = tr("\"%1\" konnte nicht gelesen werden: %2").arg(shown, error);
        return false;
    }
    if (input.size() > maxFileSize()) {
        qCWarning(lcApp).noquote() << "Backup: file too large to pack" << fileName << input.size();
        m_failureReason = tr("\"%1\" ist zu groß für eine Sicherung (mehr als %2).")
                              .arg(shown, Statics::sizeText(maxFileSize()));
        return false;
    }
    const QByteArray content = input.readAll();
    if (input.error() != QFileDevice::NoError || content.size() != input.size()) {
        qCWarning(lcApp).noquote() << "Backup: reading" << fileName << "failed"
                                   << input.errorString();
        m_failureReason
            = tr("\"%1\" konnte nicht gelesen werden: %2").arg(shown, input.errorString());
        return false;
    }
    m_stream << path << qCompress(content, -1);
    if (m_stream.status() != QDataStream::Ok) {
        m_failureReason = writeFailure(m_archive, m_file.errorString());
        return false;
    }
    return true;
}

bool FolderCompressor::decompressFolder(QString archive, QString target)
{
    m_failureReason.clear();
    // The archive is read through the one descriptor opened here: a link or a pipe chosen as
    // the archive is refused at once.
    QString error;
    if (!UntrustedFile::openForReading(m_file, archive, &error)) {
        qCWarning(lcApp).noquote() << "Restore: can't read" << archive << error;
        m_failureReason = tr("Die Sicherung \"%1\" kann nicht gelesen werden: %2")
                              .arg(QDir::toNativeSeparators(archive), error);
        return false;
    }
    m_stream.setDevice(&m_file);
    const qint64 size = m_file.size();
    reportProgress(tr("Wiederherstellung..."), 0, size);
    // Nothing is written before the whole archive is known to fit.
    bool ok = fitsOnDisk(target, size) && m_file.seek(0);
    if (ok) {
        m_stream.resetStatus();
        const bool targetIsNew = !QFileInfo::exists(target);
        // It becomes the data folder at the next start: the seller's alone.
        ok = PrivateFile::makePath(target) && unpackAll(target, size);
        if (!ok && targetIsNew) {
            // A partly unpacked folder must never be swapped in for the data.
            QDir(target).removeRecursively();
        }
    }
    m_stream.setDevice(nullptr);
    m_file.close();
    return ok;
}

bool FolderCompressor::measure(qint64 *unpacked, qint64 *records)
{
    *unpacked = 0;
    *records = 0;
    const qint64 size = m_file.size();
    while (!m_stream.atEnd()) {
        QString path;
        quint32 packedSize = 0;
        m_stream >> path >> packedSize;
        if (m_stream.status() != QDataStream::Ok)
            return false;
        ++*records;
        // A null array (length FF FF FF FF) holds nothing; unpacking refuses it.
        if (packedSize == 0xffffffffu)
            continue;
        quint32 length = 0;
        if (packedSize >= 4) {
            m_stream >> length;
            packedSize -= 4;
        }
        const qint64 next = m_file.pos() + packedSize;
        if (m_stream.status() != QDataStream::Ok || next > size || !m_file.seek(next))
            return false;
        *unpacked += length;
    }
    return true;
}

bool FolderCompressor::fitsOnDisk(const QString &target, qint64 archiveSize)
{
    qint64 unpacked = 0;
    qint64 records = 0;
    if (!measure(&unpacked, &records)) {
        qCWarning(lcApp).noquote() << "Restore: archive cut short at" << m_file.pos();
        return false;
    }
    // Each record passes its own check (zlib packs no better than about 1:1032); many of
    // them could still fill the disk from a small file. Real data folders (a database,
    // pictures, cached replies) pack far less.
    if (unpacked > std::max(kPlausibleBytes, archiveSize * kPlausibleRatio)) {
        qCWarning(lcApp).noquote() << "Restore: refused, the archive of" << archiveSize
                                   << "bytes would unpack to" << unpacked;
        m_failureReason = tr("Die Sicherung würde entpackt %1 belegen, mehr als das %2-Fache "
                             "ihrer Größe von %3. So viel lässt sich aus echten Daten nicht "
                             "packen: Die Datei ist beschädigt oder keine Sicherung dieses "
                             "Programms.")
                              .arg(Statics::sizeText(unpacked), QString::number(kPlausibleRatio),
                                   Statics::sizeText(archiveSize));
        return false;
    }
    // A file takes at least one block of the file system.
    const qint64 needed = unpacked + records * kBlockBytes + kFullBelowBytes;
    QString existing = QDir::cleanPath(QDir(target).absolutePath());
    while (!QFileInfo::exists(existing) && QFileInfo(existing).path() != existing)
        existing = QFileInfo(existing).path();
    const QStorageInfo storage(existing);
    if (storage.isValid() && storage.bytesAvailable() < needed) {
        qCWarning(lcApp).noquote() << "Restore: refused," << needed << "bytes needed,"
                                   << storage.bytesAvailable() << "free in" << existing;
        m_failureReason
            = tr("Auf dem Datenträger von \"%1\" sind nur %2 frei, die "
                 "Wiederherstellung braucht %3.")
                  .arg(QDir::toNativeSeparators(existing),
                       Statics::sizeText(storage.bytesAvailable()), Statics::sizeText(needed));
        return false;
    }
    return true;
}

bool FolderCompressor::unpackAll(const QString &target, qint64 archiveSize)
{
    const QString root = QDir::cleanPath(QDir(target).absolutePath());
    while (!m_stream.atEnd()) {
        if (stopRequested())
            return false;
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
            PrivateFile::makePath(root + QLatin1Char('/') + path.left(separator));
        QFile output;
        QString error;
        const bool opened = PrivateFile::open(output, outName,
                                              QIODevice::WriteOnly | QIODevice::Truncate, &error);
        if (!opened || output.write(content) != content.size() || !output.flush()) {
            qCWarning(lcApp).noquote()
                << "Restore: can't write" << outName << (opened ? output.errorString() : error);
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
    const QFileInfo live(db.sqliteFile());
    if (live.absoluteDir().canonicalPath() != QDir(m_source).canonicalPath())
        return true;
    // VACUUM INTO writes the state of one read transaction: every row committed before it,
    // none half written, while the workers go on writing the live file and its journal.
    const QString snapshot = snapshotDir + QLatin1Char('/') + live.fileName();
    if (snapshotDir.isEmpty()
        || !db.executeSQL(QStringLiteral("VACUUM INTO '") + Database::escapeString(snapshot)
                          + QLatin1Char('\''))) {
        qCWarning(lcApp).noquote() << "Backup: no snapshot of the database" << db.lastErrorText;
        m_failureReason = diskFull(m_source)
            ? tr("Auf dem Datenträger des Datenordners \"%1\" ist kein Platz mehr frei für "
                 "eine Kopie der Datenbank.")
                  .arg(QDir::toNativeSeparators(m_source))
            : tr("Die Datenbank konnte nicht kopiert werden: %1").arg(db.lastErrorText);
        return false;
    }
    const QString path = QLatin1Char('/') + live.fileName();
    substituteFile(path, snapshot);
    for (const char *journal : { "-wal", "-shm", "-journal" })
        leaveOut(path + QLatin1String(journal));
    return true;
}

QString FolderCompressor::sharedDatabaseNotice()
{
    return tr("Die gemeinsame MySQL-Datenbank ist nicht in diesem Backup: es enthält nur die "
              "Dateien dieses Arbeitsplatzes (Bilder, Protokolle, Einstellungen und die lokale "
              "Datenbank). Die Artikel, Ordner und Einstellungen auf dem MySQL-Server sichert "
              "dieses Backup nicht; sichere sie auf dem Server selbst (zum Beispiel mit "
              "mysqldump).");
}

QString FolderCompressor::sharedDatabaseRestoreNotice()
{
    return tr("Die gemeinsame MySQL-Datenbank ist nicht in der Sicherung und wird nicht "
              "zurückgesetzt: wiederhergestellt werden nur die Dateien dieses Arbeitsplatzes "
              "(Bilder, Protokolle, Einstellungen und die lokale Datenbank). Die Artikel, Ordner "
              "und Einstellungen auf dem MySQL-Server bleiben, wie sie jetzt sind.");
}

void FolderCompressor::work()
{
    auto info = std::make_unique<Database>(true, QStringLiteral("BackupInfo"));
    runBackup(*info);
    info->close();
}

void FolderCompressor::runBackup(Database &db)
{
    Database *info = &db;
    QString title = tr("Backup wurde erstellt");
    QString text;
    bool ok = false;
    m_failureReason.clear();
    {
        // Hidden, so the folder is not packed itself; removed with its snapshot afterwards.
        QTemporaryDir snapshotDir(m_source + QStringLiteral("/.backup-XXXXXX"));
        ok = snapshotDatabase(*info, snapshotDir.isValid() ? snapshotDir.path() : QString())
            && compressFolder(m_source, m_destination);
    }
    if (ok) {
        text = tr("Das Backup wurde hier erstellt: %1").arg(m_destination);
        // On a shared database the archive holds only this workstation's files: the
        // articles, folders and settings on the server are not in it.
        if (db.isMySQL) {
            title = tr("Backup der lokalen Dateien wurde erstellt");
            text += QStringLiteral("\n\n") + sharedDatabaseNotice();
        }
    } else {
        title = tr("Backup fehlgeschlagen");
        text = tr("Das Backup konnte nicht erstellt werden");
        if (!m_failureReason.isEmpty())
            text += QStringLiteral(": ") + m_failureReason;
    }
    emit sendNotification(Statics::notificationMessage(title, text));
    emit outcome(ok, title, text, m_failureReason);

    const NewsItem entry = info->addOutcomeNews(title, text, ok);
    if (entry.id > 0)
        emit sendaddNewsItem(entry);

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
    emit outcome(ok, title, text, m_failureReason);
    emit getStatus(tr("Wiederherstellung beendet"), 100, 100);
    emit runFinished(ok);
    emit finished();
}
