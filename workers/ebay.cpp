#include "workers/ebay.h"

#include <malloc.h>
#include <memory>
#include <stdexcept>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSqlQuery>
#include <utility>

#include "core/clock.h"
#include "core/database.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/stagedfiles.h"
#include "core/statics.h"
#include "core/threadhelper.h"
#include "core/transaction.h"
#include "marketplace/api_ebay.h"
#include "marketplace/articlemodel.h"
#include "marketplace/itemmapping.h"
#include "marketplace/tradingtransport.h"
#include "workers/listingthread.h"
#include "workers/scheduledstartservice.h"

namespace {

const QString kStampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

constexpr int kFirstWaitSeconds = 300;
constexpr int kTenDaysSeconds = 864000;
constexpr int kWorkstationWaitSeconds = 64;
// A read never reaches back further than this.
constexpr int kMaxReadBackDays = 89;

QVariant appProperty(const char *name)
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app ? app->property(name) : QVariant();
}

bool appDown()
{
    return appProperty("AppDown").toInt() == 1;
}

// On a shared MySQL database only the synchronising workstation reads the marketplace.
bool otherWorkstationSyncs()
{
    const QVariant sync = appProperty("mysqlsyncworkstation");
    return sync.isValid() && !sync.toBool();
}

QString now()
{
    return Clock::currentDateTime().toString(kStampFormat);
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + Database::escapeString(text) + QLatin1Char('\'');
}

// Prices go into the database in fixed notation with two decimals.
QString priceText(double price)
{
    return QString::number(price, 'f', 2);
}

// The marketplace serves its pictures in several sizes, chosen by the marker "$_<n>." in
// the address; size 57 is the largest.
QString largestPictureAddress(const QString &address)
{
    const QString size = Statics::getstr(address, QStringLiteral("$_"), QStringLiteral("."));
    if (size.isEmpty())
        return address;
    QString large = address;
    large.replace(QStringLiteral("$_") + size + QLatin1Char('.'), QStringLiteral("$_57."),
                  Qt::CaseSensitive);
    return large;
}

// Rows in these folders, and rows marked deleted, belong to the user's work in progress:
// the synchronisation refreshes their counters but never moves them.
// The wording of a changed counter: one more, several more (%1), one less or several
// less (%1), by the size and sign of `delta`.
QString changeText(int delta, const QString &oneMore, const QString &more, const QString &oneLess,
                   const QString &less)
{
    if (delta == 1)
        return oneMore;
    if (delta > 1)
        return more.arg(delta);
    if (delta == -1)
        return oneLess;
    return less.arg(-delta);
}

bool isItemNumber(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool keepsItsFolder(int folder, int trash)
{
    return folder == SpecialFolderId::Outbox || folder == SpecialFolderId::Scheduled
        || folder == SpecialFolderId::Trash || trash == 1;
}

} // namespace

Ebay::Ebay(QObject *parent)
    : QObject(nullptr)
{
    Q_UNUSED(parent)
}

Ebay::~Ebay() = default;

void Ebay::ensureDatabase()
{
    if (!db)
        db = new Database(true, QStringLiteral("ebayDB"), this);
}

void Ebay::ExecuteAll()
{
    ensureDatabase();
    bool stop = false;

    const int interval = appProperty("SyncIntervall").toInt();
    const int firstWait = interval != 0 ? kFirstWaitSeconds : kTenDaysSeconds;
    emit setNextSync(Clock::currentDateTime().addSecs(firstWait).toString(QStringLiteral("HH:mm")));
    if (interval == 0)
        emit setNextSync(QString());
    wait(firstWait, stop, syncNow);

    if (!stop) {
        qCInfo(lcWorker) << "Wait done, sync start...";
        while (true) {
            emit setNextSync(QString());
            if (otherWorkstationSyncs()) {
                wait(kWorkstationWaitSeconds, stop, syncNow);
                if (stop)
                    break;
                continue;
            }

            runRound();

            // Set once at start-up, so the interval stays as it was then.
            const int minutes = appProperty("SyncIntervall").toInt();
            if (minutes != 0) {
                emit setNextSync(Clock::currentDateTime()
                                     .addSecs(qint64(minutes) * 60)
                                     .toString(QStringLiteral("HH:mm")));
                wait(minutes * 60, stop, syncNow);
            } else {
                emit setNextSync(QString());
                wait(kTenDaysSeconds, stop, syncNow);
            }
            if (stop)
                break;
        }
    }

    db->deleteLater();
    db = nullptr;
    emit loopEnded();
}

void Ebay::startSyncNow()
{
    qCInfo(lcWorker) << "startSyncNow rec from Ebay";
    syncNow = true;
    keysTold = false;
}

void Ebay::getStatusFromApi(QString status, int totalStat, int detailStat)
{
    emit getStatus(status, totalStat, detailStat);
}

void Ebay::runRound()
{
    ensureDatabase();
    // Without the developer keys no account can be read: the round is left out, and the
    // status panel says once (again after a sync command) what is missing, with no progress.
    if (TradingTransport::noKeys()) {
        qCInfo(lcWorker) << "Sync round left out: no developer keys";
        if (!keysTold)
            emit getStatus(TradingTransport::missingKeysText(), -1, 0);
        keysTold = true;
        emit setAppToSyncState(false);
        return;
    }
    emit setAppToSyncState(true);
    removeCachedProfiles();
    followUpScheduledStarts();

    m_roundFailures.clear();
    // The round reads local times with the time zone as it is now.
    ItemMapping::forgetLocalOffsets();
    // The pictures of new listings come one after the other from the same few servers:
    // one manager for the round keeps their connections open.
    QNetworkAccessManager pictures;
    m_pictures = &pictures;
    // The notification switches hold for the whole round: one the seller changes meanwhile
    // applies from the next round. Read for each page when they could not be read here.
    Switches switches;
    if (readSwitches(switches))
        m_roundSwitches = switches;
    const auto accounts = db->select(QStringLiteral("SELECT * FROM accounts")).legacyValue();
    for (const auto &account : accounts) {
        try {
            if (!syncAccount(account))
                break;
        } catch (const std::invalid_argument &error) {
            qCWarning(lcWorker).noquote() << error.what();
        }
    }

    m_pictures = nullptr;
    m_roundSwitches.reset();
    publishFolderCounts();
    // The status panel ends the round on what went wrong, not on a stale progress.
    if (!m_roundFailures.isEmpty())
        emit getStatus(tr("Einlesefehler") + QStringLiteral(": ")
                           + m_roundFailures.join(QStringLiteral("; ")),
                       1, 0);
    // What the round read and wrote is gone: the memory it took goes back to the system
    // rather than staying with the program until the next round.
    malloc_trim(0);
    emit setAppToSyncState(false);
}

// The shop categories and seller profiles are asked for afresh after every round; the
// sandbox's files ("sandbox_" in front) are left alone.
void Ebay::removeCachedProfiles()
{
    QDir cache(db->getCacheDir());
    const QStringList stale = cache.entryList(
        { QStringLiteral("ap2_getProfiles_*.xml"), QStringLiteral("ap2_getStore_*.xml") },
        QDir::Files | QDir::CaseSensitive);
    for (const QString &name : stale) {
        if (!cache.remove(name))
            qCWarning(lcWorker).noquote() << "Can't remove cache file" << cache.filePath(name);
    }
}

void Ebay::followUpScheduledStarts()
{
    ScheduledStartService service(db);
    connect(&service, &ScheduledStartService::ChangeFolderCount, this, &Ebay::ChangeFolderCount);
    service.followUp();
}

bool Ebay::syncAccount(const QMap<QString, QVariant> &account)
{
    const QString id = QString::number(account.value(QStringLiteral("id")).toInt());
    const QString token = account.value(QStringLiteral("token")).toString();
    const int sandbox = account.value(QStringLiteral("sandbox")).toInt();

    {
        Api_Ebay api(token, nullptr, sandbox);
        const QString user = api.getUser();
        // Only two complete, successful replies replace what is known of the account.
        if (api.getLastFail().isEmpty())
            db->executeSQL(QStringLiteral("UPDATE accounts SET apiresult=") + quoted(user)
                           + QStringLiteral(" WHERE id=") + id);
    }

    refreshHash = now();
    // Rows are moved for having ended only after a read whose every write was stored (not
    // while the database was away).
    const quint64 failures = db->failedStatements();
    const bool complete = GetArticles(token, id, sandbox) == 1;
    if (appDown())
        return false;
    if (complete && db->failedStatements() == failures)
        reconcile(id);
    return true;
}

int Ebay::GetArticles(const QString &token, const QString &accountId, int sandbox)
{
    ensureDatabase();
    emit getStatus(tr("Synchronisieren..."), 10, 2);

    const QString account = QString::number(accountId.toInt());
    const QString option = QStringLiteral("read_account_") + account;
    const QDateTime floor = Clock::currentDateTime().addDays(-kMaxReadBackDays);
    QDateTime start = QDateTime::fromString(
        db->getOption(option, floor.toString(kStampFormat)).legacyValue(), kStampFormat);
    // An unreadable stored value falls back to the floor as well.
    if (!start.isValid() || start < floor)
        start = floor;

    const quint64 failures = db->failedStatements();
    QStringList known;
    QSqlQuery rows;
    // Without the known ones every listing would be taken for a new one.
    if (!db->selectQuery(
            QStringLiteral("SELECT ItemID FROM articles WHERE ItemID <> '' AND Account = ")
                + account,
            rows)) {
        m_roundFailures << db->lastErrorText;
        return 0;
    }
    while (rows.next())
        known.append(rows.value(0).toString());
    rows.finish();
    // Listed by this program, their rows still to be written by the listing worker.
    known += ListingThread::pendingItemIds();

    Api_Ebay api(token, nullptr, sandbox);
    connect(&api, &Api_Ebay::getStatus, this, &Ebay::getStatusFromApi);
    connect(&api, &Api_Ebay::sendAdItems, this, &Ebay::getAdItems);
    m_lostPage.clear();
    // A page that could not be written makes the read incomplete: nothing is moved on the
    // strength of it, and the next read starts where this one did.
    const bool read = api.getMyeBaySelling(account, known, start) && m_lostPage.isEmpty()
        && db->failedStatements() == failures;
    if (read) {
        // The next read overlaps this one by a day.
        db->setOption(option, Clock::currentDateTime().addDays(-1).toString(kStampFormat));
    } else {
        qCWarning(lcWorker).noquote()
            << tr("Letzte Einlesung für Konto %1 war nicht erfolgreich").arg(account);
    }

    QString failure = api.getLastFail();
    if (failure.isEmpty())
        failure = m_lostPage;
    if (failure.isEmpty() && (read || appDown()))
        return read ? 1 : 0;
    if (failure.isEmpty())
        failure = tr("Unbekannter Fehler");
    const QString name
        = db->selectOne(QStringLiteral("SELECT accountname FROM accounts WHERE id=") + account)
              .legacyValue();
    m_roundFailures << (name.isEmpty() ? failure : name + QStringLiteral(": ") + failure);

    addNews(QStringLiteral("error"), tr("Einlesefehler"), QString(), 0, failure);
    tellWindow();
    return 0;
}

// After a complete read of the account: the rows the read did not touch have ended. Rows
// listed after the read began (StartDate not older than the stamp) were not in it and stay.
// Active rows with some quantity left go to the unsold folder, active and unsold rows sold out
// to the sold folder: one pass over the active and unsold rows through the folder index (the
// account's rows include every sold one of years; "+" keeps SQLite off the account's index).
void Ebay::reconcile(const QString &accountId)
{
    const QString stamp = Database::escapeString(refreshHash);
    db->executeSQL(
        QStringLiteral("UPDATE articles SET Folder=CASE WHEN SoldCount<Quantity THEN -8 ELSE -7 "
                       "END WHERE Folder IN (-9, -8) AND Trash=0 AND ((Folder=-9 AND "
                       "SoldCount<Quantity) OR SoldCount=Quantity) AND RefreshHash NOT LIKE '")
        + stamp + QStringLiteral("' AND (StartDate IS NULL OR StartDate < '") + stamp
        + QStringLiteral("') AND +Account=") + accountId);
}

// Sets the count of every folder the tree knows; folders without an article get 0.
void Ebay::publishFolderCounts()
{
    QMap<int, int> counts;
    for (int folder : { SpecialFolderId::Active, SpecialFolderId::Sold, SpecialFolderId::Unsold,
                        SpecialFolderId::Scheduled, SpecialFolderId::Outbox, SpecialFolderId::Trash,
                        SpecialFolderId::Drafts })
        counts.insert(folder, 0);
    for (const auto &row : db->select(QStringLiteral("SELECT id FROM folders")).legacyValue())
        counts.insert(row.value(QStringLiteral("id")).toInt(), 0);
    const auto rows
        = db
              ->select(QStringLiteral(
                  "SELECT Folder,count(id) AS M FROM articles WHERE Trash=0 GROUP BY Folder"))
              .legacyValue();
    // Counts that could not be read are not shown as empty folders.
    if (!db->lastErrorText.isEmpty())
        return;
    for (const auto &row : rows)
        counts.insert(row.value(QStringLiteral("Folder")).toInt(),
                      row.value(QStringLiteral("M")).toInt());
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        emit ChangeFolderCount(it.key(), it.value(), true);
}

void Ebay::getAdItems(QList<ArticleModel *> articles)
{
    // Every record is released when the page is done, also when it stops half-way.
    std::vector<std::unique_ptr<ArticleModel>> records;
    records.reserve(articles.size());
    for (ArticleModel *record : qAsConst(articles)) {
        if (!record)
            continue;
        // The item number becomes part of file names and statements: only the marketplace's
        // own, all digits, is taken.
        record->ItemID = record->ItemID.trimmed();
        if (!isItemNumber(record->ItemID)) {
            qCWarning(lcWorker) << "Listing with an invalid item number skipped:" << record->ItemID;
            delete record;
            continue;
        }
        records.emplace_back(record);
    }
    if (records.empty())
        return;

    ensureDatabase();
    Switches switches;
    if (m_roundSwitches)
        switches = *m_roundSwitches;
    else
        readSwitches(switches);

    // A listing the program made is never a new article, also while its result is not
    // stored yet.
    m_outboxByUuid.clear();
    std::vector<int> owners(records.size(), 0);
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i]->IsNew && !ownerOf(*records[i], owners[i])) {
            m_lostPage = tr("Eingelesene Angebote konnten nicht gespeichert werden: %1")
                             .arg(db->lastErrorText);
            qCWarning(lcWorker).noquote() << m_lostPage;
            return;
        }
    }

    // The pictures of the new listings come first, so that the page's transaction never waits
    // for a download. Closing the program stops the page at the listing being fetched.
    std::vector<QString> thumbs(records.size());
    StagedFiles pictures;
    size_t applied = 0;
    for (; applied < records.size(); ++applied) {
        if (records[applied]->IsNew && owners[applied] == 0
            && !fetchPictures(*records[applied], thumbs[applied], pictures))
            break;
    }
    // The page's pictures and thumbnails are made durable together, before any row names them.
    QString unwritten;
    if (!pictures.commit(&unwritten)) {
        m_lostPage = tr("Eingelesene Angebote konnten nicht gespeichert werden: %1").arg(unwritten);
        qCWarning(lcWorker).noquote() << m_lostPage;
        return;
    }

    // One transaction per page: the page is written whole or not at all, and what the
    // window is told of follows what has been written. A statement that fails loses the page
    // (a database may have ended the transaction with it).
    Transaction page(db);
    m_pageFailed = !page.isOpen();
    // The page's activity entries are written together and carry one time.
    m_pageStamp = now();
    for (size_t i = 0; i < applied && !m_pageFailed; ++i) {
        ArticleModel &record = *records[i];
        if (!record.IsNew)
            applyKnown(record, rowsOfListing(record), switches);
        else
            applyNew(record, thumbs[i], switches, owners[i]);
    }
    m_pageStamp.clear();
    if (m_pageFailed || !page.commit()) {
        const QString error = db->lastErrorText;
        page.rollback();
        m_notices.clear();
        m_lostPage = tr("Eingelesene Angebote konnten nicht gespeichert werden: %1").arg(error);
        qCWarning(lcWorker).noquote() << m_lostPage;
        return;
    }
    tellWindow();
}

bool Ebay::readSwitches(Switches &switches)
{
    // A switch is on unless it is stored with a value other than "1".
    switches = Switches();
    QSqlQuery query;
    if (!db->selectQuery(QStringLiteral("SELECT optionname, optionvalue FROM options WHERE "
                                        "optionname IN ('NotiNewSale', 'NotiNewMessage', "
                                        "'NotiNewWatcher', 'NotiNewBids')"),
                         query))
        return false;
    while (query.next()) {
        const QString name = query.value(0).toString();
        const bool on = query.value(1).toString() == QLatin1String("1");
        if (name == QLatin1String("NotiNewSale"))
            switches.sale = on;
        else if (name == QLatin1String("NotiNewMessage"))
            switches.message = on;
        else if (name == QLatin1String("NotiNewWatcher"))
            switches.watcher = on;
        else if (name == QLatin1String("NotiNewBids"))
            switches.bids = on;
    }
    return true;
}

QVector<Ebay::StoredRow> Ebay::rowsOfListing(const ArticleModel &record)
{
    // Run for every listing of a read: bound by position, prepared once per connection.
    static const QString sql = QStringLiteral(
        "SELECT ListingType, CurrentPrice, Title, BidCount, Quantity, QuestionCount, WatchCount, "
        "SoldCount, id, Folder, Trash, Currency FROM articles WHERE ItemID = ? AND Account = ?");
    QVector<StoredRow> rows;
    // Read whole: the statement is kept for the next listing and holds no rows meanwhile.
    Database::BoundRows found;
    if (!db->execBound(sql, { record.ItemID, record.Account }, found)) {
        m_pageFailed = true;
        return rows;
    }
    rows.reserve(found.count());
    for (int i = 0; i < found.count(); ++i) {
        StoredRow row;
        row.listingType = found.value(i, 0).toString();
        row.currentPrice = found.value(i, 1).toDouble();
        row.title = found.value(i, 2).toString();
        row.bidCount = found.value(i, 3).toInt();
        row.quantity = found.value(i, 4).toInt();
        row.questionCount = found.value(i, 5).toInt();
        row.watchCount = found.value(i, 6).toInt();
        row.soldCount = found.value(i, 7).toInt();
        row.id = found.value(i, 8).toInt();
        row.folder = found.value(i, 9).toInt();
        row.trash = found.value(i, 10).toInt();
        row.currency = found.value(i, 11).toString();
        rows.append(row);
    }
    return rows;
}

void Ebay::applyKnown(const ArticleModel &record, const QVector<StoredRow> &rows,
                      const Switches &switches)
{
    if (rows.isEmpty())
        return;

    // Bound by position, each prepared once per connection: run for every listing of a read.
    // Folder and quantity are set only when they change: setting the folder rewrites the
    // folder index's entry of the row even when it stays the same. Whole numbers go as
    // numbers, the price as the text of its two decimals.
    static const QString counters
        = QStringLiteral("UPDATE articles SET CurrentPrice=?, QuestionCount=?, BidCount=?, "
                         "SoldCount=?, WatchCount=?, RefreshHash=?");
    static const QString statements[] = {
        counters + QStringLiteral(" WHERE id=?"),
        counters + QStringLiteral(", Folder=? WHERE id=?"),
        counters + QStringLiteral(", Quantity=? WHERE id=?"),
        counters + QStringLiteral(", Folder=?, Quantity=? WHERE id=?"),
    };
    constexpr int kCounters = 6;
    QVector<QVariant> bound { priceText(record.CurrentPrice),
                              record.QuestionCount,
                              record.BidCount,
                              record.SoldCount,
                              record.WatchCount,
                              refreshHash };
    bound.reserve(kCounters + 3);
    Database::BoundRows none;
    for (const StoredRow &row : rows) {
        bound.resize(kCounters);
        const bool follows = !keepsItsFolder(row.folder, row.trash);
        const bool folder = follows && row.folder != record.Folder;
        const bool quantity = follows && row.quantity != record.Quantity;
        if (folder) {
            changeFolderCount(record.Folder, 1);
            changeFolderCount(row.folder, -1);
            bound << record.Folder;
        }
        if (quantity)
            bound << record.Quantity;
        bound << row.id;
        const QString &sql = statements[(folder ? 1 : 0) + (quantity ? 2 : 0)];
        m_pageFailed = !db->execBound(sql, bound, none) || m_pageFailed;
    }

    // The entries compare with the first row as it was before the update.
    const StoredRow &first = rows.first();
    const QString title = first.title + QStringLiteral("|||");
    const auto entry = [&](const QString &type, const QString &titleValue, const QString &text) {
        addNews(type, title + titleValue, record.ItemID, first.id, text);
    };

    const int sold = record.SoldCount - first.soldCount;
    if (sold != 0 && switches.sale)
        entry(QStringLiteral("sellcount"), QString::number(record.SoldCount),
              sold == 1 ? tr("hat einen neuen Verkauf") : tr("hat %1 neue Verkäufe").arg(sold));

    if (record.CurrentPrice > first.currentPrice && first.listingType == QLatin1String("Chinese")) {
        QString currency = first.currency;
        currency.replace(QStringLiteral("EUR"), QStringLiteral("€"));
        currency.replace(QStringLiteral("USD"), QStringLiteral("$"));
        if (currency.isEmpty())
            currency = QStringLiteral("€");
        entry(QStringLiteral("currentpricechange"),
              QStringLiteral("%L1").arg(record.CurrentPrice, 0, 'f', 2) + QLatin1Char(' ')
                  + currency,
              QString());
    }

    if (record.Quantity != first.quantity)
        entry(QStringLiteral("quantitychange"), QString::number(record.Quantity), QString());

    if (record.QuestionCount == 1 && first.questionCount != 1 && switches.message)
        entry(QStringLiteral("message"), QString::number(record.QuestionCount),
              tr("hat noch unbeantwortete Fragen"));

    const int watchers = record.WatchCount - first.watchCount;
    if (watchers != 0 && switches.watcher)
        entry(watchers > 0 ? QStringLiteral("watcher") : QStringLiteral("watcherneg"),
              QString::number(record.WatchCount),
              changeText(watchers, tr("hat einen neuen Beobachter"), tr("hat %1 neue Beobachter"),
                         tr("hat einen Beobachter weniger"), tr("hat %1 Beobachter weniger")));

    const int bids = record.BidCount - first.bidCount;
    if (bids != 0 && switches.bids)
        entry(bids > 0 ? QStringLiteral("bid") : QStringLiteral("bidneg"),
              QString::number(record.BidCount),
              changeText(bids, tr("hat einen neuen Bieter"), tr("hat %1 neue Bieter"),
                         tr("hat einen Bieter weniger"), tr("hat %1 Bieter weniger")));
}

bool Ebay::fetchPicture(const QString &address, const QString &folder, const QString &file,
                        StagedFiles &staged)
{
    const QString url = largestPictureAddress(address);
    if (Statics::DownloadURL(url, folder + file, false, QString(), m_pictures, &staged))
        return true;
    qCWarning(lcWorker).noquote() << "Can't download" << url << "to" << file;
    return false;
}

bool Ebay::fetchPictures(ArticleModel &record, QString &thumb, StagedFiles &staged)
{
    const QString folder = db->getCurrentAdImageDir();
    QString firstPicture;

    for (int j = 0; j < record.PictureURLs.size(); ++j) {
        const QString file
            = record.ItemID + QLatin1Char('_') + QString::number(j) + QStringLiteral(".jpg");
        if (fetchPicture(record.PictureURLs.at(j), folder, file, staged)) {
            if (firstPicture.isEmpty())
                firstPicture = folder + file;
            record.PictureURLs[j] = file;
        }
        if (appDown())
            return false;
    }
    int position = 0;
    for (auto it = record.VariantPictureURLs.begin(); it != record.VariantPictureURLs.end();
         ++it, ++position) {
        const QString file = record.ItemID + QLatin1Char('_')
            + Statics::hashString(QString::number(position) + record.ItemID + it.key())
            + QStringLiteral(".jpg");
        if (fetchPicture(it.value(), folder, file, staged)) {
            if (firstPicture.isEmpty())
                firstPicture = folder + file;
            it.value() = file;
        }
        if (appDown())
            return false;
    }
    thumb.clear();
    if (!firstPicture.isEmpty())
        thumb = Statics::CreateThumb(firstPicture, db->getCurrentAdImageDirThumbs(), &staged);
    return true;
}

bool Ebay::ownerOf(const ArticleModel &record, int &owner)
{
    owner = 0;
    if (ListingThread::pendingItemIds().contains(record.ItemID)) {
        owner = -1;
        return true;
    }
    if (record.UUID.isEmpty())
        return true;
    auto outbox = m_outboxByUuid.find(record.Account);
    if (outbox == m_outboxByUuid.end()) {
        QHash<QString, int> articles;
        if (!ListingThread::outboxByUuid(db, record.Account, articles))
            return false;
        outbox = m_outboxByUuid.insert(record.Account, articles);
    }
    owner = outbox->value(record.UUID.toUpper());
    return true;
}

void Ebay::applyNew(ArticleModel &record, const QString &thumb, const Switches &switches, int owner)
{
    // The listing worker may have listed it since the read began: then it is a known one.
    const QVector<StoredRow> rows = rowsOfListing(record);
    if (!rows.isEmpty()) {
        applyKnown(record, rows, switches);
        return;
    }
    // Unknown whether it is new: the page is lost and read again next round.
    if (m_pageFailed)
        return;
    // The listing worker keeps its result, also when it got it only after the read began: it
    // stores it on the article it listed.
    if (owner < 0 || ListingThread::pendingItemIds().contains(record.ItemID))
        return;
    if (owner > 0) {
        putOntoArticle(record, owner, switches);
        return;
    }

    const int id = record.saveToDatabase(db, 0);
    if (id == 0) {
        m_pageFailed = true;
        return;
    }

    QSqlQuery query;
    if (!db->runPrepared(QStringLiteral("UPDATE articles SET ImageThumb=:ImageThumb, "
                                        "RefreshHash=:RefreshHash WHERE id = :id"),
                         { { QStringLiteral("ImageThumb"), thumb },
                           { QStringLiteral("RefreshHash"), refreshHash },
                           { QStringLiteral("id"), id } },
                         query))
        m_pageFailed = true;

    addNews(QStringLiteral("newarticle"), record.Title, record.ItemID, id,
            tr("wurde neu eingelesen"));

    changeFolderCount(record.Folder, 1);
}

void Ebay::putOntoArticle(const ArticleModel &record, int articleId, const Switches &switches)
{
    const quint64 failures = db->failedStatements();
    const SqlRows rows = db->select(QStringLiteral("SELECT * FROM articles WHERE id=")
                                    + QString::number(articleId))
                             .legacyValue();
    if (db->failedStatements() != failures) {
        m_pageFailed = true;
        return;
    }
    // Gone meanwhile: nothing to put it on; the next read decides anew.
    if (rows.isEmpty())
        return;

    ListingResult result;
    result.kind = ListingResult::Listed;
    result.row = rows.first();
    result.articleId = QString::number(articleId);
    const QString oldItemId = result.row.value(QStringLiteral("ItemID")).toString();
    const int folderOld = result.row.value(QStringLiteral("FolderOld")).toInt();
    result.call = ListingThread::listingCallFor(oldItemId, folderOld);
    result.itemId = record.ItemID;
    // The listing's own start; the time of the read when the marketplace gave none.
    result.time = QDateTime::fromString(
        record.columns.value(QStringLiteral("StartDate")).toString(), kStampFormat);
    if (!result.time.isValid())
        result.time = Clock::currentDateTime();
    result.text = ListingThread::listedText(oldItemId, folderOld);

    const ListingWrite write = ListingThread::storeOutcome(db, result, true);
    switch (write.outcome) {
    case ListingWrite::Unavailable:
    case ListingWrite::Refused:
        m_pageFailed = true;
        return;
    case ListingWrite::Moved:
        // Taken out of the outbox meanwhile: the next read decides anew.
        return;
    default:
        break;
    }
    for (const auto &count : write.counts)
        changeFolderCount(count.first, count.second);
    if (write.entryId > 0) {
        const QList<NewsItem> news
            = db->selectNews(QStringLiteral("id=") + QString::number(write.entryId)).legacyValue();
        if (!news.isEmpty()) {
            Notice notice;
            notice.isNews = true;
            notice.news = news.first();
            m_notices.append(notice);
        }
    }
    // The article is the listing now: the read goes onto it as onto any known listing.
    applyKnown(record, rowsOfListing(record), switches);
}

// The entry is built from the values written, as selectNews would read it back.
void Ebay::addNews(const QString &infotype, const QString &titleText, const QString &itemId,
                   int databaseId, const QString &text)
{
    // Bound by position, each prepared once per connection: a round writes thousands.
    static const QString withText = QStringLiteral(
        "INSERT INTO itemshistory (`indate`, `itemid`, `title`, `databaseid`, `textinfo`, "
        "`infotype`) VALUES (?, ?, ?, ?, ?, ?)");
    static const QString withoutText = QStringLiteral(
        "INSERT INTO itemshistory (`indate`, `itemid`, `title`, `databaseid`, `infotype`) VALUES "
        "(?, ?, ?, ?, ?)");
    const QString indate = m_pageStamp.isEmpty() ? now() : m_pageStamp;
    // MySQL keeps the column's length of longer texts.
    const QString title = db->isMySQL ? titleText.left(255) : titleText;
    const bool withTextInfo = !text.isNull();
    QVector<QVariant> values;
    values.reserve(6);
    values << indate << itemId << title << databaseId;
    if (withTextInfo)
        values << text;
    values << infotype;
    Database::BoundRows written;
    if (!db->execBound(withTextInfo ? withText : withoutText, values, written)) {
        m_pageFailed = true;
        return;
    }
    Notice notice;
    notice.isNews = true;
    notice.news.id = int(written.insertId);
    if (notice.news.id == 0)
        return;
    // Entries come many a second; the time is read from its text once per second.
    if (indate != m_lastStamp.first)
        m_lastStamp = { indate, QDateTime::fromString(indate, kStampFormat) };
    notice.news.indate = m_lastStamp.second;
    notice.news.itemid = itemId;
    notice.news.title = title;
    notice.news.price = 0;
    notice.news.pricetype = 0;
    notice.news.textinfo = withTextInfo ? text : QString();
    notice.news.infotype = infotype;
    notice.news.databaseid = databaseId;
    m_notices.append(notice);
}

void Ebay::changeFolderCount(int folder, int count)
{
    Notice notice;
    notice.folder = folder;
    notice.count = count;
    m_notices.append(notice);
}

void Ebay::tellWindow()
{
    const QVector<Notice> notices = std::exchange(m_notices, {});
    for (const Notice &notice : notices) {
        if (notice.isNews)
            emit sendaddNewsItem(notice.news);
        else
            emit ChangeFolderCount(notice.folder, notice.count, false);
    }
}
