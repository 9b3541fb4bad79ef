#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Database;

// Takes over the pictures of an imported article: web addresses are downloaded, files
// given by their full path are copied into the picture folder, plain names are taken from
// the picture folder as they are. The article's picture rows are written anew (in the
// given order) and its thumbnail made from the first picture.
namespace PictureImport {

// True when `name` is a relative name that stays inside `folder` (no "../" way out).
bool insideFolder(const QString &folder, const QString &name);

// Returns the number of pictures that could not be taken over (a failed download, an
// error page or empty answer, a file that is missing or cannot be copied, a name that
// leaves the picture folder). `downloading` is told each address before it is fetched.
int store(Database *db, int articleId, const QStringList &pictures,
          const std::function<void(const QString &address)> &downloading = {});

} // namespace PictureImport
