#pragma once

#include "core/newsitem.h"
#include "core/threadhelper.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

class ArticleModel;
class Database;

// The synchronisation worker: runs on a thread of its own for the life of the program and
// repeats one round every "SyncIntervall" minutes. A round follows up the scheduled starts,
// reads every account's listings from the marketplace, applies them to the database,
// moves the listings that ended to the sold or unsold folder and publishes the article
// count of every folder.
class Ebay : public QObject
{
    Q_OBJECT
public:
    // `parent` is ignored: the worker is moved to its thread after construction.
    explicit Ebay(QObject *parent = nullptr);
    ~Ebay() override;

    // Reads one account's listings; 1 when the read was complete and without error.
    int GetArticles(const QString &token, const QString &accountId, int sandbox);

    // One synchronisation round: cache clean-up, follow-up of the scheduled starts, every
    // account read and reconciled, the folder counts set. Opens the worker's connection
    // when there is none yet.
    void runRound();

    // The stamp of the account read under way ("yyyy-MM-dd HH:mm:ss", local time); every
    // article row the read touches carries it in RefreshHash.
    QString refreshHash;
    // The worker's own connection "ebayDB"; all SQL of the worker runs on it.
    Database *db = nullptr;
    // The wake flag: set by startSyncNow(), cleared by the wait it ends.
    bool syncNow = false;
    // The loop's interruptible wait (seconds, stop flag, wake flag); tests replace it.
    std::function<void(int, bool &, bool &)> wait = ThreadHelper::WaitSeconds;

public slots:
    // The worker's loop; returns only when the program goes down.
    void ExecuteAll();
    void startSyncNow();
    void getStatusFromApi(QString status, int totalStat, int detailStat);
    // Applies one page of read listings; takes over and releases every record.
    void getAdItems(QList<ArticleModel *> articles);

signals:
    void getStatus(QString text, int totalStat, int detailStat);
    void ChangeFolderCount(int folder, int count, bool absolute);
    void sendaddNewsItem(NewsItem item);
    void setAppToSyncState(bool syncing);
    void setNextSync(QString time);
    // ExecuteAll has returned: the worker does no more work.
    void loopEnded();

private:
    // The notification switches, read once per page.
    struct Switches
    {
        bool sale = true;
        bool message = true;
        bool watcher = true;
        bool bids = true;
    };

    void ensureDatabase();
    void removeCachedProfiles();
    void followUpScheduledStarts();
    // Reads one account row; false when the program went down during the read.
    bool syncAccount(const QMap<QString, QVariant> &account);
    void reconcile(const QString &accountId);
    void publishFolderCounts();

    void applyKnown(const ArticleModel &record, const Switches &switches);
    // False when the program went down while the pictures were fetched.
    bool applyNew(ArticleModel &record, const Switches &switches);
    // Fetches one picture into the picture folder; true when the file is there.
    bool fetchPicture(const QString &address, const QString &folder, const QString &file);
    // The rows of the account that carry the listing's item number.
    QList<QMap<QString, QVariant>> rowsOfListing(const ArticleModel &record,
                                                 const QString &columns);
    // Writes one activity entry and hands it to the main window.
    void addNews(QMap<QString, QVariant> entry);

    // Why reads of this round failed, one text per account.
    QStringList m_roundFailures;
};
