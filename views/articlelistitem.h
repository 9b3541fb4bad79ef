#pragma once

#include <QHash>
#include <QMap>
#include <QPair>
#include <QString>
#include <QTreeWidgetItem>
#include <QVariant>
#include <QVector>

class QSqlQuery;
class QSqlRecord;

// One article of the list in compact form: the columns of the list's column set, numbers
// kept as numbers. value() gives every item role of ItemListRole the way the list shows it;
// the texts that take work (prices, dates) are made when asked for, so a fill of thousands
// of rows neither formats nor parses what is never painted.
class ArticleListRow
{
public:
    // A row read with the list's column set; a missing column reads as null (0, 0.0, "").
    static ArticleListRow fromMap(const QMap<QString, QVariant> &row, const QString &thumbFolder);

    // The value of an item role (ItemListRole); an invalid QVariant for any other role.
    QVariant value(int role) const;
    static bool isArticleRole(int role);
    // The title as read (the list shows the SKU before it); null when the column is NULL.
    const QString &title() const { return m_title; }
    // Keeps a value written to an item role in the row itself when the row holds that role
    // as a value of the same type, so that value() gives it back as written; false when the
    // row can't (the caller keeps it apart).
    bool take(int role, const QVariant &value);

private:
    friend class ArticleListReader;
    void set(int column, const QVariant &value);
    QString symbol() const;
    QString endText() const;

    QString m_thumbFolder;
    QString m_title;
    QString m_sku;
    QString m_thumb;
    QString m_currency;
    QString m_lastError;
    // A text as read, or whatever was written (the activity list writes a number).
    QVariant m_watchCount = QString();
    QString m_listingType;
    QString m_listingDuration;
    QString m_startDate;
    QString m_itemId;
    QString m_folderOld;
    QString m_planned;
    QString m_plannedInterval;
    QString m_doCheckResult;
    double m_currentPrice = 0;
    double m_startPrice = 0;
    double m_shippingCost = 0;
    double m_variationMinPrice = 0;
    int m_id = 0;
    int m_marker = 0;
    int m_folder = 0;
    int m_soldCount = 0;
    int m_bidCount = 0;
    int m_questionCount = 0;
    int m_quantity = 0;
    int m_eBayPlus = 0;
    int m_bestOffer = 0;
    int m_hasVariation = 0;
    int m_site = 0;
    int m_account = 0;
    int m_doCheck = 0;
};

// Reads the rows of a SELECT over the list's column set straight from the query.
class ArticleListReader
{
public:
    ArticleListReader(const QSqlRecord &record, const QString &thumbFolder);
    // The query's current row.
    ArticleListRow read(const QSqlQuery &query);

private:
    QVector<QPair<int, int>> m_fields; // (column, field number in the query)
    QString m_thumbFolder;
    // Texts that repeat from row to row (listing type, duration, currency) are kept once.
    QHash<QString, QString> m_shared;
};

// A row of the article list that answers its item roles from an ArticleListRow. Roles
// written later (the activity list, commands) take precedence, as on any list item.
class ArticleListItem : public QTreeWidgetItem
{
public:
    explicit ArticleListItem(const ArticleListRow &row);
    // Replaces the row, and with it every role written so far.
    void setRow(const ArticleListRow &row);

    // Puts `items` in the German order of their `titles` (one for each item), as ORDER BY
    // Title COLLATE GERMAN does, descending when `descending`: a missing title (NULL) before
    // every other, items of equal titles in the order they came.
    static void sortByTitle(QList<QTreeWidgetItem *> &items, const QStringList &titles,
                            bool descending);

    QVariant data(int column, int role) const override;
    void setData(int column, int role, const QVariant &value) override;

private:
    // Tells the list that `roles` changed (all when empty).
    void changed(const QVector<int> &roles);

    ArticleListRow m_row;
    QVector<QPair<int, QVariant>> m_written;
};
