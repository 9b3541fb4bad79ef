// Backup and restore of a large data folder: throughput and peak memory, next to gzip -6
// packing and unpacking the same bytes in the same run.
//
//   bench_backup [total MB = 2048] [pictures = 10000] [database MB = 200]
//
// The data folder is generated in a temporary folder (a SQLite database of article rows with
// text that packs like real descriptions, and pictures of incompressible bytes like JPEG
// files) and removed afterwards. Peak memory is the process's resident high-water mark,
// reset before each phase.

#include "core/database.h"
#include "import/foldercompressor.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

quint64 g_seed = 0x9E3779B97F4A7C15ull;
quint64 nextRandom()
{
    g_seed ^= g_seed << 13;
    g_seed ^= g_seed >> 7;
    g_seed ^= g_seed << 17;
    return g_seed;
}

void resetPeakMemory()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

// Resident high-water mark in MB.
double peakMemoryMb()
{
    QFile file(QStringLiteral("/proc/self/status"));
    file.open(QIODevice::ReadOnly | QIODevice::Text);
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

QByteArray descriptionText(int bytes)
{
    static const char *const words[] = { "<p>",   "Artikel", "Zustand", "gebraucht", "neu",
                                         "Versand", "</p>",   "mit",     "und",       "Farbe",
                                         "Größe",  "Lieferung", "<br>", "Qualität", "top" };
    QByteArray text;
    text.reserve(bytes + 16);
    while (text.size() < bytes) {
        text += words[nextRandom() % 15];
        text += ' ';
        if (nextRandom() % 9 == 0)
            text += QByteArray::number(qulonglong(nextRandom() % 100000));
    }
    return text;
}

bool makeDatabase(const QString &dataDir, qint64 bytes)
{
    const QString name = QStringLiteral("bench_fill");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dataDir + Database::getDatabaseName());
        if (!db.open())
            return false;
        QSqlQuery query(db);
        query.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        db.transaction();
        query.prepare(QStringLiteral("INSERT INTO articles (Title, Description, StartPrice) "
                                     "VALUES (?, ?, ?)"));
        const int rowBytes = 4000;
        for (qint64 written = 0; written < bytes; written += rowBytes + 200) {
            query.addBindValue(QString::fromUtf8(descriptionText(80)));
            query.addBindValue(QString::fromUtf8(descriptionText(rowBytes)));
            query.addBindValue(double(nextRandom() % 10000) / 100);
            query.exec();
        }
        db.commit();
        query.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    }
    QSqlDatabase::removeDatabase(name);
    return true;
}

bool makePictures(const QString &folder, int count, qint64 totalBytes)
{
    QDir().mkpath(folder);
    const qint64 each = count > 0 ? totalBytes / count : 0;
    QByteArray buffer(int(each), '\0');
    for (int i = 0; i < count; ++i) {
        auto *words = reinterpret_cast<quint64 *>(buffer.data());
        for (qint64 w = 0; w < each / 8; ++w)
            words[w] = nextRandom();
        buffer[0] = char(0xFF);
        buffer[1] = char(0xD8);
        QFile file(folder + QStringLiteral("/bild_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(buffer) != buffer.size())
            return false;
    }
    return true;
}

qint64 folderBytes(const QString &folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

double runShell(const QString &command)
{
    QElapsedTimer timer;
    timer.start();
    QProcess::execute(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
    return timer.nsecsElapsed() / 1e9;
}

void report(const char *what, double mb, double seconds, double peakMb)
{
    std::printf("%-34s %8.1f s %8.1f MB/s", what, seconds, mb / seconds);
    if (peakMb > 0)
        std::printf("   peak %7.1f MB", peakMb);
    std::printf("\n");
    std::fflush(stdout);
}

// The packed size in MB of the archive's record for `path`.
double packedMb(const QString &archive, const QString &path)
{
    QFile file(archive);
    file.open(QIODevice::ReadOnly);
    QDataStream stream(&file);
    while (!stream.atEnd()) {
        QString recordPath;
        quint32 length = 0;
        stream >> recordPath >> length;
        if (stream.status() != QDataStream::Ok)
            break;
        if (recordPath == path)
            return length / 1048576.0;
        stream.skipRawData(int(length));
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    const QStringList args = app.arguments();
    const qint64 totalMb = args.value(1, QStringLiteral("2048")).toLongLong();
    const int pictures = args.value(2, QStringLiteral("10000")).toInt();
    const qint64 databaseMb = args.value(3, QStringLiteral("200")).toLongLong();

    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/bench_backup-XXXXXX"));
    const QString dataDir = work.filePath(QStringLiteral("data")) + QLatin1Char('/');
    QDir().mkpath(dataDir);
    {
        Database schema(dataDir, nullptr); // creates the database file and its tables
    }
    std::printf("generating %lld MB: database %lld MB, %d pictures ...\n", totalMb, databaseMb,
                pictures);
    std::fflush(stdout);
    if (!makeDatabase(dataDir, databaseMb * 1024 * 1024)
        || !makePictures(dataDir + QStringLiteral("adimages"), pictures,
                         (totalMb - databaseMb) * 1024 * 1024)) {
        std::fprintf(stderr, "could not generate the data folder\n");
        return 1;
    }
    // The program's main connection, as while the program runs; the backup opens its own.
    Database main(dataDir, nullptr);
    QString source = dataDir;
    source.chop(1);
    const double mb = folderBytes(source) / (1024.0 * 1024.0);
    const double largestMb = QFileInfo(dataDir + Database::getDatabaseName()).size() / 1048576.0;
    std::printf("data folder: %.1f MB, largest file %.1f MB\n\n", mb, largestMb);

    const QString archive = work.filePath(QStringLiteral("Zerire3.backup"));
    const QString gz = work.filePath(QStringLiteral("all.gz"));
    // The same bytes in the same order, through gzip's own deflate at level 6.
    const QString files = QStringLiteral("cd '%1' && find . -type f -print0 | sort -z").arg(source);
    const double gzipSeconds
        = runShell(files + QStringLiteral(" | xargs -0 cat | gzip -6 > '%1'").arg(gz));
    report("gzip -6 (pack)", mb, gzipSeconds, 0);

    resetPeakMemory();
    QElapsedTimer timer;
    timer.start();
    {
        FolderCompressor packer(source, archive);
        packer.work();
    }
    const double backupSeconds = timer.nsecsElapsed() / 1e9;
    const double backupPeak = peakMemoryMb();
    report("backup run (snapshot + pack)", mb, backupSeconds, backupPeak);

    QFile::remove(archive);
    resetPeakMemory();
    timer.restart();
    const bool packed = FolderCompressor(QString(), QString()).compressFolder(source, archive);
    const double packSeconds = timer.nsecsElapsed() / 1e9;
    const double packPeak = peakMemoryMb();
    report(packed ? "pack only" : "pack only FAILED", mb, packSeconds, packPeak);
    const double archiveMb = QFileInfo(archive).size() / 1048576.0;

    const double gunzipSeconds
        = runShell(QStringLiteral("gzip -dc '%1' > '%2'").arg(gz, work.filePath("all.raw")));
    QFile::remove(work.filePath(QStringLiteral("all.raw")));
    report("gzip -d (unpack)", mb, gunzipSeconds, 0);

    resetPeakMemory();
    timer.restart();
    const bool unpacked = FolderCompressor(QString(), QString())
                              .decompressFolder(archive, work.filePath(QStringLiteral("restored")));
    const double restoreSeconds = timer.nsecsElapsed() / 1e9;
    const double restorePeak = peakMemoryMb();
    report(unpacked ? "restore (unpack)" : "restore FAILED", mb, restoreSeconds, restorePeak);

    const double largestPackedMb
        = packedMb(archive, QLatin1Char('/') + Database::getDatabaseName());
    const double bound = largestMb + largestPackedMb + 100;
    std::printf("\narchive %.1f MB, gzip %.1f MB\n", archiveMb,
                QFileInfo(gz).size() / 1048576.0);
    std::printf("throughput vs gzip -6: backup run %.2fx, pack %.2fx; restore vs gzip -d %.2fx\n",
                gzipSeconds / backupSeconds, gzipSeconds / packSeconds,
                gunzipSeconds / restoreSeconds);
    std::printf("peak memory bound: largest file %.1f MB + packed %.1f MB + 100 MB = %.0f MB: "
                "backup %s, restore %s\n",
                largestMb, largestPackedMb, bound, backupPeak <= bound ? "kept" : "EXCEEDED",
                restorePeak <= bound ? "kept" : "EXCEEDED");
    return packed && unpacked ? 0 : 1;
}
