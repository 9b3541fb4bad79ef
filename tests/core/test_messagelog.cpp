#include "core/clock.h"
#include "core/mymessageoutput.h"
#include "tests/support/testmain.h"

#include <memory>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

namespace {
const QDateTime kFixedTime(QDate(2026, 3, 14), QTime(9, 26, 53));

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMessageLog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void appendsFormattedLines();
    void threadsNeverInterleave();
    void followsDateChange();
    void plantedLinkIsNotFollowed_data();
    void plantedLinkIsNotFollowed();

private:
    // Not a daily name, so the real date doesn't move the log elsewhere.
    QString logPath(const QString &name = QStringLiteral("zerire-test.log")) const
    {
        return m_dir->filePath(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMessageLog::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestMessageLog::cleanup()
{
    MessageLog::close();
    Clock::setCurrentDateTimeForTesting(QDateTime());
}

// Appended to what is there, flushed with each line (readable before the log is closed).
void TestMessageLog::appendsFormattedLines()
{
    Clock::setCurrentDateTimeForTesting(kFixedTime);
    QFile file(logPath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("früher\n") > 0);
    file.close();
    QVERIFY(MessageLog::open(logPath()));
    qWarning("Grüße €");
    QCOMPARE(readAll(logPath()), QByteArray("früher\n2026.03.14 09:26:53 [Warning] Grüße €\n"));

    // Closed, or a path that can't be opened: back to the console (ignoreMessage fails
    // when it doesn't arrive there).
    MessageLog::close();
    QVERIFY(!MessageLog::open(m_dir->path()));
    QCOMPARE(MessageLog::currentPath(), QString());
    QTest::ignoreMessage(QtWarningMsg, "auf die Konsole");
    qWarning("auf die Konsole");
    QVERIFY(!readAll(logPath()).contains("Konsole"));
}

// Every line complete, each thread's lines in its own order.
void TestMessageLog::threadsNeverInterleave()
{
    const int linesPerThread = 300;
    QVERIFY(MessageLog::open(logPath()));
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads
            .emplace_back(QThread::create([t] {
                for (int i = 0; i < linesPerThread; ++i)
                    qWarning("%d %d %s", t, i, QByteArray(150, char('a' + t)).constData());
            }))
            ->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(20000));
    MessageLog::close();

    QVector<int> next(4, 0);
    QStringList lines = QString::fromUtf8(readAll(logPath())).split('\n');
    QCOMPARE(lines.takeLast(), QString());
    for (const QString &line : qAsConst(lines)) {
        const QStringList parts = line.mid(30).split(' '); // after "... [Warning] "
        const int t = parts.value(0).toInt();
        QVERIFY2(t >= 0 && t < 4, qPrintable(line));
        QCOMPARE(parts.value(1).toInt(), next[t]++);
        QCOMPARE(parts.value(2), QString(150, QLatin1Char(char('a' + t))));
    }
    QCOMPARE(next, QVector<int>(4, linesPerThread));
}

// A daily file moves on to the next day's at midnight; any other name stays.
void TestMessageLog::followsDateChange()
{
    const QDateTime before(QDate(2026, 1, 31), QTime(23, 59, 58));
    const QDateTime after = before.addSecs(7);
    for (const char *name : { "zerire.log", "ZirevPavlet_2026_01_31.log" }) {
        Clock::setCurrentDateTimeForTesting(before);
        QVERIFY(MessageLog::open(logPath(name)));
        qInfo("vorher");
        Clock::setCurrentDateTimeForTesting(after);
        qInfo("nachher");
        MessageLog::close();
    }
    QCOMPARE(readAll(logPath("zerire.log")).count('\n'), 2);
    QCOMPARE(readAll(logPath("ZirevPavlet_2026_01_31.log")),
             MessageLog::formatLine(QtInfoMsg, before, "vorher").toUtf8() + '\n');
    QCOMPARE(readAll(logPath("ZirevPavlet_2026_02_01.log")),
             MessageLog::formatLine(QtInfoMsg, after, "nachher").toUtf8() + '\n');
}

void TestMessageLog::plantedLinkIsNotFollowed_data()
{
    QTest::addColumn<bool>("nextDay"); // planted for the file the log moves on to at midnight
    QTest::newRow("today's file") << false;
    QTest::newRow("tomorrow's file") << true;
}

// A link planted in the log folder leads to another file of the seller's: the log replaces
// it with a file of its own, leaving that file and its mode as they were.
void TestMessageLog::plantedLinkIsNotFollowed()
{
    QFETCH(bool, nextDay);
    const QString other = m_dir->filePath("fremd.txt");
    QFile file(other);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("fremd\n") > 0);
    file.close();
    const QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner
        | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ReadGroup
        | QFileDevice::ReadOther;
    QVERIFY(QFile::setPermissions(other, mode));
    const QString today = logPath("ZirevPavlet_2026_03_14.log");
    const QString linked = nextDay ? logPath("ZirevPavlet_2026_03_15.log") : today;
    QVERIFY(QFile::link(other, linked));

    Clock::setCurrentDateTimeForTesting(kFixedTime);
    if (!nextDay)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("symbolic link stood where"));
    QVERIFY(MessageLog::open(today));
    if (nextDay) {
        qInfo("heute");
        Clock::setCurrentDateTimeForTesting(kFixedTime.addDays(1));
    }
    qWarning("Zeile");
    MessageLog::close();

    QCOMPARE(readAll(other), QByteArray("fremd\n"));
    QCOMPARE(QFileInfo(other).permissions(), mode);
    QVERIFY(!QFileInfo(linked).isSymLink());
    QVERIFY(readAll(linked).endsWith("[Warning] Zeile\n"));
    QCOMPARE(QFileInfo(linked).permissions(),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                 | QFileDevice::WriteUser);
}

APP_TEST_GUILESS_MAIN(TestMessageLog)
#include "test_messagelog.moc"
