#include "core/clock.h"
#include "core/logging.h"
#include "core/mymessageoutput.h"
#include "tests/support/testmain.h"

#include <memory>

#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

namespace {
const QDateTime kFixedTime(QDate(2026, 3, 14), QTime(9, 26, 53));
const char kFatalChildVariable[] = "ZERIRE_TEST_FATAL_LOG";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The test command may switch debug output off (QT_LOGGING_RULES); what the handler does
// with debug messages is tested here, so they are let through for the categories used.
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;

void letDebugThrough(QLoggingCategory *category)
{
    if (g_previousFilter)
        g_previousFilter(category);
    // By name: calling lcWorker() here would re-enter its own construction.
    const char *name = category->categoryName();
    if (qstrcmp(name, "default") == 0 || qstrcmp(name, "app.worker") == 0)
        category->setEnabled(QtDebugMsg, true);
}

void emitMessage(QtMsgType type, const QString &text)
{
    switch (type) {
    case QtDebugMsg:
        qDebug("%s", qUtf8Printable(text));
        break;
    case QtInfoMsg:
        qInfo("%s", qUtf8Printable(text));
        break;
    case QtWarningMsg:
        qWarning("%s", qUtf8Printable(text));
        break;
    case QtCriticalMsg:
        qCritical("%s", qUtf8Printable(text));
        break;
    case QtFatalMsg:
        QFAIL("fatal messages end the process");
    }
}
} // namespace

class TestMessageLog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void writesEachMessage_data();
    void writesEachMessage();
    void categoryDebugIsWritten();
    void lineHasTimeAndTag();
    void appendsToExistingFile();
    void threadsNeverInterleave();
    void followsDateChange_data();
    void followsDateChange();
    void unopenablePathStaysOnConsole_data();
    void unopenablePathStaysOnConsole();
    void closeRestoresConsoleOutput();
    void fatalIsWrittenThenAborts();

private:
    // Not a daily name, so the real date doesn't move the log elsewhere.
    QString logPath(const QString &name = QStringLiteral("zerire-test.log")) const
    {
        return m_dir->filePath(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMessageLog::initTestCase()
{
    g_previousFilter = QLoggingCategory::installFilter(letDebugThrough);
}

void TestMessageLog::cleanupTestCase()
{
    QLoggingCategory::installFilter(g_previousFilter);
}

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

void TestMessageLog::writesEachMessage_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("debug") << int(QtDebugMsg) << "Start"
                           << QByteArray("2026.03.14 09:26:53 [Debug] Start\n");
    QTest::newRow("info") << int(QtInfoMsg) << "Info"
                          << QByteArray("2026.03.14 09:26:53 [Info] Info\n");
    QTest::newRow("warning") << int(QtWarningMsg) << "Achtung"
                             << QByteArray("2026.03.14 09:26:53 [Warning] Achtung\n");
    QTest::newRow("critical") << int(QtCriticalMsg) << "Fehler"
                              << QByteArray("2026.03.14 09:26:53 [Critical] Fehler\n");
    QTest::newRow("utf-8") << int(QtInfoMsg) << QStringLiteral("Grüße €")
                           << QByteArray("2026.03.14 09:26:53 [Info] Gr\xc3\xbc\xc3\x9f"
                                         "e \xe2\x82\xac\n");
    QTest::newRow("multi-line") << int(QtWarningMsg) << "SQL:\nSELECT 1"
                                << QByteArray("2026.03.14 09:26:53 [Warning] SQL:\nSELECT 1\n");
}

void TestMessageLog::writesEachMessage()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(QByteArray, content);
    Clock::setCurrentDateTimeForTesting(kFixedTime);
    QVERIFY(MessageLog::open(logPath()));
    QCOMPARE(MessageLog::currentPath(), logPath());
    emitMessage(QtMsgType(type), message);
    // Flushed with each line: readable before the log is closed.
    QCOMPARE(readAll(logPath()), content);
}

void TestMessageLog::categoryDebugIsWritten()
{
    Clock::setCurrentDateTimeForTesting(kFixedTime);
    QVERIFY(MessageLog::open(logPath()));
    qCDebug(lcWorker) << "Artikel" << 42;
    QCOMPARE(readAll(logPath()), QByteArray("2026.03.14 09:26:53 [Debug] Artikel 42\n"));
}

void TestMessageLog::lineHasTimeAndTag()
{
    QVERIFY(MessageLog::open(logPath()));
    qInfo("erste Zeile");
    qWarning("zweite Zeile");
    const QStringList lines = QString::fromUtf8(readAll(logPath())).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(2), QString());
    const QRegularExpression format(QStringLiteral("^\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2} "
                                                   "\\[(Info|Warning)\\] (erste|zweite) Zeile$"));
    for (int i = 0; i < 2; ++i)
        QVERIFY2(format.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
    // The time is the clock's, to the second.
    const QDateTime written
        = QDateTime::fromString(lines.at(0).left(19), QStringLiteral("yyyy.MM.dd hh:mm:ss"));
    QVERIFY(written.isValid());
    QVERIFY(qAbs(written.secsTo(QDateTime::currentDateTime())) < 5);
}

void TestMessageLog::appendsToExistingFile()
{
    Clock::setCurrentDateTimeForTesting(kFixedTime);
    {
        QFile file(logPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("fr\xc3\xbcher\n");
    }
    QVERIFY(MessageLog::open(logPath()));
    qInfo("eins");
    MessageLog::close();
    QVERIFY(MessageLog::open(logPath()));
    qInfo("zwei");
    QCOMPARE(readAll(logPath()),
             QByteArray("fr\xc3\xbcher\n"
                        "2026.03.14 09:26:53 [Info] eins\n"
                        "2026.03.14 09:26:53 [Info] zwei\n"));
}

void TestMessageLog::threadsNeverInterleave()
{
    const int threadCount = 4;
    const int linesPerThread = 500;
    QVERIFY(MessageLog::open(logPath()));

    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t] {
            const QString filler(150, QLatin1Char(char('a' + t)));
            for (int i = 0; i < linesPerThread; ++i) {
                if (i % 2)
                    qInfo("thread %d line %d %s", t, i, qPrintable(filler));
                else
                    qWarning("thread %d line %d %s", t, i, qPrintable(filler));
            }
        }));
    }
    for (auto &thread : threads)
        thread->start();
    for (auto &thread : threads)
        QVERIFY(thread->wait(20000));
    MessageLog::close();

    QStringList lines = QString::fromUtf8(readAll(logPath())).split(QLatin1Char('\n'));
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.size(), threadCount * linesPerThread);

    const QRegularExpression format(
        QStringLiteral("^\\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}:\\d{2} \\[(Info|Warning)\\] "
                       "thread (\\d) line (\\d+) ([a-z]+)$"));
    QSet<QString> seen;
    QVector<int> nextLine(threadCount, 0);
    for (const QString &line : qAsConst(lines)) {
        const QRegularExpressionMatch match = format.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const int t = match.captured(2).toInt();
        const int i = match.captured(3).toInt();
        QVERIFY(t < threadCount);
        QCOMPARE(match.captured(1), QString::fromLatin1(i % 2 ? "Info" : "Warning"));
        QCOMPARE(match.captured(4), QString(150, QLatin1Char(char('a' + t))));
        // Each thread's lines arrive complete and in its own order.
        QCOMPARE(i, nextLine[t]);
        ++nextLine[t];
        seen.insert(match.captured(2) + QLatin1Char('/') + match.captured(3));
    }
    QCOMPARE(seen.size(), threadCount * linesPerThread);
}

void TestMessageLog::followsDateChange_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QDateTime>("before");
    QTest::addColumn<QDateTime>("after");
    QTest::addColumn<QString>("nextFileName");
    QTest::addColumn<QStringList>("inFirstFile");
    QTest::addColumn<QStringList>("inNextFile");
    const QDateTime lateJanuary(QDate(2026, 1, 31), QTime(23, 59, 58));
    const QDateTime earlyFebruary(QDate(2026, 2, 1), QTime(0, 0, 1));
    const QStringList both { "vorher", "nachher" };
    QTest::newRow("next day") << "ZirevPavlet_2026_01_31.log" << lateJanuary << earlyFebruary
                              << "ZirevPavlet_2026_02_01.log" << QStringList { "vorher" }
                              << QStringList { "nachher" };
    QTest::newRow("new year") << "ZirevPavlet_2026_12_31.log"
                              << QDateTime(QDate(2026, 12, 31), QTime(23, 0))
                              << QDateTime(QDate(2027, 1, 1), QTime(1, 0))
                              << "ZirevPavlet_2027_01_01.log" << QStringList { "vorher" }
                              << QStringList { "nachher" };
    // Opened shortly before midnight, first message after it.
    QTest::newRow("file of the day before")
        << "ZirevPavlet_2026_01_31.log" << earlyFebruary << earlyFebruary.addSecs(5)
        << "ZirevPavlet_2026_02_01.log" << QStringList() << both;
    QTest::newRow("other name stays")
        << "zerire.log" << lateJanuary << earlyFebruary << "" << both << QStringList();
    QTest::newRow("similar name stays") << "ZirevPavlet_2026_01_31.log.old" << lateJanuary
                                        << earlyFebruary << "" << both << QStringList();
}

void TestMessageLog::followsDateChange()
{
    QFETCH(QString, fileName);
    QFETCH(QDateTime, before);
    QFETCH(QDateTime, after);
    QFETCH(QString, nextFileName);
    QFETCH(QStringList, inFirstFile);
    QFETCH(QStringList, inNextFile);
    const auto expected = [&](const QStringList &messages) {
        QByteArray content;
        for (const QString &message : messages) {
            const QDateTime time = message == QLatin1String("vorher") ? before : after;
            content += MessageLog::formatLine(QtInfoMsg, time, message).toUtf8() + '\n';
        }
        return content;
    };

    Clock::setCurrentDateTimeForTesting(before);
    QVERIFY(MessageLog::open(logPath(fileName)));
    qInfo("vorher");
    Clock::setCurrentDateTimeForTesting(after);
    qInfo("nachher");

    QCOMPARE(readAll(logPath(fileName)), expected(inFirstFile));
    if (nextFileName.isEmpty()) {
        QCOMPARE(MessageLog::currentPath(), logPath(fileName));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList { fileName });
    } else {
        QCOMPARE(MessageLog::currentPath(), logPath(nextFileName));
        QCOMPARE(readAll(logPath(nextFileName)), expected(inNextFile));
    }
}

void TestMessageLog::unopenablePathStaysOnConsole_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("parent is a file") << "datei/ZirevPavlet_2026_03_14.log";
    QTest::newRow("missing folder") << "fehlt/ZirevPavlet_2026_03_14.log";
    QTest::newRow("path is a folder") << "ordner";
    QTest::newRow("empty path") << "";
}

void TestMessageLog::unopenablePathStaysOnConsole()
{
    QFETCH(QString, relativePath);
    {
        QFile blocker(m_dir->filePath(QStringLiteral("datei")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("ordner")));
    const QString path = relativePath.isEmpty() ? QString() : m_dir->filePath(relativePath);

    QVERIFY(!MessageLog::open(path));
    QCOMPARE(MessageLog::currentPath(), QString());
    // Still reaches the test's own handler: ignoreMessage fails when it doesn't arrive.
    QTest::ignoreMessage(QtWarningMsg, "weiter auf der Konsole");
    qWarning("weiter auf der Konsole");
}

void TestMessageLog::closeRestoresConsoleOutput()
{
    QVERIFY(MessageLog::open(logPath()));
    qWarning("in die Datei");
    MessageLog::close();
    QCOMPARE(MessageLog::currentPath(), QString());

    QTest::ignoreMessage(QtWarningMsg, "auf die Konsole");
    qWarning("auf die Konsole");
    const QByteArray content = readAll(logPath());
    QVERIFY(content.endsWith(" [Warning] in die Datei\n"));
    QVERIFY(!content.contains("auf die Konsole"));
}

void TestMessageLog::fatalIsWrittenThenAborts()
{
    const QString childLog = qEnvironmentVariable(kFatalChildVariable);
    if (!childLog.isEmpty()) {
        // Child process started below: this call does not return.
        MessageLog::open(childLog);
        qInfo("vor dem Ende");
        qFatal("Datenbank nicht erreichbar");
        return;
    }

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kFatalChildVariable), logPath());
    environment.insert(QStringLiteral("QTEST_DISABLE_STACK_DUMP"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("fatalIsWrittenThenAborts"), QStringLiteral("-silent"),
                  QStringLiteral("-nocrashhandler") });
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const QStringList lines = QString::fromUtf8(readAll(logPath())).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).endsWith(QLatin1String(" [Info] vor dem Ende")), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).endsWith(QLatin1String(" [Fatal] Datenbank nicht erreichbar")),
             qPrintable(lines.at(1)));
    QCOMPARE(lines.at(2), QString());
}

APP_TEST_GUILESS_MAIN(TestMessageLog)
#include "test_messagelog.moc"
