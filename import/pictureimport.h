#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Database;

// Takes over the pictures of an imported article: web addresses are downloaded, files
// given by their full path are copied into the picture folder, plain names are taken from
// the picture folder as they are. Only pictures count: a file or download that is not an
// image (or a JPEG cut off before its end, an SVG drawing, a picture of more pixels than
// ImageLimits allows) is left out. The article's picture rows are
// replaced (in the given order) in one transaction, with its thumbnail made from the first
// picture: when that can't be written, the article keeps the pictures it had.
namespace PictureImport {

// True when `name` is a relative name that stays inside `folder` (no "../" way out).
bool insideFolder(const QString &folder, const QString &name);

// True when the entry is a web address (http or https), to be downloaded.
bool isWebAddress(const QString &entry);

// True when the file holds a whole image that can be read, within the pixel budget.
bool isPicture(const QString &path);

// Downloads the web addresses among `pictures` into `folder` and gives the list back with
// each address replaced by the downloaded file's path, or by an empty entry when the
// download failed or brought no picture. Other entries stay as they are. Touches no
// database, so that an importer can fetch a row's pictures before it takes the write lock
// to store them. `downloading` is told each address before it is fetched.
QStringList fetch(const QString &folder, const QStringList &pictures,
                  const std::function<void(const QString &address)> &downloading = {});

// Returns the number of pictures that could not be taken over (a failed download, an
// error page or empty answer, a file that is missing, no picture or cannot be copied, a
// name that leaves the picture folder, an empty entry, or every picture when the rows could
// not be written); `failed`, when given, gets those entries as given. `downloading` is told
// each address before it is fetched.
int store(Database *db, int articleId, const QStringList &pictures,
          const std::function<void(const QString &address)> &downloading = {},
          QStringList *failed = nullptr);

} // namespace PictureImport
