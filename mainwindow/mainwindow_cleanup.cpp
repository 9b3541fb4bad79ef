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

#include <QDir>
#include <QFile>
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
// gone into "Artikelvorlagen", in one transaction. What the seller is told of it; empty when
// there was nothing to repair. False when it was not stored (the database layer tells why).
bool repairFolders(Database *db, QString *told, bool *unknown)
{
    Transaction command(db);
    if (!command.isOpen())
        return false;
    FolderTree stored;
    if (!stored.read(db, true))
        return false;
    const QList<int> misplaced = stored.misplaced();
    const QString lost = QStringLiteral(" FROM articles WHERE Folder > 0 AND Folder NOT IN "
                                        "(SELECT id FROM folders)");
    const QString lostCount
        = db->selectOne(QStringLiteral("SELECT count(id)") + lost).legacyValue();
    if (lostCount.isEmpty())
        return false;
    const int articles = lostCount.toInt();
    if (misplaced.isEmpty() && articles == 0)
        return true;
    QStringList ids;
    for (int id : misplaced)
        ids << QString::number(id);
    if (!misplaced.isEmpty()
        && !db->executeSQL(QStringLiteral("UPDATE folders SET folderparentid=%1 WHERE id IN (%2)")
                               .arg(SpecialFolderId::Drafts)
                               .arg(ids.join(QLatin1Char(','))),
                           Database::Repeat::Safe))
        return false;
    if (articles > 0
        && !db->executeSQL(QStringLiteral("UPDATE articles SET Folder=%1 WHERE Folder > 0 AND "
                                          "Folder NOT IN (SELECT id FROM folders)")
                               .arg(SpecialFolderId::Drafts),
                           Database::Repeat::Safe))
        return false;
    if (!command.commit()) {
        *unknown = db->lastOutcome() == Database::Outcome::Unknown;
        return false;
    }
    QStringList parts;
    if (misplaced.size() == 1)
        parts << MainWindow::tr("1 Ordner, dessen übergeordneter Ordner fehlte oder der in "
                                "einem Kreis von Ordnern lag, liegt jetzt direkt in "
                                "„Artikelvorlagen“.");
    else if (misplaced.size() > 1)
        parts << MainWindow::tr("%1 Ordner, deren übergeordneter Ordner fehlte oder die in "
                                "einem Kreis von Ordnern lagen, liegen jetzt direkt in "
                                "„Artikelvorlagen“.")
                     .arg(misplaced.size());
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
    if (!repairFolders(db, &repaired, &unknown) && unknown)
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
