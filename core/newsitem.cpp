#include "core/newsitem.h"

#include <QHash>

void NewsItem::CopyFrom(const NewsItem &other)
{
    *this = other;
}

QString NewsItem::GetCleanTextInfo() const
{
    return cleanText(textinfo);
}

QString NewsItem::cleanText(const QString &original)
{
    QString text = original;
    text.replace(QLatin1String("\r\n"), QLatin1String(", "));
    text.replace(QLatin1Char('\r'), QLatin1String(", "));
    text.replace(QLatin1Char('\n'), QLatin1String(", "));
    return text;
}

QString NewsItem::GetImageUrl() const
{
    static const QHash<QString, QString> icons = {
        { QStringLiteral("newarticle"), QStringLiteral(":/buttons/images/add.png") },
        { QStringLiteral("sellcount"), QStringLiteral(":/buttons/images/price-tag.png") },
        { QStringLiteral("planning_add_fail"), QStringLiteral(":/buttons/images/error.png") },
        { QStringLiteral("error"), QStringLiteral(":/buttons/images/error.png") },
        { QStringLiteral("end_fail"), QStringLiteral(":/buttons/images/error.png") },
        { QStringLiteral("articlecheck_fail"), QStringLiteral(":/buttons/images/error.png") },
        { QStringLiteral("articleadd_fail"), QStringLiteral(":/buttons/images/error.png") },
        { QStringLiteral("watcher"), QStringLiteral(":/buttons/images/binoculars.png") },
        { QStringLiteral("watcherneg"), QStringLiteral(":/buttons/images/binoculars.png") },
        { QStringLiteral("bid"), QStringLiteral(":/buttons/images/mace.png") },
        { QStringLiteral("bidneg"), QStringLiteral(":/buttons/images/mace.png") },
        { QStringLiteral("message"), QStringLiteral(":/buttons/images/chat.png") },
        { QStringLiteral("articlecheck_success"), QStringLiteral(":/buttons/images/notes.png") },
        { QStringLiteral("articleadd_success"), QStringLiteral(":/buttons/images/ebaybag.png") },
        { QStringLiteral("end_success"), QStringLiteral(":/buttons/images/checked.png") },
        { QStringLiteral("success"), QStringLiteral(":/buttons/images/checked.png") },
        { QStringLiteral("progress"),
          QStringLiteral(":/buttons/images/TimeTracking-Flat-150.png") },
        { QStringLiteral("update"), QStringLiteral(":/buttons/images/info.png") },
        { QStringLiteral("planning_add_success"),
          QStringLiteral(":/buttons/images/Calendar-Flat-33.png") },
    };
    return icons.value(infotype);
}
