#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class Database;

// Takes over the pictures of an imported article: web addresses are downloaded, files
// given by their full path are copied into the picture folder, plain names are taken from
// the picture folder as they are. Only pictures count: a file or download that is not an
// image (or a JPEG cut off before its end, an SVG drawing, a picture of more pixels than
// ImageLimits allows) is left out.
//
// It goes in two steps, so that nothing waits for a server or the picture decoder while the
// database is held: prepare() does what takes long (downloads, copies, the decoder's checks,
// the thumbnail) and touches no database; record() then only gives the files their names and
// replaces the article's picture rows (in the given order) and its thumbnail in one
// transaction. An article keeps the pictures it had, rows, thumbnail and files, when none of
// the new ones was taken or their rows can't be written; a file made for rows that were not
// written is removed again.
namespace PictureImport {

// True when `name` is a relative name that stays inside `folder` (no "../" way out).
bool insideFolder(const QString &folder, const QString &name);

// True when the entry is a web address (http or https), to be downloaded.
bool isWebAddress(const QString &entry);

// True when the file holds a whole image that can be read, within the pixel budget.
bool isPicture(const QString &path);

// The file of the picture folder a download of `address` is written to (named by a digest of
// the address: every download of the same address goes to the same file); empty when the
// address gives no name that stays inside `folder`.
QString downloadPath(const QString &folder, const QString &address);

// Downloads the web addresses among `pictures` into `folder` and gives the list back with
// each address replaced by the downloaded file's path, or by an empty entry when the
// download failed or brought no picture. Other entries stay as they are. Touches no
// database, so that an importer can fetch a row's pictures before it takes the write lock
// to store them. `downloading` is told each address before it is fetched.
QStringList fetch(const QString &folder, const QStringList &pictures,
                  const std::function<void(const QString &address)> &downloading = {});

// The pictures of one row, checked and lying in the picture folder under hidden names of
// their own (one set for each article they are meant for), with the thumbnail of the first.
// What record() did not take is removed when it goes.
class Prepared
{
public:
    Prepared() = default;
    ~Prepared();
    Prepared(Prepared &&other) noexcept;
    Prepared &operator=(Prepared &&other) noexcept;
    Prepared(const Prepared &) = delete;
    Prepared &operator=(const Prepared &) = delete;

    // The entries given.
    int size() const { return m_entries.size(); }
    // The entries not taken, as given.
    QStringList lost() const { return m_lost; }

private:
    friend std::vector<Prepared> prepareEach(const QString &, const QString &,
                                             const QList<QStringList> &, int,
                                             const std::function<void(const QString &)> &);
    friend int record(Database *, int, Prepared &, int, QStringList *, QStringList *);
    void discard();

    struct Picture
    {
        int position = 0; // in the entries given
        QString name; // taken where it is in the picture folder; empty: a copy
        QString suffix; // of a copy's name
        QStringList copies; // a copy's hidden files, one for each article
    };
    QString m_folder;
    QString m_thumbFolder;
    QString m_stamp;
    QStringList m_entries;
    QList<Picture> m_pictures; // taken, in order
    // The first picture's thumbnail, one for each article: a hidden file of the thumbnail
    // folder for a copy, the thumbnail's own name for a picture taken where it is; empty
    // when none could be made.
    QStringList m_thumbs;
    bool m_thumbInPlace = false;
    QStringList m_lost;
};

// Downloads, copies and checks `pictures` for `articles` articles (an update may reach
// several); touches no database. `downloading` is told each address before it is fetched.
Prepared prepare(const QString &folder, const QString &thumbFolder, const QStringList &pictures,
                 int articles = 1,
                 const std::function<void(const QString &address)> &downloading = {});

// prepare() for the pictures of several rows at once, `sets`, each for `articles` articles:
// the checks of all of them run side by side, so that the decoders stay busy also when each
// row names fewer pictures than there are decoders. In the order of `sets`.
std::vector<Prepared>
prepareEach(const QString &folder, const QString &thumbFolder, const QList<QStringList> &sets,
            int articles = 1, const std::function<void(const QString &address)> &downloading = {});

// Makes the prepared pictures the pictures of `articleId`, the article `article` (from 0) of
// those they were prepared for. Returns the number of pictures that were not taken (see
// store()); `failed`, when given, gets those entries as given. Waits for nothing but the
// database. `made`, when given, gets the files it made for the rows it wrote: for a caller
// inside a transaction of its own, which removes them when that is not kept.
int record(Database *db, int articleId, Prepared &prepared, int article = 0,
           QStringList *failed = nullptr, QStringList *made = nullptr);

// prepare() and record() for one article. Returns the number of pictures that could not be
// taken over (a failed download, an error page or empty answer, a file that is missing, no
// picture or cannot be copied, a name that leaves the picture folder, an empty entry, or
// every picture when the rows could not be written); `failed`, when given, gets those
// entries as given. `downloading` is told each address before it is fetched.
int store(Database *db, int articleId, const QStringList &pictures,
          const std::function<void(const QString &address)> &downloading = {},
          QStringList *failed = nullptr);

} // namespace PictureImport
