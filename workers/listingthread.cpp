#include "workers/listingthread.h"

#include <stdexcept>

#include <QCoreApplication>
#include <QSqlQuery>
#include <QVariant>

#include "core/clock.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/threadhelper.h"
#include "marketplace/api_ebay.h"
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
    return db->select(
        QStringLiteral("SELECT accounts.accountname, accounts.smallbiz, accounts.apiresult, "
                       "accounts.id AS accid, accounts.sandbox, accounts.token, articles.* "
                       "FROM accounts, articles WHERE articles.Account=accounts.id AND ")
        + condition);
}

// The picture rows of an article; `ownOnly` leaves out those of its variations.
SqlRows picturesOf(Database *db, const QString &articleId, bool ownOnly)
{
    QString sql = QStringLiteral("SELECT * FROM articles_images WHERE article_id=") + articleId;
    if (ownOnly)
        sql += QStringLiteral(" AND (variant_name IS NULL OR variant_name = '')");
    return db->select(sql);
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
    db->deleteLater();
    db = nullptr;
    emit loopEnded();
}

int ListingThread::runPass(bool &stop)
{
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

QMap<QString, QVariant> ListingThread::outcomeEntry(const ArticleRow &row) const
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
        = connection->selectNews(QStringLiteral("id=") + QString::number(id));
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

    const SqlRows pictures = picturesOf(db, articleId, true);
    QStringList messages;
    const bool passed = client->verifyItem(Api_Ebay::Verify, row, pictures, messages, db);

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
    const std::unique_ptr<Api_Ebay> client = startRow(row);
    // Taken out of the queue before the call: a failed listing is not tried again until
    // the user queues it anew.
    if (!db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=0 WHERE id=") + articleId))
        return;

    const SqlRows pictures = picturesOf(db, articleId, true);
    QStringList messages;
    const QString oldItemId = row.value(QStringLiteral("ItemID")).toString();
    const int folderOld = row.value(QStringLiteral("FolderOld")).toInt();
    const int call = listingCallFor(oldItemId, folderOld);
    const bool listed = client->verifyItem(call, row, pictures, messages, db);

    QMap<QString, QVariant> entry = outcomeEntry(row);
    QString text;
    if (!listed) {
        // Every error of the reply, not a warning that came after them.
        text = client->getLastFail().isEmpty() ? failureText(messages) : client->getLastFail();
        entry.insert(QStringLiteral("infotype"), QStringLiteral("articleadd_fail"));
        db->executeSQL(QStringLiteral("UPDATE articles SET IsVerified=0, DoCheckResult=")
                       + quoted(text) + QStringLiteral(" WHERE id=") + articleId);
    } else {
        if (oldItemId.isEmpty()) {
            const int listedWithMe
                = db->getOption(QStringLiteral("listedWithMe"), QStringLiteral("0")).toInt() + 1;
            db->setOption(QStringLiteral("listedWithMe"), QString::number(listedWithMe));
            text = tr("wurde erfolgreich eingestellt");
        } else if (folderOld == SpecialFolderId::Active) {
            text = tr("wurde erfolgreich aktualisiert");
        } else {
            text = tr("wurde erfolgreich wiedereingestellt");
        }
        entry.insert(QStringLiteral("infotype"), QStringLiteral("articleadd_success"));

        // A first listing leaves the unlisted article where it was: the copy, made before
        // the listing columns are written, goes back to the previous folder.
        if (oldItemId.isEmpty()) {
            const int copyId = db->DuplicateRow(QStringLiteral("articles"), QStringLiteral("id"),
                                                articleId, QString(), QString());
            if (copyId > 0) {
                db->executeSQL(QStringLiteral("UPDATE articles SET DoCheck=0, DoCheckResult='', "
                                              "Folder=")
                               + QString::number(folderOld) + QStringLiteral(" WHERE id=")
                               + QString::number(copyId));
                emit ChangeFolderCount(folderOld, 1, false);
            }
        }

        const QString itemId = quoted(client->lastItemId);
        if (call == Api_Ebay::Revise) {
            // A revision changes a running listing: its start and end stay.
            db->executeSQL(QStringLiteral("UPDATE articles SET IsVerified=1, Folder=-9, ItemID=")
                           + itemId + QStringLiteral(", DoCheckResult='' WHERE id=") + articleId);
        } else {
            const QString duration = row.value(QStringLiteral("ListingDuration")).toString();
            const int days = duration.contains(QLatin1String("Days_"))
                ? Statics::getstr(duration, QStringLiteral("Days_"), QString()).toInt()
                : 0;
            const QDateTime start = Clock::currentDateTime();
            // A listing without a day count (GTC) runs until it is ended: no end date.
            const QString end
                = days > 0 ? start.addDays(days).toString(QLatin1String(kDateFormat)) : QString();
            db->executeSQL(QStringLiteral("UPDATE articles SET IsVerified=1, StartDate=")
                           + quoted(start.toString(QLatin1String(kDateFormat)))
                           + QStringLiteral(",EndDate=") + quoted(end)
                           + QStringLiteral(", Folder=-9, ItemID=") + itemId
                           + QStringLiteral(", DoCheckResult='' WHERE id=") + articleId);
        }
    }
    entry.insert(QStringLiteral("textinfo"), text);
    storeAndSend(db, entry);

    if (applicationGoingDown())
        stop = true;
}
