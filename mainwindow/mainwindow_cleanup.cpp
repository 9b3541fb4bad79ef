// Clearing the cache, cleaning up the database and starting the picture clean-up.
#include "mainwindow/mainwindow.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"
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

void MainWindow::on_actionDatenbank_aufr_umen_triggered()
{
    for (const ArticleRow &row : db->select(QStringLiteral("SELECT id FROM articles WHERE Trash=1"))) {
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
