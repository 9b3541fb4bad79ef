#pragma once

#include "core/database.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QXmlStreamReader;

// Imports the XML export of Rovive 2: its categories become user folders, its marketplace
// accounts accounts, its items articles with their pictures (copied from files or
// downloaded). Made by the main window, moved to a thread of its own; `work()` runs once
// with a database connection of its own and ends with finished().
class Rovive2Import : public QObject
{
    Q_OBJECT
public:
    // The child elements of one element, tag -> text (the first of a tag counts).
    using Fields = QHash<QString, QString>;

    explicit Rovive2Import(QString path);

    // Stores the pictures of a new article: files are copied into the picture folder under
    // a stamped name, web addresses downloaded first; the first one gets a thumbnail.
    void CopyImages(int articleId, QStringList &images, Database *db);

    // The article row of one item. Values that a number column can't take are left out
    // (the column keeps its default), each described in `problems`.
    static ArticleRow articleRow(const Fields &item, Database *db, QStringList *problems);

signals:
    void sendNotification(QString noti);
    void finished();
    void getStatus(QString progressText, int step, int total);

public slots:
    void work();

private:
    bool readExport(QXmlStreamReader &xml, Database &db);
    void createFolders(QXmlStreamReader &xml, Database &db);
    void createAccounts(QXmlStreamReader &xml, Database &db);
    void importItem(const Fields &item, Database &db);

    QString m_path;
    int m_itemsTotal = 0;
    int m_itemCounter = 0;
    int m_failedPictures = 0;
};
