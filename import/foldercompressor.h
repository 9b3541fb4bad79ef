#pragma once

#include "core/newsitem.h"

#include <QDataStream>
#include <QFile>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>

class Database;

// Packs a folder into one archive file and unpacks it again. The archive is a plain run of
// records, one per file: the file's path below the packed folder (a QString in QDataStream's
// big-endian form, always beginning with "/") and its content packed by qCompress (a
// QByteArray). No header, no count, no end marker. Sub-folders come before a folder's own
// files, each in name order ignoring case; hidden entries and the folders "backup",
// "tmpimages" and "logs" (any case) and every folder whose name holds ".zip" are left out.
//
// Made by the backup and restore commands, moved to a thread of its own; `work()` packs,
// `workdecomp()` unpacks, each once.
class FolderCompressor : public QObject
{
    Q_OBJECT
public:
    // `source`: the folder to pack or the archive to unpack; `destination`: the archive to
    // write or the folder to unpack into.
    FolderCompressor(QString source, QString destination);
    ~FolderCompressor() override;

    // Packs the folder `source` into a new archive, readable by its owner only from the
    // first byte on. On failure no archive is left behind.
    bool compressFolder(QString source, QString archive);
    // Writes the records of `folder` (recursively) to the open archive; `prefix` is the
    // folder's path below the packed folder, empty at the top.
    bool compress(QString folder, QString prefix);
    // Unpacks every record of `archive` below `target`. Nothing is written when the archive
    // is cut short, would unpack to far more than real data packs to, or does not fit on
    // the target's disk. A record that does not unpack or names a path outside `target`
    // fails it; a target folder made here is then removed again.
    bool decompressFolder(QString archive, QString target);

    // Instead of the file at record path `path` (e.g. "/a.txt"), pack the bytes of `file`.
    void substituteFile(const QString &path, const QString &file);
    // Leave the file at record path `path` out.
    void leaveOut(const QString &path);

    // The first of `path` + `suffix`, + `suffix` twice, … that names nothing on disk.
    static QString freeName(const QString &path, const QString &suffix);

    // What a backup on a shared MySQL database tells the seller: the server's data are not
    // in the archive.
    static QString sharedDatabaseNotice();
    // What a restore on a shared MySQL database tells the seller: only this workstation's
    // files are taken back, the server's data stay as they are.
    static QString sharedDatabaseRestoreNotice();

    // Files that qCompress cannot take whole make a backup fail.
    static qint64 maxFileSize();

    // Asked between files: true ends the run as failed (the program is closing), leaving
    // no half archive and no half unpacked folder behind.
    void setCancelCheck(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }

    // The backup run with `db` for the snapshot of the database and the activity entry.
    void runBackup(Database &db);

signals:
    void sendNotification(QString noti);
    void finished();
    void getStatus(QString progressText, int step, int total);
    void sendaddNewsItem(NewsItem);
    // Once a run is done, before runFinished(): its outcome as the notification tells it
    // (the text of a failed backup ends with the reason) and, for a failure, the reason
    // alone when one is known.
    void outcome(bool ok, QString title, QString text, QString reason);
    // Right before finished(): whether the run succeeded.
    void runFinished(bool ok);

public slots:
    // The backup run on a connection of its own: packs, notifies, writes the activity entry.
    void work();
    // The restore run: unpacks and notifies.
    void workdecomp();

private:
    // Makes a consistent copy of the SQLite database of the packed folder (when it has one)
    // and packs that instead of the live file and its journal files.
    bool snapshotDatabase(Database &db, const QString &snapshotDir);
    bool unpackAll(const QString &target, qint64 archiveSize);
    // Reads the open archive's records without unpacking them: their number and the sum of
    // their unpacked sizes. False when the archive is cut short.
    bool measure(qint64 *unpacked, qint64 *records);
    // Whether the open archive unpacks to a plausible total that fits on the disk of
    // `target`; sets the reason when not.
    bool fitsOnDisk(const QString &target, qint64 archiveSize);
    // Why writing `file` failed: a full disk, or the system's `systemText`.
    static QString writeFailure(const QString &file, const QString &systemText);
    bool writeRecord(const QString &path, const QString &fileName);
    // True (with the reason set) once the run is to stop.
    bool stopRequested();
    // Progress values fit an int also for archives of 2 GiB and more.
    void reportProgress(const QString &text, qint64 maximum, qint64 value);

    QString m_source;
    QString m_destination;
    QFile m_file;
    QDataStream m_stream;
    QHash<QString, QString> m_substitutes;
    QSet<QString> m_leftOut;
    // Why the last compressFolder or decompressFolder failed, as the seller reads it (the
    // outcome signal carries it); empty when it succeeded or no more is known.
    QString m_failureReason;
    // The archive being written.
    QString m_archive;
    std::function<bool()> m_cancelled;
};
