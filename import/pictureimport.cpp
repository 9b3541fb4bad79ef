#include "import/pictureimport.h"

#include "core/database.h"
#include "core/imagelimits.h"
#include "core/logging.h"
#include "core/statics.h"
#include "core/transaction.h"
#include "core/untrustedfile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QVector>

#include <algorithm>
#include <atomic>
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

QString downloadPath(const QString &folder, const QString &address)
{
    const int dot = address.lastIndexOf(QLatin1Char('.'));
    QString name = Statics::hashString(address) + QLatin1Char('.')
        + (dot >= 0 ? address.mid(dot + 1) : address);
    name = name.left(name.indexOf(QLatin1Char('?')));
    if (!insideFolder(folder, name) || name.contains(QLatin1Char('\\')))
        return QString();
    return folder + name;
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
    const QString target = downloadPath(folder, address);
    if (target.isEmpty()) {
        qCWarning(lcApp).noquote() << "Download" << address << "refused: no file name of its own";
        return QString();
    }
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

Prepared::~Prepared()
{
    discard();
}

Prepared::Prepared(Prepared &&other) noexcept
{
    *this = std::move(other);
}

Prepared &Prepared::operator=(Prepared &&other) noexcept
{
    if (this == &other)
        return *this;
    discard();
    m_folder = std::move(other.m_folder);
    m_thumbFolder = std::move(other.m_thumbFolder);
    m_stamp = std::move(other.m_stamp);
    m_entries = std::move(other.m_entries);
    m_pictures = std::move(other.m_pictures);
    m_thumbs = std::move(other.m_thumbs);
    m_thumbInPlace = other.m_thumbInPlace;
    m_lost = std::move(other.m_lost);
    other.m_pictures.clear();
    other.m_thumbs.clear();
    return *this;
}

void Prepared::discard()
{
    for (const Picture &picture : qAsConst(m_pictures))
        for (const QString &copy : picture.copies)
            if (!copy.isEmpty())
                QFile::remove(copy);
    if (!m_thumbInPlace)
        for (const QString &thumb : qAsConst(m_thumbs))
            if (!thumb.isEmpty())
                QFile::remove(thumb);
    m_pictures.clear();
    m_thumbs.clear();
}

std::vector<Prepared> prepareEach(const QString &folder, const QString &thumbFolder,
                                  const QList<QStringList> &sets, int articles,
                                  const std::function<void(const QString &address)> &downloading)
{
    static std::atomic<quint32> s_sets { 0 };
    using Picture = Prepared::Picture;
    articles = qMax(1, articles);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    // Hidden names no row names and no other import uses.
    QStringList setNames;
    const auto hidden = [&](int set, int position, int article, const QString &suffix) {
        return folder + setNames.at(set) + QString::number(position) + QLatin1Char('_')
            + QString::number(article) + QLatin1Char('.') + suffix;
    };

    // A file named by its full path is read once from the descriptor opened (a plain file, no
    // link, never waiting on a FIFO) into a hidden file of the picture folder; that copy is
    // what the decoder checks and what is kept, so the bytes checked are the bytes stored,
    // whatever happens to the original.
    std::vector<Prepared> result(sets.size());
    QVector<QStringList> fetched(sets.size());
    QVector<QList<Picture>> files(sets.size());
    for (int set = 0; set < sets.size(); ++set) {
        const QStringList &pictures = sets.at(set);
        Prepared &prepared = result[set];
        prepared.m_folder = folder;
        prepared.m_thumbFolder = thumbFolder;
        prepared.m_stamp = stamp;
        prepared.m_entries = pictures;
        setNames << QStringLiteral(".import_%1_%2_")
                        .arg(QCoreApplication::applicationPid())
                        .arg(s_sets.fetch_add(1) + 1);
        fetched[set] = fetch(folder, pictures, downloading);
        const QStringList &entries = fetched.at(set);
        for (int i = 0; i < entries.size(); ++i) {
            const QString &entry = entries.at(i);
            if (entry.isEmpty()) {
                prepared.m_lost << pictures.value(i); // a download that failed, logged as such
            } else if (QDir::isAbsolutePath(entry)) {
                Picture picture;
                picture.position = i;
                picture.suffix = QFileInfo(entry).completeSuffix();
                const QString staged = hidden(set, i, 0, picture.suffix) + QStringLiteral(".check");
                QFile::remove(staged);
                QString error;
                if (!UntrustedFile::copy(entry, UntrustedFile::Links::Refused, staged,
                                         UntrustedFile::kMaxPictureBytes, &error)) {
                    qCWarning(lcApp).noquote() << "Picture" << entry << "not taken:" << error;
                    prepared.m_lost << pictures.value(i);
                    continue;
                }
                picture.copies << staged;
                files[set].append(picture);
            } else if (insideFolder(folder, entry)) {
                // Taken where it is: a plain file of the folder, not a link leading out of it.
                QString error;
                const int fd = UntrustedFile::openRegular(folder + entry,
                                                          UntrustedFile::Links::Refused, &error);
                if (fd < 0) {
                    qCWarning(lcApp).noquote() << "Picture" << entry << "not taken:" << error;
                    prepared.m_lost << pictures.value(i);
                    continue;
                }
                ::close(fd);
                Picture picture;
                picture.position = i;
                picture.name = entry;
                files[set].append(picture);
            } else {
                qCWarning(lcApp).noquote() << "Picture" << entry << "not found";
                prepared.m_lost << pictures.value(i);
            }
        }
    }
    // The copies of every set are checked side by side; the first picture of a set that
    // passes gives its thumbnail.
    QList<ImageLimits::Picture> checks;
    for (const QList<Picture> &set : qAsConst(files))
        for (const Picture &file : set)
            if (file.name.isEmpty())
                checks << check(file.copies.first());
    const QList<ImageLimits::Decoded> checked = ImageLimits::decodeAllWithin(checks);
    int next = 0;
    for (int set = 0; set < sets.size(); ++set) {
        const QStringList &pictures = sets.at(set);
        const QStringList &entries = fetched.at(set);
        Prepared &prepared = result[set];
        for (Picture &file : files[set]) {
            const bool first = prepared.m_pictures.isEmpty();
            if (!file.name.isEmpty()) {
                // The first is decoded for its thumbnail: one that is no picture is not taken.
                if (first) {
                    const QString thumb = Statics::CreateThumb(folder + file.name, thumbFolder);
                    if (thumb.isEmpty()) {
                        prepared.m_lost << pictures.value(file.position);
                        continue;
                    }
                    prepared.m_thumbInPlace = true;
                    for (int a = 0; a < articles; ++a)
                        prepared.m_thumbs << thumb;
                }
                prepared.m_pictures.append(file);
                continue;
            }
            const QString staged = file.copies.first();
            const ImageLimits::Decoded decoded = checked.value(next++);
            if (!accepted(entries.at(file.position), decoded)) {
                QFile::remove(staged);
                prepared.m_lost << pictures.value(file.position);
                continue;
            }
            // One file of its own for each article, made now: taking it later is a rename.
            bool copied = true;
            for (int a = 1; a < articles && copied; ++a) {
                const QString copy
                    = hidden(set, file.position, a, file.suffix) + QStringLiteral(".check");
                QFile::remove(copy);
                copied = QFile::copy(staged, copy);
                file.copies << copy;
            }
            if (!copied) {
                qCWarning(lcApp).noquote() << "Picture" << entries.at(file.position)
                                           << "not taken: no copy for each article";
                for (const QString &copy : qAsConst(file.copies))
                    QFile::remove(copy);
                prepared.m_lost << pictures.value(file.position);
                continue;
            }
            if (first) {
                for (int a = 0; a < articles; ++a) {
                    const QString name = Statics::WriteThumb(
                        decoded.image, hidden(set, file.position, a, file.suffix), decoded.format,
                        thumbFolder);
                    prepared.m_thumbs << (name.isEmpty() ? QString() : thumbFolder + name);
                }
            }
            prepared.m_pictures.append(file);
        }
    }
    return result;
}

Prepared prepare(const QString &folder, const QString &thumbFolder, const QStringList &pictures,
                 int articles, const std::function<void(const QString &address)> &downloading)
{
    std::vector<Prepared> one
        = prepareEach(folder, thumbFolder, { pictures }, articles, downloading);
    return std::move(one.front());
}

int record(Database *db, int articleId, Prepared &prepared, int article, QStringList *failed,
           QStringList *madeFiles)
{
    const QString id = QString::number(articleId);
    const QString &folder = prepared.m_folder;
    QStringList lost = prepared.m_lost;
    // Nothing new was taken: the article keeps what it had.
    if (prepared.m_pictures.isEmpty()) {
        if (failed)
            *failed = lost;
        return lost.size();
    }

    // The article's files get their names; what this made is removed again when the rows
    // are not written.
    QVector<QPair<QString, int>> records; // name in the picture folder, position
    QStringList made;
    bool placed = true;
    for (Prepared::Picture &picture : prepared.m_pictures) {
        if (!picture.name.isEmpty()) {
            records.append({ picture.name, picture.position });
            continue;
        }
        const QString name = prepared.m_stamp + QLatin1Char('_') + id + QLatin1Char('_')
            + QString::number(picture.position) + QLatin1Char('.') + picture.suffix;
        const QString target = folder + name;
        QString &copy = picture.copies[qBound(0, article, picture.copies.size() - 1)];
        if (!placed || copy.isEmpty()) {
            placed = false;
            continue;
        }
        const bool existed = QFileInfo::exists(target);
        if (::rename(QFile::encodeName(copy).constData(), QFile::encodeName(target).constData())
            != 0) {
            qCWarning(lcApp).noquote()
                << "Copy" << prepared.m_entries.value(picture.position) << "to" << target
                << "fails:" << QString::fromLocal8Bit(std::strerror(errno));
            placed = false;
            continue;
        }
        copy.clear();
        if (!existed)
            made << target;
        records.append({ name, picture.position });
    }
    // The thumbnail of the first picture, under the name that picture gives it.
    QString thumb;
    QString &pendingThumb = prepared.m_thumbs[qBound(0, article, prepared.m_thumbs.size() - 1)];
    if (placed && prepared.m_thumbInPlace) {
        thumb = pendingThumb;
    } else if (placed && !pendingThumb.isEmpty()) {
        const QString name = QStringLiteral("thumb_") + records.first().first;
        const QString target = prepared.m_thumbFolder + name;
        const bool existed = QFileInfo::exists(target);
        if (::rename(QFile::encodeName(pendingThumb).constData(),
                     QFile::encodeName(target).constData())
            == 0) {
            pendingThumb.clear();
            thumb = name;
            if (!existed)
                made << target;
        } else {
            qCWarning(lcApp).noquote()
                << "Thumbnail" << target
                << "can't be written:" << QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    // A picture without its thumbnail would show another picture's: all or none.
    if (!placed || thumb.isEmpty()) {
        if (placed)
            qCWarning(lcApp).noquote()
                << "The pictures of article" << id << "are not taken: no thumbnail of the first";
        for (const QString &file : qAsConst(made))
            QFile::remove(file);
        for (const Prepared::Picture &picture : qAsConst(prepared.m_pictures))
            lost << prepared.m_entries.value(picture.position);
        if (failed)
            *failed = lost;
        return lost.size();
    }

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
        if (!db->executeSQL(QStringLiteral("UPDATE articles SET ImageThumb='%1' WHERE id=%2")
                                .arg(Database::escapeString(thumb), id)))
            return false;
        return transaction.commit();
    };
    // What the table holds for the article: exactly these rows and the thumbnail, as the
    // commit of a transaction whose answer was lost may have left them; `looked` tells
    // whether that could be read at all.
    bool looked = false;
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
        if (found != records) {
            looked = true;
            return false;
        }
        QSqlQuery row;
        if (!db->execBound(QStringLiteral("SELECT ImageThumb FROM articles WHERE id = ?"),
                           { articleId }, row)
            || !row.next())
            return false;
        looked = true;
        const bool same = row.value(0).toString() == thumb;
        row.finish();
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
        // Files rows may name after all (a commit whose answer was lost, and no look at
        // what it stored) stay.
        if (!unknown || looked)
            for (const QString &file : qAsConst(made))
                QFile::remove(file);
        for (const auto &record : qAsConst(records))
            lost << prepared.m_entries.value(record.second);
    } else if (madeFiles) {
        *madeFiles = made;
    }
    if (failed)
        *failed = lost;
    return lost.size();
}

int store(Database *db, int articleId, const QStringList &pictures,
          const std::function<void(const QString &address)> &downloading, QStringList *failed)
{
    Prepared prepared = prepare(db->getCurrentAdImageDir(), db->getCurrentAdImageDirThumbs(),
                                pictures, 1, downloading);
    return record(db, articleId, prepared, 0, failed);
}

} // namespace PictureImport
