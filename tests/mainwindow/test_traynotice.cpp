// Tray messages and the desktop's notification service, on a session bus of the test's own
// with stand-ins for the StatusNotifier watcher and the notification service.
#include "mainwindow/traynotice.h"
#include "tests/support/testmain.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>

namespace {

// A message naming a title that looks like markup, as the synchronisation words it.
const QString kMessage
    = QStringLiteral("<img src=\"https://127.0.0.1:9/b.png\"><b>Lok</b> & Wagen");

class FakeWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
public:
    explicit FakeWatcher(bool host)
        : m_host(host)
    { }
    bool hostRegistered() const { return m_host; }

private:
    bool m_host;
};

class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit FakeNotifications(QStringList capabilities)
        : m_capabilities(std::move(capabilities))
    { }
public slots:
    Q_SCRIPTABLE QStringList GetCapabilities() const { return m_capabilities; }

private:
    QStringList m_capabilities;
};

} // namespace

class TestTrayNotice : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void markupService_data();
    void markupService();

private:
    QProcess m_bus;
    QString m_address;
    // The stand-ins answer on a thread of their own while the asking thread waits.
    QThread m_services;
};

void TestTrayNotice::initTestCase()
{
    m_bus.start(QStringLiteral("dbus-daemon"),
                { QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1") });
    QVERIFY2(m_bus.waitForStarted(), "dbus-daemon could not be started");
    QTRY_VERIFY(m_bus.canReadLine());
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
    // Before anything connects to a session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    m_services.start();
}

void TestTrayNotice::cleanupTestCase()
{
    m_services.quit();
    m_services.wait();
    m_bus.kill();
    m_bus.waitForFinished();
}

void TestTrayNotice::markupService_data()
{
    QTest::addColumn<bool>("watcher");
    QTest::addColumn<bool>("host");
    QTest::addColumn<QStringList>("capabilities"); // empty: no notification service
    QTest::addColumn<bool>("markup");

    const QStringList markup { QStringLiteral("body"), QStringLiteral("body-markup") };
    // Qt draws its own balloon without a StatusNotifier host: plain text.
    QTest::newRow("no watcher") << false << false << markup << false;
    QTest::newRow("watcher without a host") << true << false << markup << false;
    QTest::newRow("service reads markup") << true << true << markup << true;
    QTest::newRow("service shows plain text")
        << true << true << QStringList { QStringLiteral("body") } << false;
    // Unknown: escaped, so that nothing is read as markup.
    QTest::newRow("no service answers") << true << true << QStringList() << true;
}

void TestTrayNotice::markupService()
{
    QFETCH(bool, watcher);
    QFETCH(bool, host);
    QFETCH(QStringList, capabilities);
    QFETCH(bool, markup);

    const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
    const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
    // The bus lets go of a closed connection's names in its own time: the stand-ins of the
    // row before must be gone before this row's take the names.
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    QTRY_VERIFY_WITH_TIMEOUT(!bus->isServiceRegistered(watcherName).value()
                                 && !bus->isServiceRegistered(serviceName).value(),
                             20000);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QDBusConnection desktop = QDBusConnection::connectToBus(m_address, name);
    QVERIFY(desktop.isConnected());
    auto *fakeWatcher = new FakeWatcher(host);
    auto *fakeNotifications = new FakeNotifications(capabilities);
    fakeWatcher->moveToThread(&m_services);
    fakeNotifications->moveToThread(&m_services);
    const auto cleanup = qScopeGuard([&] {
        // Given back at once (the bus answers before this returns), not when it notices
        // that the connection is closed.
        desktop.unregisterService(watcherName);
        desktop.unregisterService(serviceName);
        desktop.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        desktop.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(name);
        fakeWatcher->deleteLater();
        fakeNotifications->deleteLater();
    });
    if (watcher) {
        QVERIFY(desktop.registerObject(QStringLiteral("/StatusNotifierWatcher"), fakeWatcher,
                                       QDBusConnection::ExportAllProperties));
        QVERIFY(desktop.registerService(watcherName));
    }
    if (!capabilities.isEmpty()) {
        QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                       fakeNotifications, QDBusConnection::ExportScriptableSlots));
        QVERIFY(desktop.registerService(serviceName));
    }

    QCOMPARE(TrayNotice::askSessionBus(), markup);
    TrayNotice::askAgain();
    const QString escaped = QStringLiteral("&lt;img src=&quot;https://127.0.0.1:9/b.png&quot;&gt;"
                                           "&lt;b&gt;Lok&lt;/b&gt; &amp; Wagen");
    QCOMPARE(TrayNotice::body(kMessage), markup ? escaped : kMessage);
    // A stored title of any length: the desktop gets a few thousand characters of it.
    QCOMPARE(TrayNotice::body(QStringLiteral("<b>") + QString(16 << 20, QChar('x'))),
             (markup ? QStringLiteral("&lt;b&gt;") : QStringLiteral("<b>"))
                 + QString(3997, QChar('x')) + QChar(0x2026));
}

APP_TEST_GUILESS_MAIN(TestTrayNotice)
#include "test_traynotice.moc"
