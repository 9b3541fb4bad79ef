// The activity list of the main window: what the workers and commands report today, newest
// on top. Live entries also bring the article list and the folder counts in step with the
// event they report.

#include "mainwindow/mainwindow.h"

#include "core/clock.h"
#include "core/config.h"
#include "core/database.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "ui_mainwindow.h"
#include "views/articlelistitem.h"
#include "views/foldermodel.h"
#include "views/itemlistroles.h"
#include "views/newslistdelegate.h"
#include "views/newslistitemmodel.h"

#include <QCursor>
#include <QDesktopServices>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QUrl>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

namespace {

const QLatin1String kOnlyLoad("ONLYLOAD");
const QLatin1String kValueSeparator("|||");
// Entries taken in one go at most; more wait for the next turn of the event loop.
constexpr int kNewsBatch = 2000;
// How long a worker's entry waits for others to come along, in milliseconds.
constexpr int kNewsInterval = 100;
// How many of the newest entry ids are remembered to recognise an entry sent again.
constexpr int kRememberedNewsIds = 20000;

// Entries after which an article's entry "in progress" is no longer true: the outcome of
// the listing worker's work on it, or that work begun again.
bool endsProgress(const QString &infotype)
{
    static const QStringList types {
        QStringLiteral("progress"),          QStringLiteral("articlecheck_success"),
        QStringLiteral("articlecheck_fail"), QStringLiteral("articleadd_success"),
        QStringLiteral("articleadd_fail"),   QStringLiteral("planning_add_success"),
        QStringLiteral("planning_add_fail"),
    };
    return types.contains(infotype);
}

// The two numbers of a control entry's "(folder,value)"; nothing unless the text between the
// first "(" and the next ")" holds exactly two comma-separated integers.
std::optional<std::pair<int, int>> controlValues(const QString &textinfo)
{
    const int open = textinfo.indexOf(QLatin1Char('('));
    if (open < 0)
        return std::nullopt;
    const int close = textinfo.indexOf(QLatin1Char(')'), open + 1);
    if (close < 0)
        return std::nullopt;
    const QStringList parts = textinfo.mid(open + 1, close - open - 1).split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool firstOk = false;
    bool secondOk = false;
    const int first = parts.at(0).trimmed().toInt(&firstOk);
    const int second = parts.at(1).trimmed().toInt(&secondOk);
    if (!firstOk || !secondOk)
        return std::nullopt;
    return std::make_pair(first, second);
}

// The new value a change entry carries behind "|||" in its title; nothing without one.
std::optional<QString> changedValue(const QString &title)
{
    const QStringList parts = title.split(kValueSeparator);
    if (parts.size() < 2)
        return std::nullopt;
    return parts.at(1);
}

// Writes the entry's new value as an integer into `role`; a value that is no number leaves
// the row as it was rather than showing 0.
void setCountRole(QTreeWidgetItem *row, int role, const std::optional<QString> &value)
{
    if (!row || !value)
        return;
    bool ok = false;
    const int number = value->trimmed().toInt(&ok);
    if (ok)
        row->setData(0, role, number);
}

// The marketplace's page of a listing. The configured host normally carries its scheme;
// a bare host name is reached over HTTPS.
QUrl itemPageUrl(const QString &itemId)
{
    QString host = Config::itemHost(false);
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    if (!host.contains(QLatin1String("://")))
        host.prepend(QLatin1String("https://"));
    return QUrl(host + QLatin1String("/itm/") + itemId);
}

} // namespace

void MainWindow::initNewsList()
{
    ui->newslist->setAlternatingRowColors(true);
    // Entries are drawn to fit: titles and texts are cut with an ellipsis, never scrolled.
    ui->newslist->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    newsMenu = new QMenu(this);
    newsMenu->addSeparator();
    newsMenu->addAction(ui->actionListe_leeren);
    ui->newslist->setContextMenuPolicy(Qt::CustomContextMenu);

    ui->newslist->setItemDelegate(new NewsListDelegate(ui->newslist));
    newsModel = new NewsListItemModel(ui->newslist);
    ui->newslist->setModel(newsModel);

    // Only today's entries survive a restart; quantity changes are never worth keeping.
    const QString today = Clock::currentDateTime().date().toString(QStringLiteral("yyyy-MM-dd"));
    // Not removed, older entries stay until the next start: the list shows the newest 100.
    if (!db->executeSQL(QStringLiteral("DELETE FROM itemshistory WHERE indate NOT LIKE '") + today
                        + QStringLiteral("%' OR infotype='quantitychange'")))
        qCInfo(lcApp).noquote() << "Older activity entries stay until the next start:"
                                << db->lastErrorText;

    // Oldest first, so that the newest ends on top.
    const Read<QList<NewsItem>> stored
        = db->selectNews(QStringLiteral("ORDER BY datetime(indate) DESC LIMIT 100"));
    if (!stored.ok()) {
        // An empty list would say that nothing happened today.
        ui->newslist->setToolTip(
            tr("Die Aktivitäten konnten nicht gelesen werden: %1").arg(stored.error()));
        updateStatusBar(ui->newslist->toolTip(), -1, 0); // a line without progress bar
        return;
    }
    takeNews(QVector<NewsItem>(stored->crbegin(), stored->crend()), true);
}

void MainWindow::addNewsItem(NewsItem newsItem, QString mode)
{
    // What a worker sent before goes first.
    if (!queuedNews.isEmpty())
        takeNews(std::exchange(queuedNews, {}), false);
    takeNews({ newsItem }, mode == kOnlyLoad);
}

void MainWindow::queueNewsItem(const NewsItem &newsItem)
{
    queuedNews.append(newsItem);
    if (newsTakeScheduled)
        return;
    newsTakeScheduled = true;
    // Entries that come within a moment go together: a round sends thousands a minute, and
    // each batch repaints the lists once.
    QTimer::singleShot(kNewsInterval, this, &MainWindow::takeQueuedNews);
}

void MainWindow::takeQueuedNews()
{
    newsTakeScheduled = false;
    if (queuedNews.isEmpty())
        return;
    // A batch is kept short, so that the window stays responsive when many came together.
    if (queuedNews.size() <= kNewsBatch) {
        takeNews(std::exchange(queuedNews, {}), false);
        return;
    }
    const QVector<NewsItem> batch = queuedNews.mid(0, kNewsBatch);
    queuedNews.remove(0, kNewsBatch);
    newsTakeScheduled = true;
    QMetaObject::invokeMethod(this, &MainWindow::takeQueuedNews, Qt::QueuedConnection);
    takeNews(batch, false);
}

bool MainWindow::rememberNewsId(int id)
{
    if (shownNewsIds.contains(id))
        return false;
    shownNewsIds.insert(id);
    shownNewsOrder.enqueue(id);
    // An entry comes again soon after it came, if at all: the oldest ids can go.
    while (shownNewsOrder.size() > kRememberedNewsIds)
        shownNewsIds.remove(shownNewsOrder.dequeue());
    return true;
}

void MainWindow::takeNews(const QVector<NewsItem> &items, bool onlyLoad)
{
    QList<NewsItem *> shown;
    bool countLineChanged = false;
    for (const NewsItem &newsItem : items) {
        // An entry may come twice: stored at start and sent live, or sent again by a worker.
        if (!rememberNewsId(newsItem.id))
            continue;
        try {
            // The two control types only steer the list and the counts; stored ones are stale.
            if (newsItem.infotype == QLatin1String("removeitem")
                || newsItem.infotype == QLatin1String("sync")) {
                if (!onlyLoad)
                    applyNewsToList(newsItem);
                continue;
            }

            if (newsItem.infotype != QLatin1String("quantitychange")
                && newsItem.infotype != QLatin1String("currentpricechange")) {
                auto copy = std::make_unique<NewsItem>();
                copy->CopyFrom(newsItem);
                copy->textinfo.remove(QLatin1String("(f)"));
                const int cut = copy->title.indexOf(kValueSeparator);
                if (cut >= 0)
                    copy->title.truncate(cut);
                // The article's work is done (or begun again): its entry "in progress" goes.
                if (endsProgress(newsItem.infotype) && newsItem.databaseid != 0) {
                    newsModel->RemoveProgressOf(newsItem.databaseid);
                    for (int i = shown.size() - 1; i >= 0; --i) {
                        if (shown.at(i)->databaseid == newsItem.databaseid
                            && shown.at(i)->infotype == QLatin1String("progress"))
                            delete shown.takeAt(i);
                    }
                }
                shown.append(copy.release());
            }

            if (!onlyLoad)
                countLineChanged = applyNewsToList(newsItem) || countLineChanged;
        } catch (const std::exception &e) {
            qCWarning(lcApp) << "Exception by adding news, ignore..." << e.what();
        } catch (...) {
            qCWarning(lcApp) << "Exception by adding news, ignore...";
        }
    }
    newsModel->InsertNewItems(shown);
    if (countLineChanged)
        updateBar();
}

bool MainWindow::applyNewsToList(const NewsItem &newsItem)
{
    const QString &type = newsItem.infotype;

    if (type == QLatin1String("removeitem")) {
        const auto values = controlValues(newsItem.textinfo);
        if (!values || values->first != currentFolder)
            return false;
        delete IsItemWithIdHere(values->second);
        return false;
    }
    if (type == QLatin1String("sync")) {
        const auto values = controlValues(newsItem.textinfo);
        if (values && folderModel)
            folderModel->ChangeFolderCount(values->first, values->second, true);
        return false;
    }

    using namespace ItemListRole;
    QTreeWidgetItem *row = IsItemWithIdHere(newsItem.databaseid);
    const std::optional<QString> value = changedValue(newsItem.title);
    // The id is an integer, so the statement needs no quoting.
    const QString articleSql = QStringLiteral("SELECT ") + listColumns
        + QStringLiteral(" FROM articles WHERE id=") + QString::number(newsItem.databaseid);

    if (type == QLatin1String("quantitychange")) {
        setCountRole(row, QuantityRole, value);
    } else if (type == QLatin1String("currentpricechange")) {
        if (row && value)
            row->setData(0, PriceTextRole, *value);
    } else if (type == QLatin1String("planning_add_success")) {
        if (row)
            row->setData(0, PlannedIntervalRole, QStringLiteral("----"));
    } else if (type == QLatin1String("articleadd_success")) {
        if (row && currentFolder == SpecialFolderId::Outbox) {
            delete row;
        } else if (!row && currentFolder == SpecialFolderId::Active) {
            // Not read now, the list is read again once it can be.
            const QMap<QString, QVariant> found = readListRow(newsItem.databaseid);
            if (!found.isEmpty()) {
                auto *item = new ArticleListItem(ArticleListRow());
                UpdateListItem(found, item);
                ui->itemlist->insertTopLevelItem(0, item);
            }
        }
        if (folderModel) {
            folderModel->ChangeFolderCount(SpecialFolderId::Outbox, -1, false);
            folderModel->ChangeFolderCount(SpecialFolderId::Active, 1, false);
        }
    } else if (type == QLatin1String("articleadd_fail")
               || type == QLatin1String("articlecheck_fail")
               || type == QLatin1String("articlecheck_success")
               || type == QLatin1String("planning_add_fail")) {
        if (row) {
            row->setData(0, PlannedIntervalRole, QString());
            row->setData(0, DoCheckRole, 0);
            row->setData(0, DoCheckResultRole, newsItem.textinfo);
        }
    } else if (type == QLatin1String("watcher")) {
        setCountRole(row, WatchCountRole, value);
    } else if (type == QLatin1String("message")) {
        setCountRole(row, QuestionCountRole, value);
    } else if (type == QLatin1String("sellcount")) {
        setCountRole(row, SoldCountRole, value);
    } else if (type == QLatin1String("newarticle")) {
        const Read<SqlRows> found = db->select(articleSql);
        if (!found.ok()) {
            // Not read is not gone: the row stays, and the list is read again once it can be.
            m_storedReads = 0;
            scheduleStoredRead(0);
            return false;
        }
        if (found->isEmpty()) {
            delete row;
            return false;
        }
        const int folder = found->first().value(QStringLiteral("Folder")).toInt();
        if (!row && folder == currentFolder) {
            auto *item = new ArticleListItem(ArticleListRow());
            UpdateListItem(found->first(), item);
            ui->itemlist->insertTopLevelItem(0, item);
        } else if (row && folder != currentFolder) {
            delete row;
        }
        return true;
    }
    return false;
}

void MainWindow::on_newslist_clicked(const QModelIndex &index)
{
    const NewsItem *entry = newsModel->GetItem(index);
    if (!entry)
        return;
    const int articleId = entry->databaseid;

    const Read<SqlRows> found = db->select(QStringLiteral("SELECT Folder FROM articles WHERE id=")
                                           + QString::number(articleId));
    if (!found.ok()) {
        Statics::showMessage(
            this, tr("Der Artikel konnte nicht gelesen werden: %1").arg(found.error()), 2);
        return;
    }
    if (found->isEmpty())
        return;

    const int folder = found->first().value(QStringLiteral("Folder")).toInt();
    if (folder != currentFolder) {
        if (folderModel)
            folderModel->selectFolderWithId(folder);
        currentFolder = folder;
        reloadData();
    }

    QTreeWidgetItem *row = IsItemWithIdHere(articleId);
    if (!row)
        return;
    QTreeWidget *list = ui->itemlist;
    const int rowNumber = list->indexOfTopLevelItem(row);
    const int lastColumn = qMax(0, list->columnCount() - 1);
    list->clearSelection();
    list->selectionModel()->select(QItemSelection(list->model()->index(rowNumber, 0),
                                                  list->model()->index(rowNumber, lastColumn)),
                                   QItemSelectionModel::Select);
    list->scrollToItem(row, QAbstractItemView::PositionAtCenter);
    list->setFocus();
}

void MainWindow::on_newslist_doubleClicked(const QModelIndex &index)
{
    const NewsItem *entry = newsModel->GetItem(index);
    if (!entry)
        return;
    const Read<SqlRows> found = db->select(QStringLiteral("SELECT ItemID FROM articles WHERE id=")
                                           + QString::number(entry->databaseid));
    if (!found.ok()) {
        Statics::showMessage(
            this, tr("Das Angebot konnte nicht aufgerufen werden: %1").arg(found.error()), 2);
        return;
    }
    if (found->isEmpty())
        return;
    const QString itemId = found->first().value(QStringLiteral("ItemID")).toString().trimmed();
    if (itemId.isEmpty())
        return;
    QDesktopServices::openUrl(itemPageUrl(itemId));
}

void MainWindow::on_newslist_customContextMenuRequested(const QPoint &)
{
    newsMenu->popup(QCursor::pos());
}

void MainWindow::on_actionListe_leeren_triggered()
{
    // The ids stay in shownNewsIds, so an entry sent again does not come back.
    if (db->executeSQL(QStringLiteral("DELETE FROM itemshistory")))
        newsModel->ClearAll();
}
