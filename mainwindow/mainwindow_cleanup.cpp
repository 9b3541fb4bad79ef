// Clearing the cache, cleaning up the database and starting the picture clean-up.
#include "mainwindow/mainwindow.h"

#include "core/database.h"
#include "core/foldertree.h"
#include "core/logging.h"
#include "core/specialfolderid.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "core/variationrows.h"
#include "mainwindow/imagecleaner.h"
#include "views/foldermodel.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QThread>

void MainWindow::on_actionCache_leeren_triggered()
{
    // The shop categories and the business policies are asked for anew next time. The
    // cached replies of the test environment ("sandbox_...") stay.
    const QString cacheDir = db->getCacheDir();
    const QStringList names = QDir(cacheDir).entryList(
        { QStringLiteral("ap2_getProfiles_*.xml"), QStringLiteral("ap2_getStore_*.xml") },
        QDir::Files, QDir::Unsorted);
    for (const QString &name : names) {
        qCInfo(lcApp).noquote() << "Delete cached file" << name;
        QFile::remove(cacheDir + name);
    }
    Statics::showMessage(this, tr("Der Cache wurde geleert"), 0);
}

namespace {

// Puts every folder the tree can only show as misplaced (its parent gone, or caught in a
// cycle of parents) directly below "Artikelvorlagen", and the articles of folders that are
// gone into "Artikelvorlagen", in one transaction. The tree is read without a lock; only the
// folders it moves are locked (another workstation's commands on other folders go on), and a
// folder another workstation moved meanwhile stays where that put it. Moved to the top, a
// branch can only come nearer it: no cycle and no folder too deep comes of it. What the
// seller is told of it; empty when there was nothing to repair. False when it was not stored
// (the database layer tells why; a lock another workstation held is told through `folders`).
bool repairFolders(Database *db, FolderModel *folders, QString *told, bool *unknown)
{
    Transaction command(db);
    if (!command.isOpen()) {
        folders->tellIfConflict();
        return false;
    }
    FolderTree stored;
    if (!stored.read(db))
        return false;
    // The articles of folders that are gone, by folder: the fixed folders (below 1) are none.
    QSqlQuery query;
    if (!db->selectQuery(QStringLiteral("SELECT Folder, count(id) FROM articles WHERE Folder > 0 "
                                        "AND Folder NOT IN (SELECT id FROM folders) GROUP BY "
                                        "Folder"),
                         query))
        return false;
    QStringList gone;
    int articles = 0;
    while (query.next()) {
        gone << query.value(0).toString();
        articles += query.value(1).toInt();
    }
    const QList<int> misplaced = stored.misplaced();
    if (misplaced.isEmpty() && gone.isEmpty())
        return true;
    QHash<int, int> now;
    if (!FolderTree::lockFolders(db, misplaced, &now)) {
        folders->tellIfConflict();
        return false;
    }
    QStringList ids;
    for (int id : misplaced) {
        const auto found = now.constFind(id);
        if (found != now.constEnd() && found.value() == stored.find(id)->parent)
            ids << QString::number(id);
    }
    if (!ids.isEmpty()
        && !db->executeSQL(QStringLiteral("UPDATE folders SET folderparentid=%1 WHERE id IN (%2)")
                               .arg(SpecialFolderId::Drafts)
                               .arg(ids.join(QLatin1Char(','))),
                           Database::Repeat::Safe)) {
        folders->tellIfConflict();
        return false;
    }
    if (!gone.isEmpty()
        && !db->executeSQL(QStringLiteral("UPDATE articles SET Folder=%1 WHERE Folder IN (%2)")
                               .arg(SpecialFolderId::Drafts)
                               .arg(gone.join(QLatin1Char(','))),
                           Database::Repeat::Safe)) {
        folders->tellIfConflict(false, true);
        return false;
    }
    if (!command.commit()) {
        *unknown = db->lastOutcome() == Database::Outcome::Unknown;
        return false;
    }
    QStringList parts;
    if (ids.size() == 1)
        parts << MainWindow::tr("1 Ordner, dessen übergeordneter Ordner fehlte oder der in "
                                "einem Kreis von Ordnern lag, liegt jetzt direkt in "
                                "„Artikelvorlagen“.");
    else if (ids.size() > 1)
        parts << MainWindow::tr("%1 Ordner, deren übergeordneter Ordner fehlte oder die in "
                                "einem Kreis von Ordnern lagen, liegen jetzt direkt in "
                                "„Artikelvorlagen“.")
                     .arg(ids.size());
    if (articles == 1)
        parts << MainWindow::tr("1 Artikel eines gelöschten Ordners liegt jetzt in "
                                "„Artikelvorlagen“.");
    else if (articles > 1)
        parts << MainWindow::tr("%1 Artikel gelöschter Ordner liegen jetzt in "
                                "„Artikelvorlagen“.")
                     .arg(articles);
    *told = parts.join(QLatin1Char(' '));
    return true;
}

} // namespace

void MainWindow::on_actionDatenbank_aufr_umen_triggered()
{
    QString repaired;
    bool unknown = false;
    if (!repairFolders(db, folderModel, &repaired, &unknown) && unknown)
        tellOutcomeUnknown(tr("die Reparatur der Ordner"));
    if (!repaired.isEmpty()) {
        Statics::showMessage(this, repaired, 0);
        showStored();
    }
    for (const ArticleRow &row :
         db->select(QStringLiteral("SELECT id FROM articles WHERE Trash=1")).legacyValue()) {
        VariationRows::removeArticle(db, row.value(QStringLiteral("id")).toInt());
    }
    db->cleanDB(this);
    startImageCleaner();
}

void MainWindow::startImageCleaner()
{
    auto *cleaner = new ImageCleaner;
    auto *thread = new QThread;
    cleaner->moveToThread(thread);
    connect(thread, &QThread::started, cleaner, &ImageCleaner::work);
    connect(cleaner, &ImageCleaner::finished, cleaner, &QObject::deleteLater);
    // The thread has nothing more to do once its worker is done.
    connect(cleaner, &ImageCleaner::finished, thread, &QThread::quit);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(cleaner, &ImageCleaner::sendNotification, this, &MainWindow::sendNotification);
    connect(cleaner, &ImageCleaner::getStatus, this, &MainWindow::updateStatusBar);
    thread->start(QThread::InheritPriority);
}
