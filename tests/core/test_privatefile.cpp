// Files the program writes for the seller alone (backups, exports, the log): whatever stood at
// their place before, they end up the owner's alone and hold only what was written; a link is
// never written or narrowed through.
#include "core/privatefile.h"
#include "core/statics.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

// The permission bits as "600"; "-" when there is no such file.
QString mode(const QString &path, bool followLink = true)
{
    struct stat info;
    const QByteArray name = QFile::encodeName(path);
    if ((followLink ? ::stat(name.constData(), &info) : ::lstat(name.constData(), &info)) != 0)
        return QStringLiteral("-");
    return QString::number(info.st_mode & 0777, 8);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool makeFile(const QString &path, const QByteArray &content, mode_t bits)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
        && ::chmod(QFile::encodeName(path).constData(), bits) == 0;
}

} // namespace

class TestPrivateFile : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void writtenOverExisting_data();
    void writtenOverExisting();
    void ownerOnly_data();
    void ownerOnly();

private:
    mode_t m_umask = 0;
    std::unique_ptr<QTemporaryDir> m_dir;
};

// With no umask at all, so that every mode below is the program's own doing.
void TestPrivateFile::init()
{
    m_umask = ::umask(0);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPrivateFile::cleanup()
{
    m_dir.reset();
    ::umask(m_umask);
}

void TestPrivateFile::writtenOverExisting_data()
{
    QTest::addColumn<int>("before"); // the mode of the file found there; 0: none
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<bool>("append");
    QTest::addColumn<QByteArray>("content"); // afterwards

    QTest::newRow("new file") << 0 << QByteArray() << false << QByteArray("neu");
    QTest::newRow("world-readable backup")
        << 0644 << QByteArray("alt") << false << QByteArray("neu");
    QTest::newRow("open to everyone") << 0666 << QByteArray("alt") << false << QByteArray("neu");
    QTest::newRow("open to the group") << 0660 << QByteArray("alt") << false << QByteArray("neu");
    QTest::newRow("readable by the group")
        << 0640 << QByteArray("alt") << false << QByteArray("neu");
    QTest::newRow("longer older export")
        << 0600 << QByteArray(100000, 'x') << false << QByteArray("neu");
    QTest::newRow("world-readable log, appended")
        << 0644 << QByteArray("gestern\n") << true << QByteArray("gestern\nneu");
    QTest::newRow("group-writable log, appended")
        << 0620 << QByteArray("gestern\n") << true << QByteArray("gestern\nneu");
}

void TestPrivateFile::writtenOverExisting()
{
    QFETCH(int, before);
    QFETCH(QByteArray, old);
    QFETCH(bool, append);
    QFETCH(QByteArray, content);
    const QString path = m_dir->filePath("Zerire3.backup");
    if (before)
        QVERIFY(makeFile(path, old, mode_t(before)));

    QFile file;
    QString error;
    QVERIFY2(PrivateFile::open(
                 file, path,
                 append ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly, &error),
             qPrintable(error));
    QCOMPARE(file.write("neu"), qint64(3));
    file.close();
    QCOMPARE(mode(path), QStringLiteral("600"));
    QCOMPARE(readAll(path), content);
}

void TestPrivateFile::ownerOnly_data()
{
    QTest::addColumn<QString>("kind"); // "file", "folder", "link" (to a file)
    QTest::addColumn<int>("before");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("after"); // of the file, the folder or the link's target

    QTest::newRow("world-readable export") << "file" << 0644 << true << "600";
    QTest::newRow("export open to the group") << "file" << 0660 << true << "600";
    QTest::newRow("export readable by the group") << "file" << 0640 << true << "600";
    QTest::newRow("open folder") << "folder" << 0775 << true << "700";
    QTest::newRow("link to a world-readable file") << "link" << 0644 << false << "644";
    QTest::newRow("link to a group-writable file") << "link" << 0660 << false << "660";
}

void TestPrivateFile::ownerOnly()
{
    QFETCH(QString, kind);
    QFETCH(int, before);
    QFETCH(bool, changed);
    QFETCH(QString, after);
    const QString target = m_dir->filePath("ziel");
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(target));
        QVERIFY(::chmod(QFile::encodeName(target).constData(), mode_t(before)) == 0);
    } else {
        QVERIFY(makeFile(target, "Inhalt", mode_t(before)));
    }
    const QString path = kind == QLatin1String("link") ? m_dir->filePath("export.csv") : target;
    if (path != target)
        QVERIFY(QFile::link(target, path));

    QCOMPARE(Statics::setOwnerOnly(path), changed);
    QCOMPARE(mode(target), after);
    if (path != target) {
        QCOMPARE(QFileInfo(path).symLinkTarget(), target);
        QCOMPARE(readAll(target), QByteArray("Inhalt"));
    }
}

APP_TEST_GUILESS_MAIN(TestPrivateFile)
#include "test_privatefile.moc"
