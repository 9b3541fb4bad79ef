#pragma once

#include "core/newsitem.h"
#include "core/threadhelper.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>
#include <optional>

class ArticleModel;
class Database;
class QNetworkAccessManager;
class StagedFiles;

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
    // The missing developer keys were told since the start or the last startSyncNow().
    bool keysTold = false;
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
    // The notification switches, read once per round (once per page read outside one).
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

    // An article row of the account that carries a listing's item number, as it was before
    // the page changed it.
    struct StoredRow
    {
        int id = 0;
        int folder = 0;
        int trash = 0;
        QString listingType;
        QString title;
        QString currency;
        double currentPrice = 0;
        int quantity = 0;
        int soldCount = 0;
        int bidCount = 0;
        int watchCount = 0;
        int questionCount = 0;
    };
    // What the window is told of a page once the page is written, in order: an activity
    // entry, or a change of a folder's count.
    struct Notice
    {
        bool isNews = false;
        NewsItem news;
        int folder = 0;
        int count = 0;
    };

    // False, with every switch on, when they could not be read.
    bool readSwitches(Switches &switches);
    void applyKnown(const ArticleModel &record, const QVector<StoredRow> &rows,
                    const Switches &switches);
    // Fetches the pictures of a new listing and makes the thumbnail of the first one
    // (`thumb`), written into `staged`; false when the program went down meanwhile.
    bool fetchPictures(ArticleModel &record, QString &thumb, StagedFiles &staged);
    // Whose a new listing is: -1 while a listing worker of the program keeps its result, the
    // id of the article of the outbox it was made for, else 0. False when the outbox could
    // not be read.
    bool ownerOf(const ArticleModel &record, int &owner);
    // `owner` as ownerOf() found it before the page's pictures were fetched.
    void applyNew(ArticleModel &record, const QString &thumb, const Switches &switches, int owner);
    // Puts a listing the program made for the article `articleId` of the outbox onto that
    // article, as the listing worker stores its result, then applies the read to it.
    void putOntoArticle(const ArticleModel &record, int articleId, const Switches &switches);
    // Fetches one picture for the picture folder into `staged`; true when it is there.
    bool fetchPicture(const QString &address, const QString &folder, const QString &file,
                      StagedFiles &staged);
    // The rows of the account that carry the listing's item number.
    QVector<StoredRow> rowsOfListing(const ArticleModel &record);
    // Writes one activity entry; the window gets it with the page's other notices. A null
    // `text` leaves the entry without one.
    void addNews(const QString &infotype, const QString &titleText, const QString &itemId,
                 int databaseId, const QString &text);
    void changeFolderCount(int folder, int count);
    // Hands the notices of what has been written to the window.
    void tellWindow();

    // Why reads of this round failed, one text per account.
    QStringList m_roundFailures;
    // The round's manager for picture downloads; null outside a round.
    QNetworkAccessManager *m_pictures = nullptr;
    // The switches as read at the round's start; none outside a round.
    std::optional<Switches> m_roundSwitches;
    // The time of the page being written, for its activity entries; empty between pages.
    QString m_pageStamp;
    QVector<Notice> m_notices;
    // Why a page of the account read under way could not be written; empty when none.
    QString m_lostPage;
    // The time of the last activity entry, as written and as read from that text.
    QPair<QString, QDateTime> m_lastStamp;
    // A statement of the page in hand failed.
    bool m_pageFailed = false;
    // The articles of the outbox by the UUID of their listing, per account; read once per
    // page that has new listings.
    QHash<int, QHash<QString, int>> m_outboxByUuid;
};
