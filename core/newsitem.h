#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

// One entry of the activity list: a row of table itemshistory. Travels by value
// in queued signals, so it is registered as the metatype "NewsItem".
class NewsItem
{
public:
    NewsItem() = default;

    void CopyFrom(const NewsItem &other);
    // textinfo on one line: every line break becomes ", ".
    QString GetCleanTextInfo() const;
    // `text` on one line, as GetCleanTextInfo() makes it.
    static QString cleanText(const QString &text);
    // The resource path of the entry's icon, chosen by infotype; empty for none.
    QString GetImageUrl() const;

    int id = 0;
    QDateTime indate;
    QString itemid;
    QString title;
    double price = 0;
    int pricetype = 0;
    QString textinfo;
    QString infotype;
    int databaseid = 0;
};

Q_DECLARE_METATYPE(NewsItem)
