#include "mainwindow/imagecleaner.h"

#include "core/database.h"
#include "core/logging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QVariant>

namespace {

constexpr int kRecentSeconds = 60;
const QString kTrashName = QStringLiteral("ZirevPavlet_Images_Trash");

} // namespace

QString ImageCleaner::trashFolder(bool *onDesktop)
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const bool desktop = !base.isEmpty() && QDir(base).exists();
    // A home without a desktop folder (a system without a desktop, or one removed): the
    // folder goes into the home folder rather than fail, and the seller is told where.
    if (!desktop)
        base = QDir::homePath();
    if (onDesktop)
        *onDesktop = desktop;
    base.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base + kTrashName;
}

QString ImageCleaner::Outcome::text() const
{
    const QString where = QDir::toNativeSeparators(folder);
    switch (ended) {
    case Ended::NoTrashFolder:
        return onDesktop ? tr("Der Ordner ZirevPavlet_Images_Trash auf Deinem Desktop kann "
                              "nicht angelegt werden")
                         : tr("Der Ordner %1 kann nicht angelegt werden").arg(where);
    case Ended::NoPictureFolder:
        return tr("Das Bildverzeichnis konnte nicht gefunden werden");
    case Ended::NotRead:
        return tr("Die Bilder wurden nicht aufgeräumt, kein Bild wurde verschoben: welche "
                  "Bilder noch genutzt werden, konnte nicht gelesen werden. %1")
            .arg(error);
    case Ended::Done:
    case Ended::Stopped:
        break;
    }
    QString text;
    if (onDesktop)
        text = moved == 1 ? tr("1 unnötiges Bild wurde in ZirevPavlet_Images_Trash auf Deinem "
                               "Desktop verschoben")
                          : tr("%1 unnötige Bilder wurden in ZirevPavlet_Images_Trash auf "
                               "Deinem Desktop verschoben")
                                .arg(moved);
    else
        text = moved == 1
            ? tr("1 unnötiges Bild wurde in den Ordner %1 verschoben (es gibt keinen "
                 "Desktop-Ordner)")
                  .arg(where)
            : tr("%1 unnötige Bilder wurden in den Ordner %2 verschoben (es gibt keinen "
                 "Desktop-Ordner)")
                  .arg(moved)
                  .arg(where);
    if (ended == Ended::Stopped)
        text += QLatin1Char('\n')
            + tr("Das Aufräumen der Bilder wurde nach %1 von %2 Dateien abgebrochen.")
                  .arg(checked)
                  .arg(files);
    return text;
}

ImageCleaner::Outcome ImageCleaner::clean(Database &db, const Stop &stop, const Progress &progress)
{
    // A picture written since shortly before the run may belong to an article being saved
    // right now (the editor, the synchronisation, another workstation) whose row is not
    // written yet. The minute also covers file times, which the system keeps with a coarser
    // clock.
    const QDateTime recent = QDateTime::currentDateTime().addSecs(-kRecentSeconds);
    Outcome outcome;
    outcome.folder = trashFolder(&outcome.onDesktop);
    const QString target = outcome.folder;
    if (!QDir(target).exists() && !QDir().mkdir(target)) {
        outcome.ended = Outcome::Ended::NoTrashFolder;
        return outcome;
    }

    const QString imageDir = db.getCurrentAdImageDir();
    if (imageDir.isEmpty() || !QDir(imageDir).exists()) {
        outcome.ended = Outcome::Ended::NoPictureFolder;
        return outcome;
    }
    const QDir pictures(imageDir);
    const QStringList files = pictures.entryList({ QStringLiteral("*.png"), QStringLiteral("*.jpg") },
                                                 QDir::Files);
    outcome.files = files.size();
    if (progress)
        progress(0, outcome.files);

    // Every name the database holds, read whole before anything moves: a picture is moved
    // only when no row names it, and a read that failed names nothing.
    QSet<QString> referenced;
    const Read<SqlRows> ofArticles
        = db.select(QStringLiteral("SELECT a.image, i.ImageThumb FROM articles_images as a, "
                                   "articles as i WHERE a.article_id = i.id"));
    if (!ofArticles.ok()) {
        outcome.ended = Outcome::Ended::NotRead;
        outcome.error = ofArticles.error();
        return outcome;
    }
    for (const ArticleRow &row : *ofArticles)
        referenced << row.value(QStringLiteral("ImageThumb")).toString()
                   << row.value(QStringLiteral("image")).toString();
    const Read<SqlRows> ofVariations
        = db.select(QStringLiteral("SELECT a.image FROM articles_images as a, "
                                   "articles_variations as i WHERE a.variant_id = i.id"));
    if (!ofVariations.ok()) {
        outcome.ended = Outcome::Ended::NotRead;
        outcome.error = ofVariations.error();
        return outcome;
    }
    for (const ArticleRow &row : *ofVariations)
        referenced << row.value(QStringLiteral("image")).toString();
    qCInfo(lcApp) << "Found total images" << referenced.size();

    const QString source = pictures.absolutePath() + QLatin1Char('/');
    for (const QString &name : files) {
        if (stop && stop()) {
            outcome.ended = Outcome::Ended::Stopped;
            break;
        }
        if (!referenced.contains(name) && QFileInfo(source + name).lastModified() < recent) {
            // rename() never replaces a file of the same name in the target folder.
            if (QFile::rename(source + name, target + QLatin1Char('/') + name))
                ++outcome.moved;
            else
                qCWarning(lcApp).noquote() << "Can't move unused image" << source + name;
        }
        ++outcome.checked;
        if (progress)
            progress(outcome.checked, outcome.files);
    }
    return outcome;
}
