// Paths the program did not make itself: a name a picture row holds stays inside its
// picture folder, whatever links stand below that folder, with or without the kernel's
// own beneath-open.
#include "core/untrustedfile.h"

#include "tests/support/filesizelimit.h"
#include "tests/support/peakmemory.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestUntrustedFile : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { UntrustedFile::setKernelBeneathForTesting(true); }

    void insideFolder_data();
    void insideFolder();
    void namedByData_data();
    void namedByData();
    void copy_data();
    void copy();
};

void TestUntrustedFile::insideFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("inside");
    QTest::newRow("a file of the folder") << "/daten/adimages/"
                                          << "bild.jpg" << true;
    QTest::newRow("a way round inside") << "/daten/adimages"
                                        << "a/../bild.jpg" << true;
    QTest::newRow("up and out") << "/daten/adimages/"
                                << "../privat.jpg" << false;
    QTest::newRow("a sibling folder with the same beginning") << "/daten/adimages/"
                                                              << "../adimages_thumb/x.jpg" << false;
    QTest::newRow("the same, folder named without its separator")
        << "/daten/adimages"
        << "../adimages_thumb/x.jpg" << false;
    QTest::newRow("an absolute path") << "/daten/adimages/"
                                      << "/etc/passwd" << false;
}

void TestUntrustedFile::insideFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(bool, inside);
    QCOMPARE(UntrustedFile::insideFolder(folder, name), inside);
}

void TestUntrustedFile::namedByData_data()
{
    QTest::addColumn<bool>("kernel"); // openat2 used, else the parts walked one by one
    QTest::addColumn<QString>("name"); // below the picture folder
    QTest::addColumn<QString>("refusal"); // empty: opened; %1 the path, %2 the link's part
    const QString link = QStringLiteral("„%1“ ist eine Verknüpfung; ihr wird nicht gefolgt.");
    const QString behind
        = QStringLiteral("„%1“ liegt hinter einer Verknüpfung („%2“); ihr wird nicht gefolgt.");
    const QString out = QStringLiteral("„%1“ führt aus seinem Ordner hinaus.");
    for (const bool kernel : { true, false }) {
        const QByteArray how = kernel ? "openat2: " : "part by part: ";
        QTest::newRow(how + "a plain file") << kernel << "bild.jpg"
                                            << "";
        QTest::newRow(how + "a link at the end") << kernel << "link.jpg" << link;
        QTest::newRow(how + "a folder link leading out") << kernel << "raus/ausweis.jpg" << behind;
        QTest::newRow(how + "a folder link deeper down")
            << kernel << "sub/raus/ausweis.jpg" << behind;
        QTest::newRow(how + "a sibling folder with the same beginning")
            << kernel << "../adimages_thumb/x.jpg" << out;
        QTest::newRow(how + "a pipe") << kernel << "pipe.jpg"
                                      << "„%1“ ist keine gewöhnliche Datei.";
    }
}

// A row's name opened through the picture folder it names: each part below the folder is
// opened without following a link, and nothing leads out of it.
void TestUntrustedFile::namedByData()
{
    QFETCH(bool, kernel);
    QFETCH(QString, name);
    QFETCH(QString, refusal);
    UntrustedFile::setKernelBeneathForTesting(kernel);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    QVERIFY(dir.mkpath("adimages/sub") && dir.mkpath("adimages_thumb") && dir.mkpath("privat"));
    const QString folder = root.filePath("adimages/");
    const auto write = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("Bilddaten") == 9;
    };
    QVERIFY(write(folder + "bild.jpg") && write(root.filePath("privat/ausweis.jpg"))
            && write(root.filePath("adimages_thumb/x.jpg")));
    QVERIFY(::chmod(QFile::encodeName(root.filePath("privat/ausweis.jpg")).constData(), 0600) == 0);
    QVERIFY(QFile::link(root.filePath("privat/ausweis.jpg"), folder + "link.jpg"));
    QVERIFY(QFile::link(root.filePath("privat"), folder + "raus"));
    QVERIFY(QFile::link(root.filePath("privat"), folder + "sub/raus"));
    QCOMPARE(::mkfifo(QFile::encodeName(folder + "pipe.jpg").constData(), 0600), 0);
    UntrustedFile::addPictureFolder(folder);
    const QString path = folder + name;
    const QString linkPart = name.section('/', 0, -2);
    const QString expected = QString(refusal).replace("%1", path).replace("%2", linkPart);

    // By the folder and the name, and by the whole path of a picture folder.
    QString error;
    const int beneath = UntrustedFile::openBeneath(folder, name, &error);
    QCOMPARE(beneath >= 0, refusal.isEmpty());
    QCOMPARE(error, expected);
    // Handed out close-on-exec: a program started meanwhile (the decoder) inherits no picture.
    if (beneath >= 0) {
        const int flags = ::fcntl(beneath, F_GETFD);
        ::close(beneath);
        QVERIFY(flags >= 0 && (flags & FD_CLOEXEC));
    }
    // The whole path of a sibling folder lies in no picture folder: only the name counts.
    if (name.startsWith("../"))
        return;
    error.clear();
    const int regular = UntrustedFile::openRegular(path, UntrustedFile::Links::Refused, &error);
    QCOMPARE(regular >= 0, refusal.isEmpty());
    QCOMPARE(error, expected);
    if (regular >= 0) {
        const int flags = ::fcntl(regular, F_GETFD);
        ::close(regular);
        QVERIFY(flags >= 0 && (flags & FD_CLOEXEC));
    }
    QByteArray bytes;
    error.clear();
    QCOMPARE(UntrustedFile::read(path, UntrustedFile::Links::Refused, 1024, &bytes, &error),
             refusal.isEmpty());
    QCOMPARE(error, expected);
    QCOMPARE(bytes, refusal.isEmpty() ? QByteArray("Bilddaten") : QByteArray());
}

void TestUntrustedFile::copy_data()
{
    QTest::addColumn<qint64>("writable"); // bytes a file may take, 0: no limit
    QTest::addColumn<bool>("standing"); // a file stands at the target already
    QTest::addColumn<QString>("refusal"); // empty: copied; %1 the target, %2 the system's reason
    QTest::addColumn<int>("code"); // the reason's errno
    QTest::addColumn<qint64>("largest"); // the largest file taken, 0: the pictures' limit
    QTest::newRow("a large file, whole") << qint64(0) << false << "" << 0 << qint64(0);
    QTest::newRow("the disk full half-way")
        << qint64(5 * 1024 * 1024) << false << "„%1“ lässt sich nicht schreiben: %2" << EFBIG
        << qint64(0);
    QTest::newRow("a file standing at the target")
        << qint64(0) << true << "„%1“ lässt sich nicht anlegen: %2" << EEXIST << qint64(0);
    QTest::newRow("a file just as large as the limit")
        << qint64(0) << false << "" << 0 << qint64(48 * 1024 * 1024);
}

// A 48 MB picture is copied a block at a time, never whole in memory; a copy that fails
// leaves neither the target nor anything hidden beside it, and a file at the target stays.
void TestUntrustedFile::copy()
{
    QFETCH(qint64, writable);
    QFETCH(bool, standing);
    QFETCH(QString, refusal);
    QFETCH(int, code);
    QFETCH(qint64, largest);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    QVERIFY(dir.mkpath("quelle") && dir.mkpath("adimages"));
    const QString source = root.filePath("quelle/gross.jpg");
    const QString target = root.filePath("adimages/kopie.jpg");
    QCryptographicHash sourceHash(QCryptographicHash::Sha1);
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (int i = 0; i < 48; ++i) {
            block.fill(char('a' + i % 26));
            block[i] = 'x'; // each block its own, so a block written twice shows
            QCOMPARE(file.write(block), qint64(block.size()));
            sourceHash.addData(block);
        }
    }
    if (standing) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("alt") == 3);
    }

    TestSupport::PeakMemory memory;
    const bool measured = memory.start();
    QString error;
    bool copied;
    {
        std::unique_ptr<TestSupport::FileSizeLimit> limit;
        if (writable > 0)
            limit = std::make_unique<TestSupport::FileSizeLimit>(rlim_t(writable));
        copied
            = UntrustedFile::copy(source, UntrustedFile::Links::Followed, target,
                                  largest > 0 ? largest : UntrustedFile::kMaxPictureBytes, &error);
    }
    QVERIFY2(!measured || memory.growth() < 12 * 1024 * 1024,
             qPrintable(QString::number(memory.growth() >> 20) + " MB"));
    QCOMPARE(copied, refusal.isEmpty());
    QCOMPARE(error,
             refusal.isEmpty() ? QString()
                               : refusal.arg(target, QString::fromLocal8Bit(std::strerror(code))));
    QCOMPARE(QDir(root.filePath("adimages")).entryList(QDir::Files | QDir::Hidden | QDir::System),
             copied || standing ? QStringList { "kopie.jpg" } : QStringList());
    QFile result(target);
    if (standing) {
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(result.readAll(), QByteArray("alt"));
    } else if (copied) {
        QCryptographicHash targetHash(QCryptographicHash::Sha1);
        QVERIFY(result.open(QIODevice::ReadOnly) && targetHash.addData(&result));
        QCOMPARE(targetHash.result(), sourceHash.result());
        QCOMPARE(result.permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
    }
}

QTEST_GUILESS_MAIN(TestUntrustedFile)
#include "test_untrustedfile.moc"
