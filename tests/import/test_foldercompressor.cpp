// The backup archive: its bytes, what goes into it and in which order, round trips, and
// archives that must not unpack.

#include "import/foldercompressor.h"
#include "tests/support/testmain.h"

#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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
};

APP_TEST_GUILESS_MAIN(TestFolderCompressor)
#include "test_foldercompressor.moc"
