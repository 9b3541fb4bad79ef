#include "import/pictureimport.h"

#include "core/database.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/statics.h"
#include "core/transaction.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QSqlQuery>
#include <QVector>

namespace PictureImport {

bool insideFolder(const QString &folder, const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return false;
    return QDir::cleanPath(folder + name).startsWith(QDir::cleanPath(folder) + QLatin1Char('/'));
}

bool isWebAddress(const QString &entry)
{
    const QString lower = entry.toLower();
    return lower.contains(QLatin1String("http:")) || lower.contains(QLatin1String("https:"));
}

namespace {

// A JPEG whose data was cut off still decodes (the rest comes out grey); whole it ends its
// last scan with the end-of-image marker. Entropy-coded data holds no marker bytes, so the
// last end-of-image must come after the last start-of-scan.
bool isWholeJpeg(const QByteArray &bytes)
{
    const int endOfImage = bytes.lastIndexOf(QByteArray("\xFF\xD9", 2));
    return endOfImage >= 0 && endOfImage > bytes.lastIndexOf(QByteArray("\xFF\xDA", 2));
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
    if (!Statics::DownloadURL(address, target, true, QString()) || QFileInfo(target).size() == 0) {
        qCWarning(lcApp).noquote() << "Download" << address << "to" << target << "fails";
        if (QFileInfo(target).size() == 0)
            QFile::remove(target);
        return QString();
    }
    if (!isPicture(target)) {
        qCWarning(lcApp).noquote() << "Download" << address << "is no picture";
        QFile::remove(target);
        return QString();
    }
    return target;
}

} // namespace

bool isPicture(const QString &path)
{
    // Checked and decoded on the picture threads: one whose decode runs past its time is no
    // picture.
    const ImageLimits::Decoded decoded = ImageLimits::decodeWithin([path] {
        ImageLimits::Decoded result;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return result;
        QByteArray bytes = file.readAll();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        reader.setDecideFormatFromContent(true);
        result.format = reader.format();
        if (result.format.isEmpty() || (result.format == "jpeg" && !isWholeJpeg(bytes)))
            return result;
        result.refusal = ImageLimits::refusal(reader);
        if (result.refusal.isEmpty())
            reader.read(&result.image);
        return result;
    });
    if (!decoded.refusal.isEmpty()) {
        qCWarning(lcApp).noquote() << "Picture" << path << "refused:" << decoded.refusal;
        return false;
    }
    return !decoded.image.isNull();
}

QStringList fetch(const QString &folder, const QStringList &pictures,
                  const std::function<void(const QString &address)> &downloading)
{
    QStringList fetched = pictures;
    for (QString &entry : fetched) {
        if (!isWebAddress(entry))
            continue;
        if (downloading)
            downloading(entry);
        entry = download(folder, entry);
    }
    return fetched;
}

int store(Database *db, int articleId, const QStringList &pictures,
          const std::function<void(const QString &address)> &downloading, QStringList *failed)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString folder = db->getCurrentAdImageDir();
    const QString id = QString::number(articleId);

    // The files first; the rows after, all at once.
    QStringList lost;
    QVector<QPair<QString, int>> records; // name in the picture folder, position
    const QStringList entries = fetch(folder, pictures, downloading);
    for (int i = 0; i < entries.size(); ++i) {
        const QString &entry = entries.at(i);
        if (entry.isEmpty()) {
            lost << pictures.value(i); // a download that failed, logged as such
        } else if (QDir::isAbsolutePath(entry) && QFileInfo(entry).isFile()) {
            if (!isPicture(entry)) {
                qCWarning(lcApp).noquote() << "Picture" << entry << "is no picture";
                lost << pictures.value(i);
                continue;
            }
            const QString name = stamp + QLatin1Char('_') + id + QLatin1Char('_')
                + QString::number(i) + QLatin1Char('.') + QFileInfo(entry).completeSuffix();
            const QString target = folder + name;
            QFile::remove(target);
            if (!QFile::copy(entry, target)) {
                qCWarning(lcApp).noquote() << "Copy" << entry << "to" << target << "fails";
                lost << pictures.value(i);
                continue;
            }
            records.append({ name, i });
        } else if (insideFolder(folder, entry) && QFileInfo(folder + entry).isFile()) {
            records.append({ entry, i });
        } else {
            qCWarning(lcApp).noquote() << "Picture" << entry << "not found";
            lost << pictures.value(i);
        }
    }
    const QString thumb = records.isEmpty()
        ? QString()
        : Statics::CreateThumb(folder + records.first().first, db->getCurrentAdImageDirThumbs());

    // Replacing the rows is the same when done twice: a transaction the connection lost (or
    // whose commit's answer it lost) is simply done again.
    const auto replace = [&] {
        Transaction transaction(db);
        if (!transaction.isOpen()
            || !db->executeSQL(QStringLiteral("DELETE FROM articles_images WHERE article_id=")
                               + id))
            return false;
        for (const auto &record : qAsConst(records)) {
            if (!db->executeSQL(QStringLiteral("INSERT INTO articles_images (article_id, image, "
                                               "sort) VALUES (%1, '%2', '%3')")
                                    .arg(id, Database::escapeString(record.first),
                                         QString::number(record.second))))
                return false;
        }
        if (!thumb.isEmpty()
            && !db->executeSQL(QStringLiteral("UPDATE articles SET ImageThumb='%1' WHERE id=%2")
                                   .arg(Database::escapeString(thumb), id)))
            return false;
        return transaction.commit();
    };
    // What the table holds for the article: exactly these rows (and the thumbnail), as the
    // commit of a transaction whose answer was lost may have left them.
    const auto taken = [&] {
        QSqlQuery query;
        if (!db->execBound(QStringLiteral("SELECT image, sort FROM articles_images WHERE "
                                          "article_id = ? ORDER BY sort"),
                           { articleId }, query))
            return false;
        QVector<QPair<QString, int>> found;
        while (query.next())
            found.append({ query.value(0).toString(), query.value(1).toInt() });
        query.finish();
        if (found != records)
            return false;
        if (thumb.isEmpty())
            return true;
        QSqlQuery article;
        if (!db->execBound(QStringLiteral("SELECT ImageThumb FROM articles WHERE id = ?"),
                           { articleId }, article)
            || !article.next())
            return false;
        const bool same = article.value(0).toString() == thumb;
        article.finish();
        return same;
    };
    bool stored = replace();
    bool unknown = !stored && db->lastOutcome() == Database::Outcome::Unknown;
    if (!stored
        && (unknown || (db->lastOutcome() == Database::Outcome::NotWritten && db->isMySQL))) {
        stored = replace();
        unknown = unknown || (!stored && db->lastOutcome() == Database::Outcome::Unknown);
    }
    // Done again and failed again: an earlier commit may still have stored them.
    if (!stored && unknown && taken()) {
        qCInfo(lcApp).noquote() << "The pictures of article" << id
                                << "were stored, the answer to their commit lost";
        stored = true;
    }
    if (!stored) {
        qCWarning(lcApp).noquote()
            << "The pictures of article" << id << "could not be stored:" << db->lastErrorText;
        for (const auto &record : qAsConst(records))
            lost << pictures.value(record.second);
    }
    if (failed)
        *failed = lost;
    return lost.size();
}

} // namespace PictureImport
