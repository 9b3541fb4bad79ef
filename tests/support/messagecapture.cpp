#include "tests/support/messagecapture.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QStringList>

namespace TestSupport {

namespace {
QMutex g_mutex;
QtMessageHandler g_previous = nullptr;
QStringList g_categories;
QList<MessageCapture::Message> g_messages;
QLoggingCategory::CategoryFilter g_previousFilter = nullptr;

// Debug output of the captured categories is on while capturing, whatever
// QT_LOGGING_RULES says.
void enableCaptured(QLoggingCategory *category)
{
    if (g_previousFilter)
        g_previousFilter(category);
    if (g_categories.contains(QString::fromLatin1(category->categoryName())))
        category->setEnabled(QtDebugMsg, true);
}

void captureHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "default");
    {
        QMutexLocker locker(&g_mutex);
        if (g_categories.contains(category)) {
            g_messages.append({ type, category, text });
            return;
        }
    }
    if (g_previous)
        g_previous(type, context, text);
}
} // namespace

MessageCapture::MessageCapture(const QStringList &categories)
{
    QMutexLocker locker(&g_mutex);
    g_categories = categories;
    g_messages.clear();
    g_previous = qInstallMessageHandler(captureHandler);
    locker.unlock();
    g_previousFilter = QLoggingCategory::installFilter(enableCaptured);
}

MessageCapture::~MessageCapture()
{
    QLoggingCategory::installFilter(g_previousFilter);
    g_previousFilter = nullptr;
    qInstallMessageHandler(g_previous);
    QMutexLocker locker(&g_mutex);
    g_previous = nullptr;
    g_categories.clear();
}

QList<MessageCapture::Message> MessageCapture::messages() const
{
    QMutexLocker locker(&g_mutex);
    return g_messages;
}

int MessageCapture::count(const QString &text) const
{
    QMutexLocker locker(&g_mutex);
    int n = 0;
    for (const Message &m : qAsConst(g_messages))
        n += m.text.contains(text) ? 1 : 0;
    return n;
}

void MessageCapture::clear()
{
    QMutexLocker locker(&g_mutex);
    g_messages.clear();
}

} // namespace TestSupport
