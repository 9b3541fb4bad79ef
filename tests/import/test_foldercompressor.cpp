// The backup archive: its bytes, what goes into it and in which order, round trips, the
// modes of what it makes, and archives that must not unpack.

// This test defines open() and mkdir() itself (below); glibc's checking wrappers of them must
// not be in the way.
#undef _FORTIFY_SOURCE

#include "import/foldercompressor.h"
#include "tests/support/mounts.h"
#include "tests/support/testmain.h"

#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdarg>
#include <mutex>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The files and folders made while `g_watching` is set, with the mode each had the moment it
// came into being (before anything could narrow it): path -> permission bits.
std::atomic<bool> g_watching { false };
std::mutex g_createdMutex;
QMap<QString, int> g_created;

void noteCreated(const char *path, mode_t mode)
{
    const std::lock_guard<std::mutex> lock(g_createdMutex);
    g_created.insert(QDir::cleanPath(QFile::decodeName(path)), int(mode & 07777));
}

using OpenFunction = int (*)(const char *, int, ...);

int openNoting(const char *name, OpenFunction *next, const char *path, int flags, mode_t mode)
{
    if (!*next)
        *next = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, name));
    struct stat status = {};
    const bool creates = g_watching && (flags & O_CREAT) && lstat(path, &status) != 0;
    const int fd = (*next)(path, flags, mode);
    if (creates && fd >= 0 && fstat(fd, &status) == 0)
        noteCreated(path, status.st_mode);
    return fd;
}

mode_t modeArgument(int flags, va_list arguments)
{
    return (flags & O_CREAT) ? mode_t(va_arg(arguments, int)) : 0;
}

} // namespace

extern "C" {
int open(const char *path, int flags, ...)
{
    static OpenFunction next = nullptr;
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openNoting("open", &next, path, flags, mode);
}
int open64(const char *path, int flags, ...)
{
    static OpenFunction next = nullptr;
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openNoting("open64", &next, path, flags, mode);
}
int mkdir(const char *path, mode_t mode)
{
    static auto next = reinterpret_cast<int (*)(const char *, mode_t)>(dlsym(RTLD_NEXT, "mkdir"));
    const int result = next(path, mode);
    struct stat status = {};
    if (g_watching && result == 0 && stat(path, &status) == 0)
        noteCreated(path, status.st_mode);
    return result;
}
}

namespace {

using Tree = QMap<QString, QByteArray>; // relative path -> content

void writeTree(const QString &root, const Tree &tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString path = root + QLatin1Char('/') + it.key();
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(it.value());
    }
}

Tree readTree(const QString &root)
{
    Tree tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        file.open(QIODevice::ReadOnly);
        tree.insert(QDir(root).relativeFilePath(file.fileName()), file.readAll());
    }
    return tree;
}

QStringList recordPaths(const QString &archive)
{
    QFile file(archive);
    file.open(QIODevice::ReadOnly);
    QDataStream stream(&file);
    QStringList paths;
    while (!stream.atEnd()) {
        QString path;
        QByteArray packed;
        stream >> path >> packed;
        paths << path;
    }
    return paths;
}

QByteArray record(const QString &path, const QByteArray &packed)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << path << packed;
    return bytes;
}

} // namespace

class TestFolderCompressor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void goldenBytes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("archive");
        QTest::newRow("one file")
            << "a.txt" << QByteArray("abc")
            << QByteArray::fromHex("0000000C002F0061002E0074007800740000000F00000003789C4B4C4A0600"
                                   "024D0127");
        QTest::newRow("empty file in a sub-folder")
            << "sub/e.txt" << QByteArray()
            << QByteArray::fromHex("00000014002F007300750062002F0065002E00740078007400000004000000"
                                   "00");
    }
    void goldenBytes()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        writeTree(path("src"), { { file, content } });
        FolderCompressor packer { QString(), QString() };
        QVERIFY(packer.compressFolder(path("src"), path("out.backup")));
        QFile archive(path("out.backup"));
        QVERIFY(archive.open(QIODevice::ReadOnly));
        QTEST(archive.readAll(), "archive");

        QVERIFY(packer.decompressFolder(path("out.backup"), path("back")));
        QCOMPARE(readTree(path("back")), (Tree { { file, content } }));
    }

    void roundTrip_data()
    {
        QTest::addColumn<Tree>("tree");
        QByteArray binary(300000, '\0');
        for (int i = 0; i < binary.size(); ++i)
            binary[i] = char((i * 7919) >> 3);
        QTest::newRow("umlauts and binary")
            << Tree { { QStringLiteral("Ärger/Öfen/groß.txt"), "Grüße" },
                      { QStringLiteral("adimages/Bild ß 1.jpg"), binary },
                      { QStringLiteral("leer.txt"), QByteArray() },
                      { QStringLiteral("name\\mit\\rückstrich"), "x" } };
        QTest::newRow("only empty folders") << Tree {};
    }
    void roundTrip()
    {
        QFETCH(Tree, tree);
        QVERIFY(QDir().mkpath(path("src/leer/leerer")));
        writeTree(path("src"), tree);
        FolderCompressor packer { QString(), QString() };
        QVERIFY(packer.compressFolder(path("src"), path("out.backup")));
        QVERIFY(packer.decompressFolder(path("out.backup"), path("back")));
        QCOMPARE(readTree(path("back")), tree);
    }

    void skipRulesAndOrder()
    {
        const QStringList files = {
            "b.txt", "A.txt", "x.zip", ".hidden", "sub/Backup/no", "sub/LOGS/no", "sub/TmpImages/no",
            "sub/keep", "old.zip.d/no", "OLD.ZIP/yes", ".hiddendir/no", "backup/no", "logs/no",
            "tmpimages/no", "a/z", "a/Y/deep",
        };
        Tree tree;
        for (const QString &file : files)
            tree.insert(file, "x");
        writeTree(path("src"), tree);
        FolderCompressor packer { QString(), QString() };
        QVERIFY(packer.compressFolder(path("src"), path("out.backup")));
        QCOMPARE(recordPaths(path("out.backup")),
                 (QStringList { "/a/Y/deep", "/a/z", "/OLD.ZIP/yes", "/sub/keep", "/A.txt",
                                "/b.txt", "/x.zip" }));
    }

    // A file that can't be packed fails the backup and leaves no half archive behind.
    void failedBackupLeavesNoArchive()
    {
        writeTree(path("src"), { { "a/first.txt", "packed before the failure" } });
        QFile huge(path("src/z.bin"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        QVERIFY(huge.resize(FolderCompressor::maxFileSize() + 1)); // sparse
        huge.close();
        FolderCompressor packer { QString(), QString() };
        QVERIFY(!packer.compressFolder(path("src"), path("out.backup")));
        QVERIFY(!QFileInfo::exists(path("out.backup")));
    }

    // With a umask that takes nothing away, the archive, the restore folder and what is
    // unpacked into it are the owner's alone the moment they exist.
    void ownerOnlyFromTheStart()
    {
        writeTree(path("src"), { { "a.txt", "abc" }, { "sub/b.txt", "def" } });
        const mode_t umaskBefore = umask(0);
        g_created.clear();
        g_watching = true;
        FolderCompressor packer { QString(), QString() };
        const bool packed = packer.compressFolder(path("src"), path("out.backup"));
        const bool unpacked = packer.decompressFolder(path("out.backup"), path("back/restored"));
        g_watching = false;
        umask(umaskBefore);
        QVERIFY(packed && unpacked);

        QMap<QString, int> created;
        for (auto it = g_created.cbegin(); it != g_created.cend(); ++it)
            created.insert(QDir(m_dir->path()).relativeFilePath(it.key()), it.value());
        QCOMPARE(created,
                 (QMap<QString, int> { { "out.backup", 0600 },
                                       { "back", 0700 },
                                       { "back/restored", 0700 },
                                       { "back/restored/a.txt", 0600 },
                                       { "back/restored/sub", 0700 },
                                       { "back/restored/sub/b.txt", 0600 } }));
    }

    void restoreChecksTheTotalFirst_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QString>("disk"); // a small file system the target lies on
        QTest::addColumn<QString>("reason");
        // Each record unpacks a thousandfold, as zlib allows; together they would fill
        // 70 MB from an archive of some 70 KB.
        const QByteArray thousandfold = qCompress(QByteArray(1024 * 1024, 'x'));
        QByteArray many;
        for (int i = 0; i < 70; ++i)
            many += record(QStringLiteral("/bild%1.jpg").arg(i), thousandfold);
        QTest::newRow("packed far better than real data")
            << many << QString()
            << QStringLiteral("Die Sicherung würde entpackt 70 MB belegen, mehr als das "
                              "100-Fache ihrer Größe von %1 KB.")
                   .arg(many.size() / 1024);
        QTest::newRow("more than the disk holds")
            << record("/ZirevPavlet.sqlite", qCompress(QByteArray(8 * 1024 * 1024, 'd')))
            << QStringLiteral("4m")
            << QStringLiteral("Auf dem Datenträger von \"{disk}\" sind nur 4 MB frei, die "
                              "Wiederherstellung braucht 9 MB.");
    }
    // The sum of the records is checked before anything is written: refused with the
    // reason, and nothing is left on the disk.
    void restoreChecksTheTotalFirst()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QString, disk);
        QFETCH(QString, reason);
        const QString archivePath = path("gross.backup");
        QFile file(archivePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(archive) == archive.size());
        file.close();
        TestSupport::Mounts mounts;
        const QString parent = path("disk");
        QVERIFY(QDir().mkpath(parent));
        if (!disk.isEmpty()) {
            if (!TestSupport::Mounts::isRoot())
                QSKIP("A small file system needs root");
            QVERIFY(mounts.tmpfs(parent, disk));
        }

        FolderCompressor packer(archivePath, parent + QStringLiteral("/restore"));
        QSignalSpy outcomes(&packer, &FolderCompressor::outcome);
        packer.workdecomp();

        QCOMPARE(outcomes.size(), 1);
        QCOMPARE(outcomes.first().at(0).toBool(), false);
        const QString said = outcomes.first().at(3).toString();
        QVERIFY2(said.startsWith(reason.replace(QStringLiteral("{disk}"), parent)),
                 qPrintable(said));
        QCOMPARE(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void hostileArchives_data()
    {
        QTest::addColumn<QByteArray>("archive");
        const QByteArray good = record("/ok.txt", qCompress("fine"));
        const QByteArray evil = qCompress("evil");
        QTest::newRow("parent folder") << good + record("/../evil.txt", evil);
        QTest::newRow("deeper parent") << good + record("/a/../../evil.txt", evil);
        QTest::newRow("backslash parent") << good + record("/..\\evil.txt", evil);
        QTest::newRow("no leading slash") << good + record("evil.txt", evil);
        QTest::newRow("absolute") << good + record("//tmp/evil.txt", evil);
        QTest::newRow("truncated") << good + record("/evil.txt", evil).chopped(3);
        QByteArray corrupt = qCompress(QByteArray(1000, 'e'));
        corrupt[10] = char(corrupt[10] ^ 0x55);
        QTest::newRow("corrupt zlib") << good + record("/evil.txt", corrupt);
        QTest::newRow("forged length")
            << good + record("/evil.txt", QByteArray::fromHex("7FFFFFFF789C030000000001"));
        QTest::newRow("null content") << good + record("/evil.txt", QByteArray());
    }
    void hostileArchives()
    {
        QFETCH(QByteArray, archive);
        QFile file(path("hostile.backup"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(archive);
        file.close();
        const QString target = path("inner/restore");
        FolderCompressor packer(path("hostile.backup"), target);
        QSignalSpy notes(&packer, &FolderCompressor::sendNotification);
        QSignalSpy results(&packer, &FolderCompressor::runFinished);
        packer.workdecomp();
        QCOMPARE(results.value(0).value(0).toBool(), false);
        QCOMPARE(notes.value(0).value(0).toString(),
                 QStringLiteral("Wiederherstellung fehlgeschlagen§§§Die Wiederherstellung ist "
                                "fehlgeschlagen"));
        // The partly unpacked folder is gone, and nothing landed next to it.
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(QDir(path("inner")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(!QFileInfo::exists(path("evil.txt")));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/evil.txt")));
    }

    // Files are opened once, never through a link and never waiting on a pipe: a link in the
    // data folder is not packed (the file it leads to stays out of the archive), a pipe in
    // place of a file fails the backup at once, and an archive to restore that is a pipe or a
    // link is refused at once, with the reason.
    void noLinkFollowedNoPipeWaitedOn()
    {
        writeTree(path("src"), { { "a.txt", "abc" } });
        writeTree(path("outside"), { { "secret.txt", "geheim" } });
        QVERIFY(::symlink(QFile::encodeName(path("outside/secret.txt")).constData(),
                          QFile::encodeName(path("src/b.txt")).constData())
                == 0);
        QVERIFY(::mkfifo(QFile::encodeName(path("src/pipe")).constData(), 0600) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(path("other.pipe")).constData(), 0600) == 0);
        {
            FolderCompressor packer { QString(), QString() };
            QVERIFY(packer.compressFolder(path("src"), path("out.backup")));
            QVERIFY(packer.decompressFolder(path("out.backup"), path("restored")));
            QCOMPARE(QDir(path("restored"))
                         .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden
                                    | QDir::System),
                     QStringList { "a.txt" });
        }
        {
            FolderCompressor packer(path("src"), path("second.backup"));
            packer.substituteFile("/a.txt", path("other.pipe"));
            QSignalSpy outcome(&packer, &FolderCompressor::outcome);
            QVERIFY(!packer.compressFolder(path("src"), path("second.backup")));
            QVERIFY(!QFileInfo::exists(path("second.backup")));
        }
        for (const QString &archive : { path("other.pipe"), path("src/b.txt") }) {
            FolderCompressor unpacker(archive, path("never"));
            QSignalSpy outcome(&unpacker, &FolderCompressor::outcome);
            unpacker.workdecomp();
            QCOMPARE(outcome.value(0).value(0).toBool(), false);
            const QString reason = outcome.value(0).value(3).toString();
            QVERIFY2(reason.startsWith(
                         QString("Die Sicherung \"%1\" kann nicht gelesen werden: ").arg(archive))
                         && (reason.contains("Verknüpfung")
                             || reason.contains("keine gewöhnliche Datei")),
                     qPrintable(reason));
            QVERIFY(!QFileInfo::exists(path("never")));
        }
    }

    // The check asked between files ends a run (the program closing): no half archive, no
    // half unpacked folder.
    void cancelledRunsLeaveNothing()
    {
        writeTree(path("src"), { { "a.txt", "abc" }, { "b.txt", "def" } });
        {
            FolderCompressor packer { QString(), QString() };
            QVERIFY(packer.compressFolder(path("src"), path("whole.backup")));
        }
        int asked = 0;
        FolderCompressor packer { QString(), QString() };
        packer.setCancelCheck([&asked] { return ++asked > 1; });
        QVERIFY(!packer.compressFolder(path("src"), path("cut.backup")));
        QVERIFY(!QFileInfo::exists(path("cut.backup")));
        asked = 0;
        QVERIFY(!packer.decompressFolder(path("whole.backup"), path("cut")));
        QVERIFY(!QFileInfo::exists(path("cut")));
    }
};

APP_TEST_GUILESS_MAIN(TestFolderCompressor)
#include "test_foldercompressor.moc"
