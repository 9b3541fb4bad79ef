// The main window's folder panel: the folder tree built from the database, clicks, open and
// closed folders, the tree's context menu and the commands new folder, rename and delete.
#include "mainwindow/mainwindow.h"

#include "core/connectionaside.h"
#include "core/database.h"
#include "core/foldertree.h"
#include "core/specialfolderid.h"
#include "core/sqltext.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "mainwindow/commandprogress.h"
#include "ui_mainwindow.h"
#include "views/folderedit.h"
#include "views/foldermodel.h"
#include "views/foldernode.h"
#include "views/foldertreedelegate.h"

#include <QCoreApplication>
#include <QCursor>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QSqlQuery>
#include <QStringList>
#include <QTimer>
#include <QTreeView>
#include <memory>

namespace {
struct FixedFolder
{
    int id;
    const char *icon;
    const char *title;
};

// The folders of an article's life, in the order the tree shows them.
const FixedFolder kFixedFolders[] = {
    { SpecialFolderId::Active, ":/buttons/images/ebaybag.png",
      QT_TRANSLATE_NOOP("MainWindow", "Aktive Angebote") },
    { SpecialFolderId::Sold, ":/buttons/images/price-tag.png",
      QT_TRANSLATE_NOOP("MainWindow", "Verkauft") },
    { SpecialFolderId::Unsold, ":/buttons/images/Important Archive-Flat-62.png",
      QT_TRANSLATE_NOOP("MainWindow", "Nicht verkauft") },
    { SpecialFolderId::Scheduled, ":/buttons/images/Calendar-Flat-33.png",
      QT_TRANSLATE_NOOP("MainWindow", "Geplante Angebote") },
    { SpecialFolderId::Outbox, ":/buttons/images/TimeTracking-Flat-150.png",
      QT_TRANSLATE_NOOP("MainWindow", "Artikelausgang") },
    { SpecialFolderId::Trash, ":/buttons/images/trash.png",
      QT_TRANSLATE_NOOP("MainWindow", "Papierkorb") },
    { SpecialFolderId::Drafts, ":/buttons/images/folder.png",
      QT_TRANSLATE_NOOP("MainWindow", "Artikelvorlagen") },
};

const QString kUserFolderIcon = QStringLiteral(":/buttons/images/folder.png");

// On a shared database the other workstations change the counts too; the tree reads them
// again this often, and whenever a folder is opened.
constexpr int kSharedCountsRefreshMs = 60 * 1000;

// The folder of a tree index, looked up by its id.
FolderNode *folderOf(const FolderModel *model, const QModelIndex &index)
{
    if (!model || !index.isValid())
        return nullptr;
    return model->findFolderWithId(index.data(Qt::UserRole).toString().toInt());
}

QString joinIds(const QList<int> &ids)
{
    QStringList parts;
    for (int id : ids)
        parts << QString::number(id);
    return parts.join(QLatin1Char(','));
}

// Remembers whether a user folder is open; the fixed folders are always opened at start. A
// state that can't be stored is told by the database layer's notice; the tree stays as the
// seller left it.
void storeOpenState(Database *db, const QModelIndex &index, bool open)
{
    const int id = index.isValid() ? index.data(Qt::UserRole).toString().toInt() : 0;
    if (id > 0)
        (void)db->executeSQL(
            QStringLiteral("UPDATE folders SET expand=%1 WHERE id=%2").arg(open ? 1 : 0).arg(id),
            Database::Repeat::Safe);
}

// A folder command that stored nothing because one of its statements failed: told once, as
// a lock another workstation holds or as what did not work (a read that failed as well as a
// write); an outcome that is not known as such.
void tellFailed(MainWindow *window, FolderModel *folders, const Database *db,
                const QString &command)
{
    if (db->lastOutcome() == Database::Outcome::NotWritten && db->lastFailureLockConflict())
        folders->tellIfConflict();
    else
        window->tellNotStored(command);
}

// A folder command over many articles: the window takes no other command meanwhile; its
// status panel shows the progress, and so does a small window above it, which offers
// "Abbrechen" once the command takes longer than a moment.
class LongCommand
{
public:
    LongCommand(MainWindow *window, const QString &text, int total)
        : m_window(window)
        , m_status(window, text, total)
        , m_total(total)
    {
        window->setEnabled(false);
        m_dialog = new QProgressDialog(text, MainWindow::tr("Abbrechen"), 0, total, window);
        m_dialog->setObjectName(QStringLiteral("longFolderCommand"));
        m_dialog->setWindowTitle(MainWindow::tr("Bitte warten"));
        m_dialog->setWindowModality(Qt::WindowModal);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setMinimumDuration(kShownAfterMs);
        // Made while the window takes no input: its own button does.
        m_dialog->setEnabled(true);
        m_dialog->setValue(0);
    }
    ~LongCommand()
    {
        delete m_dialog;
        m_window->setEnabled(true);
    }
    LongCommand(const LongCommand &) = delete;
    LongCommand &operator=(const LongCommand &) = delete;

    // False once the seller chose "Abbrechen" or the program is closing.
    bool step(int done)
    {
        m_dialog->setValue(qBound(0, done, m_total));
        // The window answers after the first step already, however quick the steps are.
        if (!m_answered) {
            m_answered = true;
            QCoreApplication::processEvents();
        }
        return m_status.step(done) && !m_dialog->wasCanceled();
    }
    void finish(const QString &text) { m_status.finish(text); }

private:
    static constexpr int kShownAfterMs = 300;
    MainWindow *m_window;
    CommandProgress m_status;
    QProgressDialog *m_dialog = nullptr;
    int m_total;
    bool m_answered = false;
};

// The articles of a folder delete, above which the delete runs beside the window on a shared
// database: there a statement over many thousands of rows takes seconds.
constexpr int kFolderDeleteAside = 1000;

// What a folder delete beside the window did.
struct AsideDelete
{
    bool stored = false;
    bool stopped = false;
    bool changed = false; // a subfolder was moved out of the branch meanwhile
    QList<int> branch;
    int moved = 0;
    ConnectionAside::Failure failure;
};

// The folder delete of `id` for many articles, on a shared database: the same statements as
// on the window's connection, run beside it, the window showing the progress with "Abbrechen".
AsideDelete deleteAside(MainWindow *window, int id, int articles)
{
    AsideDelete result;
    LongCommand progress(window, MainWindow::tr("Die Artikel des Ordners werden verschoben …"),
                         articles);
    ConnectionAside::run(
        QStringLiteral("folderDelete"),
        [&](Database &db, ConnectionAside::Control &control) {
            const auto failed = [&] {
                result.failure = ConnectionAside::Failure::of(db);
            };
            Transaction command(db);
            if (!command.isOpen())
                return failed();
            const FolderTree::Branch stored = FolderTree::lockBranch(&db, id);
            if (!stored.ok)
                return failed();
            result.changed = stored.changed;
            result.branch = stored.ids;
            if (stored.changed || stored.ids.isEmpty())
                return;
            const QString ids = joinIds(stored.ids);
            const Read<QString> counted
                = db.selectOne(QStringLiteral("SELECT count(id) FROM articles WHERE Trash=0 "
                                              "AND Folder IN (")
                               + ids + QLatin1Char(')'));
            if (!counted.ok())
                return failed();
            control.done = articles / 4;
            if ((result.stopped = control.stop.load()))
                return;
            // One statement for all of them. Values, not increments: sent again after a lost
            // answer, it changes nothing more.
            if (!db.executeSQL(QStringLiteral("UPDATE articles SET Folder=")
                                   + QString::number(SpecialFolderId::Drafts)
                                   + QStringLiteral(" WHERE Folder IN (") + ids + QLatin1Char(')'),
                               Database::Repeat::Safe)
                || !db.executeSQL(QStringLiteral("DELETE FROM folders WHERE id IN (") + ids
                                      + QLatin1Char(')'),
                                  Database::Repeat::Safe))
                return failed();
            control.done = articles;
            if (!control.goOn()) {
                result.stopped = true;
                return;
            }
            if (!command.commit())
                return failed();
            result.stored = true;
            result.moved = counted->toInt();
        },
        [&progress](int done) { return progress.step(done); });
    progress.finish(result.stored ? MainWindow::tr("Fertig") : MainWindow::tr("Nichts verschoben"));
    return result;
}

} // namespace

QString MainWindow::folderTreeText()
{
    // Two statements, whatever the number of folders: the counts, looked up by folder, and
    // every folder at once.
    QSqlQuery query;
    QHash<int, int> counts;
    if (db->selectQuery(QStringLiteral("SELECT Folder,count(id) AS M FROM articles WHERE Trash=0 "
                                       "GROUP BY Folder"),
                        query)) {
        while (query.next())
            counts.insert(query.value(0).toInt(), query.value(1).toInt());
    }
    FolderTree folders;
    folders.read(db);

    const QString tab = QStringLiteral("\t");
    QStringList lines;
    lines.reserve(folders.folders().size() + 8);
    lines << QStringLiteral(":/buttons/images/q3_64x64px.png") + tab + tr("Zerire3")
            + QStringLiteral("\t0\t0");
    for (const FixedFolder &folder : kFixedFolders) {
        lines << QLatin1Char(' ') + QLatin1String(folder.icon) + tab + tr(folder.title) + tab
                + QString::number(folder.id) + tab + QString::number(counts.value(folder.id));
    }
    // A level's indentation is one space more than its parent's; "Artikelvorlagen" has one.
    // Folders below the deepest level the tree holds are shown at that level.
    QVector<QString> indents(FolderTree::kMaxDepth + 1);
    for (int level = 1; level <= FolderTree::kMaxDepth; ++level)
        indents[level] = QString(level + 1, QLatin1Char(' '));
    for (const FolderTree::Folder &folder : folders.folders()) {
        // Line breaks and tabs would break the line format of the tree text.
        QString name = folder.name;
        name.remove(QLatin1Char('\r')).remove(QLatin1Char('\n')).remove(QLatin1Char('\t'));
        lines << indents.at(folders.shownLevel(folder.id)) + kUserFolderIcon + tab + name + tab
                + QString::number(folder.id) + tab + QString::number(counts.value(folder.id))
                + QStringLiteral("\ttemplate\t") + QString::number(folder.expand) + tab
                + folder.category;
    }
    return lines.join(QLatin1Char('\n'));
}

void MainWindow::expandFolderTree()
{
    // The top node and every fixed folder open, so the first level of user folders shows.
    for (int row = 0; row < folderModel->rowCount(); ++row) {
        const QModelIndex top = folderModel->index(row, 0);
        ui->treeView->expand(top);
        for (int child = 0; child < folderModel->rowCount(top); ++child)
            ui->treeView->expand(folderModel->index(child, 0, top));
    }
    folderModel->setupExpandStates();
}

void MainWindow::CreateFolderTree()
{
    folderModel = new FolderModel(folderTreeText(), db, ui->itemlist, this, ui->treeView);
    // The workers and the commands change the counts side by side; the window's own
    // connection has the last word.
    folderModel->followDatabaseCounts();
    connect(
        folderModel, &FolderModel::outcomeUnknown, this,
        [this](const QString &command) { tellOutcomeUnknown(command); }, Qt::QueuedConnection);
    // Told once the drop is over: the tree is read again then, not under the view's feet.
    connect(
        folderModel, &FolderModel::changedElsewhere, this,
        [this](const QString &message) {
            Statics::showMessage(this, message, 1);
            showStored();
        },
        Qt::QueuedConnection);
    // A drop that wrote nothing: told once it is over, with the reason taken now; the notice
    // its failed statement queued would say less.
    connect(folderModel, &FolderModel::notStored, this,
            [this](const QString &command, const QString &reason) {
                m_writeFailures = 0;
                QTimer::singleShot(0, this, [this, command, reason] {
                    tellAndShowStored(
                        tr("Die Änderung konnte nicht gespeichert werden: %1 hat nichts "
                           "geändert. %2")
                            .arg(command, reason)
                        + QStringLiteral("\n\n")
                        + tr("Die Anzeige zeigt jetzt, was gespeichert ist."));
                });
            });
    // Another workstation held what the command needed: told once the command is over, and
    // nothing else (the notice its failed statement queued would call the database
    // unavailable); the tree is read again.
    connect(folderModel, &FolderModel::conflict, this, [this](const QString &message) {
        m_writeFailures = 0;
        QTimer::singleShot(0, this, [this, message] {
            Statics::showMessage(this, message, 1);
            showStored();
        });
    });
    connect(
        folderModel, &FolderModel::refused, this,
        [this](const QString &message) { Statics::showMessage(this, message, 1); },
        Qt::QueuedConnection);
    // The seller stopped a drop: told once it is over, and the window shows what is stored.
    connect(
        folderModel, &FolderModel::stopped, this,
        [this](const QString &message) {
            if (CommandProgress::closing())
                return;
            Statics::showMessage(this, message, 1);
            showStored();
        },
        Qt::QueuedConnection);
    // A long drop shows its progress with "Abbrechen"; the window answers but takes no other
    // command meanwhile.
    auto running = std::make_shared<std::unique_ptr<LongCommand>>();
    folderModel->setProgress([this, running](const QString &text, int done, int total) {
        if (done == 0 && !*running) {
            *running = std::make_unique<LongCommand>(this, text, total);
            return true;
        }
        if (done < 0) {
            if (*running)
                (*running)->finish(tr("Fertig"));
            running->reset();
            return true;
        }
        return !*running || (*running)->step(done);
    });
    ui->treeView->setModel(folderModel);
    if (db->isMySQL) {
        auto *refresh = new QTimer(this);
        refresh->setObjectName(QStringLiteral("folderCountRefresh"));
        connect(refresh, &QTimer::timeout, folderModel, &FolderModel::refreshCounts);
        refresh->start(kSharedCountsRefreshMs);
    }
    // A long name is cut short, never the count behind it.
    if (!qobject_cast<FolderTreeDelegate *>(ui->treeView->itemDelegate()))
        ui->treeView->setItemDelegate(new FolderTreeDelegate(ui->treeView));
    expandFolderTree();

    // "Aktive Angebote", which the list shows first.
    ui->treeView->setCurrentIndex(folderModel->index(0, 0, folderModel->index(0, 0)));
}

bool MainWindow::reloadFolderTree()
{
    // A tree that can't be read now stays as it is.
    const quint64 failures = db->failedStatements();
    const QString text = folderTreeText();
    if (db->failedStatements() != failures)
        return false;
    folderModel->reload(text);
    {
        // Opened as stored: nothing to store again.
        const QSignalBlocker quiet(ui->treeView);
        expandFolderTree();
    }
    // The folder shown stays shown; when it is gone, "Artikelvorlagen" is shown instead.
    if (!folderModel->findFolderWithId(currentFolder))
        currentFolder = SpecialFolderId::Drafts;
    folderModel->selectFolderWithId(currentFolder);
    return true;
}

void MainWindow::on_treeView_clicked(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    currentFolder = index.data(Qt::UserRole).toString().toInt();
    reloadData();
    // Only this program writes a local database, and it tells the tree of every change.
    if (db->isMySQL)
        folderModel->refreshCounts();
}

void MainWindow::on_treeView_expanded(const QModelIndex &index)
{
    // The tree opens folders itself while it is built; only the user's doing is stored.
    if (!loading)
        storeOpenState(db, index, true);
}

void MainWindow::on_treeView_collapsed(const QModelIndex &index)
{
    if (!loading)
        storeOpenState(db, index, false);
}

void MainWindow::on_treeView_customContextMenuRequested(const QPoint &pos)
{
    const FolderNode *node = folderOf(folderModel, ui->treeView->indexAt(pos));
    if (!node)
        return;
    const bool userFolder = node->userFolder && node->id != SpecialFolderId::Drafts;
    ui->actionNeuer_Ordner->setEnabled(userFolder || node->id == SpecialFolderId::Drafts);
    ui->actionNeuer_Ordner->setVisible(true);
    ui->actionUmbenennen->setEnabled(userFolder);
    ui->actionUmbenennen->setVisible(true);
    ui->actionL_schen_2->setEnabled(userFolder);
    ui->actionL_schen_2->setVisible(true);
    ui->actionPapierkorb_leeren->setEnabled(node->id == SpecialFolderId::Trash);
    ui->actionPapierkorb_leeren->setVisible(node->id == SpecialFolderId::Trash);
    folderMenu->exec(QCursor::pos());
}

void MainWindow::on_actionNeuer_Ordner_triggered()
{
    // New folders go below "Artikelvorlagen" or a user folder: the tree is read from there
    // only, a folder anywhere else would never be shown again.
    const FolderNode *parentNode = folderOf(folderModel, ui->treeView->currentIndex());
    if (!parentNode || (!parentNode->userFolder && parentNode->id != SpecialFolderId::Drafts))
        return;
    const int parentId = parentNode->id;

    QPointer<FolderEdit> dialog = new FolderEdit(this, QString());
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    if (!dialog)
        return;
    const QString name = dialog->GetFolderName();
    dialog->deleteLater();
    if (result != QDialog::Accepted)
        return;

    const QMap<QString, QVariant> row { { QStringLiteral("foldername"), name },
                                        { QStringLiteral("folderparentid"), parentId } };
    int newId = 0;
    const QString what = tr("das Anlegen des Ordners");
    {
        Transaction command(db);
        if (!command.isOpen()) {
            tellFailed(this, folderModel, db, what);
            return;
        }
        // The parent and its parents as stored, locked until the folder is written: the tree
        // may show one that another workstation has deleted, or moved deeper.
        const FolderTree::Chain parent = FolderTree::lockChain(db, parentId);
        if (!parent.ok) {
            tellFailed(this, folderModel, db, what);
            return;
        }
        const int level = parent.level;
        if (level < 0) {
            command.rollback();
            folderModel->tellChangedElsewhere(folderModel->goneText(parentId));
            return;
        }
        if (level >= FolderTree::kMaxDepth) {
            command.rollback();
            Statics::showMessage(this,
                                 tr("Der Ordner „%1“ kann hier nicht angelegt werden: Ordner "
                                    "können höchstens %2 Ebenen tief ineinander liegen.")
                                     .arg(name)
                                     .arg(FolderTree::kMaxDepth),
                                 1);
            return;
        }
        newId = db->insertSqlClean(row, QStringLiteral("folders"));
        if (newId <= 0) {
            tellFailed(this, folderModel, db, what);
            return;
        }
        if (!command.commit()) {
            if (db->lastOutcome() == Database::Outcome::Unknown)
                tellOutcomeUnknown(tr("der neue Ordner"));
            else
                tellFailed(this, folderModel, db, what);
            return;
        }
    }
    // Looked up again: the dialog's event loop may have let the tree change.
    const QModelIndex parentIndex
        = folderModel->indexOfNode(folderModel->findFolderWithId(parentId));
    if (!parentIndex.isValid())
        return;
    folderModel->addFolder(name, newId, parentIndex);
    ui->treeView->expand(parentIndex);
}

void MainWindow::on_actionUmbenennen_triggered()
{
    const FolderNode *node = folderOf(folderModel, ui->treeView->currentIndex());
    if (!node || !node->userFolder)
        return;
    const int id = node->id;

    QPointer<FolderEdit> dialog = new FolderEdit(this, node->name);
    dialog->setWindowModality(Qt::WindowModal);
    const int result = dialog->exec();
    if (!dialog)
        return;
    const QString name = dialog->GetFolderName();
    dialog->deleteLater();
    if (result != QDialog::Accepted)
        return;

    const QString what = tr("das Umbenennen des Ordners");
    {
        Transaction command(db);
        if (!command.isOpen()) {
            tellFailed(this, folderModel, db, what);
            return;
        }
        // Renaming a folder another workstation has deleted would write nothing and show the
        // name as if stored. Only its own row is locked.
        QHash<int, int> stored;
        if (!FolderTree::lockFolders(db, { id }, &stored)) {
            tellFailed(this, folderModel, db, what);
            return;
        }
        if (!stored.contains(id)) {
            command.rollback();
            folderModel->tellChangedElsewhere(folderModel->goneText(id));
            return;
        }
        if (!db->updateSqlClean({ { QStringLiteral("foldername"), name } },
                                QStringLiteral("folders"),
                                QStringLiteral("id=") + QString::number(id))) {
            tellFailed(this, folderModel, db, what);
            return;
        }
        if (!command.commit()) {
            if (db->lastOutcome() == Database::Outcome::Unknown)
                tellOutcomeUnknown(tr("der neue Ordnername"));
            else
                tellFailed(this, folderModel, db, what);
            return;
        }
    }
    FolderNode *renamed = folderModel->findFolderWithId(id);
    if (!renamed)
        return;
    renamed->name = name;
    const QModelIndex index = folderModel->indexOfNode(renamed);
    emit folderModel->dataChanged(index, index, { Qt::DisplayRole });
}

void MainWindow::on_actionL_schen_2_triggered()
{
    const FolderNode *node = folderOf(folderModel, ui->treeView->currentIndex());
    if (!node || !node->userFolder)
        return;
    const int id = node->id;
    const QString question = node->childCount() > 0
        ? tr("Soll der ausgewählte Ordner samt Unterordnern wirklich gelöscht werden? Enthaltene "
             "Artikel werden in den Ordner \"Artikelvorlagen\" verschoben.")
        : tr("Soll der ausgewählte Ordner wirklich gelöscht werden? Enthaltene Artikel werden in "
             "den Ordner \"Artikelvorlagen\" verschoben.");
    if (!Statics::showQuestionDialog(this, tr("Löschen bestätigen"), question))
        return;
    if (!folderModel->findFolderWithId(id))
        return;

    // The articles of the branch go to "Artikelvorlagen", and the folders go, in one step:
    // once their folder is gone no folder would list them any more. The branch as stored,
    // locked meanwhile: another workstation may have put a folder into it.
    QList<int> branch;
    int moved = 0;
    const QString what = tr("das Löschen des Ordners");
    bool doneAside = false;
    // On a shared database many articles take the server seconds: counted first (as the tree
    // shows them, a guess only), they are moved beside the window.
    if (db->isMySQL && folderModel->findFolderWithId(id)) {
        int shown = 0;
        QList<FolderNode *> pending { folderModel->findFolderWithId(id) };
        while (!pending.isEmpty()) {
            const FolderNode *next = pending.takeLast();
            shown += next->count;
            pending.append(next->children);
        }
        if (shown > kFolderDeleteAside) {
            const AsideDelete done = deleteAside(this, id, shown);
            if (done.stopped) {
                if (!CommandProgress::closing()) {
                    Statics::showMessage(this,
                                         tr("Das Löschen des Ordners wurde abgebrochen: es wurde "
                                            "nichts gelöscht und nichts verschoben."),
                                         1);
                    showStored();
                }
                return;
            }
            if (done.changed) {
                folderModel->tellIfConflict(true);
                return;
            }
            if (!done.stored && done.failure.outcome == Database::Outcome::Done) {
                folderModel->tellChangedElsewhere(folderModel->goneText(id));
                return;
            }
            if (!done.stored) {
                folderModel->tellFailure(what, false, done.failure);
                return;
            }
            branch = done.branch;
            moved = done.moved;
            doneAside = true;
        }
    }
    if (!doneAside) {
        {
            Transaction command(db);
            if (!command.isOpen()) {
                tellFailed(this, folderModel, db, what);
                return;
            }
            const FolderTree::Branch stored = FolderTree::lockBranch(db, id);
            if (!stored.ok) {
                tellFailed(this, folderModel, db, what);
                return;
            }
            if (stored.changed) {
                // A subfolder was moved out of it meanwhile: asked again, the seller sees which.
                command.rollback();
                folderModel->tellIfConflict(true);
                return;
            }
            branch = stored.ids;
            if (branch.isEmpty()) {
                command.rollback();
                folderModel->tellChangedElsewhere(folderModel->goneText(id));
                return;
            }
            const QString ids = joinIds(branch);
            const Read<QString> counted
                = db->selectOne(QStringLiteral("SELECT count(id) FROM articles WHERE Trash=0 "
                                               "AND Folder IN (")
                                + ids + QLatin1Char(')'));
            moved = counted.orIfFailed(QString()).toInt();
            // Values, not increments: sent again after a lost answer, it changes nothing more.
            if (!counted.ok()
                || !db->executeSQL(QStringLiteral("UPDATE articles SET Folder=")
                                       + QString::number(SpecialFolderId::Drafts)
                                       + QStringLiteral(" WHERE Folder IN (") + ids
                                       + QLatin1Char(')'),
                                   Database::Repeat::Safe)
                || !db->executeSQL(QStringLiteral("DELETE FROM folders WHERE id IN (") + ids
                                       + QLatin1Char(')'),
                                   Database::Repeat::Safe)) {
                tellFailed(this, folderModel, db, what);
                return;
            }
            if (!command.commit()) {
                if (db->lastOutcome() == Database::Outcome::Unknown)
                    tellOutcomeUnknown(tr("das Löschen des Ordners"));
                else
                    tellFailed(this, folderModel, db, what);
                return;
            }
        }
    }
    for (int folder : qAsConst(branch))
        folderModel->ChangeFolderCount(folder, 0, true);
    folderModel->ChangeFolderCount(SpecialFolderId::Drafts, moved);
    folderModel->killRow(folderModel->indexOfNode(folderModel->findFolderWithId(id)));

    // The tree marks the folder the list shows; when that was deleted, its articles are
    // now in "Artikelvorlagen", which is shown instead.
    if (branch.contains(currentFolder)) {
        currentFolder = SpecialFolderId::Drafts;
        folderModel->selectFolderWithId(currentFolder);
        reloadData();
    } else {
        folderModel->selectFolderWithId(currentFolder);
    }
}

