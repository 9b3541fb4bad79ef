#include "workers/listingthread.h"

#include <stdexcept>

#include <QCoreApplication>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include "core/clock.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/threadhelper.h"
#include "core/transaction.h"
#include "marketplace/api_ebay.h"
#include "marketplace/tradingtransport.h"
#include "workers/scheduledstartservice.h"

namespace {

const char *const kDateFormat = "yyyy-MM-dd HH:mm:ss";

QString now()
{
    return Clock::currentDateTime().toString(QLatin1String(kDateFormat));
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + Database::escapeString(text) + QLatin1Char('\'');
}

void logException(const std::invalid_argument &error)
{
    qCWarning(lcWorker).noquote() << QString::fromLocal8Bit(error.what()) << "ListingThread";
}

// The articles that `condition` picks, each with the columns of its account.
SqlRows queuedArticles(Database *db, const QString &condition)
{
    return db
        ->select(
            QStringLiteral("SELECT accounts.accountname, accounts.smallbiz, accounts.apiresult, "
                           "accounts.id AS accid, accounts.sandbox, accounts.token, articles.* "
                           "FROM accounts, articles WHERE articles.Account=accounts.id AND ")
            + condition)
        .legacyValue();
}

// The picture rows of an article; `ownOnly` leaves out those of its variations.
SqlRows picturesOf(Database *db, const QString &articleId, bool ownOnly)
{
    QString sql = QStringLiteral("SELECT * FROM articles_images WHERE article_id=") + articleId;
    if (ownOnly)
        sql += QStringLiteral(" AND (variant_name IS NULL OR variant_name = '')");
    return db->select(sql).legacyValue();
}

// The option holding the database's own key for listing UUIDs.
const QString kKeyOption = QStringLiteral("ListingUuidKey");

// Item numbers of results not stored yet, of every listing worker of the process.
QMutex g_pendingMutex;
QSet<QString> g_pendingItemIds;

void holdItemId(const QString &itemId)
{
    QMutexLocker locker(&g_pendingMutex);
    g_pendingItemIds.insert(itemId);
}

void releaseItemId(const QString &itemId)
{
    QMutexLocker locker(&g_pendingMutex);
    g_pendingItemIds.remove(itemId);
}

} // namespace

ListingThread::ListingThread(QObject *parent)
    : QObject(nullptr)
{
    Q_UNUSED(parent)
}

ListingThread::~ListingThread() = default;

void ListingThread::startSyncNow()
{
    qCInfo(lcWorker) << "startSyncNow rec from ListingThread";
    checkNow = true;
    keysTold = false;
}

bool ListingThread::applicationGoingDown()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && app->property("AppDown").toInt() == 1;
}

bool ListingThread::leavesWorkToOtherWorkstation()
{
    const QCoreApplication *app = QCoreApplication::instance();
    const QVariant value = app ? app->property("mysqlsyncworkstation") : QVariant();
    return value.isValid() && !value.isNull() && !value.toBool();
}

int ListingThread::listingCallFor(const QString &itemId, int folderOld)
{
    if (itemId.isEmpty())
        return Api_Ebay::Add;
    if (folderOld == SpecialFolderId::Sold || folderOld == SpecialFolderId::Unsold)
        return Api_Ebay::Relist;
    if (folderOld == SpecialFolderId::Active)
        return Api_Ebay::Revise;
    return Api_Ebay::Add;
}

QString ListingThread::listingUuid(const QString &databaseKey, const ArticleRow &row, int call)
{
    const QStringList parts = {
        databaseKey,
        row.value(QStringLiteral("accountname")).toString(),
        row.value(QStringLiteral("id")).toString(),
        call == Api_Ebay::Relist ? QStringLiteral("relist") : QStringLiteral("add"),
        row.value(QStringLiteral("ItemID")).toString(),
    };
    return Statics::hashString(parts.join(QLatin1Char('|'))).toUpper();
}

QString ListingThread::queuedText()
{
    return QCoreApplication::translate("MainWindow", "Artikel wird eingestellt / aktualisiert");
}

QString ListingThread::waitingText(int doCheck, int account)
{
    if (doCheck != 1 && doCheck != 2)
        return QString();
    // Another workstation with keys of its own may do the work; none takes up an article
    // without an account.
    if (TradingTransport::noKeys() && !leavesWorkToOtherWorkstation()) {
        const QString missing = TradingTransport::missingKeys(false).join(QStringLiteral(", "));
        return doCheck == 1 ? tr("Die Gebührenberechnung wartet auf die Entwicklerschlüssel von "
                                 "eBay (es fehlt: %1).")
                                  .arg(missing)
                            : tr("Das Einstellen wartet auf die Entwicklerschlüssel von eBay (es "
                                 "fehlt: %1).")
                                  .arg(missing);
    }
    if (account <= 0)
        return doCheck == 1 ? tr("Die Gebührenberechnung wartet auf ein eBay Konto: dem Artikel "
                                 "ist keines zugewiesen.")
                            : tr("Das Einstellen wartet auf ein eBay Konto: dem Artikel ist "
                                 "keines zugewiesen.");
    return QString();
}

QStringList ListingThread::pendingItemIds()
{
    QMutexLocker locker(&g_pendingMutex);
    return QStringList(g_pendingItemIds.cbegin(), g_pendingItemIds.cend());
}

bool ListingThread::storedDatabaseKey(Database *db, QString &key)
{
    const quint64 failures = db->failedStatements();
    key = db->getOption(kKeyOption, QString()).legacyValue();
    return db->failedStatements() == failures;
}

bool ListingThread::databaseKey(QString &key)
{
    if (m_databaseKey.isEmpty()) {
        QString stored;
        if (!storedDatabaseKey(db, stored))
            return false;
        if (stored.isEmpty()) {
            db->setOption(kKeyOption, QUuid::createUuid().toString(QUuid::Id128));
            // Read back: only a stored key makes a repeat send the same UUID.
            if (!storedDatabaseKey(db, stored))
                return false;
        }
        m_databaseKey = stored;
    }
    key = m_databaseKey;
    return !key.isEmpty();
}

bool ListingThread::outboxByUuid(Database *db, int account, QHash<QString, int> &articles)
{
    articles.clear();
    QString key;
    if (!storedDatabaseKey(db, key))
        return false;
    // Without a key no listing carries a UUID of this database.
    if (key.isEmpty())
        return true;
    const quint64 failures = db->failedStatements();
    const SqlRows rows
        = db->select(
                QStringLiteral(
                    "SELECT articles.id, articles.ItemID, articles.FolderOld, "
                    "accounts.accountname FROM accounts, articles WHERE "
                    "articles.Account=accounts.id AND articles.Folder=-2 AND articles.Account=")
                + QString::number(account))
              .legacyValue();
    if (db->failedStatements() != failures)
        return false;
    for (const ArticleRow &row : rows) {
        const int call = listingCallFor(row.value(QStringLiteral("ItemID")).toString(),
                                        row.value(QStringLiteral("FolderOld")).toInt());
        // A revision keeps its listing: it makes none of its own.
        if (call == Api_Ebay::Revise)
            continue;
        articles.insert(listingUuid(key, row, call), row.value(QStringLiteral("id")).toInt());
    }
    return true;
}

QString ListingThread::listedText(const QString &oldItemId, int folderOld)
{
    if (oldItemId.isEmpty())
        return tr("wurde erfolgreich eingestellt");
    if (folderOld == SpecialFolderId::Active)
        return tr("wurde erfolgreich aktualisiert");
    return tr("wurde erfolgreich wiedereingestellt");
}

QString ListingThread::unreadableText(const QString &error)
{
    return tr("Der Artikel konnte nicht aus der Datenbank gelesen werden: %1").arg(error);
}

QString ListingThread::failureText(const QStringList &messages)
{
    if (messages.isEmpty() || messages.last().trimmed().isEmpty())
        return tr("Unbekannter Fehler");
    return messages.last();
}

void ListingThread::ExecuteAll()
{
    db = new Database(true, QStringLiteral("listingThreadDB"));
    bool stop = false;
    wait(30, stop, checkNow);
    while (!stop) {
        if (leavesWorkToOtherWorkstation()) {
            wait(60, stop, checkNow);
            continue;
        }
        bool passStop = false;
        const int rows = runPass(passStop);
        // A full queue query means more rows may be waiting: the next pass starts at once.
        if (!passStop && rows <= 1)
            wait(30, passStop, checkNow);
        stop = passStop;
    }
    // A last attempt before the program closes; what is left is only in the log then (a
    // repeat of such a listing is refused by the marketplace and stores it).
    storePendingResults();
    for (const ListingResult &result : qAsConst(m_pending)) {
        qCWarning(lcWorker).noquote()
            << "The result of article" << result.articleId << "could not be stored:"
            << result.text << result.itemId;
        releaseItemId(result.itemId);
    }
    m_pending.clear();
    db->deleteLater();
    db = nullptr;
    emit loopEnded();
}

int ListingThread::runPass(bool &stop)
{
    storePendingResults();
    if (!m_pending.isEmpty())
        return 0;
    if (!m_leftoversRequeued)
        m_leftoversRequeued = requeueLeftovers();
    // Without the developer keys nothing is checked, listed or scheduled: the articles wait in
    // their queues, and the status panel says once (again after a command) what is missing.
    if (TradingTransport::noKeys()) {
        if (!keysTold
            && !queuedArticles(db,
                               QStringLiteral("(articles.DoCheck=1 OR (articles.DoCheck=2 "
                                              "AND articles.Folder=-2) OR "
                                              "(articles.Planned_Interval='' AND "
                                              "articles.Planned<>'' AND articles.Folder=-3)) "
                                              "LIMIT 1"))
                    .isEmpty()) {
            qCInfo(lcWorker) << "Listing pass left out: no developer keys";
            emit getStatus(TradingTransport::missingKeysText(), -1, 0);
            keysTold = true;
        }
        return 0;
    }
    const int checked = checkPhase(stop);
    if (stop)
        return checked;
    uploadPhase();
    const int queued = outboxPhase(stop);
    return qMax(checked, queued);
}

// --- Activity entries ----------------------------------------------------------------

void ListingThread::addFullNews(Database *db, const QString &infotype, const QString &title,
                                const QString &textinfo, const QString &databaseid)
{
    QMap<QString, QVariant> entry;
    entry.insert(QStringLiteral("price"), 0);
    entry.insert(QStringLiteral("pricetype"), 0);
    entry.insert(QStringLiteral("indate"), now());
    entry.insert(QStringLiteral("textinfo"), textinfo);
    entry.insert(QStringLiteral("title"), title);
    entry.insert(QStringLiteral("infotype"), infotype);
    entry.insert(QStringLiteral("databaseid"), databaseid);
    storeAndSend(db, entry);
}

QMap<QString, QVariant> ListingThread::outcomeEntry(const ArticleRow &row)
{
    QMap<QString, QVariant> entry;
    entry.insert(QStringLiteral("indate"), now());
    entry.insert(QStringLiteral("title"), row.value(QStringLiteral("Title")));
    entry.insert(QStringLiteral("itemid"), QString());
    entry.insert(QStringLiteral("databaseid"), row.value(QStringLiteral("id")));
    return entry;
}

void ListingThread::storeAndSend(Database *connection, const QMap<QString, QVariant> &entry)
{
    const int id = connection->insertSqlClean(entry, QStringLiteral("itemshistory"));
    const QList<NewsItem> news
        = connection->selectNews(QStringLiteral("id=") + QString::number(id)).legacyValue();
    if (!news.isEmpty())
        emit sendaddNewsItem(news.first());
}

std::unique_ptr<Api_Ebay> ListingThread::startRow(const ArticleRow &row)
{
    addFullNews(db, QStringLiteral("progress"), row.value(QStringLiteral("Title")).toString(),
                tr("wird gerade bearbeitet..."), row.value(QStringLiteral("id")).toString());

    auto client = std::make_unique<Api_Ebay>(row.value(QStringLiteral("token")).toString(), this,
                                             row.value(QStringLiteral("sandbox")).toInt());
    // The text holds the GetUser reply followed by the GetUserPreferences reply; only two
    // complete, successful replies replace what is known of the account (the VAT decision
    // reads it).
    const QString account = client->getUser();
    if (client->getLastFail().isEmpty()) {
        db->executeSQL(QStringLiteral("UPDATE accounts SET apiresult=") + quoted(account)
                       + QStringLiteral(" WHERE id=")
                       + row.value(QStringLiteral("accid")).toString());
    }
    return client;
}

// --- Verification --------------------------------------------------------------------

int ListingThread::checkPhase(bool &stop)
{
    if (applicationGoingDown()) {
        stop = true;
        return 0;
    }
    const SqlRows rows = queuedArticles(db, QStringLiteral("articles.DoCheck=1 LIMIT 2"));
    if (rows.isEmpty())
        return 0;
    try {
        handleCheckRow(rows.first(), stop);
    } catch (const std::invalid_argument &error) {
        logException(error);
    }
    return rows.size();
}

void ListingThread::handleCheckRow(const ArticleRow &row, bool &stop)
{
    const QString articleId = row.value(QStringLiteral("id")).toString();
    const std::unique_ptr<Api_Ebay> client = startRow(row);
    if (!db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=0 WHERE id=") + articleId))
        return;

    const quint64 failures = db->failedStatements();
    const SqlRows pictures = picturesOf(db, articleId, true);
    QStringList messages;
    const bool passed = db->failedStatements() == failures
        && client->verifyItem(Api_Ebay::Verify, row, pictures, messages, db);
    if (!passed && !client->lastCallSent && db->failedStatements() != failures) {
        // Not verified without its pictures or variations: again once they can be read.
        if (db->lastFailureTransient()) {
            ListingResult result;
            result.kind = ListingResult::Requeue;
            result.articleId = articleId;
            result.queue = 1;
            settle(result);
            return;
        }
        if (messages.isEmpty())
            messages << unreadableText(db->lastErrorText);
    }

    QMap<QString, QVariant> entry = outcomeEntry(row);
    QString text;
    if (passed) {
        // The client ends the messages of a passed verification with the total fees.
        text = messages.isEmpty() ? QString() : messages.last();
        entry.insert(QStringLiteral("infotype"), QStringLiteral("articlecheck_success"));
        db->executeSQL(QStringLiteral("UPDATE articles SET IsVerified=1, DoCheckResult=")
                       + quoted(text) + QStringLiteral(" WHERE id=") + articleId);
    } else {
        text = QStringLiteral("(f)") + messages.join(QLatin1Char(' '));
        text.replace(QLatin1String(".:"), QLatin1String(":"));
        entry.insert(QStringLiteral("infotype"), QStringLiteral("articlecheck_fail"));
        db->executeSQL(QStringLiteral("UPDATE articles SET IsVerified=0, DoCheckResult=")
                       + quoted(text) + QStringLiteral(" WHERE id=") + articleId);
    }
    entry.insert(QStringLiteral("textinfo"), text);
    storeAndSend(db, entry);

    if (applicationGoingDown())
        stop = true;
}

// --- Scheduled starts ----------------------------------------------------------------

void ListingThread::uploadPhase()
{
    const SqlRows rows
        = queuedArticles(db,
                         QStringLiteral("articles.Planned_Interval='' AND articles.Planned<>'' "
                                        "AND articles.Folder = -3"));
    if (rows.isEmpty())
        return;

    const QString uploading = tr("Lade Planungen hoch");
    emit getStatus(uploading, rows.size(), 0);
    for (int i = 0; i < rows.size(); ++i) {
        // The rows left are sent at the next start.
        if (applicationGoingDown())
            break;
        emit getStatus(uploading, rows.size(), i);
        try {
            handleUploadRow(rows.at(i));
        } catch (const std::invalid_argument &error) {
            logException(error);
        }
    }
    emit getStatus(tr("Planungen hochgeladen"), 100, 100);
}

void ListingThread::handleUploadRow(const ArticleRow &row)
{
    const QString articleId = row.value(QStringLiteral("id")).toString();
    const std::unique_ptr<Api_Ebay> client = startRow(row);

    const SqlRows pictures = picturesOf(db, articleId, false);
    QStringList messages;
    const bool accepted = client->verifyItem(Api_Ebay::Schedule, row, pictures, messages, db);

    QMap<QString, QVariant> entry = outcomeEntry(row);
    QString text;
    if (accepted) {
        text = tr("wurde an den Startzeitserver gesendet");
        entry.insert(QStringLiteral("infotype"), QStringLiteral("planning_add_success"));
        // The service's job id; without one the row is sent again in the next pass.
        const QString jobId = messages.isEmpty() ? QString() : messages.first().trimmed();
        if (!jobId.isEmpty()) {
            const JobIdWrite stored = storeJobId(row, jobId);
            if (stored != JobIdWrite::Stored) {
                // A job that the row does not name would start a listing that the seller
                // cancelled or rescheduled, or start it twice after the next upload.
                const bool withdrawn = ScheduledStartService(db).withdraw(jobId);
                qCInfo(lcWorker).noquote() << "Job" << jobId << "of article" << articleId
                                           << "not stored; withdrawn:" << withdrawn;
                if (stored == JobIdWrite::Failed) {
                    text = tr("Die Auftragsnummer des Startzeitservers konnte nicht "
                              "gespeichert werden: %1")
                               .arg(db->lastErrorText);
                    entry.insert(QStringLiteral("infotype"), QStringLiteral("planning_add_fail"));
                } else if (withdrawn) {
                    text = tr("Die Planung wurde inzwischen aufgehoben oder geändert, der "
                              "Auftrag am Startzeitserver wurde zurückgezogen");
                    entry.insert(QStringLiteral("infotype"), QStringLiteral("success"));
                } else {
                    text = tr("Die Planung wurde inzwischen aufgehoben oder geändert, aber der "
                              "Auftrag am Startzeitserver konnte nicht zurückgezogen werden: "
                              "der Artikel kann trotzdem starten");
                    entry.insert(QStringLiteral("infotype"), QStringLiteral("error"));
                }
            }
        } else {
            db->executeSQL(QStringLiteral("UPDATE articles SET DoCheckResult=") + quoted(text)
                           + QStringLiteral(" WHERE id=") + articleId);
        }
    } else {
        text = failureText(messages);
        entry.insert(QStringLiteral("infotype"), QStringLiteral("planning_add_fail"));
        db->executeSQL(QStringLiteral("UPDATE articles SET DoCheckResult=") + quoted(text)
                       + QStringLiteral(" WHERE id=") + articleId);
    }
    entry.insert(QStringLiteral("textinfo"), text);
    storeAndSend(db, entry);
}

// Stores the job id for the row only while it is still scheduled as it was sent: in its
// folder, with the same start and not handed over yet.
ListingThread::JobIdWrite ListingThread::storeJobId(const ArticleRow &row, const QString &jobId)
{
    const QString articleId = row.value(QStringLiteral("id")).toString();
    // Through the connection's statement helper (lock waits, reconnects), which leaves the
    // query for the number of changed rows.
    QSqlQuery update;
    if (!db->selectQuery(QStringLiteral("UPDATE articles SET DoCheckResult='', Planned_Interval=")
                             + quoted(jobId) + QStringLiteral(" WHERE id=") + articleId
                             + QStringLiteral(" AND Folder=-3 AND Planned_Interval='' AND Planned=")
                             + quoted(row.value(QStringLiteral("Planned")).toString()),
                         update))
        return JobIdWrite::Failed;
    return update.numRowsAffected() > 0 ? JobIdWrite::Stored : JobIdWrite::NoLongerPlanned;
}

// --- Outbox --------------------------------------------------------------------------

int ListingThread::outboxPhase(bool &stop)
{
    if (applicationGoingDown()) {
        stop = true;
        return 0;
    }
    const SqlRows rows
        = queuedArticles(db, QStringLiteral("articles.DoCheck=2 AND articles.Folder = -2 LIMIT 2"));
    if (rows.isEmpty())
        return 0;
    try {
        handleOutboxRow(rows.first(), stop);
    } catch (const std::invalid_argument &error) {
        logException(error);
    }
    return rows.size();
}

void ListingThread::handleOutboxRow(const ArticleRow &row, bool &stop)
{
    const QString articleId = row.value(QStringLiteral("id")).toString();
    const QString oldItemId = row.value(QStringLiteral("ItemID")).toString();
    const int folderOld = row.value(QStringLiteral("FolderOld")).toInt();
    const int call = listingCallFor(oldItemId, folderOld);
    // Without the key no UUID: the article waits in its queue.
    QString key;
    if (call != Api_Ebay::Revise && !databaseKey(key))
        return;

    const std::unique_ptr<Api_Ebay> client = startRow(row);
    // Taken out of the queue before the call: a failed listing is not tried again until
    // the user queues it anew.
    if (!db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=0 WHERE id=") + articleId))
        return;

    ListingResult result;
    result.row = row;
    result.articleId = articleId;
    result.call = call;

    const quint64 failures = db->failedStatements();
    const SqlRows pictures = picturesOf(db, articleId, true);
    QStringList messages;
    if (call != Api_Ebay::Revise)
        client->itemUuid = listingUuid(key, row, call);
    const bool listed = db->failedStatements() == failures
        && client->verifyItem(call, row, pictures, messages, db);
    result.time = Clock::currentDateTime();

    if (!listed && !client->lastCallSent && db->failedStatements() != failures) {
        // Never listed without its pictures or variations: again once they can be read, or,
        // when the database refuses to read them, not at all.
        if (db->lastFailureTransient()) {
            result.kind = ListingResult::Requeue;
        } else {
            result.kind = ListingResult::Refused;
            result.text = client->getLastFail().isEmpty() ? unreadableText(db->lastErrorText)
                                                          : client->getLastFail();
        }
    } else if (!listed) {
        result.kind = ListingResult::Refused;
        // Every error of the reply, not a warning that came after them.
        result.text
            = client->getLastFail().isEmpty() ? failureText(messages) : client->getLastFail();
    } else {
        result.kind = ListingResult::Listed;
        result.itemId = client->lastItemId;
        result.text = listedText(oldItemId, folderOld);
    }
    settle(result);

    if (applicationGoingDown())
        stop = true;
}

// --- Results -------------------------------------------------------------------------

void ListingThread::settle(ListingResult result)
{
    if (result.kind == ListingResult::Listed)
        holdItemId(result.itemId);
    if (storeResult(result)) {
        if (result.kind == ListingResult::Listed)
            releaseItemId(result.itemId);
        return;
    }
    qCWarning(lcWorker).noquote() << "The result of article" << result.articleId
                                  << "is kept until the database can store it";
    m_pending.append(result);
}

void ListingThread::storePendingResults()
{
    for (int i = 0; i < m_pending.size();) {
        ListingResult &result = m_pending[i];
        if (!storeResult(result))
            return;
        qCInfo(lcWorker).noquote() << "The kept result of article" << result.articleId
                                   << "is stored";
        if (result.kind == ListingResult::Listed)
            releaseItemId(result.itemId);
        m_pending.removeAt(i);
    }
}

// Only rows the listing worker took out of the queue for a call (DoCheck 0, and still the
// status the window gave them when queuing) whose outcome no result of this worker holds.
// The outbox's rows are found by its folder's index and written by id, a few at a time: a
// statement over the whole table would hold the file's write lock while the window waits.
bool ListingThread::requeueLeftovers()
{
    constexpr int kRowsPerWrite = 50;
    const quint64 failures = db->failedStatements();
    const SqlRows outbox
        = db->select(
                QStringLiteral("SELECT id, DoCheck, DoCheckResult FROM articles WHERE Folder=-2"))
              .legacyValue();
    if (db->failedStatements() != failures)
        return !db->lastFailureTransient();
    const QString queued = queuedText();
    QStringList ids;
    for (const ArticleRow &row : outbox) {
        if (row.value(QStringLiteral("DoCheck")).toInt() == 0
            && row.value(QStringLiteral("DoCheckResult")).toString() == queued)
            ids << row.value(QStringLiteral("id")).toString();
    }
    for (int at = 0; at < ids.size(); at += kRowsPerWrite) {
        // The conditions again: a row the window or a result changed meanwhile stays as it is.
        if (!db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=2 WHERE id IN (")
                                + ids.mid(at, kRowsPerWrite).join(QLatin1Char(','))
                                + QStringLiteral(") AND Folder=-2 AND DoCheck=0 AND DoCheckResult=")
                                + quoted(queued),
                            Database::Repeat::Safe))
            return !db->lastFailureTransient();
    }
    return true;
}

bool ListingThread::storeResult(ListingResult &result)
{
    if (result.kind == ListingResult::Requeue) {
        // Only while the seller left it in its queue's folder. Written again after a lost
        // answer, it changes nothing more.
        if (db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=")
                           + QString::number(result.queue) + QStringLiteral(" WHERE id=")
                           + result.articleId + QStringLiteral(" AND DoCheck=0")
                           + (result.queue == 2 ? QStringLiteral(" AND Folder=-2") : QString())))
            return true;
        return !db->lastFailureTransient();
    }

    const ListingWrite write = storeOutcome(db, result);
    if (write.outcome == ListingWrite::Unavailable) {
        // A commit without an answer may have written it all.
        if (!write.counts.isEmpty())
            result.untold = write.counts;
        return false;
    }
    if (write.outcome == ListingWrite::Refused) {
        // Left out, as a write the database refuses always was.
        qCWarning(lcWorker).noquote() << "The result of article" << result.articleId
                                      << "was refused by the database:" << db->lastErrorText;
        return true;
    }
    const auto &counts
        = write.outcome == ListingWrite::AlreadyStored ? result.untold : write.counts;
    for (const auto &count : counts)
        emit ChangeFolderCount(count.first, count.second, false);

    QString entry;
    if (write.entryId > 0) {
        entry = QStringLiteral("id=") + QString::number(write.entryId);
    } else if (write.outcome == ListingWrite::AlreadyStored) {
        // Stored by an earlier attempt whose answer was lost, or by the synchronisation: its
        // entry goes to the window, which shows each entry once.
        entry = QStringLiteral("databaseid=") + result.articleId
            + QStringLiteral(" AND infotype IN ('articleadd_success', 'articleadd_fail') "
                             "ORDER BY id DESC LIMIT 1");
    }
    if (!entry.isEmpty()) {
        const QList<NewsItem> news = db->selectNews(entry).legacyValue();
        if (!news.isEmpty())
            emit sendaddNewsItem(news.first());
    }
    return true;
}

ListingWrite ListingThread::storeOutcome(Database *db, const ListingResult &result,
                                         bool onlyFromOutbox)
{
    ListingWrite write;
    const quint64 failures = db->failedStatements();
    // A statement the database refuses for good is left out, as it always was; one that found
    // the database unavailable undoes everything of this outcome.
    const auto unavailable = [&] {
        return db->failedStatements() != failures && db->lastFailureTransient();
    };
    const auto failedFor = [&]() {
        return db->lastFailureTransient() ? ListingWrite::Unavailable : ListingWrite::Refused;
    };
    Transaction transaction(db);
    if (!transaction.isOpen()) {
        write.outcome = failedFor();
        return write;
    }
    const auto endWith = [&](ListingWrite::Outcome outcome) {
        transaction.rollback();
        ListingWrite ended;
        ended.outcome = outcome;
        return ended;
    };

    const QString articleId = QString::number(result.articleId.toInt());
    const QString oldItemId = result.row.value(QStringLiteral("ItemID")).toString();
    const int folderOld = result.row.value(QStringLiteral("FolderOld")).toInt();
    const QString account = QString::number(result.row.value(QStringLiteral("Account")).toInt());
    const bool listed = result.kind == ListingResult::Listed;
    const bool newListing = listed && result.call != Api_Ebay::Revise;
    const bool firstListing = listed && oldItemId.isEmpty();
    const QString time = result.time.toString(QLatin1String(kDateFormat));
    const QString infotype
        = listed ? QStringLiteral("articleadd_success") : QStringLiteral("articleadd_fail");

    // The article's row, locked until the end: another connection storing the same listing
    // waits for this one and then finds it stored.
    const SqlRows own
        = db->select(QStringLiteral("SELECT ItemID, Folder FROM articles WHERE id=") + articleId
                     + (db->isMySQL ? QStringLiteral(" FOR UPDATE") : QString()))
              .legacyValue();
    if (unavailable())
        return endWith(ListingWrite::Unavailable);
    const QString storedItemId = own.value(0).value(QStringLiteral("ItemID")).toString();
    if (newListing && !own.isEmpty() && storedItemId == result.itemId)
        return endWith(ListingWrite::AlreadyStored);
    if (onlyFromOutbox
        && (own.isEmpty() || own.first().value(QStringLiteral("Folder")).toInt() != -2
            || storedItemId != oldItemId))
        return endWith(ListingWrite::Moved);
    // A call whose answer was lost may have listed the article all the same; once its listing
    // is on the article (put there by the synchronisation), the failure is no longer news.
    if (!listed && result.call != Api_Ebay::Revise && !own.isEmpty() && storedItemId != oldItemId)
        return endWith(ListingWrite::AlreadyStored);
    // The outcome entry, written in the same transaction, tells whether it was stored.
    const auto entryStored = [&](const QString &databaseId) {
        return db->selectCount(QStringLiteral("SELECT id FROM itemshistory WHERE databaseid=")
                               + databaseId + QStringLiteral(" AND infotype=") + quoted(infotype)
                               + QStringLiteral(" AND indate=") + quoted(time))
                   .legacyValue()
            > 0;
    };
    // A refusal or revision leaves no item number behind.
    if (!newListing) {
        const bool stored = entryStored(articleId);
        if (unavailable())
            return endWith(ListingWrite::Unavailable);
        if (stored)
            return endWith(ListingWrite::AlreadyStored);
    }

    QMap<QString, QVariant> entry = outcomeEntry(result.row);
    entry.insert(QStringLiteral("indate"), time);
    entry.insert(QStringLiteral("textinfo"), result.text);
    entry.insert(QStringLiteral("infotype"), infotype);

    int imported = 0;
    if (newListing) {
        imported = db->selectOne(QStringLiteral("SELECT id FROM articles WHERE ItemID=")
                                 + quoted(result.itemId) + QStringLiteral(" AND Account=") + account
                                 + QStringLiteral(" AND id<>") + articleId)
                       .legacyValue()
                       .toInt();
        const bool stored = imported > 0 && entryStored(QString::number(imported));
        if (unavailable())
            return endWith(ListingWrite::Unavailable);
        if (stored)
            return endWith(ListingWrite::AlreadyStored);
    }

    if (firstListing) {
        const int listedWithMe = db->getOption(QStringLiteral("listedWithMe"), QStringLiteral("0"))
                                     .legacyValue()
                                     .toInt()
            + 1;
        if (unavailable())
            return endWith(ListingWrite::Unavailable);
        db->setOption(QStringLiteral("listedWithMe"), QString::number(listedWithMe));
    }

    QString sql;
    if (imported > 0) {
        // The synchronisation read the listing before its result was stored: that row is the
        // listing, and the article goes back where it came from, as the copy of a first
        // listing does.
        write.outcome = ListingWrite::ImportedAlready;
        entry.insert(QStringLiteral("databaseid"), imported);
        sql = QStringLiteral("UPDATE articles SET DoCheck=0, DoCheckResult='', Folder=")
            + QString::number(folderOld) + QStringLiteral(" WHERE id=") + articleId;
        write.counts.append({ folderOld, 1 });
    } else if (!listed) {
        write.outcome = ListingWrite::Written;
        sql = QStringLiteral("UPDATE articles SET IsVerified=0, DoCheckResult=")
            + quoted(result.text) + QStringLiteral(" WHERE id=") + articleId;
    } else if (result.call == Api_Ebay::Revise) {
        write.outcome = ListingWrite::Written;
        // A revision changes a running listing: its start and end stay.
        sql = QStringLiteral("UPDATE articles SET IsVerified=1, DoCheck=0, Folder=-9, ItemID=")
            + quoted(result.itemId) + QStringLiteral(", DoCheckResult='' WHERE id=") + articleId;
    } else {
        write.outcome = ListingWrite::Written;
        // A first listing leaves the unlisted article where it was: the copy, made before the
        // listing columns are written, lands in the previous folder.
        if (firstListing) {
            const int copyId
                = db->DuplicateRow(QStringLiteral("articles"), QStringLiteral("id"), articleId,
                                   { { QStringLiteral("Folder"), folderOld },
                                     { QStringLiteral("DoCheck"), 0 },
                                     { QStringLiteral("DoCheckResult"), QString() } });
            if (unavailable())
                return endWith(ListingWrite::Unavailable);
            if (copyId > 0)
                write.counts.append({ folderOld, 1 });
        }
        const QString duration = result.row.value(QStringLiteral("ListingDuration")).toString();
        const int days = duration.contains(QLatin1String("Days_"))
            ? Statics::getstr(duration, QStringLiteral("Days_"), QString()).toInt()
            : 0;
        // A listing without a day count (GTC) runs until it is ended: no end date.
        const QString end
            = days > 0 ? result.time.addDays(days).toString(QLatin1String(kDateFormat)) : QString();
        // DoCheck too: a "try again" of the seller while the result waited is answered by it.
        sql = QStringLiteral("UPDATE articles SET IsVerified=1, DoCheck=0, StartDate=")
            + quoted(time) + QStringLiteral(",EndDate=") + quoted(end)
            + QStringLiteral(", Folder=-9, ItemID=") + quoted(result.itemId)
            + QStringLiteral(", DoCheckResult='' WHERE id=") + articleId;
    }
    db->executeSQL(sql);
    if (unavailable())
        return endWith(ListingWrite::Unavailable);

    write.entryId = db->insertSqlClean(entry, QStringLiteral("itemshistory"));
    if (unavailable())
        return endWith(ListingWrite::Unavailable);

    if (!transaction.commit()) {
        ListingWrite lost;
        lost.outcome = failedFor();
        lost.counts = write.counts;
        return lost;
    }
    return write;
}
