// Paths the program did not make itself: a name a picture row holds stays inside its
// picture folder, whatever links stand below that folder, with or without the kernel's
// own beneath-open.
#include "core/untrustedfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

QTEST_GUILESS_MAIN(TestUntrustedFile)
#include "test_untrustedfile.moc"
