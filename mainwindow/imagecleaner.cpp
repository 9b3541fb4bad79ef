#include "mainwindow/imagecleaner.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QVariant>

#include <memory>

namespace {
constexpr int kRecentSeconds = 60;
} // namespace

ImageCleaner::ImageCleaner(QObject *parent)
    : QObject(parent)
{ }

void ImageCleaner::work()
{
    doCleanAds();
}

QString ImageCleaner::trashFolder()
{
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    desktop.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!desktop.endsWith(QLatin1Char('/')))
        desktop += QLatin1Char('/');
    return desktop + QStringLiteral("ZirevPavlet_Images_Trash");
}

void ImageCleaner::doCleanAds()
{
    // A picture written since shortly before the run may belong to an article being saved
    // right now (the editor, the synchronisation) whose row is not written yet. The minute
    // also covers file times, which the system keeps with a coarser clock.
    const QDateTime recent = QDateTime::currentDateTime().addSecs(-kRecentSeconds);
    const QString title = tr("Aufräumen");
    const QString target = trashFolder();
    if (!QDir(target).exists() && !QDir().mkdir(target)) {
        emit sendNotification(Statics::notificationMessage(
            title,
            tr("Der Ordner ZirevPavlet_Images_Trash auf Deinem Desktop kann "
               "nicht angelegt werden")));
        emit finished();
        return;
    }
    emit getStatus(tr("Räume auf..."), 0, 100);

    auto db = std::make_unique<Database>(true, QStringLiteral("ImageCleaner"));
    const QString imageDir = db->getCurrentAdImageDir();
    if (imageDir.isEmpty() || !QDir(imageDir).exists()) {
        emit getStatus(tr("Aufräumen beendet"), 100, 100);
        emit sendNotification(Statics::notificationMessage(
            title, tr("Das Bildverzeichnis konnte nicht gefunden werden")));
        db->close();
        emit finished();
        return;
    }

    const QDir pictures(imageDir);
    const QStringList files = pictures.entryList({ QStringLiteral("*.png"), QStringLiteral("*.jpg") },
                                                 QDir::Files);
    const int count = files.size();
    emit getStatus(tr("Räume auf..."), count, 0);

    QSet<QString> referenced;
    for (const ArticleRow &row :
         db->select(QStringLiteral("SELECT a.image, i.ImageThumb FROM articles_images as a, "
                                   "articles as i WHERE a.article_id = i.id"))
             .legacyValue()) {
        referenced << row.value(QStringLiteral("ImageThumb")).toString()
                   << row.value(QStringLiteral("image")).toString();
    }
    for (const ArticleRow &row :
         db->select(QStringLiteral("SELECT a.image FROM articles_images as a, "
                                   "articles_variations as i WHERE a.variant_id = i.id"))
             .legacyValue())
        referenced << row.value(QStringLiteral("image")).toString();
    qCInfo(lcApp) << "Found total images" << referenced.size();

    const QString source = pictures.absolutePath() + QLatin1Char('/');
    int moved = 0;
    for (int j = 0; j < count; ++j) {
        if (qApp && qApp->property("AppDown").toInt() == 1)
            break;
        const QString &name = files.at(j);
        if (!referenced.contains(name)
            && QFileInfo(source + name).lastModified() < recent) {
            // rename() never replaces a file of the same name in the desktop folder.
            if (QFile::rename(source + name, target + QLatin1Char('/') + name))
                ++moved;
            else
                qCWarning(lcApp).noquote() << "Can't move unused image" << source + name;
        }
        emit getStatus(tr("Prüfe %1...").arg(name), count, j);
    }

    emit getStatus(tr("Aufräumen beendet"), 100, 100);
    emit sendNotification(Statics::notificationMessage(
        title,
        (moved == 1 ? tr("1 unnötiges Bild wurde in ZirevPavlet_Images_Trash "
                         "auf Deinem Desktop verschoben")
                    : tr("%1 unnötige Bilder wurden in "
                         "ZirevPavlet_Images_Trash auf Deinem Desktop "
                         "verschoben")
                          .arg(moved))));
    db->close();
    emit finished();
}
