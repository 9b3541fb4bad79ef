#include "mainwindow/traynotice.h"

#include "views/paintedtext.h"

#include <atomic>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QStringList>
#include <QVariant>

namespace TrayNotice {

namespace {

constexpr int kAskMs = 1000;
// The most characters of a message handed to the desktop: more than a notice shows.
constexpr int kBodyChars = 4000;
// -1 until the session bus has been asked.
std::atomic<int> g_markup { -1 };

} // namespace

bool askSessionBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    // Qt sends tray messages to the notification service only while a StatusNotifier host
    // runs; otherwise it draws a balloon of its own, which shows plain text.
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusInterface watcherObject(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    watcherObject.setTimeout(kAskMs);
    if (!watcherObject.property("IsStatusNotifierHostRegistered").toBool())
        return false;

    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusInterface notifications(service, QStringLiteral("/org/freedesktop/Notifications"), service,
                                 bus);
    notifications.setTimeout(kAskMs);
    const QDBusReply<QStringList> capabilities
        = notifications.call(QStringLiteral("GetCapabilities"));
    // A service that does not answer is taken to read markup: escaped text is then shown
    // with its entities at worst, never as a picture.
    return !capabilities.isValid() || capabilities.value().contains(QLatin1String("body-markup"));
}

QString body(const QString &text)
{
    int markup = g_markup.load();
    if (markup < 0) {
        markup = askSessionBus() ? 1 : 0;
        g_markup.store(markup);
    }
    const QString shown = PaintedText::prefix(text, kBodyChars);
    return markup ? shown.toHtmlEscaped() : shown;
}

void askAgain()
{
    g_markup.store(-1);
}

} // namespace TrayNotice
