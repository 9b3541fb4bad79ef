#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

namespace TestSupport {

// Takes the log messages of the given categories (e.g. "app.db") while it lives: they are
// recorded instead of printed, so a test can check texts that come an unknown number of
// times. Their debug messages are switched on meanwhile. Other messages pass on as before.
class MessageCapture
{
public:
    struct Message
    {
        QtMsgType type;
        QString category;
        QString text;
    };

    explicit MessageCapture(const QStringList &categories);
    ~MessageCapture();
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    QList<Message> messages() const;
    int count(const QString &text) const; // messages that contain `text`
    void clear();
};

} // namespace TestSupport
