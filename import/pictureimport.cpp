#include "import/pictureimport.h"

#include "core/database.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "core/untrustedfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace PictureImport {

bool insideFolder(const QString &folder, const QString &name)
{
    return UntrustedFile::insideFolder(folder, name);
}

bool isWebAddress(const QString &entry)
{
    const QString lower = entry.toLower();
    return lower.contains(QLatin1String("http:")) || lower.contains(QLatin1String("https:"));
}

namespace {

// How a picture is checked: decoded by the picture decoder at the thumbnail's size (whose
// picture becomes the article's thumbnail when it is the first); a JPEG cut off before its
// end counts as no picture.
ImageLimits::Picture check(const QString &path)
{
    ImageLimits::Picture picture = ImageLimits::pictureFile(path, Statics::thumbBox(), true);
    picture.whole = true;
    return picture;
}

bool accepted(const QString &path, const ImageLimits::Decoded &decoded)
{
    if (!decoded.refusal.isEmpty()) {
        qCWarning(lcApp).noquote() << "Picture" << path << "refused:" << decoded.refusal;
        return false;
    }
    if (decoded.image.isNull()) {
        qCWarning(lcApp).noquote() << "Picture" << path << "is no picture:" << decoded.error;
        return false;
    }
    return true;
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
    // Decoded by the picture decoder: one whose decode runs past its time is no picture.
    return accepted(path, ImageLimits::decodeWithin(check(path)));
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

    // The files first; the rows after, all at once. A file named by its full path is read
    // once from the descriptor opened (a plain file, no link, never waiting on a FIFO) into a
    // hidden file of the picture folder; that copy is what the decoder checks and what is
    // kept, so the bytes checked are the bytes stored, whatever happens to the original.
    struct Taken
    {
        int position;
        QString name; // in the picture folder
        QString staged; // the hidden copy that becomes `name` once checked; empty: in place
    };
    QStringList lost;
    QVector<Taken> files;
    const QStringList entries = fetch(folder, pictures, downloading);
    for (int i = 0; i < entries.size(); ++i) {
        const QString &entry = entries.at(i);
        if (entry.isEmpty()) {
            lost << pictures.value(i); // a download that failed, logged as such
        } else if (QDir::isAbsolutePath(entry)) {
            const QString name = stamp + QLatin1Char('_') + id + QLatin1Char('_')
                + QString::number(i) + QLatin1Char('.') + QFileInfo(entry).completeSuffix();
            const QString staged = folder + QStringLiteral(".") + name + QStringLiteral(".check");
            QFile::remove(staged);
            QString error;
            if (!UntrustedFile::copy(entry, UntrustedFile::Links::Refused, staged,
                                     UntrustedFile::kMaxPictureBytes, &error)) {
                qCWarning(lcApp).noquote() << "Picture" << entry << "not taken:" << error;
                lost << pictures.value(i);
                continue;
            }
            files.append({ i, name, staged });
        } else if (insideFolder(folder, entry)) {
            // Taken where it is: a plain file of the folder, not a link leading out of it.
            QString error;
            const int fd = UntrustedFile::openRegular(folder + entry, UntrustedFile::Links::Refused,
                                                      &error);
            if (fd < 0) {
                qCWarning(lcApp).noquote() << "Picture" << entry << "not taken:" << error;
                lost << pictures.value(i);
                continue;
            }
            ::close(fd);
            files.append({ i, entry, QString() });
        } else {
            qCWarning(lcApp).noquote() << "Picture" << entry << "not found";
            lost << pictures.value(i);
        }
    }
    // The copies are checked side by side; the first picture that passes gives the thumbnail.
    QList<ImageLimits::Picture> checks;
    for (const Taken &file : qAsConst(files))
        if (!file.staged.isEmpty())
            checks << check(file.staged);
    const QList<ImageLimits::Decoded> checked = ImageLimits::decodeAllWithin(checks);
    QVector<QPair<QString, int>> records; // name in the picture folder, position
    QString thumb;
    int next = 0;
    for (const Taken &file : qAsConst(files)) {
        if (file.staged.isEmpty()) {
            records.append({ file.name, file.position });
            if (records.size() == 1)
                thumb = Statics::CreateThumb(folder + file.name, db->getCurrentAdImageDirThumbs());
            continue;
        }
        const ImageLimits::Decoded decoded = checked.value(next++);
        if (!accepted(entries.at(file.position), decoded)) {
            QFile::remove(file.staged);
            lost << pictures.value(file.position);
            continue;
        }
        const QString target = folder + file.name;
        if (::rename(QFile::encodeName(file.staged).constData(),
                     QFile::encodeName(target).constData())
            != 0) {
            qCWarning(lcApp).noquote() << "Copy" << entries.at(file.position) << "to" << target
                                       << "fails:" << QString::fromLocal8Bit(std::strerror(errno));
            QFile::remove(file.staged);
            lost << pictures.value(file.position);
            continue;
        }
        records.append({ file.name, file.position });
        if (records.size() == 1)
            thumb = Statics::WriteThumb(decoded.image, target, decoded.format,
                                        db->getCurrentAdImageDirThumbs());
    }
    std::sort(records.begin(), records.end(),
              [](const auto &a, const auto &b) { return a.second < b.second; });

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
