#include "core/clock.h"
#include "core/mymessageoutput.h"
#include "tests/support/testmain.h"

#include <memory>

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {
const QDateTime kFixedTime(QDate(2026, 3, 14), QTime(9, 26, 53));
const char kFatalChildVariable[] = "ZERIRE_TEST_FATAL_LOG";

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
    void followsDateChange_data();
    void followsDateChange();
    void unopenablePathStaysOnConsole();
    void fatalIsWrittenThenAborts();

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

void TestMessageLog::appendsFormattedLines()
{
    Clock::setCurrentDateTimeForTesting(kFixedTime);
    QFile file(logPath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("früher\n") > 0);
    file.close();
    QVERIFY(MessageLog::open(logPath()));
    QCOMPARE(MessageLog::currentPath(), logPath());
    qInfo("Grüße €");
    qWarning("SQL:\nSELECT 1");
    qCritical("Fehler");
    // Flushed with each line: readable before the log is closed.
    const QByteArray stamp = "2026.03.14 09:26:53 ";
    QCOMPARE(readAll(logPath()),
             "früher\n" + stamp + "[Info] Grüße €\n" + stamp + "[Warning] SQL:\nSELECT 1\n" + stamp
                 + "[Critical] Fehler\n");

    // Closed: back to the console (ignoreMessage fails when it doesn't arrive there).
    MessageLog::close();
    QTest::ignoreMessage(QtWarningMsg, "auf die Konsole");
    qWarning("auf die Konsole");
    QVERIFY(!readAll(logPath()).contains("Konsole"));
}

void TestMessageLog::threadsNeverInterleave()
{
    const int linesPerThread = 300;
    QVERIFY(MessageLog::open(logPath()));
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads
            .emplace_back(QThread::create([t] {
                const QByteArray filler(150, char('a' + t));
                for (int i = 0; i < linesPerThread; ++i)
                    qWarning("thread %d line %d %s", t, i, filler.constData());
            }))
            ->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(20000));
    MessageLog::close();

    // Every line complete, each thread's lines in its own order.
    QMap<QString, QStringList> written; // by thread number
    QStringList lines = QString::fromUtf8(readAll(logPath())).split('\n');
    QCOMPARE(lines.takeLast(), QString());
    for (const QString &line : qAsConst(lines))
        written[line.mid(37, 1)] << line.mid(20); // after the time stamp
    QCOMPARE(written.size(), 4);
    for (int t = 0; t < 4; ++t) {
        QStringList expected;
        for (int i = 0; i < linesPerThread; ++i)
            expected << QStringLiteral("[Warning] thread %1 line %2 ").arg(t).arg(i)
                    + QString(150, QLatin1Char(char('a' + t)));
        QCOMPARE(written.value(QString::number(t)), expected);
    }
}

void TestMessageLog::followsDateChange_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QDateTime>("before");
    QTest::addColumn<QString>("nextFileName"); // empty: stays in the first file
    QTest::addColumn<int>("inFirstFile"); // of the two lines
    const QDateTime lateJanuary(QDate(2026, 1, 31), QTime(23, 59, 58));
    const QString january = QStringLiteral("ZirevPavlet_2026_01_31.log");
    const QString february = QStringLiteral("ZirevPavlet_2026_02_01.log");
    QTest::newRow("next day") << january << lateJanuary << february << 1;
    // Opened with yesterday's name shortly after midnight.
    QTest::newRow("file of the day before") << january << lateJanuary.addSecs(3) << february << 0;
    QTest::newRow("other name stays") << "zerire.log" << lateJanuary << QString() << 2;
    QTest::newRow("similar name stays") << january + ".old" << lateJanuary << QString() << 2;
}

void TestMessageLog::followsDateChange()
{
    QFETCH(QString, fileName);
    QFETCH(QDateTime, before);
    QFETCH(QString, nextFileName);
    QFETCH(int, inFirstFile);
    const QDateTime after(QDate(2026, 2, 1), QTime(0, 0, 5));
    const QByteArrayList lines {
        MessageLog::formatLine(QtInfoMsg, before, "vorher").toUtf8() + '\n',
        MessageLog::formatLine(QtInfoMsg, after, "nachher").toUtf8() + '\n'
    };

    Clock::setCurrentDateTimeForTesting(before);
    QVERIFY(MessageLog::open(logPath(fileName)));
    qInfo("vorher");
    Clock::setCurrentDateTimeForTesting(after);
    qInfo("nachher");

    QCOMPARE(MessageLog::currentPath(), logPath(nextFileName.isEmpty() ? fileName : nextFileName));
    QCOMPARE(readAll(logPath(fileName)), lines.mid(0, inFirstFile).join());
    if (!nextFileName.isEmpty())
        QCOMPARE(readAll(logPath(nextFileName)), lines.mid(inFirstFile).join());
}

void TestMessageLog::unopenablePathStaysOnConsole()
{
    QVERIFY(QDir(m_dir->path()).mkdir("ordner"));
    for (const QString &path :
         { logPath("fehlt/ZirevPavlet_2026_03_14.log"), logPath("ordner"), QString() }) {
        QVERIFY2(!MessageLog::open(path), qPrintable(path));
        QCOMPARE(MessageLog::currentPath(), QString());
    }
    QTest::ignoreMessage(QtWarningMsg, "weiter auf der Konsole");
    qWarning("weiter auf der Konsole");
}

void TestMessageLog::fatalIsWrittenThenAborts()
{
    const QString childLog = qEnvironmentVariable(kFatalChildVariable);
    if (!childLog.isEmpty()) {
        // The child process started below: this call does not return.
        MessageLog::open(childLog);
        qFatal("Datenbank nicht erreichbar");
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(kFatalChildVariable, logPath());
    environment.insert("QTEST_DISABLE_STACK_DUMP", "1");
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                { "fatalIsWrittenThenAborts", "-silent", "-nocrashhandler" });
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    const QByteArray log = readAll(logPath());
    QVERIFY2(log.endsWith(" [Fatal] Datenbank nicht erreichbar\n"), log.constData());
}

APP_TEST_GUILESS_MAIN(TestMessageLog)
#include "test_messagelog.moc"
