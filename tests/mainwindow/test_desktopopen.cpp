// "Datenverzeichnis öffnen", "Hilfe zur Einrichtung" and "Autorisieren" on a desktop where no
// browser or file manager can be started, or whose opener starts and then reports that it
// found none: the seller is told so, with the folder or address to open by hand; where one can
// be started, nothing is said.
#include "core/database.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/setup.h"
#include "mainwindow/setupaccount.h"
#include "tests/support/dialoganswers.h"
#include "tests/support/fakehttpserver.h"
#include "tests/support/mainwindowfixture.h"
#include "tests/support/testdatabase.h"
#include "tests/support/testmain.h"
#include "tests/support/urlcapture.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

namespace {

const QStringList kKeys = QString("ZERIRE_DEV_ID=dev ZERIRE_APP_ID=app ZERIRE_CERT_ID=cert "
                                  "ZERIRE_RUNAME=Revevor-Zerire-PRD")
                              .split(' ');

// The desktop finds no program to open addresses or folders with: an empty search path and
// no browser named in the environment. Restored when it goes.
class NoLauncher
{
public:
    NoLauncher()
    {
        for (const char *name : { "PATH", "BROWSER", "DEFAULT_BROWSER" })
            m_saved.append({ name, qgetenv(name) });
        qputenv("PATH", m_empty.path().toLocal8Bit());
        qunsetenv("BROWSER");
        qunsetenv("DEFAULT_BROWSER");
    }
    ~NoLauncher()
    {
        for (const auto &saved : qAsConst(m_saved)) {
            if (saved.second.isNull())
                qunsetenv(saved.first);
            else
                qputenv(saved.first, saved.second);
        }
    }

private:
    QTemporaryDir m_empty;
    QList<QPair<const char *, QByteArray>> m_saved;
};

} // namespace

class TestDesktopOpen : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commands_data();
    void commands();

private:
    // Runs the command; the folder or address it opens.
    QString run(const QString &command);

    std::unique_ptr<TestSupport::FakeHttpServer> m_server;
    std::unique_ptr<TestSupport::TestDatabase> m_data;
};

void TestDesktopOpen::init()
{
    m_server = std::make_unique<TestSupport::FakeHttpServer>();
    m_server->pointConfigHere();
    for (const QString &key : kKeys)
        qputenv(qPrintable(key.section('=', 0, 0)), key.section('=', 1).toUtf8());
    m_data = std::make_unique<TestSupport::TestDatabase>(TestSupport::Backend::SQLite);
    QVERIFY2(m_data->error().isEmpty(), qPrintable(m_data->error()));
}

void TestDesktopOpen::cleanup()
{
    m_data.reset();
    m_server.reset();
    for (const QString &key : kKeys)
        qunsetenv(qPrintable(key.section('=', 0, 0)));
}

QString TestDesktopOpen::run(const QString &command)
{
    if (command == QStringLiteral("Datenverzeichnis öffnen")) {
        TestSupport::MainWindowFixture window(*m_data);
        window.window()->findChild<QAction *>("actionDatenverzeichnis_ffnen")->trigger();
        window.close();
        return QDir::toNativeSeparators(m_data->dataDir());
    }
    if (command == QStringLiteral("Hilfe zur Einrichtung")) {
        Setup dialog(nullptr);
        dialog.findChild<QPushButton *>("pushButton")->click();
        return m_server->url("/knowledge-base/cloud-anbindung/").toString();
    }
    SetupAccount dialog(nullptr, QString(), QString(), 0);
    dialog.findChild<QCheckBox *>("ProtectBox")->setChecked(true);
    dialog.findChild<QLineEdit *>("ebayName")->setText("kaffee_laden");
    dialog.findChild<QPushButton *>("authButton")->click();
    // Signing in goes on with the address from the message.
    if (!dialog.findChild<QPushButton *>("fetchButton")->isEnabled())
        return QStringLiteral("(no way on)");
    return QStringLiteral("runame=Revevor-Zerire-PRD");
}

void TestDesktopOpen::commands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("told");
    const QString browser("Es konnte kein Webbrowser gestartet werden.");
    QTest::newRow("data folder") << "Datenverzeichnis öffnen"
                                 << "Es konnte kein Dateimanager gestartet werden.";
    QTest::newRow("set-up help") << "Hilfe zur Einrichtung" << browser;
    QTest::newRow("authorise") << "Autorisieren" << browser;
}

void TestDesktopOpen::commands()
{
    QFETCH(QString, command);
    QFETCH(QString, told);
    {
        UrlCapture desktop;
        DialogAnswers answers;
        run(command);
        QCOMPARE(desktop.urls().size(), 1);
        QCOMPARE(answers.messages().size(), 0);
    }
    {
        NoLauncher none;
        DialogAnswers answers;
        const QString where = run(command);
        QCOMPARE(answers.messages().size(), 1);
        const QString text = answers.lastMessageText();
        QVERIFY2(text.startsWith(told) && text.contains(where), qPrintable(text));
    }
    // The desktop's opener starts, and then fails as xdg-open does when no program is set up
    // for the address (exit status 3 or 4).
    QTemporaryDir bin;
    QFile failing(bin.filePath("xdg-open"));
    QVERIFY(failing.open(QIODevice::WriteOnly));
    failing.write("#!/bin/sh\nexit 4\n");
    failing.close();
    failing.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit());
    DialogAnswers answers;
    const QString where = run(command);
    QTRY_COMPARE(answers.messages().size(), 1);
    qputenv("PATH", path);
    const QString text = answers.lastMessageText();
    QVERIFY2(text.startsWith(told) && text.contains(where), qPrintable(text));
}

APP_TEST_MAIN(TestDesktopOpen)
#include "test_desktopopen.moc"
