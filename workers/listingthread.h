#pragma once

#include "core/database.h"
#include "core/newsitem.h"
#include "core/threadhelper.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

class Api_Ebay;

// What the marketplace call for an article decided, kept by the listing worker until it is
// stored (the database may be away meanwhile).
struct ListingResult
{
    enum Kind {
        Listed, // added, revised or relisted: itemId, text
        Refused, // the call failed: text
        Requeue // not sent (the article could not be read): back into its queue
    };
    Kind kind = Refused;
    ArticleRow row;
    QString articleId;
    int call = 0;
    QString itemId;
    QString text;
    QDateTime time;
    // DoCheck of a row that goes back into its queue.
    int queue = 2;
    // The folder count changes of an attempt whose commit went unanswered: told when a later
    // attempt finds it stored.
    QVector<QPair<int, int>> untold;
};

// What storing a result found and wrote. The window is told once it is committed.
struct ListingWrite
{
    enum Outcome {
        Written, // the article's row took the outcome (a first listing leaves its copy)
        AlreadyStored, // an earlier store of this outcome is in the database: nothing written
        ImportedAlready, // another row of the account holds the listing: the article went
                         // back to the folder it came from
        Moved, // the article is no longer waiting in the outbox for this listing
        Unavailable, // the database could not be used now: nothing written, try again later
        Refused // the database refused it for good: nothing written
    };
    Outcome outcome = Unavailable;
    // The outcome entry written; 0 when none was.
    int entryId = 0;
    // Folder count changes (folder, difference) of what was written; when the commit failed,
    // of what may have been written.
    QVector<QPair<int, int>> counts;
};

// The permanent background worker that carries out what the user queued for the
// marketplace: it verifies articles marked for a check (DoCheck 1), hands scheduled
// articles to the scheduled start service and lists, revises or relists the articles in
// the outbox (DoCheck 2). It runs on a thread of its own with its own connection and
// reports each step as an activity entry, as status-bar progress and as folder counts.
//
// The three phases are public so that each can be run on its own; they work on `db`.
class ListingThread : public QObject
{
    Q_OBJECT
public:
    // The parent is not passed on: the worker is moved to its thread.
    explicit ListingThread(QObject *parent = nullptr);
    ~ListingThread() override;

    // The status the window gives an article it puts into the outbox for listing.
    static QString queuedText();
    // What the status line of an article of `account` queued for a check (`doCheck` 1) or for
    // listing (`doCheck` 2) says while no pass takes it up: this program's passes are left out
    // for want of the developer keys (naming the missing ones), or the article has no account
    // (the passes take up articles of an account only). Empty while a pass will take it up and
    // for any other `doCheck`. Reads no database.
    static QString waitingText(int doCheck, int account);

    // Writes one "progress"-style activity entry into itemshistory and sends it.
    void addFullNews(Database *db, const QString &infotype, const QString &title,
                     const QString &textinfo, const QString &databaseid);

    // True when another workstation of a shared MySQL database does the marketplace work
    // (application property "mysqlsyncworkstation" set and false).
    static bool leavesWorkToOtherWorkstation();
    // The marketplace call for an article with the item id `itemId` that was queued from
    // the folder `folderOld`: Add, Revise or Relist (Api_Ebay::VerifyMode).
    static int listingCallFor(const QString &itemId, int folderOld);
    // Item.UUID of the addition or relisting `call` of the article `row`: 32 upper-case
    // hexadecimal digits, the same for every attempt at one listing (a repeat after a lost
    // answer sends the same one) and another once the article got its listing (its item
    // number changed), for another article, account or database (`databaseKey`).
    static QString listingUuid(const QString &databaseKey, const ArticleRow &row, int call);
    // The item numbers of listings whose results a listing worker of this process still
    // keeps: the synchronisation must not take them for listings made elsewhere.
    static QStringList pendingItemIds();
    // The articles of the outbox of `account` that wait for an addition or relisting, by the
    // UUID that their listing carries. False when they could not be read.
    static bool outboxByUuid(Database *db, int account, QHash<QString, int> &articles);
    // The text of a successful call for an article with the item id `oldItemId` that was
    // queued from `folderOld`.
    static QString listedText(const QString &oldItemId, int folderOld);
    // Stores the outcome of a call (not a Requeue) in one transaction (a savepoint inside
    // the caller's): the article row, the copy a first listing leaves in the folder it came
    // from, the option "listedWithMe" and the outcome entry. Looks first whether it is stored
    // already: a listing by its item number (on the article, or imported as another row of
    // the account), a refusal or revision by its entry. `onlyFromOutbox`: only while the
    // article still waits in the outbox with the item id it was sent with.
    static ListingWrite storeOutcome(Database *db, const ListingResult &result,
                                     bool onlyFromOutbox = false);
    // How many results this worker keeps until the database takes them.
    int pendingResults() const { return m_pending.size(); }

    // One pass without its closing wait: the results kept from earlier passes, then
    // verification, schedule upload, outbox. Returns the larger of the two queue queries'
    // row counts (0 to 2); `stop` becomes true when the program is closing and the worker
    // must end. Once the program is closing, no further row is started. While a kept result
    // can't be stored, the pass does nothing else.
    int runPass(bool &stop);
    // Verifies the first article with DoCheck 1. Returns the query's row count.
    int checkPhase(bool &stop);
    // Hands every scheduled article without job id to the scheduled start service.
    void uploadPhase();
    // Lists, revises or relists the first article of the outbox. Returns the query's row
    // count.
    int outboxPhase(bool &stop);

    // The worker's connection: made by ExecuteAll, or set before running a phase.
    Database *db = nullptr;
    // Wake flag: set by startSyncNow, cleared by the next interruptible wait.
    bool checkNow = false;
    // The missing developer keys were told since the start or the last startSyncNow().
    bool keysTold = false;
    // The loop's interruptible wait (seconds, stop flag, wake flag); tests replace it.
    std::function<void(int, bool &, bool &)> wait = ThreadHelper::WaitSeconds;

signals:
    void getStatus(QString text, int maximum, int value);
    void ChangeFolderCount(int folder, int count, bool absolute);
    void sendaddNewsItem(NewsItem item);
    // ExecuteAll has returned: the worker does no more work.
    void loopEnded();

public slots:
    // The worker's whole life; returns only when the program is closing.
    void ExecuteAll();
    void startSyncNow();

private:
    // The start of every handled row: progress entry, a client for the row's account and
    // the account refresh (its GetUser reply is stored when it succeeded).
    std::unique_ptr<Api_Ebay> startRow(const ArticleRow &row);
    // The outcome entry of a handled row, without textinfo and infotype.
    static QMap<QString, QVariant> outcomeEntry(const ArticleRow &row);
    // Inserts an activity entry, reads it back and sends it.
    void storeAndSend(Database *connection, const QMap<QString, QVariant> &entry);
    void handleCheckRow(const ArticleRow &row, bool &stop);
    void handleUploadRow(const ArticleRow &row);
    enum class JobIdWrite { Stored, NoLongerPlanned, Failed };
    JobIdWrite storeJobId(const ArticleRow &row, const QString &jobId);
    void handleOutboxRow(const ArticleRow &row, bool &stop);
    // Stores what is left of the result; false when the database was unavailable and the
    // rest must be stored later.
    bool storeResult(ListingResult &result);
    // Stores the result, or keeps it for the next passes.
    void settle(ListingResult result);
    void storePendingResults();
    // The random key of this database that makes its UUIDs its own; false when it can't be
    // read now.
    bool databaseKey(QString &key);
    // The key as stored (empty when there is none yet); false when it can't be read.
    static bool storedDatabaseKey(Database *db, QString &key);
    // Articles left in the outbox by an earlier run, taken out of the queue for a call whose
    // outcome was never stored, go back into the queue; false when that could not be
    // written now.
    bool requeueLeftovers();

    // The failure text of a call: the last message, or "Unbekannter Fehler" when there is
    // no message or the last one is empty.
    static QString failureText(const QStringList &messages);
    // Why an article was not sent: its pictures or variations could not be read.
    static QString unreadableText(const QString &error);
    static bool applicationGoingDown();

    QList<ListingResult> m_pending;
    QString m_databaseKey;
    bool m_leftoversRequeued = false;
};
