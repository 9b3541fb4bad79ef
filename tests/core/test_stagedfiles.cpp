#include "core/stagedfiles.h"
#include "tests/support/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

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

int modeOf(const QString &path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777)
                                                                       : -1;
}

} // namespace

class TestStagedFiles : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void replacesWhatStandsThere_data();
    void replacesWhatStandsThere();
    void leavesNothingHalfWritten_data();
    void leavesNothingHalfWritten();

private:
    // Every entry of the folder, hidden ones too.
    QStringList entries() const
    {
        return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System,
                                             QDir::Name);
    }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestStagedFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

enum class Before { Nothing, SymbolicLink, DanglingLink, HardLink, OwnFile };
Q_DECLARE_METATYPE(Before)

// Whatever stands at the name, the new file takes its place at commit and not before; a
// file the name led to keeps its content, and a plain file's mode stays.
void TestStagedFiles::replacesWhatStandsThere_data()
{
    QTest::addColumn<Before>("before");
    QTest::newRow("nothing") << Before::Nothing;
    QTest::newRow("symbolic link to another file") << Before::SymbolicLink;
    QTest::newRow("symbolic link to nowhere") << Before::DanglingLink;
    QTest::newRow("hard link of another file") << Before::HardLink;
    QTest::newRow("own file of mode 0640") << Before::OwnFile;
}

void TestStagedFiles::replacesWhatStandsThere()
{
    QFETCH(Before, before);
    const QString path = m_dir->filePath("42_0.jpg");
    const QString other = m_dir->filePath("fremd.txt");
    QVERIFY(writeFile(other, "fremd"));
    switch (before) {
    case Before::Nothing:
        break;
    case Before::SymbolicLink:
        QVERIFY(QFile::link(other, path));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("symbolic link stood where"));
        break;
    case Before::DanglingLink:
        QVERIFY(QFile::link(m_dir->filePath("gibt es nicht"), path));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("symbolic link stood where"));
        break;
    case Before::HardLink:
        QVERIFY(::link(QFile::encodeName(other).constData(), QFile::encodeName(path).constData())
                == 0);
        break;
    case Before::OwnFile:
        QVERIFY(writeFile(path, "altes Bild") && ::chmod(QFile::encodeName(path).constData(), 0640) == 0);
        break;
    }
    const QByteArray oldContent = readFile(path);

    StagedFiles staged;
    QString error;
    QVERIFY2(staged.write(path, "neues Bild", &error), qPrintable(error));
    QVERIFY(staged.contains(path));
    QCOMPARE(readFile(staged.pathOf(path)), QByteArray("neues Bild"));
    // Nothing under the name yet but what was there (a link already removed).
    if (before == Before::SymbolicLink || before == Before::DanglingLink)
        QVERIFY(!QFileInfo(path).isSymLink() && !QFileInfo::exists(path));
    else
        QCOMPARE(readFile(path), oldContent);

    QVERIFY2(staged.commit(&error), qPrintable(error));
    QVERIFY(staged.isEmpty());
    QCOMPARE(readFile(path), QByteArray("neues Bild"));
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(readFile(other), QByteArray("fremd"));
    if (before == Before::OwnFile)
        QCOMPARE(modeOf(path), 0640);
    const QStringList expected = { "42_0.jpg", "fremd.txt" };
    QCOMPARE(entries(), expected);
}

enum class Course { MissingFolder, Discarded, Dropped, WrittenTwice, SyncFails };
Q_DECLARE_METATYPE(Course)

// A write that fails, a set that is not committed and a commit that fails leave no file
// under its name that is not whole, and no hidden file behind.
void TestStagedFiles::leavesNothingHalfWritten_data()
{
    QTest::addColumn<Course>("course");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("folder missing") << Course::MissingFolder << QStringList();
    QTest::newRow("discarded") << Course::Discarded << QStringList();
    QTest::newRow("given up without commit") << Course::Dropped << QStringList();
    QTest::newRow("written twice: the second counts")
        << Course::WrittenTwice << QStringList { "1_0.jpg", "1_1.jpg" };
    QTest::newRow("a file of the set can't be synced: none is named")
        << Course::SyncFails << QStringList();
}

void TestStagedFiles::leavesNothingHalfWritten()
{
    QFETCH(Course, course);
    QFETCH(QStringList, left);
    const QString first = m_dir->filePath("1_0.jpg");
    const QString second = m_dir->filePath("1_1.jpg");
    {
        StagedFiles staged;
        QString error;
        if (course == Course::MissingFolder) {
            QVERIFY(!staged.write(m_dir->filePath("fehlt/1_0.jpg"), "Bild", &error));
            QVERIFY(!error.isEmpty());
            QVERIFY(staged.isEmpty());
            QVERIFY(staged.commit());
        } else {
            QVERIFY(staged.write(first, "erstes") && staged.write(second, "zweites"));
            QCOMPARE(entries().size(), 2);
        }
        switch (course) {
        case Course::MissingFolder:
        case Course::Dropped:
            break;
        case Course::Discarded:
            staged.discard();
            QVERIFY(staged.commit());
            break;
        case Course::WrittenTwice:
            QVERIFY(staged.write(first, "erstes, neu"));
            QCOMPARE(entries().size(), 2);
            QVERIFY(staged.commit(&error));
            QCOMPARE(readFile(first), QByteArray("erstes, neu"));
            QCOMPARE(readFile(second), QByteArray("zweites"));
            break;
        case Course::SyncFails:
            QVERIFY(QFile::remove(staged.pathOf(second)));
            QVERIFY(!staged.commit(&error));
            QVERIFY(!error.isEmpty());
            break;
        }
    }
    QCOMPARE(entries(), left);
}

APP_TEST_GUILESS_MAIN(TestStagedFiles)
#include "test_stagedfiles.moc"
