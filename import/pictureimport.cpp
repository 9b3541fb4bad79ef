#include "import/pictureimport.h"

#include "core/database.h"
#include "core/logging.h"
#include "core/statics.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace PictureImport {

bool insideFolder(const QString &folder, const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return false;
    return QDir::cleanPath(folder + name).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

namespace {

bool isWebAddress(const QString &entry)
{
    const QString lower = entry.toLower();
    return lower.contains(QLatin1String("http:")) || lower.contains(QLatin1String("https:"));
}

// Downloads `address` into the picture folder; the file's path, or empty on failure.
QString download(const QString &folder, const QString &address)
{
    const int dot = address.lastIndexOf(QLatin1Char('.'));
    QString name = Statics::hashString(address) + QLatin1Char('.')
        + (dot >= 0 ? address.mid(dot + 1) : address);
    name = name.left(name.indexOf(QLatin1Char('?')));
    if (!insideFolder(folder, name) || name.contains(QLatin1Char('\\'))) {
        qCWarning(lcApp).noquote() << "Download" << address << "refused: no file name of its own";
        return QString();
    }
    const QString target = folder + name;
    // An error status or an empty answer is no picture.
    if (Statics::DownloadURL(address, target, true, QString()) && QFileInfo(target).size() > 0)
        return target;
    qCWarning(lcApp).noquote() << "Download" << address << "to" << target << "fails";
    if (QFileInfo(target).size() == 0)
        QFile::remove(target);
    return QString();
}

} // namespace

int store(Database *db, int articleId, const QStringList &pictures,
          const std::function<void(const QString &address)> &downloading)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString folder = db->getCurrentAdImageDir();
    const QString id = QString::number(articleId);
    db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=") + id);

    int failed = 0;
    QString first;
    const auto record = [&](const QString &name, int sort) {
        db->executeSQL(QStringLiteral("INSERT INTO articles_images (article_id, image, sort) "
                                      "VALUES (%1, '%2', '%3')")
                           .arg(id, Database::escapeString(name), QString::number(sort)));
        if (first.isEmpty())
            first = name;
    };

    for (int i = 0; i < pictures.size(); ++i) {
        QString entry = pictures.at(i);
        if (isWebAddress(entry)) {
            if (downloading)
                downloading(entry);
            entry = download(folder, entry);
            if (entry.isEmpty()) {
                ++failed;
                continue;
            }
        }
        if (QDir::isAbsolutePath(entry) && QFileInfo(entry).isFile()) {
            const QString name = stamp + QLatin1Char('_') + id + QLatin1Char('_')
                + QString::number(i) + QLatin1Char('.') + QFileInfo(entry).completeSuffix();
            const QString target = folder + name;
            QFile::remove(target);
            if (!QFile::copy(entry, target)) {
                qCWarning(lcApp).noquote() << "Copy" << entry << "to" << target << "fails";
                ++failed;
                continue;
            }
            record(name, i);
        } else if (insideFolder(folder, entry) && QFileInfo(folder + entry).isFile()) {
            record(entry, i);
        } else {
            qCWarning(lcApp).noquote() << "Picture" << entry << "not found";
            ++failed;
        }
    }

    if (!first.isEmpty()) {
        const QString thumb
            = Statics::CreateThumb(folder + first, db->getCurrentAdImageDirThumbs());
        db->executeSQL(QStringLiteral("UPDATE articles SET ImageThumb='%1' WHERE id=%2")
                           .arg(Database::escapeString(thumb), id));
    }
    return failed;
}

} // namespace PictureImport
