#include "mainwindow/mainwindow.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/sqltext.h"
#include "mainwindow/commandprogress.h"
#include "ui_mainwindow.h"
#include "views/articlelistitem.h"
#include "views/itemlistdelegate.h"
#include "views/itemlistroles.h"
#include "views/itemlistwidget.h"

#include <QAction>
#include <QComboBox>
#include <QCursor>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTreeWidgetItem>

namespace {

const QString kDefaultOrder = QStringLiteral("id ASC");

struct SortAction
{
    QString order;
    QAction *action;
};

// The ORDER BY text behind each sort action of the sort menu.
QVector<SortAction> sortActions(const Ui_MainWindow *ui)
{
    return {
        { QStringLiteral("Title ASC"), ui->actionNach_Titel_aufsteigend_sortieren },
        { QStringLiteral("Title DESC"), ui->actionNach_Titel_absteigend_sortieren },
        { QStringLiteral("StartPrice ASC"), ui->actionNach_Startpreis_aufsteigend_sortieren },
        { QStringLiteral("StartPrice DESC"), ui->actionNach_Startpreis_absteigend_sortieren },
        { QStringLiteral("WatchCount ASC"), ui->actionNach_Beobachter_aufsteigend_sortieren },
        { QStringLiteral("WatchCount DESC"), ui->actionNach_Beobachter_absteigend_sortieren },
        { QStringLiteral("datetime(StartDate) ASC"),
          ui->actionNach_Startzeit_aufsteigend_sortieren },
        { QStringLiteral("datetime(StartDate) DESC"),
          ui->actionNach_Startzeit_absteigend_sortieren },
        { QStringLiteral("datetime(EndDate) ASC"), ui->actionNach_Ende_aufsteigend_sortieren },
        { QStringLiteral("datetime(EndDate) DESC"), ui->actionNach_Ende_absteigend_sortieren },
        { QStringLiteral("Quantity ASC"), ui->actionNach_Menge_aufsteigend_sortieren },
        { QStringLiteral("Quantity DESC"), ui->actionNach_Menge_absteigend_sortieren },
        { QStringLiteral("SoldCount ASC"), ui->actionNach_Verk_ufen_aufsteigend_sortieren },
        { QStringLiteral("SoldCount DESC"), ui->actionNach_Verk_ufen_absteigend_sortieren },
        { QStringLiteral("id ASC"), ui->actionNach_interner_Id_aufsteigend_sortieren },
        { QStringLiteral("id DESC"), ui->actionNach_interner_Id_absteigend_sortieren },
        { QStringLiteral("ApplicationData ASC"), ui->actionNach_interner_Referenz_aufsteigend },
        { QStringLiteral("ApplicationData DESC"), ui->actionNach_interner_Referenz_absteigend },
    };
}

// The ORDER BY clause of a sort order: texts in German order. The order itself (as stored in
// "lastOrder") names the column and direction only.
QString orderClause(const QString &order, bool mysql)
{
    for (const char *column : { "Title", "ApplicationData" }) {
        const QString name = QLatin1String(column);
        if (order.startsWith(name + QLatin1Char(' ')))
            return SqlText::orderTerm(name, mysql) + order.mid(name.size());
    }
    return order;
}

// The ORDER BY text of a sort action.
QString orderOf(const Ui_MainWindow *ui, const QAction *action)
{
    for (const SortAction &sort : sortActions(ui)) {
        if (sort.action == action)
            return sort.order;
    }
    return QString();
}

} // namespace

void MainWindow::initItemList()
{
    ItemListWidget *list = ui->itemlist;
    list->setAlternatingRowColors(true);

    // The rows come sorted from the database; the header opens the sort menu instead.
    QHeaderView *header = list->header();
    header->setSortIndicatorShown(false);
    list->setSortingEnabled(false);
    header->setSectionsClickable(true);
    header->setSectionResizeMode(QHeaderView::Fixed);
    connect(header, &QHeaderView::sectionClicked, this, &MainWindow::showHeaderContextMenu);

    list->setItemDelegate(new ItemListDelegate(list));
    // Every row is painted at the delegate's one height; the view need not ask each row.
    list->setUniformRowHeights(true);

    list->setHeaderLabels({ tr("Artikelübersicht") });

    // Articles are dropped onto the folder tree, never onto the list.
    list->setDragDropMode(QAbstractItemView::DragOnly);
    list->setDragEnabled(true);
    list->setAcceptDrops(false);

    list->setContextMenuPolicy(Qt::CustomContextMenu);
}

void MainWindow::UpdateListItem(const QMap<QString, QVariant> &row, QTreeWidgetItem *item)
{
    const ArticleListRow listRow = ArticleListRow::fromMap(
        row, ui->itemlist->sharedThumbFolder(db->getCurrentAdImageDirThumbs()));
    if (auto *articleItem = dynamic_cast<ArticleListItem *>(item)) {
        articleItem->setRow(listRow);
        return;
    }
    using namespace ItemListRole;
    for (int role = MarkerRole; role <= ShippingCostRole; ++role)
        item->setData(0, role, listRow.value(role));
    for (int role = ArticleIdRole; role <= DoCheckResultRole; ++role)
        item->setData(0, role, listRow.value(role));
}

QMap<QString, QVariant> MainWindow::readListRow(int id)
{
    const Read<SqlRows> rows
        = db->select(QStringLiteral("SELECT ") + listColumns
                     + QStringLiteral(" FROM articles WHERE id=") + QString::number(id));
    if (!rows.ok()) {
        // Stored, but not to be read now: the list and the tree are read again, from the
        // event loop and then less and less often, until they show what is stored.
        qCInfo(lcApp).noquote() << "Article" << id << "not read for the list:" << rows.error();
        m_storedReads = 0;
        scheduleStoredRead(0);
        return {};
    }
    return rows->value(0);
}

Read<SqlRows> MainWindow::readListRows(const QList<int> &ids)
{
    const Read<SqlRows> rows = db->select(QStringLiteral("SELECT ") + listColumns
                                          + QStringLiteral(" FROM articles WHERE id IN (")
                                          + CommandProgress::joined(ids) + QLatin1Char(')'));
    if (!rows.ok()) {
        // As readListRow(): the list and the tree are read again until they show what is
        // stored.
        qCInfo(lcApp).noquote() << ids.size() << "articles not read for the list:" << rows.error();
        m_storedReads = 0;
        scheduleStoredRead(0);
    }
    return rows;
}

QTreeWidgetItem *MainWindow::IsItemWithIdHere(int id) const
{
    return ui->itemlist->itemWithArticleId(id);
}

void MainWindow::reloadData()
{
    if (sortOrder.isEmpty()) {
        // An order that can't be read now is read at the next fill; meanwhile the list is
        // sorted by id, and nothing is stored over the seller's choice.
        const Read<QString> stored = db->getOption(QStringLiteral("lastOrder"), QString());
        if (stored.ok()) {
            storedSortOrder = *stored;
            sortOrder = stored->isEmpty() ? kDefaultOrder : *stored;
        }
        // The stored text goes into the query as it is: only an order of the sort menu is
        // safe there. Anything else would fail the query, and since the failed order is
        // stored again on every fill, the list would stay empty for good.
        if (!sortOrder.isEmpty() && sortLabel(sortOrder).isEmpty()) {
            qCWarning(lcApp).noquote()
                << "Unknown stored sort order" << sortOrder << "- sorting by id instead";
            sortOrder = kDefaultOrder;
        }
    }
    // Written when it differs from what the database holds: a fill changes nothing else.
    // Not stored, it is written again at the next fill (a failed write is told as every
    // other of the window's).
    if (!sortOrder.isEmpty() && sortOrder != storedSortOrder
        && db->setOption(QStringLiteral("lastOrder"), sortOrder))
        storedSortOrder = sortOrder;
    const QString order = sortOrder.isEmpty() ? kDefaultOrder : sortOrder;

    const QString label = sortLabel(order);
    if (!label.isEmpty())
        ui->itemlist->setMenuSortText(label);

    ui->itemlist->clear();

    QStringList conditions { QStringLiteral("Folder=") + QString::number(currentFolder),
                             QStringLiteral("Trash=0") };
    if (ui->AccountFilterBox->currentIndex() > 0)
        conditions << QStringLiteral("Account=")
                + QString::number(ui->AccountFilterBox->currentData().toInt());

    const QString search = ui->SearchBy->text();
    if (!search.isEmpty()) {
        // "%" and "_" keep their meaning. A backslash is a plain character of the string
        // literal on both databases (MySQL runs with NO_BACKSLASH_ESCAPES), but MySQL's LIKE
        // still takes it as its escape character, so there it is doubled.
        QString text = Database::escapeString(search);
        if (db->isMySQL)
            text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        // Without regard to case, for every letter.
        const QString pattern = QLatin1Char('%') + text + QLatin1Char('%');
        QStringList columns { QStringLiteral("Title"), QStringLiteral("SubTitle"),
                              QStringLiteral("SKU"), QStringLiteral("ApplicationData") };
        if (ui->InDesc->isChecked())
            columns << QStringLiteral("Description");
        QStringList searched;
        for (const QString &column : qAsConst(columns))
            searched << SqlText::likeCondition(column, pattern, db->isMySQL);
        conditions << QLatin1Char('(') + searched.join(QLatin1String(" OR ")) + QLatin1Char(')');
    }

    // On SQLite the titles are put in German order here: the database would call the
    // collation for each of its comparisons, decoding and collating both titles every time,
    // where here each title's key is made once. The rows come in the order of their ids, the
    // order the database's sort keeps for titles that are equal.
    const bool titlesHere = !db->isMySQL && order.startsWith(QLatin1String("Title "));
    currentQuery = QStringLiteral("SELECT ") + listColumns + QStringLiteral(" FROM articles WHERE ")
        + conditions.join(QLatin1String(" AND ")) + QStringLiteral(" ORDER BY ")
        + (titlesHere ? kDefaultOrder : orderClause(order, db->isMySQL));

    // Rows are read straight from the query into compact items: no map per row, and the
    // texts of prices and dates are made when a row is painted.
    QList<QTreeWidgetItem *> items;
    QStringList titles;
    QSqlQuery query;
    if (db->selectQuery(currentQuery, query)) {
        listReadFailure.clear();
        ArticleListReader reader(query.record(),
                                 ui->itemlist->sharedThumbFolder(db->getCurrentAdImageDirThumbs()));
        while (query.next()) {
            const ArticleListRow row = reader.read(query);
            if (titlesHere)
                titles << row.title();
            items << new ArticleListItem(row);
        }
        // Half a list would look like lost articles as much as an empty one.
        if (!db->rowsComplete(query)) {
            qDeleteAll(items);
            items.clear();
            listReadFailure = db->lastErrorText;
        }
    } else {
        // An empty list would look like lost articles. The text tells a lost connection too.
        listReadFailure = db->lastErrorText;
    }
    ui->itemlist->setEmptyText(
        listReadFailure.isEmpty()
            ? QString()
            : tr("Die Artikel dieses Ordners konnten nicht gelesen werden.\n%1")
                  .arg(listReadFailure));
    if (titlesHere)
        ArticleListItem::sortByTitle(items, titles, order.endsWith(QLatin1String(" DESC")));
    ui->itemlist->addTopLevelItems(items);

    if (!items.isEmpty()) {
        ui->itemlist->setCurrentItem(ui->itemlist->topLevelItem(0));
        ui->itemlist->setFocus(Qt::OtherFocusReason);
    }
    updateButtons();
    updateBar();
}

void MainWindow::on_SearchBy_textChanged(const QString &arg1)
{
    // Typing alone never searches; only emptying the field undoes a search.
    if (arg1.isEmpty() && !searchText.isEmpty()) {
        searchText.clear();
        reloadData();
    }
}

void MainWindow::on_SearchBy_returnPressed()
{
    searchText = ui->SearchBy->text();
    reloadData();
}

void MainWindow::on_SearchBy_inputRejected()
{
    reloadData();
}

void MainWindow::on_InDesc_toggled(bool)
{
    if (!ui->SearchBy->text().isEmpty())
        reloadData();
}

void MainWindow::on_AccountFilterBox_currentIndexChanged(int)
{
    // Unset while the form is set up, 1 while reloadAccountBox fills the box.
    const QVariant inload = ui->AccountFilterBox->property("inload");
    if (inload.isValid() && inload.toInt() != 1)
        reloadData();
}

void MainWindow::reloadAccountBox()
{
    QComboBox *box = ui->AccountFilterBox;
    box->setProperty("inload", 1);
    const int selected = box->currentData().toInt();
    const Read<SqlRows> accounts = db->select(
        QStringLiteral("SELECT id,accountname FROM accounts ORDER BY accountname ASC"));
    if (!accounts.ok()) {
        // The accounts shown stay, and so does the one chosen: an account not read is no
        // account gone. Read again when the window reads what is stored, or the connection
        // is back.
        if (box->count() == 0)
            box->addItem(tr("Alle Konten"), 0);
        box->setToolTip(tr("Die Konten konnten nicht gelesen werden: %1").arg(accounts.error()));
        box->setProperty("unread", true);
        box->setProperty("inload", 0);
        return;
    }
    box->setToolTip(QString());
    box->setProperty("unread", false);
    box->clear();
    box->addItem(tr("Alle Konten"), 0);
    for (const ArticleRow &account : *accounts) {
        const int id = account.value(QStringLiteral("id")).toInt();
        box->addItem(account.value(QStringLiteral("accountname")).toString(), id);
        if (selected > 0 && id == selected)
            box->setCurrentIndex(box->count() - 1);
    }
    box->setProperty("inload", 0);
}

void MainWindow::showHeaderContextMenu(int)
{
    headerMenu->exec(ui->itemlist->mapToGlobal(QPoint(0, ui->itemlist->header()->height())));
}

void MainWindow::on_itemlist_customContextMenuRequested(const QPoint &)
{
    itemMenu->exec(QCursor::pos());
}

void MainWindow::on_itemlist_itemSelectionChanged()
{
    updateButtons();
    updateBar();
}

void MainWindow::on_actionAlles_markieren_triggered()
{
    // The shortcut is shared with the text fields, where it selects their text.
    if (ui->itemlist->hasFocus())
        ui->itemlist->selectAll();
}

void MainWindow::sortBy(const QString &order)
{
    sortOrder = order;
    ui->itemlist->setMenuSortText(sortLabel(order));
    reloadData();
}

QString MainWindow::sortLabel(const QString &order) const
{
    for (const SortAction &sort : sortActions(ui)) {
        if (sort.order == order)
            return sort.action->text();
    }
    return QString();
}

void MainWindow::on_actionNach_Titel_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Titel_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_Titel_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Titel_absteigend_sortieren));
}

void MainWindow::on_actionNach_Startpreis_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Startpreis_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_Startpreis_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Startpreis_absteigend_sortieren));
}

void MainWindow::on_actionNach_Beobachter_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Beobachter_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_Beobachter_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Beobachter_absteigend_sortieren));
}

void MainWindow::on_actionNach_Startzeit_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Startzeit_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_Startzeit_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Startzeit_absteigend_sortieren));
}

void MainWindow::on_actionNach_Ende_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Ende_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_Ende_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Ende_absteigend_sortieren));
}

void MainWindow::on_actionNach_Menge_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Menge_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_Menge_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Menge_absteigend_sortieren));
}

void MainWindow::on_actionNach_Verk_ufen_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Verk_ufen_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_Verk_ufen_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_Verk_ufen_absteigend_sortieren));
}

void MainWindow::on_actionNach_interner_Id_aufsteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_interner_Id_aufsteigend_sortieren));
}

void MainWindow::on_actionNach_interner_Id_absteigend_sortieren_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_interner_Id_absteigend_sortieren));
}

void MainWindow::on_actionNach_interner_Referenz_aufsteigend_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_interner_Referenz_aufsteigend));
}

void MainWindow::on_actionNach_interner_Referenz_absteigend_triggered()
{
    sortBy(orderOf(ui, ui->actionNach_interner_Referenz_absteigend));
}
