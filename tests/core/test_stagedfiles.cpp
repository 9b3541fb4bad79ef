#include "core/stagedfiles.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestStagedFiles : public QObject
{
    Q_OBJECT
private slots:
    void wholeOrNothingUnderTheName_data();
    void wholeOrNothingUnderTheName();
};

// Until commit the name shows what stood there; then the last content written, or, when the
// set is given up or a sync fails, what stood there. Nothing is written through a link, a
// plain file's mode stays, and no hidden file is left.
void TestStagedFiles::wholeOrNothingUnderTheName_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("course");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("new file") << "" << "commit" << QByteArray("neu");
    QTest::newRow("over a symbolic link") << "symlink" << "commit" << QByteArray("neu");
    QTest::newRow("over a hard link") << "hardlink" << "commit" << QByteArray("neu");
    QTest::newRow("over an own file of mode 0640") << "own" << "commit" << QByteArray("neu");
    QTest::newRow("written twice") << "own" << "twice" << QByteArray("neu, zweimal");
    QTest::newRow("given up") << "own" << "drop" << QByteArray("alt");
    QTest::newRow("a file of the set can't be synced") << "own" << "vanish" << QByteArray("alt");
}

void TestStagedFiles::wholeOrNothingUnderTheName()
{
    QFETCH(QString, before);
    QFETCH(QString, course);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    const QString path = dir.filePath("42_0.jpg");
    const QByteArray name = QFile::encodeName(path);
    const QString other = dir.filePath("fremd.txt");
    QVERIFY(writeFile(other, "fremd"));
    if (before == "symlink") {
        QVERIFY(QFile::link(other, path));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("symbolic link stood where"));
    } else if (before == "hardlink") {
        QVERIFY(::link(QFile::encodeName(other).constData(), name.constData()) == 0);
    } else if (before == "own") {
        QVERIFY(writeFile(path, "alt") && ::chmod(name.constData(), 0640) == 0);
    }
    const QByteArray old = before == "symlink" ? QByteArray("<none>") : readFile(path);
    {
        StagedFiles staged;
        QString error;
        QVERIFY2(staged.write(path, "neu", &error), qPrintable(error));
        QVERIFY(staged.write(dir.filePath("42_1.jpg"), "zweites Bild"));
        if (course == "twice")
            QVERIFY(staged.write(path, "neu, zweimal"));
        QCOMPARE(readFile(staged.pathOf(path)), course == "twice" ? after : QByteArray("neu"));
        QCOMPARE(readFile(path), old);
        if (course == "vanish")
            QVERIFY(QFile::remove(staged.pathOf(dir.filePath("42_1.jpg"))));
        if (course != "drop")
            QCOMPARE(staged.commit(&error), course != "vanish");
    }
    QCOMPARE(readFile(path), after);
    QCOMPARE(readFile(other), QByteArray("fremd"));
    struct stat status = {};
    QVERIFY(::lstat(name.constData(), &status) == 0 && S_ISREG(status.st_mode));
    if (before == "own")
        QCOMPARE(status.st_mode & 0777, 0640u);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QCOMPARE(left.filter(QRegularExpression("^\\.")), QStringList());
}

APP_TEST_GUILESS_MAIN(TestStagedFiles)
#include "test_stagedfiles.moc"
